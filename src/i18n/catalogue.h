// The constant text catalogue: every translatable text of the window, in the
// four interface languages, plus the few per-language texts without a key.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "i18n/lang.h"

namespace kelmora {

struct CatalogueEntry {
    std::string_view key;
    std::array<std::string_view, 4> text;  // indexed by Lang
};

// All keyed texts; constant data for the whole run.
inline constexpr std::size_t catalogue_size = 246;
extern const std::array<CatalogueEntry, catalogue_size> catalogue;

// Exact, case-sensitive lookup; the empty text for an unknown key. Never allocates.
std::string_view get_text(Lang lang, std::string_view key);

// The text of `key` with each "{name}" replaced by its value ("{n}", "{m}", ...).
std::string format_text(
    Lang lang, std::string_view key,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values);

// Texts without a catalogue key.
std::string_view window_title_text(Lang lang);
std::string_view print_drivers_button_text(Lang lang);
std::string_view scan_components_button_text(Lang lang);
std::string_view polkit_button_text(Lang lang);
std::string_view not_installed_text(Lang lang);

}  // namespace kelmora
