// The installer against a fake pkexec/xbps-install that are the whole PATH.
#include <gtest/gtest.h>

#include <algorithm>

#include "packages/plan_runner.h"
#include "packages/xbps.h"
#include "process/command.h"
#include "services/polkit_policy.h"
#include "services/service_setup.h"
#include "test_support.h"

namespace kelmora {
namespace {

using test::Collector;
using test::FakeTools;

using Installed = test::InstallRun;

Installed install(const PackageList& packages = {"mesa-dri", "vulkan-loader"}) {
    return test::run_installer(packages);
}

const std::string starting =
    R"(Starting: pkexec ["xbps-install", "-Su", "-y", "mesa-dri", "vulkan-loader"])";

TEST(Runner, SuccessStreamsBothStreamsAfterTheStartingLine) {
    FakeTools fakes;
    fakes.set("xbps.stdout",
              "[*] Updating repository index\r\nmesa-dri-24.0 installed\nno newline");
    fakes.set("xbps.stderr", "warning: cache\n\n");
    const Installed run = install();
    EXPECT_TRUE(run.ok);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.front(), starting);
    std::vector<std::string> out, err;
    for (const auto& l : std::vector(run.lines.begin() + 1, run.lines.end()))
        (l.rfind("[Error] ", 0) == 0 ? err : out).push_back(l);
    EXPECT_EQ(out, (std::vector<std::string>{"[*] Updating repository index",
                                             "mesa-dri-24.0 installed", "no newline"}));
    EXPECT_EQ(err, (std::vector<std::string>{"[Error] warning: cache", "[Error] "}));
    EXPECT_EQ(fakes.pkexec_argv(1),
              (std::vector<std::string>{"xbps-install", "-Su", "-y", "mesa-dri", "vulkan-loader"}));
}

TEST(Runner, OnlyExitStatusZeroIsSuccess) {
    struct Case {
        const char* outcome;
        const char* xbps_status;
        bool ok;
    } cases[] = {{"ok", "0", true},
                 {"ok", "1", false},
                 {"fail", "0", false},
                 {"dismiss", "0", false},
                 {"signal", "0", false}};
    for (const auto& c : cases) {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", std::string(c.outcome) + "\n");
        fakes.set("xbps.status", c.xbps_status);
        EXPECT_EQ(install().ok, c.ok) << c.outcome << " " << c.xbps_status;
    }
}

TEST(Runner, DismissedAuthenticationShowsPkexecErrorLine) {
    FakeTools fakes;
    fakes.set("pkexec.outcomes", "dismiss\n");
    const Installed run = install();
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.lines,
              (std::vector<std::string>{
                  starting, "[Error] Error executing command as another user: Request dismissed"}));
}

TEST(Runner, PkexecThatCannotStartIsReportedWithTheOsError) {
    struct Case {
        const char* name;
        std::function<void(FakeTools&)> arrange;
        std::string error;
    } cases[] = {
        {"missing", [](FakeTools&) {}, "No such file or directory (os error 2)"},
        {"not executable",
         [](FakeTools& f) {
             test::write_file(f.bin() / "pkexec", "#!/bin/sh\nexit 0\n");
             std::filesystem::permissions(
                 f.bin() / "pkexec",
                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
         },
         "Permission denied (os error 13)"},
        {"a directory", [](FakeTools& f) { std::filesystem::create_directory(f.bin() / "pkexec"); },
         "Permission denied (os error 13)"},
    };
    for (const auto& c : cases) {
        FakeTools fakes({"xbps-install"});
        c.arrange(fakes);
        const Installed run = install();
        EXPECT_FALSE(run.ok) << c.name;
        EXPECT_EQ(run.lines, (std::vector<std::string>{
                                 starting, "Fehler beim Starten von pkexec: " + c.error}))
            << c.name;
    }
}

TEST(Runner, EmptyPathFindsNoPkexec) {
    FakeTools fakes;
    test::EnvGuard env;
    env.set("PATH", "");
    const Installed run = install();
    EXPECT_FALSE(run.ok);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[1].rfind("Fehler beim Starten von pkexec: ", 0), 0u);
}

TEST(Runner, InvalidUtf8LineIsDroppedAndReadingGoesOn) {
    FakeTools fakes;
    fakes.set("xbps.stdout", "before\n\xFF\xFE broken\nafter\n");
    fakes.set("xbps.stderr", "e1\n\xC3\x28\ne2\n");
    const Installed run = install();
    EXPECT_TRUE(run.ok);
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "before"), run.lines.end());
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "after"), run.lines.end());
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "[Error] e2"), run.lines.end());
    EXPECT_EQ(run.lines.size(), 5u);
}

TEST(Runner, EachStreamKeepsItsOrderWhenInterleaved) {
    FakeTools fakes;
    fakes.add_script(
        "xbps-install",
        "i=0; while [ $i -lt 2000 ]; do echo \"out $i\"; echo \"err $i\" >&2; i=$((i+1)); done\n");
    const Installed run = install();
    EXPECT_TRUE(run.ok);
    int next_out = 0, next_err = 0;
    for (const auto& l : run.lines) {
        if (l.rfind("out ", 0) == 0) {
            EXPECT_EQ(l, "out " + std::to_string(next_out++));
        } else if (l.rfind("[Error] err ", 0) == 0) {
            EXPECT_EQ(l, "[Error] err " + std::to_string(next_err++));
        }
    }
    EXPECT_EQ(next_out, 2000);
    EXPECT_EQ(next_err, 2000);
}

