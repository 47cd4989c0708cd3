#include "packages/firmware_packages.h"

#include <array>

namespace kelmora {
namespace {

struct Split {
    std::string_view prefix;  // of the file's path below /usr/lib/firmware
    std::string_view package;
};

// In order: the first prefix that matches decides (intel/sof before intel).
constexpr std::array<Split, 30> splits = {{
    {"intel/sof", "sof-firmware"},
    {"amd", "linux-firmware-amd"},
    {"radeon/", "linux-firmware-amd"},
    {"brcm/", "linux-firmware-broadcom"},
    {"cypress/", "linux-firmware-broadcom"},
    {"i915/", "linux-firmware-intel"},
    {"xe/", "linux-firmware-intel"},
    {"nvidia/", "linux-firmware-nvidia"},
    {"qcom/", "linux-firmware-qualcomm"},
    {"iwl", "linux-firmware-network"},
    {"intel", "linux-firmware-network"},
    {"ath", "linux-firmware-network"},
    {"ar", "linux-firmware-network"},
    {"mt7", "linux-firmware-network"},
    {"mediatek/", "linux-firmware-network"},
    {"rt", "linux-firmware-network"},
    {"RTL8192E/", "linux-firmware-network"},
    {"qca/", "linux-firmware-network"},
    {"mrvl/", "linux-firmware-network"},
    {"ti-connectivity/", "linux-firmware-network"},
    {"3com/", "linux-firmware-network"},
    {"bnx2", "linux-firmware-network"},
    {"cxgb", "linux-firmware-network"},
    {"htc", "linux-firmware-network"},
    {"kaweth/", "linux-firmware-network"},
    {"libertas/", "linux-firmware-network"},
    {"ueagle-atm/", "linux-firmware-network"},
    {"dpaa2/", "linux-firmware-network"},
    {"mt", "linux-firmware-network"},
    {"carl9170", "linux-firmware-network"},
}};

}  // namespace

std::string firmware_package(std::string_view file) {
    for (const Split& s : splits)
        if (file.starts_with(s.prefix)) return std::string(s.package);
    return "linux-firmware";
}

std::optional<std::string_view> machine_package(std::string_view name) {
    if (name == "linux-firmware") return std::string_view("linux-firmware");
    for (const Split& s : splits)
        if (s.package == name) return s.package;
    return std::nullopt;
}

}  // namespace kelmora
