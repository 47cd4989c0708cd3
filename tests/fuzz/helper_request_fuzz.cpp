// Fuzz target: the helper's request parser. Whatever it accepts runs a fixed
// program with words inside the grammar: known options, package names that
// cannot be options, one of three services, queue names and addresses that
// lpadmin takes. Input: NUL-separated words.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "helper/request.h"
#include "printing/printers.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    std::string_view raw(reinterpret_cast<const char*>(data), size);
    while (!raw.empty() && words.size() < 16) {
        const std::size_t end = raw.find('\0');
        words.emplace_back(raw.substr(0, end));
        raw.remove_prefix(end == std::string_view::npos ? raw.size() : end + 1);
    }
    const auto parsed = kelmora::parse_helper_request(words);
    if (const auto* refusal = std::get_if<kelmora::Refusal>(&parsed)) {
        require(refusal->status != 126 && refusal->status != 127);
        return 0;
    }
    const auto& accepted = std::get<kelmora::HelperRequest>(parsed);
    if (accepted.write_policy) {
        require(words.size() == 1);
        return 0;
    }
    require(!accepted.programs.empty());
    for (const std::string& program : accepted.programs) require(program.rfind("/", 0) == 0);
    const std::string& verb = words[0];
    require(accepted.args == std::vector<std::string>(words.begin() + 1, words.end()));
    if (verb.rfind("xbps-", 0) == 0) {
        // The options kelmora uses, then names that are never options.
        std::size_t names = accepted.args[0] == "-Su" ? 2 : 1;
        require(accepted.args.size() > names);
        for (std::size_t i = names; i < accepted.args.size(); ++i)
            require(kelmora::valid_package_name(accepted.args[i]) && accepted.args[i][0] != '-');
    } else if (verb == "ln") {
        require(accepted.args.size() == 3 && accepted.args[2] == "/var/service/");
        require(accepted.args[1] == "/etc/sv/cupsd" || accepted.args[1] == "/etc/sv/avahi-daemon" ||
                accepted.args[1] == "/etc/sv/saned");
    } else {
        require(verb == "lpadmin");
        require(kelmora::valid_queue_name(accepted.args[1]));
        if (accepted.args.size() == 7) require(kelmora::printer_uri_allowed(accepted.args[4]));
    }
    return 0;
}
