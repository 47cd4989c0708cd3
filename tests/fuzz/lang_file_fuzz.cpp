// Language file content: valid UTF-8 always gives a language, and only a text
// that trims to "de", "es" or "fr" in any case gives anything but English.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "i18n/lang.h"
#include "i18n/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const auto lang = kelmora::parse_lang_file(content);
    if (kelmora::is_valid_utf8(content) != lang.has_value()) std::abort();
    if (!lang) return 0;
    std::string trimmed(kelmora::trim_unicode_space(content));
    for (char& c : trimmed)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    kelmora::Lang expected = kelmora::Lang::En;
    if (trimmed == "de") expected = kelmora::Lang::De;
    if (trimmed == "es") expected = kelmora::Lang::Es;
    if (trimmed == "fr") expected = kelmora::Lang::Fr;
    if (*lang != expected) std::abort();
    return 0;
}
