#include "process/line_reader.h"

#include <unistd.h>

#include <cerrno>

#include "i18n/utf8.h"

namespace kelmora {

void forward_lines(int fd, const LogSink& log, std::string_view prefix,
                   const std::function<void(std::string_view)>& observe) {
    LineSplitter splitter;
    const auto deliver = [&](std::string_view line) {
        if (!is_valid_utf8(line)) return;
        if (observe) observe(line);
        std::string text;
        text.reserve(prefix.size() + line.size());
        text.append(prefix).append(line);
        log.line(std::move(text));
    };
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of stream, or an error that would only repeat
        splitter.feed(std::string_view(buffer, static_cast<std::size_t>(n)), deliver);
        // While the window is far behind, stop reading: the child waits on its
        // full pipe instead of its output piling up in memory.
        log.wait_for_room(max_backlog_lines);
    }
    splitter.finish(deliver);
    ::close(fd);
}

}  // namespace kelmora
