// Installs against a fake xbps-install that behaves as real xbps does: it sees
// only the repositories enabled when it starts, refuses names it cannot find,
// and refuses everything while xbps itself must be updated.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "packages/install_plan.h"
#include "packages/packages.h"
#include "packages/plan_runner.h"
#include "packages/repositories.h"
#include "process/command.h"
#include "services/service_setup.h"
#include "test_support.h"

namespace kelmora {
namespace {

using test::Collector;
using test::FakeTools;
using Args = std::vector<std::string>;

const char* const repo_names[] = {"multilib", "multilib-nonfree", "nonfree"};

// A system whose state the fake xbps-install keeps in its recording directory;
// the repository probe looks at the same root.
struct VoidSystem {
    FakeTools fakes;
    std::filesystem::path root = fakes.dir() / "xbps-root";
    std::filesystem::path user_modeset = root / "etc/modprobe.d/nvidia-drm.conf";

    // The user's own modeset setting keeps kelmora's NVIDIA files out of the
    // tests about repositories and generations; those files have tests of
    // their own (without_user_modeset).
    VoidSystem() { test::write_file(user_modeset, "options nvidia-drm modeset=1\n"); }
    VoidSystem& without_user_modeset() {
        std::filesystem::remove(user_modeset);
        return *this;
    }

