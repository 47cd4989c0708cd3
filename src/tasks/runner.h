// The privileged package installer: "pkexec xbps-install -Su -y <packages>",
// with both output streams forwarded line by line into the UI channel.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tasks/ui_message.h"

namespace kelmora {

using PackageList = std::vector<std::string_view>;  // static package names, in order

// "xbps-install", "-Su", "-y", then the packages.
std::vector<std::string> xbps_install_args(const PackageList& packages);

// The list form of an argument vector: ["a", "b \"c\""].
std::string quoted_arg_list(const std::vector<std::string>& args);

// Runs the installer through pkexec and blocks until it exits; true only for
// exit status 0. Never called on the main thread.
bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender);

}  // namespace kelmora
