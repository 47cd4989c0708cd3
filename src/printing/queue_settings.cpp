#include "printing/queue_settings.h"

#include <algorithm>
#include <array>
#include <sstream>

#include "i18n/utf8.h"
#include "printing/discovery_output.h"
#include "printing/printers.h"

namespace kelmora {
namespace {

struct KeyKind {
    std::string_view key;
    SettingKind kind;
};
// Drivers' PPDs name them with the first key, driverless queues' with the second.
constexpr std::array<KeyKind, 6> setting_keys = {{{"PageSize", SettingKind::Paper},
                                                  {"media", SettingKind::Paper},
                                                  {"Duplex", SettingKind::Duplex},
                                                  {"sides", SettingKind::Duplex},
                                                  {"ColorModel", SettingKind::Colour},
                                                  {"print-color-mode", SettingKind::Colour}}};

// glibc's LC_PAPER is Letter in these territories (its locales copy en_US's).
constexpr std::array<std::string_view, 14> letter_territories = {
    "US", "CA", "MX", "PH", "CL", "CO", "VE", "PR", "CR", "GT", "NI", "PA", "SV", "DO"};

}  // namespace

std::vector<QueueOption> options_from_lpoptions(std::string_view raw) {
    std::vector<QueueOption> options;
    for (const std::string& line : output_lines(raw)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos || colon == 0 || line.starts_with("lpoptions:")) continue;
        const std::string head = line.substr(0, colon);
        QueueOption option;
        const auto slash = head.find('/');
        option.key = head.substr(0, slash);
        if (!setting_word_allowed(option.key)) continue;
        option.text =
            plain_display_text(slash == std::string::npos ? option.key : head.substr(slash + 1));
        std::istringstream words(line.substr(colon + 2));
        for (std::string word; words >> word && option.values.size() < 200;) {
            const bool marked = word.front() == '*';
            if (marked) word.erase(0, 1);
            // "Custom.WIDTHxHEIGHT" stands for sizes typed in, not one to choose.
            if (!setting_word_allowed(word) || word.starts_with("Custom.")) continue;
            if (marked) option.current = word;
            option.values.push_back(word);
        }
        options.push_back(std::move(option));
    }
    return options;
}

std::vector<QueueSetting> queue_settings(const std::vector<QueueOption>& options) {
    std::vector<QueueSetting> settings;
    for (SettingKind kind : {SettingKind::Paper, SettingKind::Duplex, SettingKind::Colour}) {
        for (const KeyKind& k : setting_keys) {
            if (k.kind != kind) continue;
            const auto found = std::find_if(options.begin(), options.end(),
                                            [&](const QueueOption& o) { return o.key == k.key; });
            if (found == options.end() || found->values.size() < 2) continue;
            settings.push_back({kind, found->key, found->values, found->current});
            break;
        }
    }
    return settings;
}

ValueMeaning value_meaning(SettingKind kind, std::string_view value) {
    const std::string v = ascii_lower(value);
    switch (kind) {
        case SettingKind::Paper:
            if (v == "a4" || v == "iso_a4_210x297mm") return ValueMeaning::A4;
            if (v == "letter" || v == "na_letter_8.5x11in") return ValueMeaning::Letter;
            break;
        case SettingKind::Duplex:
            if (v == "none" || v == "one-sided" || v == "off") return ValueMeaning::Off;
            if (v == "duplexnotumble" || v == "two-sided-long-edge") return ValueMeaning::LongEdge;
            if (v == "duplextumble" || v == "two-sided-short-edge") return ValueMeaning::ShortEdge;
            break;
        case SettingKind::Colour:
            if (v == "gray" || v == "grey" || v == "grayscale" || v == "monochrome" ||
                v == "mono" || v == "kgray" || v == "black")
                return ValueMeaning::Grey;
            if (v == "rgb" || v == "cmyk" || v == "cmy" || v == "color" || v == "colour" ||
                v == "rgbw")
                return ValueMeaning::Colour;
            break;
    }
    return ValueMeaning::Other;
}

bool setting_key_allowed(std::string_view key) {
    return std::any_of(setting_keys.begin(), setting_keys.end(),
                       [&](const KeyKind& k) { return k.key == key; });
}

bool setting_word_allowed(std::string_view word) {
    const auto alnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return !word.empty() && word.size() <= 64 && alnum(word.front()) &&
           std::all_of(word.begin(), word.end(),
                       [&](char c) { return alnum(c) || c == '.' || c == '_' || c == '-'; });
}

Paper paper_for_locale(std::string_view lc_all, std::string_view lc_paper, std::string_view lang) {
    // LC_ALL overrides every category, LANG is the last resort (POSIX).
    const std::string_view locale = !lc_all.empty() ? lc_all : !lc_paper.empty() ? lc_paper : lang;
    const auto underscore = locale.find('_');
    if (underscore == std::string_view::npos) return Paper::A4;
    std::string_view territory = locale.substr(underscore + 1);
    territory = territory.substr(0, territory.find_first_of(".@"));
    return std::find(letter_territories.begin(), letter_territories.end(), territory) !=
                   letter_territories.end()
               ? Paper::Letter
               : Paper::A4;
}

std::string paper_value(const QueueSetting& setting, Paper paper) {
    if (setting.kind != SettingKind::Paper) return {};
    const ValueMeaning wanted = paper == Paper::A4 ? ValueMeaning::A4 : ValueMeaning::Letter;
    for (const std::string& v : setting.values)
        if (value_meaning(SettingKind::Paper, v) == wanted) return v;
    return {};
}

bool valid_job_id(std::string_view id) {
    const auto dash = id.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == id.size()) return false;
    const std::string_view number = id.substr(dash + 1);
    return number.size() <= 10 &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           valid_queue_name(id.substr(0, dash));
}

std::vector<QueueJob> jobs_from_lpstat(std::string_view raw, std::string_view queue) {
    std::vector<QueueJob> jobs;
    for (const std::string& line : output_lines(raw)) {
        std::istringstream words(line);
        QueueJob job;
        if (!(words >> job.id >> job.owner >> job.size)) continue;
        // The job id is the queue's name, "-" and the number; names may hold "-".
        if (!valid_job_id(job.id) || job.id.substr(0, job.id.rfind('-')) != queue) continue;
        std::getline(words >> std::ws, job.when);
        job.owner = plain_display_text(job.owner);
        job.when = plain_display_text(job.when);
        if (jobs.size() < 50) jobs.push_back(std::move(job));
    }
    return jobs;
}

}  // namespace kelmora