    void enable_repositories() {
        std::filesystem::create_directories(root / "usr/share/xbps.d");
        for (const char* r : repo_names)
            test::write_file(root / ("usr/share/xbps.d/10-repository-" + std::string(r) + ".conf"),
                             "");
    }
    void publish_newer_xbps() { fakes.set("xbps-newer", ""); }
    bool xbps_outdated() const { return std::filesystem::exists(fakes.dir() / "xbps-newer"); }
    std::vector<Args> calls() const {
        std::vector<Args> all;
        for (int i = 1; i <= fakes.pkexec_calls(); ++i) all.push_back(fakes.pkexec_argv(i));
        return all;
    }
    std::string installed() const { return test::read_file(fakes.dir() / "xbps-installed"); }
};

struct TaskLog {
    bool ok = false;
    std::vector<std::string> lines;
    bool has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::vector<std::string> starting_lines() const {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.rfind("Starting: pkexec ", 0) == 0) out.push_back(l);
        return out;
    }
};

TaskLog install(const VoidSystem& system, const PackageList& packages) {
    Collector c;
    TaskLog run;
    c.run([&](const UiSender& s) { run.ok = run_pkexec_xbps(packages, log_sink(s), system.root); });
    EXPECT_TRUE(c.wait_closed());
    run.lines = c.lines();
    return run;
}

const Args repo_step = {"xbps-install", "-Syf", "void-repo-multilib", "void-repo-multilib-nonfree",
                        "void-repo-nonfree"};

// One bare "xbps-install -Su -y <packages>" through the fake pkexec.
TaskLog install_alone(const PackageList& packages) {
    Collector c;
    TaskLog run;
    c.run([&](const UiSender& s) {
        run.ok = run_xbps_install(xbps_install_args(packages), log_sink(s));
    });
    EXPECT_TRUE(c.wait_closed());
    run.lines = c.lines();
    return run;
}

TEST(Platform, TheOldSingleTransactionIsRefusedOnAFreshSystem) {
    // What every graphics button used to run: xbps cannot see the packages of a
    // repository that the same transaction enables.
    VoidSystem system;
    const TaskLog run = install_alone(nvidia_packages(0));
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(run.has("[Error] ERROR: Package 'nvidia' not found in repository pool."));
    EXPECT_EQ(system.installed(), "xbps\n");  // nothing was unpacked
}

TEST(Platform, FreshSystemEnablesTheRepositoriesFirstThenInstalls) {
    struct Case {
        const char* name;
        PackageList packages;
        Args repos;
    } cases[] = {
        {"nvidia current", nvidia_packages(0), repo_step},
        {"nvidia 580", nvidia_packages(3), repo_step},
        {"nvidia 390", nvidia_packages(2), repo_step},
        {"amd", amd_packages(), {"xbps-install", "-Syf", "void-repo-multilib"}},
        {"intel", intel_packages(), {"xbps-install", "-Syf", "void-repo-multilib"}},
        {"gutenprint",
         print_driver_packages({true, true, true, true}),
         {"xbps-install", "-Syf", "void-repo-nonfree"}},
        {"brscan",
         scanner_packages({true, true, true, true}),
         {"xbps-install", "-Syf", "void-repo-nonfree"}},
    };
    for (const auto& c : cases) {
        VoidSystem system;
        const TaskLog run = install(system, c.packages);
        EXPECT_TRUE(run.ok) << c.name;
        const Args main = xbps_install_args(c.packages);
        EXPECT_EQ(system.calls(), (std::vector<Args>{c.repos, main})) << c.name;
        EXPECT_EQ(run.starting_lines(),
                  (std::vector<std::string>{"Starting: pkexec " + quoted_arg_list(c.repos),
                                            "Starting: pkexec " + quoted_arg_list(main)}))
            << c.name;
        // The repository packages of the task's own list are already there.
        if (std::find(c.packages.begin(), c.packages.end(), c.repos[2]) != c.packages.end()) {
            EXPECT_TRUE(run.has("[Error] Package '" + c.repos[2] + "' is up to date.")) << c.name;
        }
    }
}

TEST(Platform, EnabledRepositoriesMeanOneCommandAndNothingElse) {
    for (const PackageList& packages :
         {nvidia_packages(1), amd_packages(), print_driver_packages({false, false, false, true}),
          print_service_recipe().package_list(), scan_service_recipe().package_list(),
          scanner_packages({false, false, true, true})}) {
        VoidSystem system;
        system.enable_repositories();
        const TaskLog run = install(system, packages);
        EXPECT_TRUE(run.ok) << packages.front();
        EXPECT_EQ(system.calls(), (std::vector<Args>{xbps_install_args(packages)}));
    }
}

TEST(Platform, RepositoryStepThatFailsEndsTheTask) {
    for (const char* outcome : {"dismiss", "fail"}) {
        VoidSystem system;
        system.fakes.set("pkexec.outcomes", std::string(outcome) + "\n");
        const TaskLog run = install(system, amd_packages());
        EXPECT_FALSE(run.ok) << outcome;
        EXPECT_EQ(system.calls(),
                  (std::vector<Args>{{"xbps-install", "-Syf", "void-repo-multilib"}}));
    }
}

TEST(Platform, OutdatedXbpsUpdatesItselfAndTheRefusedCommandIsRepeatedOnce) {
    const Args update = {"xbps-install", "-Syu", "xbps"};
    {  // repositories enabled: install refused, update, install again
        VoidSystem system;
        system.enable_repositories();
        system.publish_newer_xbps();
        const TaskLog run = install(system, scan_service_recipe().package_list());
        const Args main = xbps_install_args(scan_service_recipe().package_list());
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(system.calls(), (std::vector<Args>{main, update, main}));
        EXPECT_TRUE(
            run.has("[Error] ERROR: The 'xbps' package must be updated, please run "
                    "`xbps-install -u xbps`"));
        EXPECT_FALSE(system.xbps_outdated());
        EXPECT_EQ(run.starting_lines().size(), 3u);
    }
    {  // fresh system: the repository step is the one refused and repeated
        VoidSystem system;
        system.publish_newer_xbps();
        const TaskLog run = install(system, nvidia_packages(0));
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(system.calls(), (std::vector<Args>{repo_step, update, repo_step,
                                                     xbps_install_args(nvidia_packages(0))}));
    }
    struct Failure {
        const char* outcomes;
        std::size_t calls;
        bool still_outdated;
    } failures[] = {
        {"ok\ndismiss\n", 2, true},    // the update dismissed: nothing is repeated
        {"ok\nok\nfail\n", 3, false},  // the repeat decides, and is not repeated again
    };
    for (const auto& f : failures) {
        VoidSystem system;
        system.enable_repositories();
        system.publish_newer_xbps();
        system.fakes.set("pkexec.outcomes", f.outcomes);
        EXPECT_FALSE(install(system, amd_packages()).ok) << f.outcomes;
        EXPECT_EQ(system.calls().size(), f.calls) << f.outcomes;
        EXPECT_EQ(system.xbps_outdated(), f.still_outdated) << f.outcomes;
    }
}

TEST(Platform, CorrectedNamesInstallAndTheOldOnesAreRefused) {
    struct Case {
        PackageList packages;
        bool ok;
        const char* refused;
    } cases[] = {
        {scan_service_recipe().package_list(), true, nullptr},
        {print_service_recipe().package_list(), true, nullptr},
        {print_driver_packages({false, true, false, false}), true, nullptr},
        {{"sane-backends", "sane-airscan"}, false, "sane-backends"},
        {{"brlaser"}, false, "brlaser"},
    };
    for (const auto& c : cases) {
        VoidSystem system;
        const TaskLog run = install(system, c.packages);
        EXPECT_EQ(run.ok, c.ok) << c.packages.front();
        if (c.refused) {
            EXPECT_TRUE(run.has("[Error] ERROR: Package '" + std::string(c.refused) +
                                "' not found in repository pool."));
        }
    }
    // Discovery needs avahi-browse, which only avahi-utils ships.
    VoidSystem system;
    ASSERT_TRUE(install(system, print_service_recipe().package_list()).ok);
    EXPECT_NE(system.installed().find("avahi-utils\n"), std::string::npos);
}

TEST(Platform, InstalledPackagesAreUpToDateAndTheTransactionStillSucceeds) {
    VoidSystem system;
    system.enable_repositories();
    ASSERT_TRUE(install(system, amd_packages()).ok);
    const TaskLog again = install(system, amd_packages());
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.has("[Error] Package 'mesa-dri' is up to date."));
}

