#include "i18n/utf8.h"

#include <cstdint>

namespace kelmora {
namespace {

// Length of a well-formed sequence starting at `i`, or the length of the maximal
// invalid prefix (at least 1) with `ok` false.
std::size_t next_sequence(std::string_view s, std::size_t i, bool& ok) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    ok = true;
    if (b < 0x80) return 1;
    std::size_t need = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;  // range of the first continuation byte
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b == 0xE0) {
        need = 2, lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
        need = 2;
    } else if (b == 0xED) {
        need = 2, hi = 0x9F;
    } else if (b == 0xF0) {
        need = 3, lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
        need = 3;
    } else if (b == 0xF4) {
        need = 3, hi = 0x8F;
    } else {
        ok = false;
        return 1;
    }
    std::size_t len = 1;
    for (std::size_t k = 0; k < need; ++k) {
        if (i + len >= s.size()) {
            ok = false;
            return len;
        }
        const auto c = static_cast<std::uint8_t>(s[i + len]);
        const std::uint8_t min = k == 0 ? lo : 0x80, max = k == 0 ? hi : 0xBF;
        if (c < min || c > max) {
            ok = false;
            return len;
        }
        ++len;
    }
    return len;
}

char32_t decode_at(std::string_view s, std::size_t i, std::size_t len) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    if (len == 1) return b;
    char32_t cp = b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<std::uint8_t>(s[i + k]) & 0x3F);
    return cp;
}

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    bool ok = true;
    for (std::size_t i = 0; i < bytes.size();) {
        i += next_sequence(bytes, i, ok);
        if (!ok) return false;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    bool ok = true;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = next_sequence(bytes, i, ok);
        if (ok)
            out.append(bytes.substr(i, len));
        else
            out.append("\xEF\xBF\xBD");
        i += len;
    }
    return out;
}

std::string_view trim_unicode_space(std::string_view text) {
    bool ok = true;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t len = next_sequence(text, start, ok);
        if (!ok || !is_white_space(decode_at(text, start, len))) break;
        start += len;
    }
    std::size_t end = text.size();
    while (end > start) {
        std::size_t begin = end - 1;
        while (begin > start && (static_cast<std::uint8_t>(text[begin]) & 0xC0) == 0x80) --begin;
        const std::size_t len = next_sequence(text, begin, ok);
        if (!ok || begin + len != end || !is_white_space(decode_at(text, begin, len))) break;
        end = begin;
    }
    return text.substr(start, end - start);
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace kelmora
