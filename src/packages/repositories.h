// Which Void repository each package we install comes from, and which of
// those repositories this system has not enabled yet. xbps reads its list of
// repositories once when it starts, so a repository package in the same
// transaction cannot make its packages visible: it has to be installed first,
// by a command of its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

using PackageList = std::vector<std::string_view>;  // static package names, in order

enum class Repository { Main, Multilib, MultilibNonfree, Nonfree };

// The repository that publishes `package` (Main for everything we do not list).
Repository repository_of(std::string_view package);

// The repository packages that `packages` need and whose drop-in file is
// missing under `root`, in a fixed order (multilib, multilib/nonfree, nonfree).
PackageList missing_repository_packages(const PackageList& packages,
                                        const std::filesystem::path& root);

// "xbps-install", "-Syf", then the repository packages. Forced: a repository
// package that is installed while its drop-in file was deleted must be
// unpacked again, or xbps only answers that it is installed.
std::vector<std::string> repository_setup_args(const PackageList& repo_packages);

}  // namespace kelmora
