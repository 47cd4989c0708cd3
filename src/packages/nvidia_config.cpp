#include "packages/nvidia_config.h"

#include <array>

namespace kelmora {
namespace {

constexpr std::string_view header = "# Written by kelmora; the way back to nouveau removes it.\n";
constexpr std::string_view modeset_line = "options nvidia_drm modeset=1\n";
constexpr std::string_view turing_line = "options nvidia NVreg_DynamicPowerManagement=0x02\n";

// NVIDIA's rules for its VGA (0x0300) and 3D (0x0302) functions: runtime
// power management on while the driver is bound, off when it lets go.
constexpr std::string_view udev_rules =
    "# Written by kelmora; the way back to nouveau removes it.\n"
    "# The NVIDIA GPU may sleep while nothing uses it (runtime D3).\n"
    "ACTION==\"bind\", SUBSYSTEM==\"pci\", ATTR{vendor}==\"0x10de\", ATTR{class}==\"0x030000\", "
    "TEST==\"power/control\", ATTR{power/control}=\"auto\"\n"
    "ACTION==\"bind\", SUBSYSTEM==\"pci\", ATTR{vendor}==\"0x10de\", ATTR{class}==\"0x030200\", "
    "TEST==\"power/control\", ATTR{power/control}=\"auto\"\n"
    "ACTION==\"unbind\", SUBSYSTEM==\"pci\", ATTR{vendor}==\"0x10de\", ATTR{class}==\"0x030000\", "
    "TEST==\"power/control\", ATTR{power/control}=\"on\"\n"
    "ACTION==\"unbind\", SUBSYSTEM==\"pci\", ATTR{vendor}==\"0x10de\", ATTR{class}==\"0x030200\", "
    "TEST==\"power/control\", ATTR{power/control}=\"on\"\n";

constexpr std::array<std::string_view, 3> words = {"modeset", "runtime-pm", "turing-power"};

// For a shell: the text in single quotes (the content has none of its own).
std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

}  // namespace

std::string nvidia_modprobe_content(const NvidiaConfig& config) {
    if (!config.modeset && !config.turing_power) return {};
    std::string content(header);
    if (config.modeset) content += modeset_line;
    if (config.turing_power) content += turing_line;
    return content;
}

std::string_view nvidia_udev_content() {
    return udev_rules;
}

std::vector<std::string> nvidia_config_request(const NvidiaConfig& config) {
    std::vector<std::string> request = {"nvidia-config"};
    const bool on[] = {config.modeset, config.runtime_pm, config.turing_power};
    for (std::size_t i = 0; i < words.size(); ++i)
        if (on[i]) request.emplace_back(words[i]);
    return request;
}

std::optional<NvidiaConfig> parse_nvidia_config_request(const std::vector<std::string>& request) {
    if (request.empty() || request[0] != "nvidia-config") return std::nullopt;
    NvidiaConfig config;
    bool* on[] = {&config.modeset, &config.runtime_pm, &config.turing_power};
    std::size_t next = 0;  // each word once, in order
    for (std::size_t i = 1; i < request.size(); ++i) {
        while (next < words.size() && words[next] != request[i]) ++next;
        if (next == words.size()) return std::nullopt;
        *on[next++] = true;
    }
    return config;
}

std::string nvidia_config_shell_command(const NvidiaConfig& config) {
    const std::string modprobe(nvidia_modprobe_file), udev(nvidia_udev_file);
    std::string command = "rm -f " + modprobe + " " + udev;
    const std::string content = nvidia_modprobe_content(config);
    if (!content.empty())
        command += " && mkdir -p /etc/modprobe.d && printf '%s' " + quoted(content) + " > " +
                   modprobe;
    if (config.runtime_pm)
        command += " && mkdir -p /etc/udev/rules.d && printf '%s' " + quoted(udev_rules) + " > " +
                   udev;
    return command;
}

NvidiaConfig nvidia_config_from_files(const std::optional<std::string>& modprobe,
                                      const std::optional<std::string>& udev) {
    NvidiaConfig config;
    if (modprobe) {
        for (const NvidiaConfig& candidate :
             {NvidiaConfig{true, false, false}, NvidiaConfig{false, false, true},
              NvidiaConfig{true, false, true}})
            if (*modprobe == nvidia_modprobe_content(candidate)) {
                config.modeset = candidate.modeset;
                config.turing_power = candidate.turing_power;
            }
    }
    config.runtime_pm = udev && *udev == udev_rules;
    return config;
}

bool generation_has_gbm(std::string_view generation) {
    return generation == "nvidia" || generation == "nvidia580";
}

}  // namespace kelmora