TEST(Platform, ExitSeventeenIsSuccessOnlyWhenXbpsSaysEveryNameIsInstalled) {
    // xbps ignores EEXIST only with two or more names; a file conflict at
    // commit time exits 17 as well.
    struct Case {
        const char* what;
        PackageList packages;
        bool conflict;
        bool ok;
    } cases[] = {
        {"one installed package", {"hplip"}, false, true},
        {"a repository package whose drop-in was deleted", {"foomatic-db-nonfree"}, false, true},
        {"a file conflict while committing", {"gutenprint"}, true, false},
    };
    for (const Case& c : cases) {
        VoidSystem system;
        system.enable_repositories();
        test::write_file(system.fakes.dir() / "xbps-installed", "xbps\nhplip\nvoid-repo-nonfree\n");
        std::filesystem::remove(system.root / "usr/share/xbps.d/10-repository-nonfree.conf");
        if (c.conflict) {
            system.fakes.set("xbps.stderr",
                             "ERROR: gutenprint-5.3.4_1: file `/usr/bin/escputil' already "
                             "installed by package hplip-3.24.4_1.\n"
                             "ERROR: Transaction failed! see above for errors.\n");
            system.fakes.set("xbps.status", "17\n");
        }
        const TaskLog run = install(system, c.packages);
        EXPECT_EQ(run.ok, c.ok) << c.what;
    }
    EXPECT_EQ(reported_installed("Package 'hplip' is up to date."), "hplip");
    EXPECT_EQ(reported_installed("ERROR: Package `void-repo-nonfree' already installed."),
              "void-repo-nonfree");
    for (const char* other : {"Package '' is up to date.", "hplip is up to date.",
                              "ERROR: gutenprint: file `/x' already installed by package hplip."})
        EXPECT_EQ(reported_installed(other), "") << other;
}

TEST(Repositories, EachPackageComesFromItsRepository) {
    EXPECT_EQ(repository_of("nvidia580"), Repository::Nonfree);
    EXPECT_EQ(repository_of("foomatic-db-nonfree"), Repository::Nonfree);
    EXPECT_EQ(repository_of("brother-brscan5"), Repository::Nonfree);
    EXPECT_EQ(repository_of("nvidia470-libs-32bit"), Repository::MultilibNonfree);
    EXPECT_EQ(repository_of("mesa-vulkan-intel-32bit"), Repository::Multilib);
    for (std::string_view main : {"void-repo-nonfree", "nvidia-libs", "foomatic-db", "-32bit",
                                  "brother-brlaser", "sane", "mesa-dri"})
        EXPECT_EQ(repository_of(main), Repository::Main) << main;
}

TEST(Repositories, OnlyMissingDropInsAreEnabledInAFixedOrder) {
    test::TempDir root;
    const auto dropins = root / "usr/share/xbps.d";
    EXPECT_EQ(
        missing_repository_packages(nvidia_packages(0), root.path()),
        (PackageList{"void-repo-multilib", "void-repo-multilib-nonfree", "void-repo-nonfree"}));
    EXPECT_EQ(missing_repository_packages({"skanlite", "simple-scan"}, root.path()), PackageList{});
    EXPECT_EQ(missing_repository_packages({"brother-brscan4", "mesa-dri-32bit"}, root.path()),
              (PackageList{"void-repo-multilib", "void-repo-nonfree"}));

    std::filesystem::create_directories(dropins);
    test::write_file(dropins / "10-repository-nonfree.conf", "");
    // A dangling link is no drop-in; a directory in its place is present.
    std::filesystem::create_symlink(root / "gone", dropins / "10-repository-multilib.conf");
    std::filesystem::create_directory(dropins / "10-repository-multilib-nonfree.conf");
    EXPECT_EQ(missing_repository_packages(nvidia_packages(2), root.path()),
              (PackageList{"void-repo-multilib"}));
}

}  // namespace
}  // namespace kelmora

namespace kelmora {
namespace {

// The members of a generation that the fake database holds.
std::vector<std::string> members_installed(const VoidSystem& system, std::string_view generation) {
    std::vector<std::string> found;
    const std::string db = system.installed();
    for (const std::string& member : nvidia_generation_members(generation))
        if (db.find("\n" + member + "\n") != std::string::npos || db.rfind(member + "\n", 0) == 0)
            found.push_back(member);
    return found;
}

TEST(Switching, EveryGenerationReplacesEveryOtherWithTheOldOneGone) {
    const Args update = {"xbps-install", "-Syu", "xbps"};
    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            const std::string old_gen(nvidia_driver_package(static_cast<NvidiaDriver>(from)));
            const std::string new_gen(nvidia_driver_package(static_cast<NvidiaDriver>(to)));
            const std::string name = old_gen + " -> " + new_gen;
            VoidSystem system;
            system.enable_repositories();
            ASSERT_TRUE(install(system, nvidia_packages(from)).ok) << name;
            const auto before = members_installed(system, old_gen);
            ASSERT_FALSE(before.empty()) << name;
            const TaskLog run = install(system, nvidia_packages(to));
            EXPECT_TRUE(run.ok) << name;
            EXPECT_FALSE(members_installed(system, new_gen).empty()) << name;
            auto calls = system.calls();
            calls.erase(calls.begin());  // the first install
            if (from == to) {            // reinstalling: no removal, as before
                EXPECT_EQ(calls, (std::vector<Args>{xbps_install_args(nvidia_packages(to))}))
                    << name;
                continue;
            }
            Args remove = {"xbps-remove", "-Ry"};
            remove.insert(remove.end(), before.begin(), before.end());
            EXPECT_EQ(calls,
                      (std::vector<Args>{update, remove, xbps_install_args(nvidia_packages(to))}))
                << name;
            EXPECT_TRUE(members_installed(system, old_gen).empty()) << name;
            for (int other = 0; other < 4; ++other)
                if (other != to) {
                    EXPECT_TRUE(members_installed(
                                    system, nvidia_driver_package(static_cast<NvidiaDriver>(other)))
                                    .empty())
                        << name;
                }
            EXPECT_TRUE(run.has("Starting: pkexec " + quoted_arg_list(remove))) << name;
        }
    }
}

