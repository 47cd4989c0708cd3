// Which Void package holds a firmware file: linux-firmware is split by the
// file's directory, and Intel's audio DSP firmware (SOF) is a package of its
// own. Pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelmora {

// The package for a file below /usr/lib/firmware ("iwlwifi-cc-a0-77.ucode"
// -> "linux-firmware-network"); "linux-firmware" for the rest.
std::string firmware_package(std::string_view file);

// The packages the machine page may install by name (the firmware packages,
// sof-firmware, linux-firmware-amd), as constant text; none for any other name.
std::optional<std::string_view> machine_package(std::string_view name);

}  // namespace kelmora
