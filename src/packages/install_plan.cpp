#include "packages/install_plan.h"

#include <algorithm>

#include "packages/packages.h"

namespace kelmora {
namespace {

constexpr std::string_view member_suffixes[] = {"",         "-libs",   "-libs-32bit", "-dkms",
                                                "-gtklibs", "-opencl", "-firmware"};

bool contains(const InstalledPackages& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// The generation whose member `package` is, or empty.
std::string_view generation_of(std::string_view package) {
    for (std::string_view generation : nvidia_generations)
        for (std::string_view suffix : member_suffixes)
            if (package.size() == generation.size() + suffix.size() &&
                package.substr(0, generation.size()) == generation &&
                package.substr(generation.size()) == suffix)
                return generation;
    return {};
}

// xbps-remove -R takes what only the removed packages needed with them.
PlanStep removal_step(const std::vector<std::string>& members) {
    std::vector<std::string> remove = {"xbps-remove", "-Ry"};
    remove.insert(remove.end(), members.begin(), members.end());
    std::string subject;
    for (const std::string& generation : installed_nvidia_generations(members))
        subject += (subject.empty() ? "" : ", ") + generation;
    return {StepKind::Remove, std::move(remove), subject};
}

}  // namespace

std::vector<std::string> nvidia_generation_members(std::string_view generation) {
    std::vector<std::string> members;
    for (std::string_view suffix : member_suffixes)
        members.push_back(std::string(generation) + std::string(suffix));
    return members;
}

bool installs_nvidia_generation(const PackageList& packages) {
    return std::any_of(packages.begin(), packages.end(),
                       [](std::string_view p) { return !generation_of(p).empty(); });
}

bool builds_kernel_module(const PackageList& packages) {
    return installs_nvidia_generation(packages) ||
           std::any_of(packages.begin(), packages.end(),
                       [](std::string_view p) { return p.ends_with("-dkms"); });
}

std::vector<std::string> conflicting_generation_members(const PackageList& packages,
                                                        const InstalledPackages& installed) {
    std::vector<std::string_view> wanted;
    for (std::string_view package : packages)
        if (const auto generation = generation_of(package); !generation.empty())
            wanted.push_back(generation);
    std::vector<std::string> conflicting;
    if (wanted.empty()) return conflicting;
    for (std::string_view generation : nvidia_generations) {
        if (std::find(wanted.begin(), wanted.end(), generation) != wanted.end()) continue;
        for (const std::string& member : nvidia_generation_members(generation))
            if (contains(installed, member)) conflicting.push_back(member);
    }
    return conflicting;
}

std::vector<std::string> installed_nvidia_generations(const InstalledPackages& installed) {
    std::vector<std::string> generations;
    for (std::string_view generation : nvidia_generations)
        for (const std::string& member : nvidia_generation_members(generation))
            if (contains(installed, member)) {
                generations.emplace_back(generation);
                break;
            }
    return generations;
}

bool package_set_installed(const PackageList& set, const InstalledPackages& installed) {
    bool any = false;
    for (std::string_view package : set) {
        if (package.rfind("void-repo-", 0) == 0) continue;
        if (!contains(installed, package)) return false;
        any = true;
    }
    return any;
}

InstalledGraphics installed_graphics(const InstalledPackages& installed) {
    return {installed_nvidia_generations(installed),
            package_set_installed(amd_packages(), installed),
            package_set_installed(intel_packages(), installed),
            {}};
}

std::string generation_of(const PackageList& packages) {
    for (std::string_view package : packages)
        for (std::string_view generation : nvidia_generations)
            if (package == generation) return std::string(generation);
    return {};
}

NvidiaConfig wanted_nvidia_config(std::string_view generation, const GraphicsHardware& hardware,
                                  bool user_modeset) {
    NvidiaConfig config;
    config.modeset = generation_has_gbm(generation) && !user_modeset;
    if (const auto hybrid = hybrid_graphics(hardware); hybrid && generation != "nvidia390") {
        const NvidiaArch arch = nvidia_arch(hybrid->nvidia.device_name);
        config.runtime_pm = arch >= NvidiaArch::Turing && arch != NvidiaArch::Unknown;
        config.turing_power = arch == NvidiaArch::Turing;
    }
    return config;
}

namespace {

PlanStep configure_step(const NvidiaConfig& config) {
    return {StepKind::Configure, nvidia_config_request(config), {}, config};
}

}  // namespace

InstallPlan plan_install(const PackageList& packages, const InstalledPackages& installed,
                         const PackageList& missing_repositories,
                         const std::vector<std::string>& kernel_headers,
                         const std::optional<NvidiaFiles>& files) {
    InstallPlan plan;
    if (!missing_repositories.empty())
        plan.steps.push_back({StepKind::Repositories, repository_setup_args(missing_repositories)});
    plan.removed = conflicting_generation_members(packages, installed);
    if (!plan.removed.empty()) {
        // Nothing is removed before the install is known to be possible: xbps
        // is current (which also brings fresh repository data) and every
        // package is in the pool.
        plan.steps.push_back({StepKind::SelfUpdate, {"xbps-install", "-Syu", "xbps"}});
        plan.steps.push_back({StepKind::PoolCheck, {packages.begin(), packages.end()}});
        plan.steps.push_back(removal_step(plan.removed));
    }
    const std::string generation = generation_of(packages);
    const bool configure = !generation.empty() && files && files->wanted != files->current;
    if (configure) plan.steps.push_back(configure_step(files->wanted));
    plan.steps.push_back({StepKind::Install, xbps_install_args(packages)});
    if (builds_kernel_module(packages)) {
        std::vector<std::string>& args = plan.steps.back().args;
        for (const std::string& headers : kernel_headers)
            if (std::find(args.begin(), args.end(), headers) == args.end()) args.push_back(headers);
    }
    // An installed -dkms package is not configured again by the install:
    // its triggers (the module, the initramfs) run again only this way.
    const std::string dkms = generation + "-dkms";
    if (configure && contains(installed, dkms))
        plan.steps.push_back({StepKind::Rebuild, {"xbps-reconfigure", "-f", dkms}});
    return plan;
}

InstallPlan plan_open_driver(const InstalledPackages& installed, const NvidiaConfig& current) {
    InstallPlan plan;
    PackageList wanted = {"mesa-dri", "mesa-vulkan-nouveau"};
    // Xorg's modesetting driver also drives the card; nouveau's own does it
    // better on the older cards that need the way back most.
    if (contains(installed, "xorg-server")) wanted.push_back("xf86-video-nouveau");
    PackageList missing;
    for (std::string_view package : wanted)
        if (!contains(installed, package)) missing.push_back(package);
    // Installed first: a refused install leaves the NVIDIA driver in place.
    if (!missing.empty()) plan.steps.push_back({StepKind::Install, xbps_install_args(missing)});
    for (std::string_view generation : nvidia_generations)
        for (const std::string& member : nvidia_generation_members(generation))
            if (contains(installed, member)) plan.removed.push_back(member);
    if (!plan.removed.empty()) plan.steps.push_back(removal_step(plan.removed));
    if (current.any()) plan.steps.push_back(configure_step({}));
    return plan;
}

MicrocodePlan plan_microcode(std::string_view package, const InstalledPackages& installed,
                             const PackageList& missing_repositories,
                             const std::vector<std::string>& kernels) {
    MicrocodePlan result;
    if (kernels.empty()) {
        result.no_kernel = true;
        return result;
    }
    result.plan = plan_install({std::string(package)}, installed, missing_repositories);
    if (package == "intel-ucode")
        for (const std::string& kernel : kernels)
            result.plan.steps.push_back(
                {StepKind::Initramfs, {"xbps-reconfigure", "-f", kernel}, kernel});
    return result;
}

}  // namespace kelmora
