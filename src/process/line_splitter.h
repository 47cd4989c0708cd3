// Splitting a byte stream into lines as it arrives (no GTK, no GLib).
#pragma once

#include <string>
#include <string_view>

namespace kelmora {

// Collects bytes and hands out complete lines: a line ends at "\n", which is
// removed together with one "\r" right before it; at the end of the stream the
// rest, if any, is a last line delivered unchanged.
class LineSplitter {
  public:
    template <class F>
    void feed(std::string_view bytes, F&& on_line) {
        std::size_t start = 0;
        for (std::size_t nl; (nl = bytes.find('\n', start)) != std::string_view::npos;
             start = nl + 1) {
            std::string_view piece = bytes.substr(start, nl - start);
            if (pending_.empty()) {
                on_line(strip_cr(piece));
            } else {
                pending_.append(piece);
                on_line(strip_cr(pending_));
                pending_.clear();
            }
        }
        pending_.append(bytes.substr(start));
    }

    template <class F>
    void finish(F&& on_line) {
        if (!pending_.empty()) on_line(std::string_view(pending_));
        pending_.clear();
    }

  private:
    static std::string_view strip_cr(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }
    std::string pending_;
};

}  // namespace kelmora