TEST(Switching, TheInstallAloneIsRefusedForConflictsAsXbpsRefusesIt) {
    VoidSystem system;
    system.enable_repositories();
    ASSERT_TRUE(install(system, nvidia_packages(0)).ok);
    const TaskLog run = install_alone(nvidia_packages(3));
    EXPECT_FALSE(run.ok);
    const auto has = [&](const std::string& l) { return run.has(l); };
    EXPECT_TRUE(
        has("[Error] CONFLICT: nvidia-1.0_1 with nvidia580-1.0_1 in transaction "
            "(matched by nvidia580>=0)"));
    EXPECT_TRUE(
        has("[Error] CONFLICT: nvidia-libs-32bit-1.0_1 with nvidia580-libs-32bit-1.0_1 in "
            "transaction (matched by nvidia580-libs-32bit>=0)"));
    EXPECT_TRUE(has("[Error] ERROR: Transaction aborted due to conflicting packages."));
    EXPECT_TRUE(members_installed(system, "nvidia580").empty());
}

TEST(Switching, NothingIsRemovedUnlessTheInstallCanFollowAndAFailureAfterItSaysWhatToDo) {
    const std::vector<std::string> current = {"nvidia",      "nvidia-libs",    "nvidia-libs-32bit",
                                              "nvidia-dkms", "nvidia-gtklibs", "nvidia-firmware"};
    struct Case {
        const char* what;
        const char* outcomes;  // the first call installs "nvidia"
        bool drop_580_from_pool;
        bool newer_xbps;
        bool ok;
        std::size_t calls;
        bool old_removed;
        const char* line;
    } cases[] = {
        {"removal dismissed", "ok\nok\ndismiss\n", false, false, false, 3, false, nullptr},
        {"self-update dismissed", "ok\ndismiss\n", false, false, false, 2, false, nullptr},
        {"580 missing from the pool", "", true, false, false, 2, false,
         "Fehler: nvidia580 ist im Repository-Pool nicht zu finden; der installierte Treiber "
         "bleibt."},
        {"install fails after the removal", "ok\nok\nok\nfail\n", false, false, false, 4, true,
         "Fehler: Der bisherige Treiber wurde entfernt. Für einen Treiber wieder installieren: "
         "xbps-install -S nvidia nvidia-libs nvidia-libs-32bit nvidia-dkms nvidia-gtklibs "
         "nvidia-firmware"},
        {"a newer xbps is published", "", false, true, true, 4, true, nullptr},
    };
    for (const Case& c : cases) {
        VoidSystem system;
        system.enable_repositories();
        system.fakes.set("pkexec.outcomes", c.outcomes);
        ASSERT_TRUE(install(system, nvidia_packages(0)).ok) << c.what;
        EXPECT_EQ(members_installed(system, "nvidia"), current) << c.what;
        if (c.drop_580_from_pool) {
            const auto fakes_dir =
                std::filesystem::read_symlink(system.fakes.bin() / "xbps-install").parent_path();
            std::string pool = test::read_file(fakes_dir / "xbps-pool"), kept;
            std::istringstream lines(pool);
            for (std::string l; std::getline(lines, l);)
                if (l.rfind("nonfree nvidia580 ", 0) != 0) kept += l + "\n";
            system.fakes.set("xbps-pool", kept);
        }
        if (c.newer_xbps) system.publish_newer_xbps();
        const TaskLog run = install(system, nvidia_packages(3));
        EXPECT_EQ(run.ok, c.ok) << c.what;
        EXPECT_EQ(system.calls().size(), c.calls) << c.what;
        EXPECT_EQ(members_installed(system, "nvidia").empty(), c.old_removed) << c.what;
        if (c.line) {
            EXPECT_TRUE(run.has(c.line)) << c.what;
        }
        EXPECT_FALSE(system.xbps_outdated()) << c.what;
    }
}

}  // namespace
}  // namespace kelmora

