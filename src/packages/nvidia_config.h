// kelmora's own configuration files for NVIDIA's driver, with fixed content:
// a modprobe file that turns on kernel mode setting (which Wayland desktops
// need; NVIDIA's driver leaves it off before its 595 series) and, on a Turing
// laptop, runtime power management, and a udev rule file that lets the
// NVIDIA GPU of a laptop with two GPUs sleep while nothing uses it (NVIDIA's
// README, "PCI-Express Runtime D3 (RTD3) Power Management"). Pure: the
// helper links it to write exactly these files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

inline constexpr std::string_view nvidia_modprobe_file = "/etc/modprobe.d/kelmora-nvidia.conf";
inline constexpr std::string_view nvidia_udev_file = "/etc/udev/rules.d/80-kelmora-nvidia-pm.rules";

struct NvidiaConfig {
    bool modeset = false;       // options nvidia_drm modeset=1
    bool runtime_pm = false;    // the udev rules: power/control "auto" on bind
    bool turing_power = false;  // options nvidia NVreg_DynamicPowerManagement=0x02
    bool any() const { return modeset || runtime_pm || turing_power; }
    bool operator==(const NvidiaConfig&) const = default;
};

// What kelmora's modprobe file holds for `config`; empty when it has no line.
std::string nvidia_modprobe_content(const NvidiaConfig& config);
// The udev rules, the same for every machine.
std::string_view nvidia_udev_content();

// The helper's request: "nvidia-config" and the words for what is on, in this
// order ("modeset", "runtime-pm", "turing-power"); no word removes both files.
std::vector<std::string> nvidia_config_request(const NvidiaConfig& config);
// The request read back; none for anything else (a word twice, out of order,
// unknown).
std::optional<NvidiaConfig> parse_nvidia_config_request(const std::vector<std::string>& request);

// The same through a root shell where the helper is not installed: one fixed
// command per configuration, the content in it (no input from anywhere).
std::string nvidia_config_shell_command(const NvidiaConfig& config);

// What kelmora's files say now (their content as kelmora writes it; a file
// someone changed counts as not kelmora's setting).
NvidiaConfig nvidia_config_from_files(const std::optional<std::string>& modprobe,
                                      const std::optional<std::string>& udev);

// The generations whose driver has GBM, which Wayland desktops need.
bool generation_has_gbm(std::string_view generation);

}  // namespace kelmora
