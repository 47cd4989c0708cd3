// Rows for the printer page from what the network and CUPS report.
#include <gtest/gtest.h>

#include <set>

#include "printing/discovery_output.h"
#include "printing/printer_queue.h"
#include "printing/printers.h"
#include "printing/queue_settings.h"
#include "printing/usb_printers.h"
#include "test_support.h"

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

// ---- USB printers: sysfs, device IDs and what CUPS's lpinfo/ipptool print.

namespace kelmora {
namespace {

using test::TempDir;
using test::write_file;

void usb_interface(const std::filesystem::path& root, const std::string& device,
                   const std::string& protocol, const std::string& device_id = {}) {
    const auto dir = root / "sys/bus/usb/devices" / (device + ":1.0");
    write_file(dir / "bInterfaceClass", "07\n");
    write_file(dir / "bInterfaceSubClass", "01\n");
    write_file(dir / "bInterfaceProtocol", protocol + "\n");
    if (!device_id.empty()) write_file(dir / "ieee1284_id", device_id);
}

void usb_device(const std::filesystem::path& root, const std::string& device,
                const std::string& maker, const std::string& product, const std::string& serial) {
    const auto dir = root / "sys/bus/usb/devices" / device;
    write_file(dir / "idVendor", "03f0\n");
    write_file(dir / "idProduct", "2b17\n");
    if (!maker.empty()) write_file(dir / "manufacturer", maker + "\n");
    if (!product.empty()) write_file(dir / "product", product + "\n");
    if (!serial.empty()) write_file(dir / "serial", serial + "\n");
}

TEST(UsbPrinters, SysfsGivesOneRowPerPrinterNamedFromItsDeviceIdAndHostileTextStaysPlain) {
    TempDir tmp;
    const auto root = tmp.path();
    // A classic laser printer with usblp bound.
    usb_device(root, "1-2", "Hewlett-Packard", "HP LaserJet 1020", "00CNB");
    usb_interface(root, "1-2", "02", "MFG:Hewlett-Packard;MDL:HP LaserJet 1020;CMD:ZJS;");
    // An IPP-over-USB printer that also has a classic interface: ipp-usb's.
    usb_device(root, "1-3", "EPSON", "ET-2810 Series", "X5Y6");
    usb_interface(root, "1-3", "02");
    write_file(root / "sys/bus/usb/devices/1-3:1.1/bInterfaceClass", "07\n");
    write_file(root / "sys/bus/usb/devices/1-3:1.1/bInterfaceSubClass", "01\n");
    write_file(root / "sys/bus/usb/devices/1-3:1.1/bInterfaceProtocol", "04\n");
    // Hostile strings: markup, a newline in the device ID, a control character.
    usb_device(root, "2-1", "<b>Evil</b>", "Print\x1b[2Jer", "ab\ncd");
    usb_interface(root, "2-1", "01", "MFG:Evil;MDL:X\n;CMD:;");
    // Not a printer (a mass-storage interface), and a printer interface whose
    // device directory is missing.
    write_file(root / "sys/bus/usb/devices/3-1:1.0/bInterfaceClass", "08\n");
    usb_interface(root, "4-4", "02");
    // A device with no strings at all.
    usb_device(root, "5-1", "", "", "");
    usb_interface(root, "5-1", "03");

    const auto printers = read_usb_printers(root);
    ASSERT_EQ(printers.size(), 5u);
    EXPECT_EQ(printers[0].name, "HP LaserJet 1020");  // not "Hewlett-Packard HP LaserJet 1020"
    EXPECT_EQ(printers[0].make, "Hewlett-Packard");
    EXPECT_EQ(printers[0].serial, "00CNB");
    EXPECT_TRUE(printers[0].classic);
    EXPECT_FALSE(printers[0].ipp_usb);
    EXPECT_EQ(printers[1].name, "EPSON ET-2810 Series");
    EXPECT_TRUE(printers[1].ipp_usb);
    // The newline makes the device ID unusable: the sysfs strings name it,
    // as plain text, and a serial with a newline is none.
    EXPECT_EQ(printers[2].device_id, "");
    EXPECT_EQ(printers[2].name, "<b>Evil</b> Print [2Jer");
    EXPECT_EQ(printers[2].serial, "");
    EXPECT_EQ(printers[3].device, "4-4");  // no device directory: still a row, by its IDs
    EXPECT_EQ(printers[3].name, "USB printer");
    EXPECT_EQ(printers[4].name, "USB printer 03f0:2b17");

    // A missing or empty tree is no printers, not an error.
    EXPECT_TRUE(read_usb_printers(root / "nowhere").empty());
}

TEST(UsbPrinters, DeviceIdsLpinfoListingsAndSuppliesAreReadAsCupsPrintsThem) {
    const DeviceId id = parse_device_id(
        "MANUFACTURER:Brother;COMMAND SET:PJL,PCL;MODEL:HL-L2350DW series;MFG:Other;");
    EXPECT_EQ(id.make, "Brother");
    EXPECT_EQ(id.model, "HL-L2350DW series");
    EXPECT_EQ(id.command_set, "PJL,PCL");
    EXPECT_FALSE(device_id_usable("CMD:PCL;"));  // no make, no model
    EXPECT_FALSE(device_id_usable("MFG:HP;MDL:X\n"));
    EXPECT_TRUE(device_id_usable("MFG:HP;MDL:LaserJet 1020;"));

    const auto devices = devices_from_lpinfo(
        "Device: uri = usb://HP/LaserJet%201020?serial=00CNB\n"
        "        class = direct\n"
        "        info = HP LaserJet 1020\n"
        "        make-and-model = HP LaserJet 1020\n"
        "        device-id = MFG:HP;MDL:LaserJet 1020;CMD:ZJS;\n"
        "        location = \n"
        "Device: uri = usb://Brother/HL-L2350DW%20series?serial=E7\n"
        "        make-and-model = Brother HL-L2350DW series\n");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].device_id, "MFG:HP;MDL:LaserJet 1020;CMD:ZJS;");
    EXPECT_EQ(usb_uri_serial(devices[0].uri), "00CNB");
    EXPECT_EQ(usb_uri_serial("usb://A/B?interface=1&serial=A%20B"), "A B");

