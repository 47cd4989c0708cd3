#include "i18n/lang.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "i18n/utf8.h"

namespace kelmora {
namespace {

constexpr std::array<std::string_view, 4> codes = {"en", "de", "es", "fr"};

// A language file is two bytes; anything this large can only be an unrecognised
// text, so it is not read into memory (a huge file must not exhaust memory).
constexpr std::size_t max_lang_file_size = 4 * 1024 * 1024;

bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

Lang lang_from_index(int index) {
    return index >= 0 && index <= 3 ? static_cast<Lang>(index) : Lang::En;
}

std::string_view lang_code(Lang lang) {
    return codes[static_cast<std::size_t>(lang) & 3];
}

std::optional<Lang> parse_lang_file(std::string_view content) {
    if (!is_valid_utf8(content)) return std::nullopt;
    // Only three two-letter results count, so an ASCII case-insensitive
    // comparison gives the same answer as full Unicode lower-casing.
    const std::string_view text = trim_unicode_space(content);
    for (int i = 1; i < 4; ++i)
        if (ascii_iequal(text, codes[i])) return static_cast<Lang>(i);
    return Lang::En;
}

Lang detect_lang_from(const EnvLookup& lookup) {
    // LANG first, unlike POSIX where LC_ALL takes precedence: this is the order
    // users of earlier versions have their language picked by.
    for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES"}) {
        const std::optional<std::string> value = lookup(name);
        if (!value || !is_valid_utf8(*value)) continue;
        if (value->size() < 2) return Lang::En;
        const std::string_view prefix = std::string_view(*value).substr(0, 2);
        for (int i = 1; i < 4; ++i)
            if (prefix == codes[i]) return static_cast<Lang>(i);
        return Lang::En;
    }
    return Lang::En;
}

ConfigLocation config_location_from(const EnvLookup& lookup) {
    const std::optional<std::string> home = lookup("HOME");
    if (!home || !is_valid_utf8(*home))
        return {std::filesystem::path("/tmp") / ".config" / "kelmora", true};
    return {std::filesystem::path(*home) / ".config" / "kelmora", false};
}

std::optional<Lang> read_lang_file(const std::filesystem::path& dir, bool require_own) {
    const std::filesystem::path file = dir / "lang";
    // Non-blocking so that a FIFO or a device in place of the file cannot stall
    // the main thread; only regular files are read at all.
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (require_own) flags |= O_NOFOLLOW;
    Fd fd(::open(file.c_str(), flags));
    if (fd.get() < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (require_own && st.st_uid != ::geteuid()) return std::nullopt;

    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > max_lang_file_size) return Lang::En;
    }
    return parse_lang_file(content);
}

void write_lang_file(const std::filesystem::path& dir, Lang lang, bool require_own) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);  // 0777 before the umask

    const std::filesystem::path file = dir / "lang";
    // Never block: a FIFO without a reader fails to open, and anything that is
    // not a regular file is left alone. The file is truncated only after that check.
    int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (require_own) flags |= O_NOFOLLOW;
    Fd fd(::open(file.c_str(), flags, 0666));
    if (fd.get() < 0) return;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (require_own && st.st_uid != ::geteuid()) return;
    if (::ftruncate(fd.get(), 0) != 0) return;

    const std::string_view code = lang_code(lang);
    std::size_t done = 0;
    while (done < code.size()) {
        const ssize_t n = ::write(fd.get(), code.data() + done, code.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

Lang load_lang_at(const ConfigLocation& where, const EnvLookup& lookup) {
    if (const std::optional<Lang> stored = read_lang_file(where.dir, where.shared_fallback))
        return *stored;
    const Lang detected = detect_lang_from(lookup);
    write_lang_file(where.dir, detected, where.shared_fallback);
    return detected;
}

std::optional<std::string> process_env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::filesystem::path get_config_path() {
    return config_location_from(process_env).dir;
}

Lang detect_system_lang() {
    return detect_lang_from(process_env);
}

Lang load_lang() {
    return load_lang_at(config_location_from(process_env), process_env);
}

void save_lang(Lang lang) {
    const ConfigLocation where = config_location_from(process_env);
    write_lang_file(where.dir, lang, where.shared_fallback);
}

}  // namespace kelmora
