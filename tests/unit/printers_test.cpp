// Rows for the printer page from what the network and CUPS report.
#include <gtest/gtest.h>

#include "printing/discovery_output.h"
#include "printing/printer_queue.h"
#include "printing/printers.h"

namespace kelmora {
namespace {

TEST(FoundPrinters, DriverlessMakesOneRowPerPrinterWithItsDecodedName) {
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

    // The same printer over IPP and IPPS is one row; another port of a host
    // is another printer (IPP-over-USB serves several on localhost).
    const auto rows = merge_found_printers(
        printers_from_driverless(
            "ipp://Office._ipp._tcp.local/\nipps://Office._ipps._tcp.local/\n"
            "ipp://localhost:8631/ipp/print\nipp://localhost:8999/ipp/print\n"),
        {});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].name, "Office");
    EXPECT_EQ(rows[1].uri, "ipp://localhost:8631/ipp/print");
    EXPECT_EQ(rows[2].name, "localhost");
}

// avahi copies TXT bytes unescaped: a record can carry newlines, made-up "="
// records and line breaks of every kind. None of it makes a row (rows come
// from driverless), and no entry of the result block spans lines.
TEST(FoundPrinters, ForgedAvahiOutputMakesNoLineThatLooksLikeOurs) {
    const std::string forged =
        "=   eth0 IPv4 Real Printer   Internet Printer   local\n"
        "   hostname = [real.local]\n"
        "   txt = [\"rp=ipp/print\" \"x=\n=   eth0 IPv4 Fake   Internet Printer   local\n"
        "   hostname = [127.0.0.1]\n   port = [8080]\n   txt = [\"rp=admin/api\"]\n"
        "   address = [1.2.3.4\r--- INSTALLATION SUCCESSFUL / BEENDET ---]\n"
        "   address = [5.6.7.8\xe2\x80\xa8--- INSTALLATION SUCCESSFUL / BEENDET ---]\n"
        "   address = [\xe2\x80\xa9\xe2\x80\xae--- INSTALLATION FAILED / ABGEBROCHEN ---]\n";
    std::vector<std::string> entries;
    add_avahi_entries(forged, entries);
    add_driverless_entries("ipp://a.local/\r\x0bipp://b.local/\xc2\x85x\n", entries);
    ASSERT_EQ(entries.size(), 6u);
    for (const std::string& entry : entries) {
        for (const char* breaker :
             {"\r", "\n", "\x0b", "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9", "\xe2\x80\xae"})
            EXPECT_EQ(entry.find(breaker), std::string::npos) << entry;
        EXPECT_TRUE(entry.starts_with("Avahi IPP: ") || entry.starts_with("IPP (Driverless): "));
    }
    EXPECT_EQ(entries[2],
              "Avahi IPP: address = [1.2.3.4 --- INSTALLATION SUCCESSFUL / BEENDET ---]");
    EXPECT_TRUE(printers_from_driverless(forged).empty());
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
    // Invisible and space-like characters fold like blanks: no queue that
    // reads the same as an existing one, or as one with a space.
    const std::vector<PrintQueue> office = {{"Office", "ipp://o/"}};
    const std::pair<std::string, std::string> look_alikes[] = {
        {"Office\xc2\xad", "Office_2"},                          // soft hyphen
        {"Office\xc2\xa0", "Office_2"},                          // no-break space
        {"Office\xe2\x80\x83Jet", "Office_Jet"},                 // em space
        {"Off\xcd\x8fice", "Off_ice"},                           // combining grapheme joiner
        {"Office\xe1\xa0\x8e", "Office_2"},                      // Mongolian vowel separator
        {"Office\xef\xb8\x8f", "Office_2"},                      // variation selector
        {"Office\xf3\xa0\x81\x81\xf3\xa0\x81\xbf", "Office_2"},  // tag characters
    };
    for (const auto& [instance, name] : look_alikes)
        EXPECT_EQ(queue_name_for(instance, office), name) << instance;
    EXPECT_TRUE(queue_name_taken("office", {{"Office\xc2\xad", ""}}));
    EXPECT_FALSE(queue_name_taken("Office_2", office));
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

// What a person types as a printer's address: the accepted forms become the
// URI lpadmin gets; everything else is refused before anything runs.
TEST(PrinterAddress, AcceptedFormsBecomeIppUrisAndTheRestIsRefused) {
    const struct {
        const char* typed;
        const char* uri;  // null: refused with `problem`
        AddressProblem problem;
    } cases[] = {
        {"printer.local", "ipp://printer.local:631/ipp/print", AddressProblem::None},
        {"  192.168.1.20 ", "ipp://192.168.1.20:631/ipp/print", AddressProblem::None},
        {"127.0.0.1:8631", "ipp://127.0.0.1:8631/ipp/print", AddressProblem::None},
        {"fe80::1", "ipp://[fe80::1]:631/ipp/print", AddressProblem::None},
        {"[::1]:8631", "ipp://[::1]:8631/ipp/print", AddressProblem::None},
        {"ipps://printer.local/ipp/print", "ipps://printer.local:631/ipp/print",
         AddressProblem::None},
        {"IPP://printer.local:8000/printers/office", "ipp://printer.local:8000/printers/office",
         AddressProblem::None},
        {"", nullptr, AddressProblem::Empty},
        {"   ", nullptr, AddressProblem::Empty},
        {"http://printer.local", nullptr, AddressProblem::OtherScheme},
        {"socket://10.0.0.5:9100", nullptr, AddressProblem::OtherScheme},
        {"printer local", nullptr, AddressProblem::Unsafe},
        {"printer;reboot", nullptr, AddressProblem::Unsafe},
        {"$(reboot)", nullptr, AddressProblem::Unsafe},
        {"printer.local:0", nullptr, AddressProblem::BadPort},
        {"printer.local:70000", nullptr, AddressProblem::BadPort},
        {"printer.local:", nullptr, AddressProblem::BadPort},
        {"-printer", nullptr, AddressProblem::BadHost},
        {"a..b", nullptr, AddressProblem::BadHost},
        {"printer/ipp", nullptr, AddressProblem::BadHost},
        {"[::1", nullptr, AddressProblem::BadHost},
        {"[fe80::1%25eth0]", nullptr, AddressProblem::BadHost},
    };
    for (const auto& c : cases) {
        const PrinterAddress parsed = parse_printer_address(c.typed);
        EXPECT_EQ(parsed.problem, c.problem) << c.typed;
        EXPECT_EQ(parsed.uri, c.uri ? c.uri : "") << c.typed;
    }
    EXPECT_EQ(parse_printer_address(std::string(300, 'a')).problem, AddressProblem::TooLong);
}

// lpstat -p -d as CUPS 2.4 prints it: each queue's state, CUPS's reason for a
// stopped one, and the default.
TEST(FoundPrinters, QueueStatesReasonsAndTheDefaultFromLpstat) {
    std::vector<PrintQueue> queues = {
        {"Office", "ipp://a/"}, {"Lab", "ipp://b/"}, {"Home", "ipp://c/"}, {"Gone", "ipp://d/"}};
    apply_lpstat_status(queues,
                        "system default destination: Lab\n"
                        "printer Office is idle.  enabled since Tue 01 Dec 2026 10:00:00\n"
                        "printer Lab now printing Lab-12.  enabled since Tue 01 Dec 2026\n"
                        "printer Home disabled since Tue 01 Dec 2026 10:00:00 -\n"
                        "\tThe printer is not responding.\n"
                        "printer Stranger is idle.  enabled since now\n"
                        "\tsomething else\n");
    EXPECT_EQ(queues[0].state, QueueState::Idle);
    EXPECT_EQ(queues[1].state, QueueState::Printing);
    EXPECT_TRUE(queues[1].is_default);
    EXPECT_FALSE(queues[0].is_default);
    EXPECT_EQ(queues[2].state, QueueState::Stopped);
    EXPECT_EQ(queues[2].reason, "The printer is not responding.");
    EXPECT_EQ(queues[3].state, QueueState::Unknown);  // lpstat did not name it
    EXPECT_TRUE(queues[0].reason.empty());
}

// ipptool's test report of the printer at a typed address: only a printer
// that takes what an IPP Everywhere queue sends is added, under its own name.
TEST(PrinterAddress, OnlyAPrinterThatTakesRasterOrPdfIsIppEverywhere) {
    const auto report = [](const std::string& formats, const std::string& info) {
        return "\"/tmp/kelmora-probe\":\n"
               "    kelmora: does the printer speak IPP Everywhere          [PASS]\n"
               "        printer-make-and-model (textWithoutLanguage) = Maker Model X\n"
               "        document-format-supported (1setOf mimeMediaType) = " +
               formats + "\n" +
               (info.empty() ? "" : "        printer-info (textWithoutLanguage) = " + info + "\n");
    };
    const struct {
        const char* what;
        std::string out;
        int status;
        bool answered, everywhere;
        const char* name;
    } cases[] = {
        {"PWG raster", report("application/octet-stream,image/pwg-raster", "Office"), 0, true, true,
         "Office"},
        {"Apple raster, named by its model", report("image/urf", ""), 0, true, true,
         "Maker Model X"},
        {"PDF", report("application/pdf", "Lab"), 0, true, true, "Lab"},
        {"PostScript only", report("application/postscript,image/pwg-rasterx", "Old"), 0, true,
         false, "Old"},
        {"no answer", "ipptool: Unable to connect to \"10.0.0.9\" on port 631 - Host is down\n", 1,
         false, false, ""},
        {"a hostile name", report("image/urf", "Evil\xe2\x80\xae\tName"), 0, true, true,
         "Evil Name"},
    };
    for (const auto& c : cases) {
        const PrinterProbe probe = judge_printer_probe(c.out, c.status);
        EXPECT_EQ(probe.answered, c.answered) << c.what;
        EXPECT_EQ(probe.everywhere, c.everywhere) << c.what;
        EXPECT_EQ(probe.name, c.name) << c.what;
    }
}

}  // namespace
}  // namespace kelmora
