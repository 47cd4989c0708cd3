// The texts of the graphics page that describe the machine, in the interface
// language. GTK-free.
#pragma once

#include <string>

#include "hardware/graphics.h"
#include "i18n/lang.h"
#include "packages/install_plan.h"

namespace kelmora {

// One line per display controller: maker and name, the driver in use and,
// for NVIDIA, the recommended package; or that none was found.
std::string graphics_cards_text(const std::vector<DisplayController>& cards, Lang lang);

// What is installed ("Installed: nvidia580, AMD Mesa"), empty while unknown,
// followed by the restart notice after a graphics install.
std::string graphics_status_text(const std::optional<InstalledGraphics>& installed,
                                 bool restart_pending, Lang lang);

// The kernels the installed NVIDIA generation has no module for; empty when
// there are none (or nothing is known yet).
std::string nvidia_module_text(const std::optional<InstalledGraphics>& installed, Lang lang);

// The notes under the NVIDIA choice, one per line, empty when there is
// nothing to say: drivers unavailable on this system, the chosen generation
// (a combo index) not supporting a detected card, Secure Boot on.
std::string nvidia_notes_text(const GraphicsHardware& hardware, int chosen, Lang lang,
                              bool drivers_available = multilib_system);

}  // namespace kelmora
