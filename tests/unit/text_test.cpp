#include <gtest/gtest.h>

#include "i18n/utf8.h"
#include "printing/discovery_output.h"
#include "process/line_reader.h"
#include "process/process.h"
#include "ui/log_receiver.h"

#include <cerrno>
#include <cstring>

namespace kelmora {
namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8, ValidationFollowsTheStandard) {
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain", true},
        {std::string("nul\0inside", 10), true},
        {"\xC3\xA9\xE2\x97\x8F\xF0\x9F\x98\x80", true},
        {"\xC0\xAF", false},          // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE2\x97", false},          // truncated
        {"\x80", false},              // lone continuation
        {"\xFF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
}

TEST(Utf8, LossyDecodingReplacesEachMaximalInvalidSubsequenceOnce) {
    // The example from the Unicode Standard's chapter on U+FFFD substitution.
    EXPECT_EQ(decode_utf8_lossy("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              "a" + fffd + fffd + fffd + "b" + fffd + "c" + fffd + fffd + "d");
    EXPECT_EQ(decode_utf8_lossy("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(decode_utf8_lossy("\xE2\x97"), fffd);                    // truncated at the end
    EXPECT_EQ(decode_utf8_lossy("\xED\xA0\x80"), fffd + fffd + fffd);  // surrogates
}

TEST(Utf8, TrimRemovesUnicodeWhiteSpaceOnly) {
    EXPECT_EQ(trim_unicode_space(" \t\r\n de \x0B\x0C"), "de");
    EXPECT_EQ(trim_unicode_space("\xC2\xA0"
                                 "fr"
                                 "\xE2\x80\x83\xE3\x80\x80"),
              "fr");  // NBSP, em space, ideographic
    EXPECT_EQ(trim_unicode_space("\xE2\x80\x8B"
                                 "x"),
              "\xE2\x80\x8B"
              "x");  // zero width space is not white space
    EXPECT_EQ(trim_unicode_space("   "), "");
    EXPECT_EQ(trim_unicode_space("a b"), "a b");
}

std::vector<std::string> split(const std::vector<std::string>& chunks) {
    std::vector<std::string> lines;
    LineSplitter s;
    auto keep = [&](std::string_view l) { lines.emplace_back(l); };
    for (const auto& c : chunks) s.feed(c, keep);
    s.finish(keep);
    return lines;
}

TEST(LineSplitter, LineEndsAndChunkBoundaries) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split({"a\r\nb"}), (V{"a", "b"}));
    EXPECT_EQ(split({"a\r", "\nb\n"}), (V{"a", "b"}));  // CR LF split across reads
    EXPECT_EQ(split({"x\ry\n"}), (V{"x\ry"}));          // lone CR stays
    EXPECT_EQ(split({"\n\n"}), (V{"", ""}));
    EXPECT_EQ(split({"last\r"}), (V{"last\r"}));  // last line unchanged
    EXPECT_EQ(split({"a\r\r\n"}), (V{"a\r"}));    // only one CR removed
    EXPECT_EQ(split({"pa", "rt", "ial\nnext"}), (V{"partial", "next"}));
    EXPECT_EQ(split({""}), V{});
}

// A kept line keeps its own blanks after "IPP (Driverless): " (they were once
// folded away with the unsafe characters); what is unsafe still goes.
TEST(Discovery, DriverlessKeepsNonBlankLinesWithTheirOwnBlanksAndWithoutUnsafeCharacters) {
    std::vector<std::string> e;
    add_driverless_entries(
        "ipp://a.local:631/ipp/print\r\n \t\n\n  ipps://b/ipp/print  \nlast\n"
        "  ipp://\xE2\x80\xAE"
        "evil\x1b/\n",
        e);
    EXPECT_EQ(
        e, (std::vector<std::string>{"IPP (Driverless): ipp://a.local:631/ipp/print",
                                     "IPP (Driverless):   ipps://b/ipp/print  ",
                                     "IPP (Driverless): last", "IPP (Driverless):   ipp://evil/"}));
}

TEST(Discovery, AvahiKeepsHostnameAndAddressLinesTrimmed) {
    const std::string out =
        "+   eth0 IPv4 Office Printer   _ipp._tcp   local\n"
        "=   eth0 IPv4 Office Printer   _ipp._tcp   local\n"
        "   hostname = [printer.local]\n"
        "   address = [192.0.2.7]\n"
        "   port = [631]\n"
        "   Hostname = [capital.local]\n"
        "   txt = [\"addresses\"]\r\n";
    std::vector<std::string> e;
    add_avahi_entries(out, e);
    EXPECT_EQ(e, (std::vector<std::string>{"Avahi IPP: hostname = [printer.local]",
                                           "Avahi IPP: address = [192.0.2.7]",
                                           "Avahi IPP: txt = [\"addresses\"]"}));
}

TEST(Discovery, InvalidBytesBecomeReplacementCharacters) {
    std::vector<std::string> e;
    add_driverless_entries("ipp://caf\xE9/\n", e);
    EXPECT_EQ(e, (std::vector<std::string>{"IPP (Driverless): ipp://caf" + fffd + "/"}));
}

TEST(LogTexts, ScanResultBlock) {
    EXPECT_EQ(scan_result_block({}),
              "\n--- NETWORK SCAN RESULTS ---\nNo devices found.\n----------------------------\n");
    EXPECT_EQ(scan_result_block({"A", "B"}),
              "\n--- NETWORK SCAN RESULTS ---\nFound: A\nFound: B\n----------------------------\n");
    EXPECT_EQ(success_banner.size(), 41u);
    EXPECT_EQ(failure_banner.size(), 41u);
}

}  // namespace
}  // namespace kelmora

#ifdef __GLIBC__
// glibc's XSI variant, what strerror_r is on musl.
extern "C" int __xpg_strerror_r(int error, char* buffer, std::size_t size);
#define KELMORA_XSI_STRERROR_R __xpg_strerror_r
#else
#define KELMORA_XSI_STRERROR_R ::strerror_r
#endif

namespace kelmora {
namespace {

TEST(ErrorText, BothStrerrorVariantsGiveTheSameText) {
    const std::string gnu = os_error_text(ENOENT);
    EXPECT_EQ(gnu, "No such file or directory (os error 2)");
    char buffer[256] = "";
    const int xsi = KELMORA_XSI_STRERROR_R(ENOENT, buffer, sizeof buffer);
    EXPECT_EQ(std::string(strerror_r_text(xsi, buffer)) + " (os error 2)", gnu);
    // An XSI call that fails leaves nothing usable in the buffer.
    EXPECT_STREQ(strerror_r_text(ERANGE, buffer), "Unknown error");
}

}  // namespace
}  // namespace kelmora
