#include "scanning/sane_config.h"

#include <algorithm>

namespace kelmora {
namespace {

constexpr std::string_view shell_characters = "\"'\\`$;|<>(){}*!^ \t";

}  // namespace

bool airscan_name_allowed(std::string_view name) {
    return !name.empty() && name.size() <= 64 && name.front() != ' ' && name.front() != '-' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == ' ' || c == '.' || c == '_' || c == '-' || c == ':' || c == '[' ||
                      c == ']';
           });
}

bool airscan_url_allowed(std::string_view url) {
    const bool scheme = url.starts_with("http://") || url.starts_with("https://");
    // sane-airscan's value is "URL, PROTOCOL": a "," in the URL would change
    // the protocol, a "#" would start a comment.
    return scheme && url.size() <= 300 &&
           url.find_first_of(shell_characters) == std::string_view::npos &&
           url.find_first_of(",#") == std::string_view::npos &&
           std::all_of(url.begin(), url.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::string airscan_file_name(std::string_view name) {
    // Letters, digits, "." and "-" stand for themselves, every other byte
    // (the "_" too) for "_" and its two hex digits: no two names share a file.
    constexpr char hex[] = "0123456789abcdef";
    std::string file = "kelmora-";
    for (char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-') {
            file += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            file += '_';
            file += hex[byte >> 4];
            file += hex[byte & 0xf];
        }
    }
    return file + ".conf";
}

std::string airscan_file_content(std::string_view name, std::string_view url) {
    return "# Written by kelmora: a scanner added by its address.\n[devices]\n\"" +
           std::string(name) + "\" = " + std::string(url) + ", eSCL\n";
}

}  // namespace kelmora
