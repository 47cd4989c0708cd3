#include "printing/discovery_output.h"

#include "i18n/utf8.h"
#include "printing/printers.h"
#include "process/line_splitter.h"

namespace kelmora {

std::vector<std::string> output_lines(std::string_view raw) {
    std::vector<std::string> lines;
    const std::string text = decode_utf8_lossy(raw);
    LineSplitter splitter;
    const auto keep = [&](std::string_view line) { lines.emplace_back(line); };
    splitter.feed(text, keep);
    splitter.finish(keep);
    return lines;
}

namespace {

// Long enough for a URI or an avahi detail line.
constexpr std::size_t entry_limit = 300;

}  // namespace

void add_driverless_entries(std::string_view raw_stdout, std::vector<std::string>& entries) {
    for (const std::string& line : output_lines(raw_stdout)) {
        // Kept when there is something besides blanks; shown with its own
        // leading and trailing blanks.
        if (!plain_display_text(line, entry_limit).empty())
            entries.push_back("IPP (Driverless): " + plain_line_text(line, entry_limit));
    }
}

void add_avahi_entries(std::string_view raw_stdout, std::vector<std::string>& entries) {
    for (const std::string& line : output_lines(raw_stdout))
        if (line.find("hostname") != std::string::npos || line.find("address") != std::string::npos)
            entries.push_back("Avahi IPP: " + plain_display_text(line, entry_limit));
}

}  // namespace kelmora
