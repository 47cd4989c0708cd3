// The privileged helper's requests: the shapes kelmora sends are accepted as
// they are; anything else is refused before anything runs.
#include <gtest/gtest.h>

#include "helper/request.h"
#include "printing/loopback.h"
#include "printing/printers.h"

namespace kelmora {
namespace {

using Words = std::vector<std::string>;

TEST(HelperRequest, WhatKelmoraSendsRunsOneProgramByItsPathWithTheSameWords) {
    const struct {
        Words request;
        std::string program;
    } cases[] = {
        {{"xbps-install", "-Su", "-y", "mesa-dri", "nvidia580-libs-32bit"},
         "/usr/bin/xbps-install"},
        {{"xbps-install", "-Syf", "void-repo-nonfree"}, "/usr/bin/xbps-install"},
        {{"xbps-install", "-Syu", "xbps"}, "/usr/bin/xbps-install"},
        {{"xbps-remove", "-Ry", "nvidia", "nvidia-libs"}, "/usr/bin/xbps-remove"},
        {{"xbps-reconfigure", "-f", "nvidia580-dkms"}, "/usr/bin/xbps-reconfigure"},
        {{"ln", "-sf", "/etc/sv/avahi-daemon", "/var/service/"}, "/usr/bin/ln"},
        {{"lpadmin", "-p", "Brother_HL", "-E", "-v", "ipps://printer.local:631/ipp/print", "-m",
          "everywhere"},
         "/usr/bin/lpadmin"},
        {{"lpadmin", "-x", "Büro_Drucker"}, "/usr/bin/lpadmin"},
        {{"lpadmin", "-d", "Büro_Drucker"}, "/usr/bin/lpadmin"},
        {{"lpadmin", "-p", "HP_LaserJet_1020", "-E", "-v",
          "usb://HP/LaserJet%201020?serial=00CNB&interface=1", "-m",
          "drv:///sample.drv/laserjet.ppd"},
         "/usr/bin/lpadmin"},
        {{"lpinfo", "--include-schemes", "usb", "-l", "-v"}, "/usr/bin/lpinfo"},
        {{"cupsenable", "Büro_Drucker"}, "/usr/bin/cupsenable"},
        {{"cupsaccept", "Office"}, "/usr/bin/cupsaccept"},
        {{"cancel", "-a", "Office"}, "/usr/bin/cancel"},
        {{"ln", "-sf", "/etc/sv/ipp-usb", "/var/service/"}, "/usr/bin/ln"},
        {{"gpasswd", "-a", "anna", "scanner"}, "/usr/bin/gpasswd"},
        {{"gpasswd", "-a", "anna", "bluetooth"}, "/usr/bin/gpasswd"},
        {{"ln", "-sf", "/etc/sv/bluetoothd", "/var/service/"}, "/usr/bin/ln"},
        {{"ln", "-sf", "/etc/sv/dbus", "/var/service/"}, "/usr/bin/ln"},
        {{"lpadmin", "-p", "Laser", "-o", "Duplex=DuplexNoTumble"}, "/usr/bin/lpadmin"},
        {{"lpadmin", "-p", "Laser", "-o", "media=iso_a4_210x297mm"}, "/usr/bin/lpadmin"},
        {{"cancel", "Laser-12"}, "/usr/bin/cancel"},
        {{"firmware-log"}, "/usr/bin/dmesg"},
        {{"rfkill", "unblock", "0"}, "/usr/bin/rfkill"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_helper_request(c.request);
        const auto* accepted = std::get_if<HelperRequest>(&parsed);
        ASSERT_NE(accepted, nullptr) << c.request[0];
        EXPECT_EQ(accepted->programs.front(), c.program);
        EXPECT_EQ(accepted->args, Words(c.request.begin() + 1, c.request.end()));
        // CUPS's programs run where root's CUPS certificates are hidden.
        const bool cups = c.program.find("/lp") != std::string::npos ||
                          c.program.find("/cups") != std::string::npos ||
                          c.program.ends_with("/cancel");
        EXPECT_EQ(accepted->cups_client, cups) << c.program;
        EXPECT_EQ(accepted->firmware_log, c.request[0] == "firmware-log");
    }
    // A USB queue runs only once the helper has seen CUPS list both.
    const auto usb = std::get<HelperRequest>(parse_helper_request(
        {"lpadmin", "-p", "q", "-E", "-v", "usb://HP/LJ?serial=1", "-m", "gutenprint.5.3://x"}));
    EXPECT_EQ(usb.listed_device, "usb://HP/LJ?serial=1");
    EXPECT_EQ(usb.listed_driver, "gutenprint.5.3://x");
    // A setting runs only once the helper has seen the queue list the value.
    const auto setting =
        std::get<HelperRequest>(parse_helper_request({"lpadmin", "-p", "q", "-o", "PageSize=A4"}));
    ASSERT_TRUE(setting.listed_option.has_value());
    EXPECT_EQ(*setting.listed_option, (std::pair<std::string, std::string>{"PageSize", "A4"}));
    // Files of kelmora's own, with the content fixed by the request's words.
    const auto airscan = std::get<HelperRequest>(
        parse_helper_request({"airscan-device", "Scanner at 192.0.2.9", "http://192.0.2.9/eSCL"}));
    EXPECT_EQ(airscan.file, "/etc/sane.d/airscan.d/kelmora-Scanner_20at_20192.0.2.9.conf");
    EXPECT_TRUE(airscan.programs.empty());
    EXPECT_EQ(std::get<HelperRequest>(parse_helper_request({"sane-dll", "hpaio"})).file,
              "/etc/sane.d/dll.d/hpaio");
    EXPECT_EQ(std::get<HelperRequest>(parse_helper_request({"gpasswd", "-a", "anna", "scanner"}))
                  .caller_must_be,
              "anna");
    const auto policy = parse_helper_request({"polkit-policy"});
    ASSERT_TRUE(std::holds_alternative<HelperRequest>(policy));
    EXPECT_TRUE(std::get<HelperRequest>(policy).write_policy);
}

TEST(HelperRequest, EverythingElseIsRefusedWithAStatusThatIsNotPkexecs) {
    const struct {
        Words request;
        int status;
    } cases[] = {
        {{}, refused_unknown},
        {{"sh", "-c", "id"}, refused_argument},
        {{"/usr/bin/xbps-install", "-Su", "-y", "x"}, refused_argument},
        {{"xbps-install", "-Su", "-y"}, refused_argument},                          // no packages
        {{"xbps-install", "-Su", "-y", "-r", "/tmp/root", "x"}, refused_argument},  // options
        {{"xbps-install", "-Su", "-y", "--rootdir=/", "x"}, refused_argument},
        {{"xbps-install", "-Sy", "x"}, refused_argument},
        {{"xbps-install", "-Su", "-y", "/"}, refused_argument},
        {{"xbps-install", "-Su", "-y", ".."}, refused_argument},
        {{"xbps-install", "-Su", "-y", "mesa dri"}, refused_argument},
        {{"xbps-install", "-Su", "-y", "mesa\ndri"}, refused_argument},
        {{"xbps-install", "-Su", "-y", "x\x1b[31m"}, refused_argument},
        {{"xbps-install", "-Su", "-y", ""}, refused_argument},
        {{"xbps-remove", "-R", "x"}, refused_argument},
        {{"xbps-remove", "-Ry", "-f"}, refused_argument},
        {{"xbps-reconfigure", "-a"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/sshd", "/var/service/"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/cupsd/../../shadow", "/var/service/"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/cupsd", "/etc/"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/cupsd", "/var/service/", "x"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "file:///etc/shadow", "-m", "everywhere"},
         refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "ipp://h/$(id)", "-m", "everywhere"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "ipp://h/a;b", "-m", "everywhere"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "ipp://h/ p", "-m", "everywhere"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "ipp://h/", "-m", "raw"}, refused_argument},
        {{"lpadmin", "-p", "a/b", "-E", "-v", "ipp://h/", "-m", "everywhere"}, refused_argument},
        {{"lpadmin", "-d", "-x"}, refused_argument},
        {{"lpadmin", "-d", "a b"}, refused_argument},
        {{"lpadmin", "-d"}, refused_argument},
        {{"lpadmin", "-d", "q", "-x", "r"}, refused_argument},
        {{"lpadmin", "-p", "-x", "-E", "-v", "ipp://h/", "-m", "everywhere"}, refused_argument},
        {{"lpadmin", "-x", "Office\xc2\xad"}, refused_argument},  // a look-alike
        {{"lpadmin", "-x", "with space"}, refused_argument},
        {{"lpadmin", "-x", std::string(128, 'q')}, refused_argument},
        {{"lpadmin", "-d", std::string(128, 'q')}, refused_argument},  // -d is a request now
        // USB queues: CUPS's own address forms and driver names only.
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://HP/LJ?serial=1", "-m", "-x"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://HP/LJ?serial=1", "-m", "a b"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://HP/LJ;reboot", "-m", "d"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://HP/L\nJ", "-m", "d"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://HP/$(id)", "-m", "d"}, refused_argument},
        {{"lpadmin", "-p", "q", "-E", "-v", "usb://", "-m", "d"}, refused_argument},
        {{"lpinfo", "-v"}, refused_argument},  // every backend, not just usb
        {{"lpinfo", "--include-schemes", "usb", "-l", "-v", "-m"}, refused_argument},
        {{"cupsenable", "-c", "q"}, refused_argument},  // -c would cancel its jobs
        {{"cupsenable", "q", "r"}, refused_argument},
        {{"cupsaccept", "-r", "x", "q"}, refused_argument},
        {{"cancel", "-a"}, refused_argument},
        {{"cancel", "12"}, refused_argument},
        {{"cancel", "-a", "-u"}, refused_argument},
        {{"cancel", "-x", "q"}, refused_argument},
        {{"cancel", "Laser-12", "Laser-13"}, refused_argument},
        {{"cancel", "-Laser-12"}, refused_argument},
        // A setting: one of the three kinds, a plain value (checked against
        // the queue's own listing when it runs).
        {{"lpadmin", "-p", "q", "-o", "Duplex=-x"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "Duplex=a=b"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "Duplex=a b"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "Duplex=a\nb"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "Duplex="}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "Duplex"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "-Duplex=None"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "printer-is-shared=true"}, refused_argument},
        {{"lpadmin", "-p", "q", "-o", "job-sheets-default=none"}, refused_argument},
        {{"lpadmin", "-p", "-q", "-o", "Duplex=None"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/ipp-usb/", "/var/service/"}, refused_argument},
        {{"gpasswd", "-a", "anna", "wheel"}, refused_argument},  // scanner and bluetooth only
        {{"gpasswd", "-a", "anna", "bluetooth", "wheel"}, refused_argument},
        {{"ln", "-sf", "/etc/sv/bluetoothd", "/var/service/bluetoothd"}, refused_argument},
        {{"gpasswd", "-d", "anna", "scanner"}, refused_argument},
        {{"gpasswd", "-a", "-r", "scanner"}, refused_argument},
        {{"gpasswd", "-a", "an na", "scanner"}, refused_argument},
        {{"airscan-device", "../../shadow", "http://h/eSCL"}, refused_argument},
        {{"airscan-device", "S", "http://h/eSCL\n[devices]"}, refused_argument},
        {{"airscan-device", "S\"", "http://h/eSCL"}, refused_argument},
        {{"airscan-device", "S", "file:///etc/shadow"}, refused_argument},
        {{"airscan-device", "S", "http://h/eSCL", "/etc/passwd"}, refused_argument},
        // sane-airscan splits its value at ",": the protocol would change.
        {{"airscan-device", "S", "http://h/eSCL,WSD"}, refused_argument},
        {{"airscan-device", "S", "http://h/eSCL#x"}, refused_argument},  // a comment
        {{"sane-dll", "net"}, refused_argument},
        {{"nvidia-config", "modeset", "/etc/shadow"}, refused_argument},
        {{"polkit-policy", "/etc/passwd"}, refused_argument},
        {{"firmware-log", "-c"}, refused_argument},  // dmesg -c would clear the log
        {{"rfkill", "unblock", "all"}, refused_argument},
        {{"rfkill", "block", "0"}, refused_argument},
        {{"rfkill", "unblock", "-1"}, refused_argument},
        {{"rfkill", "unblock", "0", "1"}, refused_argument},
        {{"rfkill", "unblock", "99999"}, refused_argument},
        {{"rm", "-rf", "/"}, refused_argument},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_helper_request(c.request);
        const auto* refusal = std::get_if<Refusal>(&parsed);
        ASSERT_NE(refusal, nullptr) << (c.request.empty() ? "(empty)" : c.request.back());
        EXPECT_EQ(refusal->status, c.status);
        EXPECT_NE(refusal->status, 126);
        EXPECT_NE(refusal->status, 127);
        EXPECT_EQ(refusal->message.find('\n'), std::string::npos);  // one line
    }
}

// PKEXEC_UID once became uid 0 from "0junk" and from numbers past uid_t.
TEST(HelperRequest, OnlyAPlainDecimalUidNamesTheCaller) {
    EXPECT_EQ(parse_pkexec_uid("1000"), 1000u);
    EXPECT_EQ(parse_pkexec_uid("0"), 0u);
    EXPECT_EQ(parse_pkexec_uid("4294967294"), 4294967294u);
    for (const char* bad : {"0junk", "4294967296", "-4294967296", "4294967295", "-1", "+5", " 5",
                            "5 ", "", "05", "1e3", "99999999999999999999"})
        EXPECT_FALSE(parse_pkexec_uid(bad).has_value()) << bad;
    EXPECT_FALSE(parse_pkexec_uid(nullptr).has_value());
}

// Root's CUPS key went to whoever listened on a loopback port: the helper
// adds a loopback printer only where root serves the port.
TEST(HelperRequest, LoopbackPrintersAreKnownByAddressAndByWhoListens) {
    const struct {
        const char* uri;
        const char* host;
        unsigned port;
    } addresses[] = {
        {"ipp://localhost:60000/ipp/print", "localhost", 60000},
        {"ipps://[::1]:8631/ipp/print", "::1", 8631},
        {"ipp://127.0.0.1/ipp/print", "127.0.0.1", 631},
        {"ipp://printer.local:631", "printer.local", 631},
        {"ipp://a@127.0.0.1:1/", "", 0},  // user info: no address to trust
        {"ipp://127.0.0.1:99999/", "", 0},
        {"ipp://127.0.0.1:/", "", 0},
        {"http://127.0.0.1:80/", "", 0},
    };
    for (const auto& a : addresses) {
        const auto parsed = uri_host_port(a.uri);
        EXPECT_EQ(parsed.has_value(), *a.host != '\0') << a.uri;
        if (parsed) {
            EXPECT_EQ(parsed->host, a.host) << a.uri;
            EXPECT_EQ(parsed->port, a.port) << a.uri;
        }
    }
    for (const char* loop : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(is_loopback_address(loop)) << loop;
    for (const char* other : {"192.0.2.9", "127.0.0", "1127.0.0.1", "::2", "", "127.0.0.256"})
        EXPECT_FALSE(is_loopback_address(other)) << other;
    // /proc/net/tcp: 0x EA60 is 60000; 0A is LISTEN, 01 ESTABLISHED.
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n"
        "   0: 0100007F:EA60 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0 "
        "0 1001 1 0000000000000000 100 0 0 10 0\n"
        "   1: 0100007F:EA61 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 "
        "0 1002 1 0000000000000000 100 0 0 10 0\n"
        "   2: 0100007F:EA60 0100007F:C000 01 00000000:00000000 00:00000000 00000000  1000 "
        "0 1003 1 0000000000000000 100 0 0 10 0\n"
        "garbage\n";
    EXPECT_EQ(listening_owners(table, 60000), std::vector<unsigned>{0});
    EXPECT_EQ(listening_owners(table, 60001), std::vector<unsigned>{1000});
    EXPECT_TRUE(listening_owners(table, 631).empty());
    EXPECT_TRUE(listening_owners("", 60000).empty());

    // A DNS-SD name is resolved through Avahi, as cupsd resolves it; a
    // service anyone published that points at loopback is caught there.
    const auto office = service_instance("Office%20Laser._ipp._tcp.local");
    ASSERT_TRUE(office.has_value());
    EXPECT_EQ(office->name, "Office Laser");
    EXPECT_EQ(office->type, "_ipp._tcp");
    EXPECT_EQ(service_instance("printer.local"), std::nullopt);
    EXPECT_EQ(service_instance("._ipp._tcp.local"), std::nullopt);
    const std::string browse =
        "+;lo;IPv4;Office\\032Laser;_ipp._tcp;local\n"
        "=;lo;IPv4;Office\\032Laser;_ipp._tcp;local;evil.local;127.0.0.1;60001;\"rp=ipp/print\"\n"
        "=;eth0;IPv4;Office\\032Laser;_ipp._tcp;local;o.local;192.0.2.4;631;\"rp=ipp/print\"\n"
        "=;eth0;IPv4;Office\\032Laser\\032\\0352;_ipp._tcp;local;x.local;127.0.0.1;9;\n"
        "=;eth0;IPv4;Office\\032Laser;_ipps._tcp;local;x.local;127.0.0.1;9;\n"
        "=;eth0;IPv4;Office Laser;_ipp._tcp;local;forged;127.0.0.1;8;x;y\n";
    const auto resolved = resolved_instances(browse, *office);
    ASSERT_EQ(resolved.size(), 3u);
    EXPECT_EQ(resolved[0].host, "127.0.0.1");
    EXPECT_EQ(resolved[0].port, 60001u);
    EXPECT_EQ(resolved[1].host, "192.0.2.4");
    EXPECT_EQ(resolved[2].port, 8u);
}

}  // namespace
}  // namespace kelmora
