#include "printing/discovery_output.h"

#include "i18n/utf8.h"
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

void add_driverless_entries(std::string_view raw_stdout, std::vector<std::string>& entries) {
    for (const std::string& line : output_lines(raw_stdout))
        if (!trim_unicode_space(line).empty()) entries.push_back("IPP (Driverless): " + line);
}

void add_avahi_entries(std::string_view raw_stdout, std::vector<std::string>& entries) {
    for (const std::string& line : output_lines(raw_stdout))
        if (line.find("hostname") != std::string::npos || line.find("address") != std::string::npos)
            entries.push_back("Avahi IPP: " + std::string(trim_unicode_space(line)));
}

}  // namespace kelmora
