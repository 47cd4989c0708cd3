// Arbitrary child output in arbitrary read sizes: every line that is valid
// UTF-8 comes out exactly once, in order, as a plain split of the whole input
// would give it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/utf8.h"
#include "process/line_splitter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte seeds the chunk sizes, the rest is the stream.
    unsigned seed = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<std::string> got;
    kelmora::LineSplitter splitter;
    const auto keep = [&](std::string_view line) {
        if (kelmora::is_valid_utf8(line)) got.emplace_back(line);
    };
    for (std::size_t pos = 0; pos < input.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk = 1 + (seed >> 16) % 8192;
        splitter.feed(input.substr(pos, chunk), keep);
        pos += chunk;
    }
    splitter.finish(keep);

    std::vector<std::string> expected;
    std::size_t start = 0;
    for (std::size_t nl; (nl = input.find('\n', start)) != std::string_view::npos; start = nl + 1) {
        std::string_view line = input.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (kelmora::is_valid_utf8(line)) expected.emplace_back(line);
    }
    if (start < input.size() && kelmora::is_valid_utf8(input.substr(start)))
        expected.emplace_back(input.substr(start));
    if (got != expected) std::abort();
    return 0;
}
