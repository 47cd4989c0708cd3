// What kelmora writes into SANE's configuration, with fixed shapes: a
// scanner added by its address for sane-airscan, and HP's backend switched on.
// Pure; the privileged helper links it to check and write exactly these.
#pragma once

#include <string>
#include <string_view>

namespace kelmora {

inline constexpr std::string_view airscan_dir = "/etc/sane.d/airscan.d";
// hplip's backend, which Void's hplip leaves off.
inline constexpr std::string_view hpaio_file = "/etc/sane.d/dll.d/hpaio";
inline constexpr std::string_view hpaio_content = "hpaio\n";

// True for what the helper may write into /etc/sane.d/airscan.d: a name of
// letters, digits, blanks, ".", "_", "-", ":" (at most 64 bytes) and an
// http(s) URL of printable ASCII without blanks, quotes, shell characters,
// "," or "#".
bool airscan_name_allowed(std::string_view name);
bool airscan_url_allowed(std::string_view url);
// The file's name in /etc/sane.d/airscan.d/ (one of its own for every name)
// and its content.
std::string airscan_file_name(std::string_view name);
std::string airscan_file_content(std::string_view name, std::string_view url);

}  // namespace kelmora
