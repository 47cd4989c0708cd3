// A print queue's settings that people change: the paper size, two-sided
// printing and colour, as the queue's PPD offers them ("lpoptions -p Q -l"),
// and the jobs a queue holds ("lpstat -o"). Also the paper of the user's
// locale, which every queue kelmora adds gets. Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

// One option of a queue's PPD: "Keyword/Text: value1 *default value3".
struct QueueOption {
    std::string key;
    std::string text;  // the PPD's words for it, plain text
    std::vector<std::string> values;
    std::string current;  // the one marked "*"; empty when none is
};
std::vector<QueueOption> options_from_lpoptions(std::string_view raw);

enum class SettingKind { Paper, Duplex, Colour };
// What a value means, for the words a person reads; Other shows the value.
enum class ValueMeaning { A4, Letter, Off, LongEdge, ShortEdge, Colour, Grey, Other };

struct QueueSetting {
    SettingKind kind;
    std::string key;  // PageSize or media, Duplex or sides, ColorModel or print-color-mode
    std::vector<std::string> values;
    std::string current;
};
// The settings a queue offers, in the order paper, two-sided, colour; an
// option with fewer than two values is nothing to choose.
std::vector<QueueSetting> queue_settings(const std::vector<QueueOption>& options);
ValueMeaning value_meaning(SettingKind kind, std::string_view value);

// The keys kelmora sets, and the words it passes (a value or a key):
// [A-Za-z0-9][A-Za-z0-9._-]* of at most 64 bytes: no "=", blank, newline or
// leading "-".
bool setting_key_allowed(std::string_view key);
bool setting_word_allowed(std::string_view word);

enum class Paper { A4, Letter };
// The paper of the locale that decides it: LC_ALL, else LC_PAPER, else LANG
// (the first that is set and not empty), by its territory ("en_US.UTF-8" ->
// US): Letter in the Americas' Letter countries and the Philippines, A4
// elsewhere, and for C and POSIX.
Paper paper_for_locale(std::string_view lc_all, std::string_view lc_paper, std::string_view lang);
// The value of a paper setting that names `paper`; empty when it has none.
std::string paper_value(const QueueSetting& setting, Paper paper);

// A job a queue holds, from "lpstat -o": "Office-12  anna  1024  Thu 10 Dec…".
struct QueueJob {
    std::string id;     // "Office-12", as cancel takes it
    std::string owner;  // plain text
    std::string size;   // bytes, as lpstat prints them
    std::string when;   // plain text
};
std::vector<QueueJob> jobs_from_lpstat(std::string_view raw, std::string_view queue);
// "QUEUE-NUMBER" with a queue name kelmora accepts.
bool valid_job_id(std::string_view id);

}  // namespace kelmora
