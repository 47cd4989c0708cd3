// Splitting a child's output stream into log lines, as it arrives.
#pragma once

#include <string>
#include <string_view>

#include "tasks/line_splitter.h"
#include "tasks/ui_message.h"

namespace kelmora {

// How many lines may wait for the window before a reader pauses.
inline constexpr std::size_t max_backlog_lines = 2048;

// Reads `fd` to its end in 8192-byte chunks and sends every line that is valid
// UTF-8 as a Line (with `prefix` in front); other lines are dropped whole.
// Closes `fd`. Runs on a reader thread.
void forward_lines(int fd, const UiSender& sender, std::string_view prefix);

}  // namespace kelmora