    // Matching sysfs to CUPS: by serial, else by make and model, never a guess
    // between two of the same model.
    UsbPrinter hp;
    hp.serial = "00CNB";
    EXPECT_EQ(match_cups_device(hp, devices), &devices[0]);
    UsbPrinter brother;
    brother.make = "Brother";
    brother.model = "HL-L2350DW series";
    EXPECT_EQ(match_cups_device(brother, devices), &devices[1]);
    auto twins = devices;
    twins.push_back(devices[1]);
    EXPECT_EQ(match_cups_device(brother, twins), nullptr);
    hp.serial = "other";
    EXPECT_EQ(match_cups_device(hp, devices), nullptr);

    // "everywhere" needs IPP, and unsafe names are never offered.
    const auto drivers = drivers_from_lpinfo(
        "drv:///sample.drv/laserjet.ppd HP LaserJet Series PCL 4/5\n"
        "-rf /\n"
        "gutenprint.5.3://hp-lj_1020/expert HP LaserJet 1020 - CUPS+Gutenprint v5.3.4\n"
        "everywhere IPP Everywhere\n");
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].name, "drv:///sample.drv/laserjet.ppd");
    EXPECT_EQ(drivers[0].description, "HP LaserJet Series PCL 4/5");

    const auto supplies = supplies_from_ipptool(
        "        marker-names (1setOf nameWithoutLanguage) = Black Toner,Cyan\\, bright,<i>x</i>\n"
        "        marker-levels (1setOf integer) = 63,-3,250\n"
        "        marker-colors (1setOf nameWithoutLanguage) = #000000,#00FFFF\n"
        "        marker-types (1setOf keyword) = toner,toner,toner\n");
    ASSERT_EQ(supplies.size(), 3u);
    EXPECT_EQ(supplies[0].name, "Black Toner");
    EXPECT_EQ(supplies[0].level, 63);
    EXPECT_EQ(supplies[1].name, "Cyan, bright");
    EXPECT_EQ(supplies[1].level, -3);
    EXPECT_EQ(supplies[2].level, -2);  // out of range: unknown, never a bar past 100
    EXPECT_EQ(supplies[2].color, "");
    EXPECT_TRUE(supplies_from_ipptool("").empty());
}

