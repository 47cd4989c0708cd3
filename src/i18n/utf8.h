// Small UTF-8 helpers shared by the line reader, the discovery parser and the
// language file: validation, lossy decoding and Unicode white-space trimming.
#pragma once

#include <string>
#include <string_view>

namespace kelmora {

// True when `bytes` is well-formed UTF-8 (NUL bytes are well-formed).
bool is_valid_utf8(std::string_view bytes);

// Decodes `bytes` replacing each maximal invalid subsequence with one U+FFFD,
// the practice the Unicode Standard recommends.
std::string decode_utf8_lossy(std::string_view bytes);

// `text` with A-Z made a-z and every other byte kept (names and keywords
// compared without case).
std::string ascii_lower(std::string_view text);

// Removes Unicode White_Space characters at both ends; `text` must be valid UTF-8.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace kelmora
