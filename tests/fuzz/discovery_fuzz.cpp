// Discovery tool output: decoding never yields invalid UTF-8, lines never hold a
// line feed, entries keep their prefixes and trimmed entries have no outer blanks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/utf8.h"
#include "printing/discovery_output.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const std::string decoded = kelmora::decode_utf8_lossy(raw);
    require(kelmora::is_valid_utf8(decoded));
    if (kelmora::is_valid_utf8(raw)) require(decoded == raw);

    const std::vector<std::string> lines = kelmora::output_lines(raw);
    for (const auto& line : lines) require(line.find('\n') == std::string::npos);

    std::vector<std::string> entries;
    kelmora::add_driverless_entries(raw, entries);
    require(entries.size() <= lines.size());
    for (const auto& e : entries) {
        require(e.rfind("IPP (Driverless): ", 0) == 0);
        require(!kelmora::trim_unicode_space(e.substr(18)).empty());
    }
    entries.clear();
    kelmora::add_avahi_entries(raw, entries);
    for (const auto& e : entries) {
        require(e.rfind("Avahi IPP: ", 0) == 0);
        const std::string_view rest = std::string_view(e).substr(11);
        require(kelmora::trim_unicode_space(rest) == rest);
    }
    // No entry may break a line, however the network spells it.
    kelmora::add_driverless_entries(raw, entries);
    for (const auto& e : entries)
        for (const char* breaker :
             {"\r", "\n", "\v", "\f", "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"})
            require(e.find(breaker) == std::string::npos);
    return 0;
}
