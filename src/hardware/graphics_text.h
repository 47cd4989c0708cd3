// The texts of the graphics page that describe the machine, in the interface
// language. GTK-free.
#pragma once

#include <string>

#include "hardware/graphics.h"
#include "i18n/lang.h"

namespace kelmora {

// One line per display controller: maker and name, the driver in use and,
// for NVIDIA, the recommended package; or that none was found.
std::string graphics_cards_text(const std::vector<DisplayController>& cards, Lang lang);

// The notes under the NVIDIA choice, one per line, empty when there is
// nothing to say: drivers unavailable on this system, the chosen generation
// (a combo index) not supporting a detected card, Secure Boot on.
std::string nvidia_notes_text(const GraphicsHardware& hardware, int chosen, Lang lang,
                              bool drivers_available = multilib_system);

}  // namespace kelmora
