// Service activation, Polkit registration and discovery against fake tools.
#include <gtest/gtest.h>

#include "printing/discovery.h"
#include "printing/printer_queue.h"
#include "services/polkit_policy.h"
#include "services/service_setup.h"
#include "test_support.h"

namespace kelmora {
namespace {

using test::Collector;
using test::FakeTools;
using Args = std::vector<std::string>;

struct Outcome {
    std::vector<UiMessage> messages;
    std::vector<std::string> lines;
};

template <class F>
Outcome collect(F work) {
    Collector c;
    c.run(work);
    EXPECT_TRUE(c.wait_closed());
    return {c.messages, c.lines()};
}

std::optional<bool> done_flag(const Outcome& o) {
    if (o.messages.empty()) return std::nullopt;
    // Done is the last message the worker sends; late reader lines may follow it.
    int dones = 0;
    std::optional<bool> flag;
    for (const auto& m : o.messages)
        if (auto* d = std::get_if<Done>(&m)) ++dones, flag = d->success;
    EXPECT_EQ(dones, 1);
    return flag;
}

bool has_line(const Outcome& o, const std::string& text) {
    return std::find(o.lines.begin(), o.lines.end(), text) != o.lines.end();
}

// The Polkit button's worker, as the window runs it.
void polkit_task(const UiSender& s) {
    s.send(Done{register_polkit_policy(log_sink(s))});
}

const std::string print_progress = "Aktiviere Runit-Dienste (CUPS & Avahi)...";

TEST(ServiceSetup, PrintServicesAllConfirmed) {
    FakeTools fakes;
    const Outcome o = collect([](const UiSender& s) {
        s.send(Done{run_service_setup(print_service_recipe(), log_sink(s))});
    });
    EXPECT_EQ(done_flag(o), true);
    EXPECT_TRUE(has_line(o, print_progress));
    ASSERT_EQ(fakes.pkexec_calls(), 3);
    EXPECT_EQ(fakes.pkexec_argv(1), (Args{"xbps-install", "-Su", "-y", "cups", "cups-filters",
                                          "avahi", "nss-mdns", "avahi-utils"}));
    EXPECT_EQ(fakes.pkexec_argv(2), (Args{"ln", "-sf", "/etc/sv/cupsd", "/var/service/"}));
    EXPECT_EQ(fakes.pkexec_argv(3), (Args{"ln", "-sf", "/etc/sv/avahi-daemon", "/var/service/"}));
}

TEST(ServiceSetup, DismissedInstallMakesNoLinks) {
    FakeTools fakes;
    fakes.set("pkexec.outcomes", "dismiss\n");
    const Outcome o = collect([](const UiSender& s) {
        s.send(Done{run_service_setup(print_service_recipe(), log_sink(s))});
    });
    EXPECT_EQ(done_flag(o), false);
    EXPECT_FALSE(has_line(o, print_progress));
    EXPECT_EQ(fakes.pkexec_calls(), 1);
}

TEST(ServiceSetup, ALinkThatIsRefusedFailsOrCannotStartFailsTheTaskAndIsNamed) {
    // An installed service that is not enabled is not set up: reporting
    // success there hid a dead Avahi, and with it discovery.
    struct Case {
        const char* what;
        const char* outcomes;
        bool pkexec_vanishes;
        ServiceRecipe recipe;
        int calls;
        const char* named;
    } cases[] = {
        {"saned link dismissed", "ok\ndismiss\n", false, scan_service_recipe(), 2, "saned"},
        {"avahi link dismissed", "ok\nok\ndismiss\n", false, print_service_recipe(), 3,
         "avahi-daemon"},
        {"cupsd link fails, avahi is not tried", "ok\nfail\n", false, print_service_recipe(), 2,
         "cupsd"},
        {"pkexec gone after the install (records nothing)", "", true, print_service_recipe(), 0,
         "cupsd"},
    };
    for (const Case& c : cases) {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", c.outcomes);
        // pkexec works for the installation only, then disappears.
        if (c.pkexec_vanishes)
            fakes.add_script(
                "pkexec",
                "[ \"$1\" = --disable-internal-agent ] && shift\nrm -f \"$0\"\nexec \"$@\"\n");
        const ServiceRecipe recipe = c.recipe;
        const Outcome o = collect(
            [&](const UiSender& s) { s.send(Done{run_service_setup(recipe, log_sink(s))}); });
        EXPECT_EQ(done_flag(o), false) << c.what;
        EXPECT_TRUE(has_line(o, std::string(recipe.progress_line))) << c.what;
        EXPECT_TRUE(
            has_line(o, "Fehler: Runit-Dienst " + std::string(c.named) + " wurde nicht aktiviert."))
            << c.what;
        EXPECT_EQ(fakes.pkexec_calls(), c.calls) << c.what;
    }
}

const std::string golden_policy = test::read_file(KELMORA_TEST_DATA "/org.tamsel.pellin.policy");

TEST(PolkitPolicy, ConfirmedWritesTheDocumentThroughTee) {
    FakeTools fakes;
    const Outcome o = collect(polkit_task);
    EXPECT_EQ(done_flag(o), true);
    EXPECT_EQ(o.lines,
              (Args{"Schreibe Polkit Policy-Datei...", "Polkit-Policy erfolgreich registriert!"}));
    EXPECT_EQ(fakes.pkexec_argv(1), (Args{"sh", "-c",
                                          "mkdir -p /usr/share/polkit-1/actions && tee "
                                          "/usr/share/polkit-1/actions/org.tamsel.pellin.policy"}));
    EXPECT_EQ(test::read_file(fakes.dir() / "pkexec.1.stdin"), golden_policy);
    EXPECT_EQ(golden_policy.back(), '>');
}

TEST(PolkitPolicy, FailuresEndWithTheFailureLine) {
    for (const char* outcome : {"dismiss", "fail", "noread", "signal"}) {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", std::string(outcome) + "\n");
        const Outcome o = collect(polkit_task);
        EXPECT_EQ(done_flag(o), false) << outcome;
        EXPECT_EQ(o.lines, (Args{"Schreibe Polkit Policy-Datei...",
                                 "Fehler beim Schreiben der Polkit-Policy."}))
            << outcome;
    }
    FakeTools none(std::vector<std::string>{});
    EXPECT_EQ(done_flag(collect(polkit_task)), false);
}

TEST(PolkitPolicy, ChildThatLeavesWithoutReadingIsJudgedByItsStatus) {
    // Our write then meets a closed pipe: EPIPE, never a SIGPIPE that kills us.
    for (int i = 0; i < 20; ++i) {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", "noreadok\n");
        EXPECT_EQ(done_flag(collect(polkit_task)), true);
    }
}

std::vector<std::string> scan(FakeTools& fakes,
                              std::chrono::milliseconds limit = discovery_tool_limit) {
    (void)fakes;
    const Outcome o =
        collect([limit](const UiSender& s) { s.send(discover_network_devices(limit)); });
    // ScanResults ends the messages; before it only what the page shows of the
    // machine, never a Line or a Done.
    for (const UiMessage& m : o.messages)
        EXPECT_TRUE(std::holds_alternative<InstalledDrivers>(m) ||
                    std::holds_alternative<QueuesListed>(m) ||
                    (&m == &o.messages.back() && std::holds_alternative<ScanResults>(m)));
    auto* results = o.messages.empty() ? nullptr : std::get_if<ScanResults>(&o.messages.back());
    return results ? results->entries : std::vector<std::string>{"<no ScanResults>"};
}

TEST(Discovery, DriverlessEntriesComeFirst) {
    FakeTools fakes;
    fakes.set("driverless.stdout",
              "ipp://printer.local:631/ipp/print\nipps://scanner.local/eSCL\n");
    fakes.set("avahi-browse.stdout",
              "=  eth0 IPv4 Office   _ipp._tcp   local\n"
              "   hostname = [printer.local]\n"
              "   address = [192.0.2.7]\n"
              "   port = [631]\n");
    EXPECT_EQ(scan(fakes),
              (Args{"IPP (Driverless): ipp://printer.local:631/ipp/print",
                    "IPP (Driverless): ipps://scanner.local/eSCL",
                    "Avahi IPP: hostname = [printer.local]", "Avahi IPP: address = [192.0.2.7]"}));
    EXPECT_EQ(test::read_file(fakes.dir() / "avahi-browse.argv"), "-t\n-r\n_ipp._tcp\n");
    EXPECT_EQ(test::read_file(fakes.dir() / "driverless.argv"), "\n");
}

TEST(Discovery, MissingOrFailingToolsContributeWhatTheyPrinted) {
    FakeTools none(std::vector<std::string>{});
    EXPECT_EQ(scan(none), Args{});

    FakeTools failing({"driverless"});
    failing.set("driverless.stdout", "ipp://a\r\n \nipp://b");
    failing.set("driverless.status", "1");
    EXPECT_EQ(scan(failing), (Args{"IPP (Driverless): ipp://a", "IPP (Driverless): ipp://b"}));
}

TEST(Discovery, ChattyStderrDoesNotDeadlock) {
    FakeTools fakes({"avahi-browse"});
    // 1 MiB on stderr before anything on stdout: reading stdout alone would block forever.
    fakes.add_script("driverless", "head -c 1048576 /dev/zero | tr '\\0' x >&2\necho ipp://late\n");
    for (const char* tool : {"head", "tr"}) std::filesystem::remove(fakes.bin() / tool);
    std::filesystem::create_symlink("/usr/bin/head", fakes.bin() / "head");
    std::filesystem::create_symlink("/usr/bin/tr", fakes.bin() / "tr");
    EXPECT_EQ(scan(fakes), (Args{"IPP (Driverless): ipp://late"}));
}

TEST(Discovery, AToolThatNeverEndsIsStoppedWithItsGroupAndWhatItFoundIsKept) {
    struct Case {
        const char* what;
        const char* script;
    } cases[] = {
        {"hangs after one URI",
         "echo ipp://first.local/ipp/print\nsleep 600 &\necho $! > \"$KELMORA_FAKE_DIR/pid\"\n"
         "wait\n"},
        // The tool ends, a process it started keeps the output open.
        {"leaves a grandchild holding stdout",
         "echo ipp://first.local/ipp/print\nsleep 600 &\necho $! > \"$KELMORA_FAKE_DIR/pid\"\n"
         "exit 0\n"},
    };
    for (const Case& c : cases) {
        FakeTools fakes({"avahi-browse"});
        fakes.add_script("driverless", c.script);
        fakes.set("avahi-browse.stdout", "   hostname = [printer.local]\n");
        EXPECT_EQ(scan(fakes, std::chrono::milliseconds(500)),
                  (Args{"IPP (Driverless): ipp://first.local/ipp/print",
                        "Avahi IPP: hostname = [printer.local]"}))
            << c.what;
        // Nothing of the group is left running (gone, or a zombie nobody reaped).
        const std::string pid =
            std::to_string(std::atoi(test::read_file(fakes.dir() / "pid").c_str()));
        const std::string stat = test::read_file("/proc/" + pid + "/stat");
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << c.what << stat;
    }
}

}  // namespace
}  // namespace kelmora

