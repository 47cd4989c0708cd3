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

// The kernels the installed NVIDIA generation has no module for, and mode
// setting that is off; empty when there is nothing to mend (or nothing is
// known yet).
std::string nvidia_module_text(const std::optional<InstalledGraphics>& installed, Lang lang);

// The notes under the NVIDIA choice, one per line, empty when there is
// nothing to say: drivers unavailable on this system, the chosen generation
// (a combo index) not supporting a detected card, Secure Boot on.
// X11 sessions only for a generation without GBM, chosen or installed.
std::string nvidia_notes_text(const GraphicsHardware& hardware, int chosen, Lang lang,
                              bool drivers_available = multilib_system,
                              const std::vector<std::string>& installed_generations = {});
// A laptop with two GPUs: which drives the screen, that prime-run starts a
// program on the NVIDIA one, and that GPU's power state; empty otherwise.
std::string hybrid_graphics_text(const GraphicsHardware& hardware,
                                 const std::optional<InstalledGraphics>& installed, Lang lang);

}  // namespace kelmora
