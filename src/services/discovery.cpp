#include "services/discovery.h"

#include "i18n/utf8.h"
#include "tasks/busy_state.h"
#include "tasks/line_reader.h"
#include "tasks/process.h"

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

void discover_network_devices(const UiSender& sender) {
    std::vector<std::string> entries;
    if (auto out = capture_output({"driverless"})) add_driverless_entries(out->out, entries);
    if (auto out = capture_output({"avahi-browse", "-t", "-r", "_ipp._tcp"}))
        add_avahi_entries(out->out, entries);
    sender.send(ScanResults{std::move(entries)});
}

void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender) {
    enter_busy_state(*widgets);
    sender.send(Line{"Scanning network for printers via AirScan & CUPS..."});
    spawn_detached([sender] { discover_network_devices(sender); });
}

}  // namespace kelmora
