// Rows for the printer page from what the network and CUPS report.
#include <gtest/gtest.h>

#include "printing/printers.h"

namespace kelmora {
namespace {

// avahi-browse -t -r _ipp._tcp as avahi-utils 0.8 prints it: each printer
// once per interface and protocol.
constexpr std::string_view avahi_output =
    "+   eth0 IPv6 Brother HL-L2350DW series                      Internet Printer     local\n"
    "+   eth0 IPv4 Brother HL-L2350DW series                      Internet Printer     local\n"
    "=   eth0 IPv6 Brother HL-L2350DW series                      Internet Printer     local\n"
    "   hostname = [BRN3C2AF4.local]\n"
    "   address = [fe80::3e2a:f4ff:fe00:1]\n"
    "   port = [631]\n"
    "   txt = [\"rp=ipp/print\" \"ty=Brother HL-L2350DW series\"]\n"
    "=   eth0 IPv4 Brother HL-L2350DW series                      Internet Printer     local\n"
    "   hostname = [BRN3C2AF4.local]\n"
    "   address = [192.168.1.23]\n"
    "   port = [631]\n"
    "   txt = [\"rp=ipp/print\" \"ty=Brother HL-L2350DW series\"]\n"
    "=   eth0 IPv4 Office \xe2\x80\xae"
    "gnp.exe                           Internet Printer     local\n"
    "   hostname = [office.local]\n"
    "   address = [192.168.1.40]\n"
    "   port = [8631]\n"
    "   txt = [\"rp=printers/office\"]\n";

TEST(FoundPrinters, BothToolsFoldIntoOneRowPerPrinterWithItsDecodedName) {
    const auto driverless = printers_from_driverless(
        "ipp://Brother%20HL-L2350DW%20series._ipp._tcp.local/\n"
        "ipps://HP%20LaserJet%20M110w%20%5B4A1B2C%5D._ipps._tcp.local/\n"
        "ipp://NPI1234.local:631/ipp/print\n"
        "lpd://old-printer/queue\n"
        "ipp://evil host/with space\n"
        "\n");
    ASSERT_EQ(driverless.size(), 3u);
    EXPECT_EQ(driverless[0].name, "Brother HL-L2350DW series");
    EXPECT_EQ(driverless[0].uri, "ipp://Brother%20HL-L2350DW%20series._ipp._tcp.local/");
    EXPECT_EQ(driverless[1].name, "HP LaserJet M110w [4A1B2C]");
    EXPECT_EQ(driverless[2].name, "NPI1234");
    EXPECT_EQ(driverless[2].host, "NPI1234.local");

    const auto avahi = printers_from_avahi(avahi_output);
    ASSERT_EQ(avahi.size(), 3u);
    EXPECT_EQ(avahi[0].uri, "ipp://BRN3C2AF4.local:631/ipp/print");
    EXPECT_EQ(avahi[2].uri, "ipp://office.local:8631/printers/office");
    // The right-to-left override is neutralised, not shown.
    EXPECT_EQ(avahi[2].name, "Office gnp.exe");

    const auto rows = merge_found_printers(driverless, avahi);
    ASSERT_EQ(rows.size(), 4u);  // Brother twice by Avahi and once by driverless: one row
    EXPECT_EQ(rows[0].uri, driverless[0].uri);
    EXPECT_EQ(rows[3].name, "Office gnp.exe");

    // A host-named row takes the printer's own name; another port is another printer.
    const auto by_host = merge_found_printers(
        printers_from_driverless(
            "ipp://localhost:8631/ipp/print\nipp://localhost:8999/ipp/print\n"),
        printers_from_avahi("=  lo IPv4 Test Printer   Internet Printer   local\n"
                            "   hostname = [localhost]\n   port = [8631]\n"));
    ASSERT_EQ(by_host.size(), 2u);
    EXPECT_EQ(by_host[0].name, "Test Printer");
    EXPECT_EQ(by_host[0].uri, "ipp://localhost:8631/ipp/print");
    EXPECT_EQ(by_host[1].name, "localhost");
}

TEST(FoundPrinters, HostileNamesBecomeShortPlainText) {
    struct Case {
        std::string raw;
        std::string shown;
    } cases[] = {
        {"A\tB\nC\x1b[31mD", "A B C [31mD"},
        {"\xe2\x80\x8fRTL\xe2\x81\xa6 mark\xef\xbb\xbf", "RTL mark"},
        {"bad \xff\xfe bytes", "bad \xef\xbf\xbd\xef\xbf\xbd bytes"},
        {std::string(200, 'x'), std::string(display_name_limit, 'x') + "\u2026"},
        {"   ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(plain_display_text(c.raw), c.shown) << c.raw;
    EXPECT_EQ(percent_decode("a%20b%zz%4"), "a b%zz%4");

    std::string many;
    for (int i = 0; i < 50; ++i) many += "ipp://P" + std::to_string(i) + "._ipp._tcp.local/\n";
    EXPECT_EQ(merge_found_printers(printers_from_driverless(many), {}).size(), found_row_limit);
}

TEST(FoundPrinters, QueueNamesFollowLpadminsRulesAndAreUnique) {
    const std::vector<PrintQueue> existing = {{"Brother_HL-L2350DW_series", "ipp://x/"},
                                              {"printer", "ipp://y/"}};
    struct Case {
        std::string instance;
        std::string name;
    } cases[] = {
        {"HP LaserJet M110w [4A1B2C]", "HP_LaserJet_M110w_[4A1B2C]"},
        {"a/b\\c?d'e\"f#g\x7fh", "a_b_c_d_e_f_g_h"},
        {"  Büro  Drucker  ", "Büro_Drucker"},
        {"Brother HL-L2350DW series", "Brother_HL-L2350DW_series_2"},
        {"///", "Printer_2"},  // "printer" exists; CUPS names ignore case
    };
    for (const Case& c : cases) EXPECT_EQ(queue_name_for(c.instance, existing), c.name);
    const std::string longest = queue_name_for(std::string(100, 'a') + std::string(40, '\xc3'), {});
    EXPECT_LT(longest.size(), 128u);
    const std::string taken(127, 'q');
    EXPECT_EQ(queue_name_for(taken, {{taken, ""}}), std::string(125, 'q') + "_2");
}

TEST(FoundPrinters, QueuesAndScannersAsTheToolsPrintThem) {
    const auto queues = queues_from_lpstat(
        "device for Brother_HL: ipp://Brother%20HL._ipp._tcp.local/\n"
        "device for office: ipp://office.local:8631/printers/office\n"
        "lpstat: Scheduler is not running.\n");
    ASSERT_EQ(queues.size(), 2u);
    EXPECT_EQ(queues[1].name, "office");
    EXPECT_TRUE(has_queue({"Brother HL", "ipp://Brother%20HL._ipp._tcp.local/", ""}, queues));
    EXPECT_FALSE(has_queue({"Brother HL", "ipp://BRN.local:631/ipp/print", ""}, queues));

    const auto scanners = scanners_from_airscan(
        "[devices]\n"
        "  Brother MFC-L2710DW series = http://192.168.1.20:80/eSCL/, eSCL\n"
        "  Brother MFC-L2710DW series = http://[fe80::1%25eth0]:80/eSCL/, eSCL\n"
        "  HP \xe2\x80\xaeOfficeJet = http://192.168.1.30:3911/, WSD\n"
        "[options]\n"
        "  ignored = value\n");
    ASSERT_EQ(scanners.size(), 2u);
    EXPECT_EQ(scanners[0].uri, "http://192.168.1.20:80/eSCL/");
    EXPECT_EQ(scanners[0].protocol, "eSCL");
    EXPECT_EQ(scanners[1].name, "HP OfficeJet");
}

}  // namespace
}  // namespace kelmora