namespace kelmora {
namespace {

// A kernel package as the fake database holds it, with its modules directory.
void add_kernel(VoidSystem& system, const std::string& package, const std::string& release) {
    std::ofstream(system.fakes.dir() / "xbps-installed", std::ios::app)
        << package << " " << release << "\n";
    std::filesystem::create_directories(system.root / "usr/lib/modules" / release / "kernel");
}

bool module_built(const VoidSystem& system, const std::string& release) {
    return std::filesystem::exists(system.root / "usr/lib/modules" / release /
                                   "kernel/drivers/video/nvidia.ko");
}

TEST(KernelModule, AnInstallBringsTheRunningSeriesHeadersAndFailsWhenTheModuleIsMissing) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> kernels;
        std::string running, failing_build;
        bool ok;
        std::vector<std::string> added_headers;  // at the end of the install
        std::vector<std::string> lines;          // among the log's lines
    } cases[] = {
        {"LTS without headers: its headers come along, the module is built",
         {{"linux6.6", "6.6.63_1"}},
         "6.6.63_1",
         "",
         true,
         {"linux6.6-headers"},
         {"Building DKMS module 'nvidia-1.0' for kernel-6.6.63_1... done.",
          "NVIDIA-Modul geprüft: vorhanden für den Kernel, der startet."}},
        {"the build fails for the running kernel: xbps says done, the task fails",
         {{"linux6.6", "6.6.63_1"}},
         "6.6.63_1",
         "6.6.63_1",
         false,
         {"linux6.6-headers"},
         {"Building DKMS module 'nvidia-1.0' for kernel-6.6.63_1... FAILED!",
          "Fehler: Für Kernel 6.6.63_1 gibt es kein NVIDIA-Modul; mit diesem Kernel lädt der "
          "Treiber nicht. Build-Log: /var/lib/dkms/nvidia/1.0/build/make.log"}},
        {"an end-of-life series the pool dropped: left out, an older kernel only warns",
         {{"linux6.12", "6.12.7_1"}, {"linux6.3", "6.3.13_1"}},
         "6.12.7_1",
         "",
         true,
         {"linux6.12-headers"},
         {"Warnung: linux6.3-headers ist nicht im Repository-Pool; für Kernel 6.3.13_1 kann das "
          "NVIDIA-Modul nicht gebaut werden.",
          "Skipping kernel-6.3.13_1. kernel-headers package not installed...",
          "Warnung: Für die älteren Kernel 6.3.13_1 gibt es kein NVIDIA-Modul."}},
        {"no kernel package (a container): nothing to check, no failure",
         {},
         "6.1.0-13-amd64",
         "",
         true,
         {},
         {"Hinweis: Kein Kernel-Paket installiert (eigener Kernel oder Container); das "
          "NVIDIA-Modul lässt sich nicht prüfen."}},
    };
    for (const Case& c : cases) {
        VoidSystem system;
        system.enable_repositories();
        for (const auto& [package, release] : c.kernels) add_kernel(system, package, release);
        test::write_file(system.root / "proc/sys/kernel/osrelease", c.running + "\n");
        if (!c.failing_build.empty()) system.fakes.set("dkms-fail", c.failing_build + "\n");
        const TaskLog run = install(system, nvidia_packages(3));
        EXPECT_EQ(run.ok, c.ok) << c.name;
        Args expected = xbps_install_args(nvidia_packages(3));
        expected.insert(expected.end(), c.added_headers.begin(), c.added_headers.end());
        ASSERT_FALSE(system.calls().empty()) << c.name;
        EXPECT_EQ(system.calls().back(), expected) << c.name;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(run.has(line)) << c.name << ": " << line;
        EXPECT_EQ(module_built(system, c.running), c.ok && !c.kernels.empty()) << c.name;
    }
}

