// Printer rows from hostile tool output: names are short plain text without
// control or bidi characters, addresses are ipp(s) URIs without blanks, queue
// names pass lpadmin's rules, and no network fills more rows than allowed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/utf8.h"
#include "printing/printers.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}

void require_plain(const std::string& text) {
    require(kelmora::is_valid_utf8(text));
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xc0) != 0x80) ++chars;
        require(c >= 0x20 && c != 0x7f);
        if (c == 0xe2 && i + 2 < text.size()) {  // U+2000-U+2FFF: no bidi or line controls
            const unsigned char b = static_cast<unsigned char>(text[i + 1]),
                                d = static_cast<unsigned char>(text[i + 2]);
            require(!(b == 0x80 && ((d >= 0x8b && d <= 0x8f) || (d >= 0xa8 && d <= 0xae))));
            require(!(b == 0x81 && d >= 0xa0 && d <= 0xaf));
        }
    }
    require(chars <= kelmora::display_name_limit + 1);
}

void require_uri(const std::string& uri) {
    require(uri.rfind("ipp://", 0) == 0 || uri.rfind("ipps://", 0) == 0);
    for (unsigned char c : uri) require(c > 0x20 && c < 0x7f);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const auto driverless = kelmora::printers_from_driverless(raw);
    for (const auto& p : driverless) {
        require_plain(p.name);
        require_uri(p.uri);
    }
    const auto rows = kelmora::merge_found_printers(driverless, driverless);
    require(rows.size() <= kelmora::found_row_limit);
    for (const auto& s : kelmora::scanners_from_airscan(raw)) require_plain(s.name);

    std::vector<kelmora::PrintQueue> queues = kelmora::queues_from_lpstat(raw);
    const std::string name = kelmora::queue_name_for(raw, queues);
    require(!name.empty() && name.size() < 128);
    for (unsigned char c : name)
        require(c > 0x20 && c != 0x7f && c != '/' && c != '\\' && c != '?' && c != '\'' &&
                c != '"' && c != '#');
    require(!kelmora::queue_name_taken(name, queues));
    return 0;
}