namespace kelmora {
namespace {

TEST(AddPrinter, AQueueThatPrintsOrACleanFailureThatSaysWhy) {
    const std::string uri = "ipp://Brother%20HL._ipp._tcp.local/";
    struct Case {
        const char* what;
        std::vector<std::string> state;  // files of the fake CUPS
        std::string name;                // as the network reported it
        const char* pkexec;
        AddResult result;
        std::string queue;  // the queue made, or "" for none
        int calls;
    } cases[] = {
        {"reachable",
         {"cups-running", "cups-reachable"},
         "Brother HL",
         "",
         AddResult::Added,
         "Brother_HL",
         1},
        {"name taken",
         {"cups-running", "cups-reachable", "cups-queues"},
         "brother hl",
         "",
         AddResult::Added,
         "brother_hl_2",
         1},
        {"hostile name",
         {"cups-running", "cups-reachable"},
         "a/b#c\x7f",
         "",
         AddResult::Added,
         "a_b_c",
         1},
        // Nothing privileged runs while the existing queues are not known.
        {"cupsd not running", {}, "Brother HL", "", AddResult::NoServer, "", 0},
        {"lpstat refused, a raw queue with the name the printer would get",
         {"cups-running", "cups-reachable", "cups-queues", "cups-forbidden"},
         "Brother HL",
         "",
         AddResult::QueuesUnknown,
         "",
         0},
        {"mDNS name unknown",
         {"cups-running", "cups-unresolvable"},
         "Brother HL",
         "",
         AddResult::Unresolved,
         "",
         1},
        {"no description",
         {"cups-running", "cups-noppd"},
         "Brother HL",
         "",
         AddResult::NoDescription,
         "",
         1},
        // lpadmin succeeds, the printer never answers: the queue goes again.
        {"gone before Add", {"cups-running"}, "Brother HL", "", AddResult::NoAnswer, "", 2},
        // The removal refused: the queue stays, and the result says so.
        {"gone, removal dismissed",
         {"cups-running"},
         "Brother HL",
         "\ndismiss\n",
         AddResult::NoAnswerKept,
         "Brother_HL",
         2},
        {"dismissed",
         {"cups-running", "cups-reachable"},
         "Brother HL",
         "dismiss\n",
         AddResult::Cancelled,
         "",
         1},
    };
    for (const Case& c : cases) {
        FakeTools fakes;
        for (const std::string& file : c.state)
            fakes.set(file, file == "cups-reachable" ? uri + "\n"
                            : file == "cups-queues"  ? "Brother_HL ipp://other/\n"
                                                     : "");
        fakes.set("pkexec.outcomes", c.pkexec);
        const FoundPrinter printer{c.name, uri, ""};
        std::optional<PrinterAdded> added;
        const Outcome o = collect([&](const UiSender& s) {
            s.send(add_printer_queue(printer, log_sink(s), std::chrono::milliseconds(600)));
        });
        for (const UiMessage& m : o.messages)
            if (auto* a = std::get_if<PrinterAdded>(&m)) added = *a;
        ASSERT_TRUE(added) << c.what;
        EXPECT_EQ(added->result, c.result) << c.what;
        EXPECT_EQ(fakes.pkexec_calls(), c.calls) << c.what;
        const std::string queues = test::read_file(fakes.dir() / "cups-queues");
        // A queue that was there before is never changed or removed.
        if (std::find(c.state.begin(), c.state.end(), "cups-queues") != c.state.end()) {
            EXPECT_NE(queues.find("Brother_HL ipp://other/\n"), std::string::npos) << c.what;
        }
        if (!c.queue.empty()) {
            EXPECT_EQ(added->queue, c.queue) << c.what;
            EXPECT_EQ(fakes.pkexec_argv(1),
                      (Args{"lpadmin", "-p", c.queue, "-E", "-v", uri, "-m", "everywhere"}));
            EXPECT_NE(queues.find(c.queue + " " + uri + "\n"), std::string::npos) << c.what;
        } else {
            EXPECT_EQ(queues.find(uri), std::string::npos) << c.what;
        }
        if (c.calls == 2) {
            EXPECT_EQ(fakes.pkexec_argv(2), (Args{"lpadmin", "-x", added->queue}));
        }
    }
}

// A queue made from a driver prints on the driver's paper (Letter for most):
// every queue kelmora adds gets the locale's, where its PPD offers it, with
// one more lpadmin in the same task; a PPD without it keeps its own.
TEST(AddPrinter, ANewQueueGetsThePaperOfTheUsersLocale) {
    const struct {
        const char* locale;
        const char* ppd;
        Args set;  // the second lpadmin, or none
    } cases[] = {
        {"en_GB.UTF-8",
         "PageSize/Media Size: *Letter A4\n",
         {"lpadmin", "-p", "Q", "-o", "PageSize=A4"}},
        {"de_DE.UTF-8",
         "PageSize/Media Size: *Letter A4\n",
         {"lpadmin", "-p", "Q", "-o", "PageSize=A4"}},
        {"en_US.UTF-8", "PageSize/Media Size: *Letter A4\n", {}},
        {"en_US.UTF-8",
         "PageSize/Media Size: *A4 Letter\n",
         {"lpadmin", "-p", "Q", "-o", "PageSize=Letter"}},
        {"fr_FR.UTF-8", "PageSize/Media Size: *Letter Legal\n", {}},  // no A4: its own stays
        {"es_ES.UTF-8",
         "media/Media: *na_letter_8.5x11in iso_a4_210x297mm\n",
         {"lpadmin", "-p", "Q", "-o", "media=iso_a4_210x297mm"}},
    };
    for (const auto& c : cases) {
        test::EnvGuard env;
        env.set("LC_ALL", std::nullopt);
        env.set("LC_PAPER", c.locale);
        FakeTools fakes;
        fakes.set("cups-running", "");
        fakes.set("cups-queues", "Q ipp://q.local/\n");
        fakes.set("cups-ppd/Q", c.ppd);
        collect([](const UiSender& s) { give_locale_paper("Q", locale_paper(), log_sink(s)); });
        EXPECT_EQ(fakes.pkexec_calls(), c.set.empty() ? 0 : 1) << c.locale << c.ppd;
        if (!c.set.empty()) {
            EXPECT_EQ(fakes.pkexec_argv(1), c.set) << c.locale;
            const std::string wanted = c.set.back().substr(c.set.back().find('=') + 1);
            EXPECT_NE(test::read_file(fakes.dir() / "cups-ppd/Q").find("*" + wanted),
                      std::string::npos);
        }
    }
}

TEST(AddPrinter, LpadminsMessagesAreReadWhateverTheUsersLocale) {
    test::EnvGuard env;
    env.set("LC_ALL", std::nullopt);
    env.set("LANG", "de_DE.UTF-8");
    FakeTools fakes;
    fakes.set("cups-running", "");
    fakes.set("cups-noppd", "");
    const Outcome o = collect([](const UiSender& s) {
        s.send(add_printer_queue({"Brother HL", "ipp://b.local/", ""}, log_sink(s)));
    });
    ASSERT_FALSE(o.messages.empty());
    EXPECT_EQ(std::get<PrinterAdded>(o.messages.back()).result, AddResult::NoDescription);
}

TEST(AddPrinter, TheQueuesAreWhatLpstatSaysOrUnknownWithoutCupsd) {
    FakeTools fakes;
    EXPECT_EQ(list_print_queues(), std::nullopt);
    fakes.set("cups-running", "");
    ASSERT_TRUE(list_print_queues());
    EXPECT_TRUE(list_print_queues()->empty());  // "No destinations added."
    fakes.set("cups-queues", "office ipp://office.local:631/ipp/print\n");
    ASSERT_EQ(list_print_queues()->size(), 1u);
    EXPECT_EQ(list_print_queues()->front().uri, "ipp://office.local:631/ipp/print");
    fakes.set("cups-forbidden", "");  // a refusal is no answer, not "no queues"
    EXPECT_EQ(list_print_queues(), std::nullopt);
}

}  // namespace
}  // namespace kelmora