// The way back to nouveau through the fakes: the -dkms package's blacklist goes
// with it; one the user wrote, or a package file the user modified (xbps keeps
// it), is named and left as it is; a refused removal claims nothing.
TEST(OpenDriver, TheGenerationGoesWithItsBlacklistAndWhatTheUserWroteIsNamedNotTouched) {
    const std::string restart_line =
        "Der offene Treiber (nouveau) wird nach einem Neustart verwendet.";
    const struct {
        const char* what;
        const char* user_file;     // below the root, written before
        const char* package_file;  // what the user made of nvidia.conf, or null
        bool refuse_removal;
        bool ok;
        Args blocking;
    } cases[] = {
        {"nothing else blocks", nullptr, nullptr, false, true, {}},
        {"the user's own blacklist",
         "etc/modprobe.d/nouveau_blacklist.conf",
         nullptr,
         false,
         false,
         {"/etc/modprobe.d/nouveau_blacklist.conf"}},
        {"the package file, modified",
         nullptr,
         "blacklist nouveau\noptions nvidia-drm modeset=1\n",
         false,
         false,
         {"/usr/lib/modprobe.d/nvidia.conf"}},
        {"the removal refused", nullptr, nullptr, true, false, {}},
    };
    for (const auto& c : cases) {
        VoidSystem system;
        system.enable_repositories();
        ASSERT_TRUE(install(system, nvidia_packages(1)).ok) << c.what;  // nvidia470
        ASSERT_TRUE(std::filesystem::exists(system.root / "usr/lib/modprobe.d/nvidia.conf"));
        const std::string user_text = "# mine\nblacklist nouveau\n";
        if (c.user_file) test::write_file(system.root / c.user_file, user_text);
        if (c.package_file)
            test::write_file(system.root / "usr/lib/modprobe.d/nvidia.conf", c.package_file);
        // The removal's password dialog dismissed (and the Mesa install's,
        // where the fake pool's generation did not bring Mesa along).
        if (c.refuse_removal)
            system.fakes.set("pkexec.outcomes",
                             std::string(system.fakes.pkexec_calls(), '\n') + "dismiss\ndismiss\n");
        Collector collector;
        TaskResult result = false;
        Args blocking;
        collector.run([&](const UiSender& s) {
            result = use_open_driver(log_sink(s), blocking, system.root);
        });
        ASSERT_TRUE(collector.wait_closed());
        const auto lines = collector.lines();
        const bool restart_claimed =
            std::find(lines.begin(), lines.end(), restart_line) != lines.end();
        EXPECT_EQ(bool(result), c.ok) << c.what;
        EXPECT_EQ(restart_claimed, c.ok) << c.what;
        EXPECT_EQ(blocking, c.blocking) << c.what;
        const std::string installed = system.installed();
        if (!c.refuse_removal) {
            EXPECT_NE(installed.find("mesa-dri"), std::string::npos) << c.what;
        }
        EXPECT_EQ(installed.find("nvidia470") == std::string::npos, !c.refuse_removal) << c.what;
        if (c.user_file) {
            EXPECT_EQ(test::read_file(system.root / c.user_file), user_text) << c.what;
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.find(std::string("/") + c.user_file) != std::string::npos;
            })) << c.what;
        }
        if (!c.package_file && !c.refuse_removal) {
            EXPECT_FALSE(std::filesystem::exists(system.root / "usr/lib/modprobe.d/nvidia.conf"))
                << c.what;
        }
    }
}

TEST(KernelModule, RepairInstallsTheHeadersAndRunsTheTriggerAgainOrChangesNothingWhenDismissed) {
    for (const bool dismiss : {false, true}) {
        VoidSystem system;
        system.enable_repositories();
        ASSERT_TRUE(install(system, nvidia_packages(3)).ok);  // no kernel package yet
        add_kernel(system, "linux6.6", "6.6.63_1");           // then an LTS kernel, no headers
        test::write_file(system.root / "proc/sys/kernel/osrelease", "6.6.63_1\n");
        const auto graphics = query_installed_graphics(system.root);
        ASSERT_TRUE(graphics);
        EXPECT_EQ(graphics->kernels_without_module, Args{"6.6.63_1"});
        const int before = system.fakes.pkexec_calls();
        if (dismiss) system.fakes.set("pkexec.outcomes", std::string(before, '\n') + "dismiss\n");
        Collector collector;
        bool ok = false;
        collector.run(
            [&](const UiSender& s) { ok = repair_nvidia_module(log_sink(s), system.root); });
        EXPECT_TRUE(collector.wait_closed());
        EXPECT_EQ(ok, !dismiss);
        EXPECT_EQ(module_built(system, "6.6.63_1"), !dismiss);
        auto calls = system.calls();
        calls.erase(calls.begin(), calls.begin() + before);
        const Args headers = {"xbps-install", "-Su", "-y", "linux6.6-headers"};
        if (dismiss) {
            EXPECT_EQ(calls, std::vector<Args>{headers});
        } else {
            EXPECT_EQ(calls,
                      (std::vector<Args>{headers, {"xbps-reconfigure", "-f", "nvidia580-dkms"}}));
            EXPECT_TRUE(query_installed_graphics(system.root)->kernels_without_module.empty());
        }
    }
}

}  // namespace
}  // namespace kelmora