TEST(UsbPrinters, QueuesJobsAndPackagesFollowWhatCupsAndXbpsSay) {
    std::vector<PrintQueue> queues = {{"HP-LJ", "usb://HP/LaserJet%201020?serial=00CNB"},
                                      {"Office", "ipp://localhost:60000/ipp/print"}};
    apply_lpstat_accepting(queues,
                           "HP-LJ not accepting requests since Mon -\n\tPaused\n"
                           "Office accepting requests since Mon\n");
    apply_lpstat_jobs(queues,
                      "HP-LJ-12 anna 1024 Mon\nHP-LJ-13 anna 2048 Mon\nOffice-x y\n"
                      "Office-1 bob 1 Mon\nOther-3 c 1 Mon\n");
    EXPECT_FALSE(queues[0].accepting);
    EXPECT_TRUE(queues[1].accepting);
    EXPECT_EQ(queues[0].pending_jobs, 2);  // a name with "-" in it
    EXPECT_EQ(queues[1].pending_jobs, 1);

    UsbPrinter hp;
    hp.make = "HP";
    hp.model = "LaserJet 1020";
    hp.serial = "00CNB";
    EXPECT_TRUE(has_usb_queue(hp, queues));
    hp.serial = "OTHER";
    EXPECT_FALSE(has_usb_queue(hp, queues));
    hp.serial.clear();  // no serial: by make and model in the address
    EXPECT_TRUE(has_usb_queue(hp, queues));
    UsbPrinter ipp;
    ipp.ipp_usb = true;
    EXPECT_TRUE(has_usb_queue(ipp, queues));
    EXPECT_FALSE(is_ipp_usb_uri("ipp://localhost:631/printers/x"));
    EXPECT_FALSE(is_ipp_usb_uri("ipp://evil:60000/"));

    EXPECT_EQ(next_driver_package("Hewlett-Packard", {})->name, "hplip");
    const auto plugin = next_driver_package("HP", {"hplip"});
    EXPECT_EQ(plugin->name, "hplip-plugin");
    EXPECT_TRUE(plugin->restricted);  // named, never installed
    EXPECT_EQ(next_driver_package("Brother", {})->name, "brother-brlaser");
    EXPECT_EQ(next_driver_package("SEIKO EPSON", {})->name, "epson-inkjet-printer-escpr");
    EXPECT_EQ(next_driver_package("Samsung", {})->name, "splix");
    EXPECT_EQ(next_driver_package("Canon", {"gutenprint"})->name, "foomatic-db");
    EXPECT_FALSE(next_driver_package("Canon", {"gutenprint", "foomatic-db"}).has_value());
    EXPECT_EQ(local_queue_uri("Büro 1"), "ipp://localhost/printers/B%C3%BCro%201");
}

}  // namespace
}  // namespace kelmora

// ---- Scanners: what scanimage lists, how a test scan fails, addresses typed,
// USB scanners in sysfs and who may open them.
#include "scanning/scanners.h"

