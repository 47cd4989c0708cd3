#include "ui/graphics_text.h"

#include <cstdio>

#include "i18n/catalogue.h"

namespace kelmora {
namespace {

std::string maker(const DisplayController& card) {
    switch (card.vendor) {
        case pci_vendor_nvidia:
            return "NVIDIA";
        case pci_vendor_amd:
            return "AMD";
        case pci_vendor_intel:
            return "Intel";
        default:
            return card.vendor_name;
    }
}

std::string card_line(const DisplayController& card, Lang lang) {
    std::string line = maker(card);
    if (!card.device_name.empty()) {
        if (!line.empty()) line += ' ';
        line += card.device_name;
    } else {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", card.vendor, card.device);
        line += line.empty() ? "" : " ";
        line += '[' + std::string(ids) + ']';
    }
    line += " — ";
    if (card.driver.empty())
        line += get_text(lang, "gpu_unbound");
    else
        line += std::string(get_text(lang, "gpu_driver")) + card.driver;
    if (card.vendor == pci_vendor_nvidia) {
        line += " — ";
        if (const auto driver = recommended_driver(card))
            line += std::string(get_text(lang, "gpu_recommended")) +
                    std::string(nvidia_driver_package(*driver));
        else
            line += get_text(lang, "gpu_mesa_only");
    }
    return line;
}

}  // namespace

std::string graphics_cards_text(const std::vector<DisplayController>& cards, Lang lang) {
    if (cards.empty()) return std::string(get_text(lang, "gpu_none"));
    std::string text;
    for (const DisplayController& card : cards) {
        if (!text.empty()) text += '\n';
        text += card_line(card, lang);
    }
    return text;
}

std::string graphics_status_text(const std::optional<InstalledGraphics>& installed,
                                 bool restart_pending, Lang lang) {
    std::string text;
    if (installed) {
        std::string names;
        const auto add = [&names](std::string_view name) {
            names += (names.empty() ? "" : ", ") + std::string(name);
        };
        for (const std::string& generation : installed->nvidia) add(generation);
        if (installed->amd) add("AMD Mesa");
        if (installed->intel) add("Intel Mesa");
        text = std::string(get_text(lang, "gpu_installed")) +
               (names.empty() ? std::string(get_text(lang, "gpu_no_drivers")) : names);
    }
    if (restart_pending)
        text += (text.empty() ? "" : " — ") + std::string(get_text(lang, "gpu_restart"));
    return text;
}

std::string nvidia_module_text(const std::optional<InstalledGraphics>& installed, Lang lang) {
    if (!installed || installed->nvidia.empty()) return {};
    std::string text;
    if (!installed->kernels_without_module.empty()) {
        text = get_text(lang, "nv_module_missing");
        for (std::size_t i = 0; i < installed->kernels_without_module.size(); ++i)
            text += (i == 0 ? "" : ", ") + installed->kernels_without_module[i];
        text += ".";
    }
    if (installed->modeset_off)
        text += (text.empty() ? "" : "\n") + std::string(get_text(lang, "nv_modeset_off"));
    return text;
}

std::string hybrid_graphics_text(const GraphicsHardware& hardware,
                                 const std::optional<InstalledGraphics>& installed, Lang lang) {
    const auto hybrid = hybrid_graphics(hardware);
    if (!hybrid) return {};
    std::string text = format_text(lang, "gpu_hybrid", {{"screen", maker(hybrid->screen)}});
    if (installed && !installed->nvidia_power.empty())
        text += " — " + format_text(lang, "gpu_nv_power", {{"state", installed->nvidia_power}});
    return text;
}

std::string nvidia_notes_text(const GraphicsHardware& hardware, int chosen, Lang lang,
                              bool drivers_available,
                              const std::vector<std::string>& installed_generations) {
    std::string notes;
    const auto add = [&notes](std::string line) {
        if (!notes.empty()) notes += '\n';
        notes += line;
    };
    if (!drivers_available) {
        add(std::string(get_text(lang, "nv_unavailable")));
        return notes;
    }
    const auto driver = static_cast<NvidiaDriver>(chosen < 0 || chosen > 3 ? 0 : chosen);
    for (const DisplayController& card : hardware.cards) {
        if (card.vendor != pci_vendor_nvidia) continue;
        if (driver_supports(driver, nvidia_arch(card.device_name))) continue;
        std::string line(get_text(lang, "nv_unsupported"));
        if (const auto fits = recommended_driver(card))
            line += " (" + std::string(get_text(lang, "gpu_recommended")) +
                    std::string(nvidia_driver_package(*fits)) + ")";
        add(line + ".");
        break;
    }
    // Without GBM (470) or without any Wayland support (390): chosen or installed.
    bool nvidia_card = false;
    for (const DisplayController& card : hardware.cards)
        nvidia_card = nvidia_card || card.vendor == pci_vendor_nvidia;
    bool x11_only =
        nvidia_card && (driver == NvidiaDriver::Nvidia470 || driver == NvidiaDriver::Nvidia390);
    for (const std::string& g : installed_generations)
        x11_only = x11_only || g == "nvidia470" || g == "nvidia390";
    if (x11_only) add(std::string(get_text(lang, "nv_x11_only")));
    if (hardware.secure_boot) add(std::string(get_text(lang, "nv_secure_boot")));
    return notes;
}

}  // namespace kelmora