namespace kelmora {
namespace {

TEST(Cancel, ADismissalIsACancelOnlyBeforeAStepChangedTheSystem) {
    const struct {
        const char* outcomes;
        TaskResult::Kind kind;
        const char* line;  // what the log says was changed, or nothing
    } cases[] = {
        {"dismiss\n", TaskResult::Cancelled, nullptr},
        {"ok\ndismiss\n", TaskResult::Failed,
         "Abgebrochen, nachdem schon geändert wurde: Repositories aktiviert."},
        {"ok\nfail\n", TaskResult::Failed, nullptr},
    };
    for (const auto& c : cases) {
        VoidSystem system;  // no repositories yet: two privileged steps
        system.fakes.set("pkexec.outcomes", c.outcomes);
        Collector collector;
        TaskResult result = true;
        collector.run([&](const UiSender& s) {
            result = run_pkexec_xbps(nvidia_packages(3), log_sink(s), system.root);
        });
        EXPECT_TRUE(collector.wait_closed());
        EXPECT_EQ(result.kind, c.kind) << c.outcomes;
        const auto lines = collector.lines();
        const bool said =
            c.line != nullptr && std::find(lines.begin(), lines.end(), c.line) != lines.end();
        EXPECT_EQ(said, c.line != nullptr) << c.outcomes;
        // The steps were reported, numbered, as they began.
        std::vector<int> numbers;
        for (const UiMessage& m : collector.messages)
            if (const auto* step = std::get_if<StepStarted>(&m))
                numbers.push_back(step->step.number);
        const std::vector<int> expected =
            c.kind == TaskResult::Cancelled ? std::vector<int>{1} : std::vector<int>{1, 2};
        EXPECT_EQ(numbers, expected) << c.outcomes;
    }
}

}  // namespace
}  // namespace kelmora

