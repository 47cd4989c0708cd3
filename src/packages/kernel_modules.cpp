#include "packages/kernel_modules.h"

#include <cctype>
#include <sstream>

#include "hardware/small_file.h"

#include <algorithm>

#include "hardware/kernels.h"
#include "packages/install_plan.h"

namespace kelmora {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::string joined_releases(const std::vector<Kernel>& kernels) {
    std::string text;
    for (const Kernel& k : kernels) text += (text.empty() ? "" : ", ") + k.release;
    return text;
}

}  // namespace

bool is_kernel_package(std::string_view name) {
    if (!name.starts_with("linux")) return false;
    name.remove_prefix(5);
    const std::size_t dot = name.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == name.size()) return false;
    return std::all_of(name.begin(), name.begin() + dot, is_digit) &&
           std::all_of(name.begin() + dot + 1, name.end(), is_digit);
}

int compare_releases(std::string_view a, std::string_view b) {
    // Numbers compare as numbers; anything else ends a component.
    const auto next = [](std::string_view& s) -> std::optional<unsigned long long> {
        while (!s.empty() && !is_digit(s.front())) s.remove_prefix(1);
        if (s.empty()) return std::nullopt;
        unsigned long long value = 0;
        while (!s.empty() && is_digit(s.front())) {
            value = std::min<unsigned long long>(value * 10 + (s.front() - '0'), 1'000'000'000);
            s.remove_prefix(1);
        }
        return value;
    };
    for (;;) {
        const auto x = next(a), y = next(b);
        if (!x && !y) return 0;
        if (!x) return -1;
        if (!y) return 1;
        if (*x != *y) return *x < *y ? -1 : 1;
    }
}

std::vector<Kernel> installed_kernels(const std::vector<std::string>& pkgvers) {
    const InstalledPackages names = package_names(pkgvers);
    std::vector<Kernel> kernels;
    for (const std::string& pkgver : pkgvers) {
        const std::string_view name = pkgver_name(pkgver);
        if (!is_kernel_package(name) || !plausible_release(pkgver_version(pkgver))) continue;
        Kernel kernel{std::string(name), std::string(pkgver_version(pkgver))};
        kernel.headers =
            std::find(names.begin(), names.end(), kernel.package + "-headers") != names.end();
        kernels.push_back(std::move(kernel));
    }
    std::stable_sort(kernels.begin(), kernels.end(), [](const Kernel& a, const Kernel& b) {
        return compare_releases(a.release, b.release) > 0;
    });
    return kernels;
}

std::vector<std::string> missing_headers(const std::vector<Kernel>& kernels) {
    std::vector<std::string> headers;
    for (const Kernel& k : kernels)
        if (!k.headers) headers.push_back(k.package + "-headers");
    return headers;
}

ModuleCheck judge_modules(const std::vector<Kernel>& kernels, std::string_view running,
                          const std::vector<std::string>& with_module) {
    ModuleCheck check;
    check.no_kernel = kernels.empty();
    for (std::size_t i = 0; i < kernels.size(); ++i) {
        const Kernel& k = kernels[i];
        if (std::find(with_module.begin(), with_module.end(), k.release) != with_module.end())
            continue;
        if (i == 0 || k.release == running)
            check.missing.push_back(k);
        else
            check.missing_older.push_back(k);
    }
    return check;
}

ModuleCheck check_nvidia_modules(const std::filesystem::path& root,
                                 const std::vector<std::string>& pkgvers) {
    const std::vector<Kernel> kernels = installed_kernels(pkgvers);
    std::vector<std::string> with_module;
    for (const Kernel& k : kernels)
        if (has_nvidia_module(root, k.release)) with_module.push_back(k.release);
    return judge_modules(kernels, running_kernel_release(root), with_module);
}

std::string installed_generation(const std::vector<std::string>& pkgvers) {
    const auto generations = installed_nvidia_generations(package_names(pkgvers));
    return generations.empty() ? std::string() : generations.front();
}

std::string dkms_module_name(const std::filesystem::path& root, std::string_view version) {
    std::error_code error;
    const std::string suffix = "-" + std::string(version);
    for (const auto& entry : std::filesystem::directory_iterator(root / "usr/src", error)) {
        const std::string dir = entry.path().filename();
        if (!dir.starts_with("nvidia") || !dir.ends_with(suffix)) continue;
        const auto conf = read_small_file(entry.path() / "dkms.conf", 64 * 1024);
        if (!conf) continue;
        std::istringstream lines(*conf);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("PACKAGE_NAME=")) continue;
            std::string name = line.substr(13);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
                name = name.substr(1, name.size() - 2);
            // A name is what DKMS accepts for a directory; anything else is not ours.
            const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                       c == '.' || c == '+';
            });
            if (plain) return name;
        }
    }
    return "nvidia";
}

bool report_module_check(const ModuleCheck& check, const std::vector<std::string>& pkgvers,
                         std::string_view generation, const LogSink& log,
                         const std::filesystem::path& root) {
    if (check.no_kernel) {
        log.line(
            "Hinweis: Kein Kernel-Paket installiert (eigener Kernel oder Container); das "
            "NVIDIA-Modul lässt sich nicht prüfen.");
        return true;
    }
    // DKMS keeps each build's log under the module's version, which is the
    // -dkms package's version without its revision.
    std::string version = "<version>";
    const std::string dkms = std::string(generation) + "-dkms";
    for (const std::string& pkgver : pkgvers)
        if (pkgver_name(pkgver) == dkms) {
            version = std::string(pkgver_version(pkgver));
            version = version.substr(0, version.rfind('_'));
        }
    for (const Kernel& k : check.missing)
        log.line("Fehler: Für Kernel " + k.release +
                 " gibt es kein NVIDIA-Modul; mit diesem Kernel lädt der Treiber nicht. "
                 "Build-Log: /var/lib/dkms/" +
                 dkms_module_name(root, version) + "/" + version + "/build/make.log");
    if (!check.missing_older.empty())
        log.line("Warnung: Für die älteren Kernel " + joined_releases(check.missing_older) +
                 " gibt es kein NVIDIA-Modul.");
    if (check.ok()) log.line("NVIDIA-Modul geprüft: vorhanden für den Kernel, der startet.");
    return check.ok();
}

std::vector<std::string> nouveau_blacklists(const std::filesystem::path& root) {
    std::vector<std::string> found;
    for (const char* dir : {"usr/lib/modprobe.d", "etc/modprobe.d"}) {
        std::error_code error;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root / dir, error))
            if (entry.path().extension() == ".conf") names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());  // modprobe reads them in this order
        for (const std::string& name : names) {
            const auto text = read_small_file(root / dir / name, 64 * 1024);
            if (!text) continue;
            std::istringstream lines(*text);
            for (std::string line; std::getline(lines, line);) {
                line = line.substr(0, line.find('#'));
                std::istringstream words(line);
                std::string command, module;
                // modprobe treats "-" and "_" alike; nouveau has neither.
                if (words >> command >> module && command == "blacklist" && module == "nouveau") {
                    found.push_back("/" + std::string(dir) + "/" + name);
                    break;
                }
            }
        }
    }
    return found;
}

}  // namespace kelmora