namespace kelmora {
namespace {

TEST(Scanners, ListingFoldsOneDeviceSeenManyWaysAndKeepsHostileNamesPlain) {
    const auto scanners = scanners_from_scanimage(
        "airscan:w1:Brother MFC-L2710DW|Brother|MFC-L2710DW|WSD network scanner\n"
        "escl:http://192.0.2.9:80|BROTHER|MFC-L2710DW|flatbed scanner\n"
        "airscan:e0:Brother MFC-L2710DW|Brother|MFC-L2710DW|eSCL network scanner\n"
        "epson2:libusb:001:004|Epson|Perfection V39|flatbed scanner\n"
        "airscan:e2:Evil|<b>Evil</b>\x1b[2J|Model\xff|eSCL network scanner\n"
        "bad\ndevice\n|no device|x|y\n",
        {{"Brother MFC-L2710DW", "192.0.2.9"}});
    ASSERT_EQ(scanners.size(), 3u);
    EXPECT_EQ(scanners[0].device, "airscan:w1:Brother MFC-L2710DW");  // airscan first
    EXPECT_EQ(scanners[0].name, "Brother MFC-L2710DW");
    EXPECT_EQ(scanners[0].connection, "192.0.2.9");
    EXPECT_TRUE(scanners[0].network);
    EXPECT_EQ(scanners[1].name, "<b>Evil</b> [2J Model\xef\xbf\xbd");  // plain, never markup
    EXPECT_EQ(scanners[2].connection, "USB");
    EXPECT_EQ(scanners[2].name, "Epson Perfection V39");
    EXPECT_TRUE(scanners_from_scanimage("").empty());  // none found: nothing printed, exit 0

    // ipp-usb serves each printer-scanner on 127.0.0.1 at a port of its own:
    // they were folded into one row, and two scanners vanished.
    const auto ipp_usb = scanners_from_scanimage(
        "airscan:e0:HP M28w|HP|M28w|ip=127.0.0.1\n"
        "airscan:e1:HP M28w (2)|HP|M28w|ip=127.0.0.1\n"
        "airscan:e2:Canon MF643|Canon|MF643|ip=127.0.0.1\n"
        "escl:http://127.0.0.1:60001|HP|M28w|flatbed scanner\n",
        {{"HP M28w", "127.0.0.1:60000"},
         {"HP M28w (2)", "127.0.0.1:60001"},
         {"Canon MF643", "127.0.0.1:60002"}});
    EXPECT_EQ(ipp_usb.size(), 3u);
    // Without airscan-discover's ports, sane-airscan's devices of other names
    // are still other devices.
    EXPECT_EQ(scanners_from_scanimage("airscan:e0:A|HP|M28w|ip=127.0.0.1\n"
                                      "airscan:e1:B|HP|M28w|ip=127.0.0.1\n")
                  .size(),
              2u);
    // Two of one model at two addresses were folded "by name" into one.
    EXPECT_EQ(scanners_from_scanimage("airscan:e0:Office|Brother|MFC-L2710DW|ip=192.0.2.9\n"
                                      "airscan:e1:Hall|Brother|MFC-L2710DW|ip=192.0.2.10\n"
                                      "epsonds:net:192.0.2.11|Brother|MFC-L2710DW|scanner\n")
                  .size(),
              3u);
    // By name only where one of the two has no address.
    EXPECT_EQ(scanners_from_scanimage("airscan:e0:Office|Brother|MFC-L2710DW|eSCL network scanner\n"
                                      "airscan:w1:Office|Brother|MFC-L2710DW|WSD network scanner\n")
                  .size(),
              1u);
}

TEST(Scanners, EachFailureSaysWhatToDoAndTheTestScanStaysSmall) {
    const struct {
        const char* err;
        int status;
        bool timed_out;
        ScanFailure failure;
    } cases[] = {
        {"scanimage: sane_start: Error during device I/O\n", 1, false, ScanFailure::NoAnswer},
        {"scanimage: open of device airscan:e0:X failed: Invalid argument\n", 1, false,
         ScanFailure::NameMoved},
        {"scanimage: open of device x failed: Access to resource has been denied\n", 1, false,
         ScanFailure::Denied},
        {"scanimage: sane_start: Device busy\n", 1, false, ScanFailure::Busy},
        {"scanimage: sane_start: Document feeder out of documents\n", 1, false,
         ScanFailure::FeederEmpty},
        {"", -1, true, ScanFailure::NoAnswer},  // a scanner that never answers
        {"Scanned page 1.\n", 0, false, ScanFailure::None},
        {"scanimage: something new\n", 1, false, ScanFailure::Failed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(classify_scan_error(c.err, c.status, c.timed_out), c.failure) << c.err;
    using V = std::vector<std::string>;
    EXPECT_EQ(test_scan_options("    --resolution 75|150|300dpi [150]\n    -x 0..215.9mm [215.9]\n"
                                "    -y 0..297mm [297]\n"),
              (V{"--resolution", "75", "-x", "100", "-y", "100"}));
    EXPECT_EQ(test_scan_options("    --resolution 100|200|600dpi [200]\n    -x 0..50mm [50]\n"),
              (V{"--resolution", "100", "-x", "50"}));
    EXPECT_EQ(test_scan_options("    --resolution 1..1200dpi (in steps of 1) [300]\n"),
              (V{"--resolution", "75"}));
    EXPECT_EQ(test_scan_options("    --mode Gray|Color [Gray]\n"), V{});
}

TEST(Scanners, AddressesBecomeEsclUrlsAndTheHelperWritesOnlyThatFile) {
    const struct {
        const char* typed;
        AddressProblem problem;
        const char* url;
    } cases[] = {
        {"192.0.2.9", AddressProblem::None, "http://192.0.2.9/eSCL"},
        {" scanner.local:8080 ", AddressProblem::None, "http://scanner.local:8080/eSCL"},
        {"[2001:db8::9]:80", AddressProblem::None, "http://[2001:db8::9]:80/eSCL"},
        {"https://192.0.2.9:443/eSCL", AddressProblem::None, "https://192.0.2.9:443/eSCL"},
        {"http://192.0.2.9/", AddressProblem::None, "http://192.0.2.9/eSCL"},
        {"ipp://192.0.2.9/", AddressProblem::OtherScheme, ""},
        {"http://192.0.2.9/$(reboot)", AddressProblem::Unsafe, ""},
        {"scanner;reboot", AddressProblem::Unsafe, ""},
        {"", AddressProblem::Empty, ""},
    };
    for (const auto& c : cases) {
        const ScannerAddress a = parse_scanner_address(c.typed);
        EXPECT_EQ(a.problem, c.problem) << c.typed;
        EXPECT_EQ(a.url, c.url) << c.typed;
        if (c.problem == AddressProblem::None) {
            EXPECT_TRUE(airscan_name_allowed(a.name)) << a.name;
            EXPECT_TRUE(airscan_url_allowed(a.url)) << a.url;
        }
    }
    EXPECT_EQ(airscan_file_content("Scanner at 192.0.2.9", "http://192.0.2.9/eSCL"),
              "# Written by kelmora: a scanner added by its address.\n[devices]\n"
              "\"Scanner at 192.0.2.9\" = http://192.0.2.9/eSCL, eSCL\n");
    EXPECT_EQ(airscan_file_name("Scanner at [::1]"), "kelmora-Scanner_20at_20_5b_3a_3a1_5d.conf");
    // "x y" and "x_y" once shared one file: the second overwrote the first.
    const std::string names[] = {"x y", "x_y", "x:y", "x-y", "x.y", "xy", "x_20y", "x__y"};
    std::set<std::string> files;
    for (const std::string& n : names) files.insert(airscan_file_name(n));
    EXPECT_EQ(files.size(), std::size(names));
}

TEST(Scanners, UsbScannersNameTheirPackageAndTheGroupDecidesAccess) {
    test::TempDir tmp;
    const auto usb = tmp.path() / "sys/bus/usb/devices";
    const auto device = [&](const std::string& dev, const std::string& vendor,
                            const std::string& product, const std::string& itf_class) {
        test::write_file(usb / dev / "idVendor", vendor + "\n");
        test::write_file(usb / dev / "product", product + "\n");
        test::write_file(usb / dev / "busnum", "1\n");
        test::write_file(usb / dev / "devnum", "7\n");
        test::write_file(usb / (dev + ":1.0") / "bInterfaceClass", itf_class + "\n");
    };
    device("1-1", "04f9", "DCP-L2550DN series", "ff");
    device("1-2", "04f9", "MFC-J470DW", "07");
    device("1-3", "03f0", "OfficeJet 3830", "07");
    device("1-4", "046d", "USB Keyboard", "03");        // not a scanner
    device("1-5", "1234", "Mustek ScanExpress", "ff");  // any maker, by name
    const auto scanners = read_usb_scanners(tmp.path());
    ASSERT_EQ(scanners.size(), 4u);
    EXPECT_EQ(scanner_package_for(scanners[0]), "brother-brscan5");
    EXPECT_EQ(scanner_package_for(scanners[1]), "brother-brscan4");
    EXPECT_EQ(scanner_package_for(scanners[2]), "hplip");
    EXPECT_EQ(scanner_package_for(scanners[3]), "");

    // HP's scanner without hpaio: installed hplip is not enough.
    const auto fixes =
        scanner_fixes(tmp.path(), {}, {scanners[2]}, std::vector<std::string>{"hplip"}, {});
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_EQ(fixes[0].kind, ScannerFix::Kind::EnableHpaio);
    test::write_file(tmp.path() / "etc/sane.d/dll.d/hpaio", "hpaio\n");
    EXPECT_TRUE(scanner_fixes(tmp.path(), {}, {scanners[2]}, std::vector<std::string>{"hplip"}, {})
                    .empty());
    // A listed scanner of that maker: nothing is missing.
    EXPECT_TRUE(scanner_fixes(tmp.path(),
                              {{"epson2:libusb:1", "Brother DCP-L2550DN", "USB", false}},
                              {scanners[0]}, std::nullopt, {})
                    .empty());

    const unsigned scanner_gid = 20, me = 1000;
    const struct {
        unsigned mode;
        std::vector<unsigned> groups;
        bool listed;
        NodeAccess access;
    } nodes[] = {
        {0664, {1000, 20}, true, NodeAccess::Fine},
        {0664, {1000}, false, NodeAccess::JoinGroup},
        {0664, {1000}, true, NodeAccess::LogInAgain},  // joined, not logged in again
        {0666, {1000}, false, NodeAccess::Fine},
        {0644, {1000, 20}, true, NodeAccess::LogInAgain},  // the group may not write
    };
    for (const auto& n : nodes)
        EXPECT_EQ(judge_node_access(n.mode, 0, scanner_gid, me, n.groups, n.listed), n.access)
            << std::oct << n.mode;
}

// A queue's settings: what its PPD lists, in words a person reads; a value
// that is not a plain word (a flag, "=", a blank) is never offered.
TEST(QueueSettings, ThePpdsOptionsBecomePaperTwoSidedAndColourOnly) {
    const auto options = options_from_lpoptions(
        "PageSize/Media Size: *Letter A4 Legal Custom.WIDTHxHEIGHT\n"
        "Duplex/2-Sided Printing: None *DuplexNoTumble DuplexTumble\n"
        "ColorModel/Output Mode: Gray CMYK *RGB\n"
        "Resolution/Resolution: *600dpi 1200dpi\n"
        "InputSlot: *Auto\n"
        "media/Media: -x *a=b iso_a4_210x297mm\n"
        "lpoptions: Unable to get PPD file for x: Not Found\n"
        "garbage without colon\n");
    ASSERT_EQ(options.size(), 6u);
    EXPECT_EQ(options[0].key, "PageSize");
    EXPECT_EQ(options[0].text, "Media Size");
    EXPECT_EQ(options[0].current, "Letter");
    EXPECT_EQ(options[0].values, (std::vector<std::string>{"Letter", "A4", "Legal"}));
    const auto settings = queue_settings(options);
    ASSERT_EQ(settings.size(), 3u);  // InputSlot has one value, Resolution is not shown
    EXPECT_EQ(settings[0].kind, SettingKind::Paper);
    EXPECT_EQ(settings[0].key, "PageSize");  // the driver's key before driverless "media"
    EXPECT_EQ(settings[1].current, "DuplexNoTumble");
    EXPECT_EQ(settings[2].key, "ColorModel");
    EXPECT_EQ(paper_value(settings[0], Paper::A4), "A4");
    EXPECT_EQ(paper_value(settings[1], Paper::A4), "");
    EXPECT_EQ(options[5].values, std::vector<std::string>{"iso_a4_210x297mm"});
    const struct {
        SettingKind kind;
        const char* value;
        ValueMeaning meaning;
    } meanings[] = {
        {SettingKind::Paper, "iso_a4_210x297mm", ValueMeaning::A4},
        {SettingKind::Paper, "na_letter_8.5x11in", ValueMeaning::Letter},
        {SettingKind::Paper, "Legal", ValueMeaning::Other},
        {SettingKind::Duplex, "None", ValueMeaning::Off},
        {SettingKind::Duplex, "two-sided-long-edge", ValueMeaning::LongEdge},
        {SettingKind::Duplex, "DuplexTumble", ValueMeaning::ShortEdge},
        {SettingKind::Colour, "Gray", ValueMeaning::Grey},
        {SettingKind::Colour, "monochrome", ValueMeaning::Grey},
        {SettingKind::Colour, "CMYK", ValueMeaning::Colour},
        {SettingKind::Colour, "RawCMYK", ValueMeaning::Other},
    };
    for (const auto& m : meanings) EXPECT_EQ(value_meaning(m.kind, m.value), m.meaning) << m.value;
}

// A4 or Letter from the locale that decides LC_PAPER: LC_ALL over LC_PAPER
// over LANG, by territory; musl has no LC_PAPER data, the name decides.
TEST(QueueSettings, TheLocalesTerritoryChoosesThePaper) {
    const struct {
        const char *all, *paper, *lang;
        Paper paper_is;
    } cases[] = {
        {"", "", "en_GB.UTF-8", Paper::A4},
        {"", "", "de_DE.UTF-8", Paper::A4},
        {"", "", "es_ES.UTF-8", Paper::A4},
        {"", "", "fr_FR.UTF-8", Paper::A4},
        {"", "", "en_US.UTF-8", Paper::Letter},
        {"", "", "fr_CA.UTF-8", Paper::Letter},
        {"", "", "es_MX", Paper::Letter},
        {"", "", "fil_PH.UTF-8@x", Paper::Letter},
        {"", "de_DE.UTF-8", "en_US.UTF-8", Paper::A4},
        {"en_US.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", Paper::Letter},
        {"", "", "C.UTF-8", Paper::A4},
        {"", "", "POSIX", Paper::A4},
        {"", "", "", Paper::A4},
        {"", "", "en_USA", Paper::A4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paper_for_locale(c.all, c.paper, c.lang), c.paper_is)
            << c.all << c.paper << c.lang;
}

TEST(QueueSettings, JobsAreTheQueuesOwnWithIdsCancelTakes) {
    const auto jobs = jobs_from_lpstat(
        "Laser-12   anna   1024   Tue 01 Dec 2026 10:00:00\n"
        "Laser-2-13 bob    2048   Tue\n"  // another queue, "Laser-2"
        "Laser-x    eve    1      Tue\n"
        "Laser-14   <b>m\x1b</b> 99 Tue\n",
        "Laser");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].id, "Laser-12");
    EXPECT_EQ(jobs[0].owner, "anna");
    EXPECT_EQ(jobs[0].size, "1024");
    EXPECT_EQ(jobs[0].when, "Tue 01 Dec 2026 10:00:00");
    EXPECT_EQ(jobs[1].owner.find('\x1b'), std::string::npos);
    for (const char* id : {"Laser-12", "Büro-1", "a-b-3"}) EXPECT_TRUE(valid_job_id(id)) << id;
    for (const char* id : {"12", "-12", "Laser-", "Laser-1x", "a b-1", "Laser-12345678901"})
        EXPECT_FALSE(valid_job_id(id)) << id;
}

}  // namespace
}  // namespace kelmora