// ---- kelmora's NVIDIA files on a model of Void: mode setting before the
// -dkms package (its initramfs trigger takes it in), runtime power management
// on a laptop with two GPUs, the user's own setting left alone.
namespace kelmora {
namespace {

// What the fake pkexec records for the shell command (one line a word).
Args config_call(const NvidiaConfig& config) {
    Args call = {"sh", "-c"};
    std::istringstream lines(nvidia_config_shell_command(config));
    for (std::string line; std::getline(lines, line);) call.push_back(line);
    return call;
}

// A machine: one NVIDIA card on a desktop, or a laptop whose Intel GPU
// drives the screen.
void machine(const VoidSystem& system, const std::string& nvidia, bool laptop) {
    test::write_pci_ids(system.root);
    if (laptop) {
        test::write_pci_device(system.root, "0000:00:02.0", "0x030000", "0x8086", "0x5917", "i915");
        test::write_file(system.root / "sys/bus/pci/devices/0000:00:02.0/boot_vga", "1\n");
        test::write_file(system.root / "sys/class/dmi/id/chassis_type", "10\n");
    } else {
        test::write_file(system.root / "sys/class/dmi/id/chassis_type", "3\n");
    }
    test::write_pci_device(system.root, "0000:01:00.0", laptop ? "0x030200" : "0x030000",
                           "0x10de", nvidia, "nouveau");
    test::write_file(system.root / "sys/bus/pci/devices/0000:01:00.0/boot_vga", "0\n");
}

std::string file_in(const VoidSystem& system, std::string_view file) {
    const auto path = system.root / std::filesystem::path(file).relative_path();
    return std::filesystem::exists(path) ? test::read_file(path) : "(none)";
}

TEST(NvidiaFiles, WrittenBeforeTheDriverUnlessTheUserSaidOtherwise) {
    const NvidiaConfig modeset{true, false, false};
    const NvidiaConfig turing_laptop{true, true, true};
    const NvidiaConfig ampere_laptop{true, true, false};
    const struct Case {
        const char* what;
        std::string device;
        bool laptop;
        int entry;                    // the NVIDIA choice
        std::string user_file;        // a modprobe file of the user's
        std::string cmdline;          // /proc/cmdline
        std::optional<NvidiaConfig> written;
    } cases[] = {
        {"GTX 1060, 580", "0x1c03", false, 3, "", "", modeset},
        {"RTX 2080, current", "0x1e82", false, 0, "", "", modeset},  // a desktop: no RTD3
        {"user's modeset=0 in a file", "0x1c03", false, 3,
         "options nvidia_drm fbdev=1 modeset=0 # mine\n", "", std::nullopt},
        {"user's file in /usr/lib", "0x1c03", false, 3, "/usr options nvidia-drm modeset=1\n", "",
         std::nullopt},
        {"on the command line", "0x1c03", false, 3, "", "quiet nvidia-drm.modeset=1 rw\n",
         std::nullopt},
        {"a commented-out setting is none", "0x1c03", false, 3, "# options nvidia-drm modeset=0\n",
         "", modeset},
        {"470 has no GBM", "0x1c03", false, 1, "", "", std::nullopt},
        {"Turing laptop", "0x1f99", true, 0, "", "", turing_laptop},
        {"Ampere laptop", "0x25a2", true, 0, "", "", ampere_laptop},
        {"Pascal laptop: no RTD3", "0x1c03", true, 3, "", "", modeset},
        {"Turing laptop, user's modeset", "0x1f99", true, 0, "", "nvidia_drm.modeset=0\n",
         NvidiaConfig{false, true, true}},
    };
    for (const Case& c : cases) {
        VoidSystem system;
        system.without_user_modeset();
        system.enable_repositories();
        machine(system, c.device, c.laptop);
        if (c.user_file.rfind("/usr ", 0) == 0)
            test::write_file(system.root / "usr/lib/modprobe.d/nvidia-modeset.conf",
                             c.user_file.substr(5));
        else if (!c.user_file.empty())
            test::write_file(system.root / "etc/modprobe.d/mine.conf", c.user_file);
        if (!c.cmdline.empty()) test::write_file(system.root / "proc/cmdline", c.cmdline);
        const TaskLog run = install(system, nvidia_packages(c.entry));
        EXPECT_TRUE(run.ok) << c.what;
        const Args main = xbps_install_args(nvidia_packages(c.entry));
        std::vector<Args> expected;
        if (c.written) expected.push_back(config_call(*c.written));
        expected.push_back(main);
        EXPECT_EQ(system.calls(), expected) << c.what;
        EXPECT_EQ(file_in(system, nvidia_modprobe_file),
                  c.written ? nvidia_modprobe_content(*c.written) : "(none)")
            << c.what;
        EXPECT_EQ(file_in(system, nvidia_udev_file),
                  c.written && c.written->runtime_pm ? std::string(nvidia_udev_content())
                                                     : "(none)")
            << c.what;
        // Once written, the same click writes nothing again.
        const TaskLog again = install(system, nvidia_packages(c.entry));
        EXPECT_EQ(system.calls().back(), main) << c.what;
        EXPECT_EQ(std::count(again.lines.begin(), again.lines.end(),
                             "Starting: pkexec " + quoted_arg_list(main)),
                  1)
            << c.what;
    }
    EXPECT_EQ(nvidia_modprobe_content(turing_laptop),
              "# Written by kelmora; the way back to nouveau removes it.\n"
              "options nvidia_drm modeset=1\n"
              "options nvidia NVreg_DynamicPowerManagement=0x02\n");
}

TEST(NvidiaFiles, AnInstalledGenerationIsRebuiltWithThemAndTheWayBackRemovesThem) {
    VoidSystem system;
    system.enable_repositories();
    machine(system, "0x1f99", true);
    // With the user's modeset: kelmora's file has the power option only.
    ASSERT_TRUE(install(system, nvidia_packages(0)).ok);
    EXPECT_EQ(file_in(system, nvidia_modprobe_file), nvidia_modprobe_content({false, true, true}));
    system.without_user_modeset();
    const std::size_t before = system.calls().size();
    ASSERT_TRUE(install(system, nvidia_packages(0)).ok);
    const auto calls = system.calls();
    EXPECT_EQ(std::vector<Args>(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()),
              (std::vector<Args>{config_call({true, true, true}),
                                 xbps_install_args(nvidia_packages(0)),
                                 {"xbps-reconfigure", "-f", "nvidia-dkms"}}));

    // Mode setting off after a restart (the file went missing): Repair writes it.
    std::filesystem::remove(system.root / "etc/modprobe.d/kelmora-nvidia.conf");
    test::write_file(system.root / "sys/module/nvidia_drm/parameters/modeset", "N\n");
    test::write_file(system.root / "sys/bus/pci/devices/0000:01:00.0/power/runtime_status",
                     "suspended\n");
    const auto graphics = query_installed_graphics(system.root);
    ASSERT_TRUE(graphics.has_value());
    EXPECT_TRUE(graphics->modeset_off);
    EXPECT_EQ(graphics->nvidia_power, "suspended");
    Collector c;
    c.run([&](const UiSender& s) { repair_nvidia_module(log_sink(s), system.root); });
    ASSERT_TRUE(c.wait_closed());
    EXPECT_EQ(file_in(system, nvidia_modprobe_file),
              nvidia_modprobe_content({true, true, true}));
    EXPECT_FALSE(query_installed_graphics(system.root)->modeset_off);  // until the restart

    Collector back;
    std::vector<std::string> blocking;
    back.run([&](const UiSender& s) { use_open_driver(log_sink(s), blocking, system.root); });
    ASSERT_TRUE(back.wait_closed());
    EXPECT_EQ(system.calls().back(), config_call({}));
    EXPECT_EQ(file_in(system, nvidia_modprobe_file), "(none)");
    EXPECT_EQ(file_in(system, nvidia_udev_file), "(none)");
}

TEST(NvidiaFiles, TheHelperTakesOnlyItsOwnWordsInOrder) {
    EXPECT_EQ(parse_nvidia_config_request({"nvidia-config"}), NvidiaConfig{});
    EXPECT_EQ(parse_nvidia_config_request({"nvidia-config", "modeset", "turing-power"}),
              (NvidiaConfig{true, false, true}));
    for (const Args& bad : std::vector<Args>{{"nvidia-config", "turing-power", "modeset"},
                                             {"nvidia-config", "modeset", "modeset"},
                                             {"nvidia-config", "modeset=0"},
                                             {"nvidia-config", "/etc/shadow"},
                                             {"nvidia", "modeset"}})
        EXPECT_FALSE(parse_nvidia_config_request(bad).has_value()) << bad.back();
    // A file someone changed is not kelmora's setting any more.
    EXPECT_EQ(nvidia_config_from_files(nvidia_modprobe_content({true, false, false}) + "# mine\n",
                                       std::nullopt),
              NvidiaConfig{});
}

}  // namespace
}  // namespace kelmora
