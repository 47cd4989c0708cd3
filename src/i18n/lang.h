// The interface language, how it is detected from the environment and how the
// user's choice is remembered in $HOME/.config/kelmora/lang.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelmora {

// The value doubles as the index of the language in the language selector.
enum class Lang : std::uint8_t { En = 0, De = 1, Es = 2, Fr = 3 };
static_assert(sizeof(Lang) == 1, "a language is one byte");

// Any index outside 0..3 (including -1 for "nothing selected") means English.
Lang lang_from_index(int index);
// The two lower-case letters stored in the language file.
std::string_view lang_code(Lang lang);

// What the language file says: nullopt when the bytes are not valid UTF-8
// (the file then counts as unreadable), otherwise the language, where every
// unrecognised text is English.
std::optional<Lang> parse_lang_file(std::string_view content);

// Detection from a lookup of environment variables; the lookup yields nullopt
// for an unset variable. "LANG" wins over "LC_ALL" and "LC_MESSAGES".
using EnvLookup = std::function<std::optional<std::string>(const char*)>;
Lang detect_lang_from(const EnvLookup& lookup);

// Where the language file lives, and whether that place is the shared /tmp
// fallback (HOME unset or not UTF-8), where other local users can plant files.
struct ConfigLocation {
    std::filesystem::path dir;
    bool shared_fallback = false;
};
ConfigLocation config_location_from(const EnvLookup& lookup);

// Reads the language stored in `dir`/lang; nullopt when there is no usable file
// (missing, not a regular file, unreadable, not UTF-8, or - when `require_own`
// - not owned by this user). Never blocks: FIFOs and devices count as unreadable.
std::optional<Lang> read_lang_file(const std::filesystem::path& dir, bool require_own);
// Stores the code of `lang` in `dir`/lang, creating `dir` as needed. Errors are
// dropped. With `require_own`, a file of another user is left alone and a
// symbolic link in place of the file is not followed.
void write_lang_file(const std::filesystem::path& dir, Lang lang, bool require_own);
// The stored language or, when there is none, the detected one, which is stored.
Lang load_lang_at(const ConfigLocation& where, const EnvLookup& lookup);

// The process-level operations, reading the real environment.
std::filesystem::path get_config_path();
Lang detect_system_lang();
Lang load_lang();
void save_lang(Lang lang);

// Reads a real environment variable, nullopt when unset.
std::optional<std::string> process_env(const char* name);

}  // namespace kelmora
