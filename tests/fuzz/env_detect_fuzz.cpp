// Language detection from LANG, LC_ALL and LC_MESSAGES with arbitrary values.
// The input is split at 0xFF 0x00 pairs into up to three values; an absent part
// (or one starting with 0x01) is an unset variable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "i18n/lang.h"
#include "i18n/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> values[3];
    for (int i = 0; i < 3 && !in.empty(); ++i) {
        const std::size_t cut = in.find(std::string_view("\xFF\x00", 2));
        const std::string_view part = in.substr(0, cut);
        if (part.empty() || part[0] != '\x01') values[i] = std::string(part);
        in = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 2);
    }
    const char* names[3] = {"LANG", "LC_ALL", "LC_MESSAGES"};
    const kelmora::Lang got =
        kelmora::detect_lang_from([&](const char* name) -> std::optional<std::string> {
            for (int i = 0; i < 3; ++i)
                if (std::string_view(name) == names[i]) return values[i];
            return std::nullopt;
        });
    kelmora::Lang expected = kelmora::Lang::En;
    for (const auto& v : values) {
        if (!v || !kelmora::is_valid_utf8(*v)) continue;
        const std::string_view p = std::string_view(*v).substr(0, 2);
        if (p == "de") expected = kelmora::Lang::De;
        if (p == "es") expected = kelmora::Lang::Es;
        if (p == "fr") expected = kelmora::Lang::Fr;
        break;
    }
    if (got != expected) std::abort();
    return 0;
}