TEST(Runner, AGrandchildHoldingThePipeDoesNotHoldUpTheResult) {
    FakeTools fakes;
    const auto marker = fakes.dir() / "grandchild.done";
    fakes.add_script("xbps-install",
                     "(sleep 4; echo late; : > '" + marker.string() + "') &\necho early\n");
    Collector c;
    EXPECT_TRUE(run_pkexec_xbps({"x"}, log_sink(c.sender())));
    EXPECT_FALSE(std::filesystem::exists(marker));  // returned while the pipe was still open
    ASSERT_TRUE(c.wait_closed());                   // the readers end with the grandchild
    EXPECT_EQ(c.lines().back(), "late");
}

TEST(Runner, TheLastLinesOfAChildThatExitsRightAfterWritingComeBeforeTheResult) {
    // Lines a reader still has to deliver when the child exits must not follow
    // the task's Done (and so its banner).
    FakeTools fakes;
    fakes.add_script("xbps-install",
                     "i=0; while [ $i -lt 3000 ]; do echo \"out $i\"; i=$((i+1)); done\n"
                     "echo last-error >&2\n");
    for (int round = 0; round < 5; ++round) {
        Collector c;
        c.run([](const UiSender& s) { s.send(Done{run_pkexec_xbps({"x"}, log_sink(s))}); });
        ASSERT_TRUE(c.wait_closed());
        ASSERT_FALSE(c.messages.empty());
        EXPECT_TRUE(std::holds_alternative<Done>(c.messages.back())) << "round " << round;
        EXPECT_EQ(c.lines().size(), 3002u);
    }
}

TEST(Runner, ChildrenStartWithDefaultSignalsAndNoStrayDescriptors) {
    FakeTools fakes({"pkexec"});
    // SIGPIPE is ignored by us; the child must see it as default (SigIgn mask 0 for bit 13).
    fakes.add_script("xbps-install",
                     "ls /proc/self/fd | tr '\\n' ' '; echo\n"
                     // exec: the shell's own mask while it waits for a command says nothing.
                     "exec grep -E '^Sig(Ign|Blk)' /proc/self/status\n");
    for (const char* tool : {"ls"})
        std::filesystem::create_symlink(std::filesystem::path("/bin") / tool, fakes.bin() / tool);
    const Installed run = install();
    ASSERT_EQ(run.lines.size(), 4u);
    for (int i = 2; i <= 3; ++i) {
        const std::string& l = run.lines[i];
        const unsigned long long mask =
            std::stoull(l.substr(l.find_first_of("0123456789abcdef", 7)), nullptr, 16);
        EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << l;
        if (l.rfind("SigBlk", 0) == 0) {
            EXPECT_EQ(mask, 0u) << l;
        }
    }
    // 0, 1, 2 and the one ls opens to read the directory.
    EXPECT_EQ(run.lines[1], "0 1 2 3 ");
}

// Where no agent answers, pkexec runs nothing and says so (it is never let
// fall back to a terminal); the window's own agent is then asked for, and the
// same command runs once more.
TEST(Runner, NoAgentRunsTheCommandOnceMoreWithTheWindowsOwnAgent) {
    const struct {
        const char* what;
        const char* outcomes;
        bool agent;  // the window can register its own
        bool ok;
        int calls, agent_asked;
    } cases[] = {
        {"own agent answers", "noagent\nok\n", true, true, 2, 1},
        {"no own agent: fails, asks nothing", "noagent\n", false, false, 1, 0},
        {"still no agent: one retry only", "noagent\nnoagent\nnoagent\n", true, false, 2, 1},
        {"dismissed in the own dialog", "noagent\ndismiss\n", true, false, 2, 1},
        {"an agent answered at once", "ok\n", true, true, 1, 0},
    };
    for (const auto& c : cases) {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", c.outcomes);
        int asked = 0;
        if (c.agent) set_own_agent([&] { return ++asked > 0; });
        Collector col;
        TaskResult result = false;
        col.run([&](const UiSender& s) {
            result = run_xbps_install({"xbps-install", "-Su", "-y", "mesa-dri"}, log_sink(s));
        });
        set_own_agent({});
        EXPECT_EQ(bool(result), c.ok) << c.what;
        EXPECT_EQ(fakes.pkexec_calls(), c.calls) << c.what;
        EXPECT_EQ(asked, c.agent_asked) << c.what;
        for (int call = 1; call <= fakes.pkexec_calls(); ++call)
            EXPECT_EQ(
                test::read_file(fakes.dir() / ("pkexec." + std::to_string(call) + ".options")),
                "--disable-internal-agent\n")
                << c.what << ", call " << call;
        if (std::string(c.outcomes) == "noagent\ndismiss\n") {
            EXPECT_TRUE(result.cancelled());
        }
    }
}

// Polkit missing or unreachable: nothing runs, the task says which, and a
// plan stops at its first step.
TEST(Runner, PolkitMissingOrNotRunningEndsThePlanAtOnceAndSaysWhich) {
    {
        FakeTools fakes;
        fakes.set("pkexec.outcomes", "noauthority\n");
        Collector c;
        TaskResult result = true;
        c.run([&](const UiSender& s) {
            result = run_service_setup(print_service_recipe(), log_sink(s));
        });
        EXPECT_EQ(result.kind, TaskResult::NoAuthority);
        EXPECT_EQ(fakes.pkexec_calls(), 1);
    }
    {
        FakeTools fakes({"xbps-install", "xbps-query"});
        Collector c;
        TaskResult result = true;
        c.run([&](const UiSender& s) { result = register_polkit_policy(log_sink(s)); });
        EXPECT_EQ(result.kind, TaskResult::NoPkexec);
        ASSERT_TRUE(c.wait_closed());
        EXPECT_EQ(c.lines().back(), "Fehler beim Schreiben der Polkit-Policy.");
    }
}

}  // namespace
}  // namespace kelmora
