#include "hardware/kernels.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "hardware/small_file.h"

namespace kelmora {
namespace {

// Where DKMS puts the module: Void's dkms.conf says kernel/drivers/video,
// other set-ups updates/dkms or extra. A real kernel's tree has a few
// thousand entries; a walk stops well past that.
constexpr int walk_depth_limit = 8;
constexpr std::size_t walk_entry_limit = 50'000;

// "wl.ko", plain or compressed, for the module "wl".
bool is_module_file(std::string_view file, std::string_view module) {
    if (!file.starts_with(module) || !file.substr(module.size()).starts_with(".ko")) return false;
    constexpr std::string_view endings[] = {"", ".gz", ".xz", ".zst"};
    const std::string_view rest = file.substr(module.size() + 3);
    return std::find(std::begin(endings), std::end(endings), rest) != std::end(endings);
}

// Walks the directory open at `dir` (which it closes) without following links.
bool find_module(int dir, std::string_view module, int depth, std::size_t& entries) {
    DIR* stream = ::fdopendir(dir);
    if (stream == nullptr) {
        ::close(dir);
        return false;
    }
    bool found = false;
    while (!found && entries < walk_entry_limit) {
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) break;
        ++entries;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            found = is_module_file(name, module);
        } else if (S_ISDIR(st.st_mode) && depth < walk_depth_limit) {
            const int sub = ::openat(::dirfd(stream), entry->d_name,
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (sub >= 0) found = find_module(sub, module, depth + 1, entries);
        }
    }
    ::closedir(stream);
    return found;
}

}  // namespace

bool plausible_release(std::string_view release) {
    if (release.empty() || release.size() > 64 || release.front() == '.') return false;
    return std::all_of(release.begin(), release.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '+' || c == '-';
    });
}

std::string running_kernel_release(const std::filesystem::path& root) {
    auto text = read_small_file(root / "proc/sys/kernel/osrelease");
    if (!text) return {};
    if (!text->empty() && text->back() == '\n') text->pop_back();
    return plausible_release(*text) ? *text : std::string();
}

bool has_kernel_module(const std::filesystem::path& root, std::string_view release,
                       std::string_view module) {
    if (!plausible_release(release) || module.empty()) return false;
    const std::filesystem::path dir = root / "usr/lib/modules" / std::string(release);
    const int fd =
        ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::size_t entries = 0;
    return find_module(fd, module, 0, entries);
}

bool has_nvidia_module(const std::filesystem::path& root, std::string_view release) {
    return has_kernel_module(root, release, "nvidia");
}

}  // namespace kelmora
