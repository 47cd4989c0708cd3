#include "packages/repositories.h"

#include "process/process.h"

#include <algorithm>
#include <array>

namespace kelmora {
namespace {

struct RepositoryInfo {
    Repository repo;
    std::string_view package;
    std::string_view dropin;
};

// In the order in which missing repositories are enabled.
constexpr std::array<RepositoryInfo, 3> repositories = {{
    {Repository::Multilib, "void-repo-multilib", "usr/share/xbps.d/10-repository-multilib.conf"},
    {Repository::MultilibNonfree, "void-repo-multilib-nonfree",
     "usr/share/xbps.d/10-repository-multilib-nonfree.conf"},
    {Repository::Nonfree, "void-repo-nonfree", "usr/share/xbps.d/10-repository-nonfree.conf"},
}};

constexpr std::array<std::string_view, 9> nonfree_packages = {
    "nvidia",          "nvidia470",       "nvidia390",   "nvidia580",       "foomatic-db-nonfree",
    "brother-brscan4", "brother-brscan5", "intel-ucode", "broadcom-wl-dkms"};

}  // namespace

Repository repository_of(std::string_view package) {
    if (std::find(nonfree_packages.begin(), nonfree_packages.end(), package) !=
        nonfree_packages.end())
        return Repository::Nonfree;
    constexpr std::string_view suffix = "-32bit";
    if (package.size() > suffix.size() && package.substr(package.size() - suffix.size()) == suffix)
        return package.rfind("nvidia", 0) == 0 ? Repository::MultilibNonfree : Repository::Multilib;
    return Repository::Main;
}

PackageList missing_repository_packages(const PackageList& packages,
                                        const std::filesystem::path& root) {
    PackageList missing;
    for (const auto& r : repositories) {
        // The 32-bit NVIDIA libraries depend on multilib packages (glibc-32bit,
        // libglvnd-32bit), so multilib/nonfree needs multilib as well.
        const bool needed = std::any_of(packages.begin(), packages.end(), [&](std::string_view p) {
            const Repository from = repository_of(p);
            return from == r.repo ||
                   (r.repo == Repository::Multilib && from == Repository::MultilibNonfree);
        });
        // Presence is all we test, as the status probe does: a drop-in that
        // the user edited or replaced by hand still counts as enabled.
        if (needed && !path_exists(root / r.dropin)) missing.push_back(r.package);
    }
    return missing;
}

std::vector<std::string> repository_setup_args(const PackageList& repo_packages) {
    std::vector<std::string> args = {"xbps-install", "-Syf"};
    for (std::string_view p : repo_packages) args.emplace_back(p);
    return args;
}

}  // namespace kelmora
