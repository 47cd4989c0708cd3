// Writes COUNT lines of about 80 bytes to standard output as fast as it can:
// the output of a very busy installer.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    std::string buffer;
    buffer.reserve(1 << 16);
    char line[96];
    for (long i = 0; i < count; ++i) {
        const int n = std::snprintf(
            line, sizeof line,
            "[%07ld] mesa-dri-24.0.1_1: unpacking files into /usr/lib/dri (x86_64).......\n", i);
        buffer.append(line, static_cast<std::size_t>(n));
        if (buffer.size() > (1 << 16) - 128 || i + 1 == count) {
            std::size_t done = 0;
            while (done < buffer.size()) {
                const ssize_t w = ::write(1, buffer.data() + done, buffer.size() - done);
                if (w <= 0) return 1;
                done += static_cast<std::size_t>(w);
            }
            buffer.clear();
        }
    }
    return 0;
}
