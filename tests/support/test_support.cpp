#include "test_support.h"

#include <gtest/gtest.h>

#include "hardware/graphics.h"
#include "packages/plan_runner.h"
#include "process/command.h"

#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef KELMORA_FAKES_DIR
#error "KELMORA_FAKES_DIR must name tests/fakes"
#endif

namespace kelmora::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Make read-only test directories removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::filesystem::path& file, const std::string& content) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

void write_pci_device(const std::filesystem::path& root, const std::string& slot,
                      const std::string& pci_class, const std::string& vendor,
                      const std::string& device, const std::string& driver) {
    const auto dir = root / "sys/bus/pci/devices" / slot;
    std::filesystem::create_directories(dir);
    write_file(dir / "class", pci_class + "\n");
    write_file(dir / "vendor", vendor + "\n");
    write_file(dir / "device", device + "\n");
    if (!driver.empty()) {
        std::filesystem::create_directories(root / "sys/bus/pci/drivers" / driver);
        std::filesystem::remove(dir / "driver");  // written twice: the later one binds
        std::filesystem::create_symlink("../../../../sys/bus/pci/drivers/" + driver,
                                        dir / "driver");
    }
}

void write_pci_ids(const std::filesystem::path& root) {
    // Lines as pci.ids 2023.04.10 has them, tabs included.
    const auto path = pci_ids_path(root);
    std::filesystem::create_directories(path.parent_path());
    write_file(path,
               "# a part of pci.ids\n"
               "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
               "\t67df  Ellesmere [Radeon RX 470/480/570/570X/580/580X/590]\n"
               "10de  NVIDIA Corporation\n"
               "\t0040  NV40 [GeForce 6800 Ultra]\n"
               "\t0612  G92 [GeForce 9800 GTX / 9800 GTX+]\n"
               "\t06c0  GF100 [GeForce GTX 480]\n"
               "\t0867  C79 [GeForce 9400]\n"
               "\t086f  MCP79 [GeForce 8200M G]\n"
               "\t0a65  GT218 [GeForce 210]\n"
               "\t10f1  GP106 High Definition Audio Controller\n"
               "\t1180  GK104 [GeForce GTX 680]\n"
               "\t1381  GM107 [GeForce GTX 750]\n"
               "\t1c03  GP106 [GeForce GTX 1060 6GB]\n"
               "\t1d81  GV100 [TITAN V]\n"
               "\t1e82  TU104 [GeForce RTX 2080]\n"
               "\t1f99  TU117M\n"
               "\t2204  GA102 [GeForce RTX 3090]\n"
               "\t25a2  GA107M [GeForce RTX 3050 Mobile]\n"
               "\t2330  GH100[H100 SXM5 80GB]\n"
               "\t2684  AD102 [GeForce RTX 4090]\n"
               "14e4  Broadcom Inc. and subsidiaries\n"
               "\t43a0  BCM4360 802.11ac Dual Band Wireless Network Adapter\n"
               "8086  Intel Corporation\n"
               "\t5917  UHD Graphics 620\n"
               "\ta0c8  Tiger Lake-LP Smart Sound Technology Audio Controller\n"
               "\ta0f0  Wi-Fi 6 AX201\n");
}

void write_intel_laptop(const std::filesystem::path& root) {
    write_file(root / "proc/cpuinfo",
               "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 140\n"
               "model name\t: 11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz\n"
               "microcode\t: 0xf4\n\nprocessor\t: 1\nvendor_id\t: GenuineIntel\n");
    write_file(root / "proc/sys/kernel/osrelease", "6.18.2_1\n");
    write_pci_device(root, "0000:00:02.0", "0x030000", "0x8086", "0x9a49", "i915");
    write_pci_device(root, "0000:00:14.3", "0x028000", "0x8086", "0xa0f0", "iwlwifi");
    write_pci_device(root, "0000:00:1f.3", "0x040380", "0x8086", "0xa0c8",
                     "sof-audio-pci-intel-tgl");
    write_pci_device(root, "0000:03:00.0", "0x028000", "0x14e4", "0x43a0");
    for (const auto& [name, value] :
         {std::pair{"name", "hci0"}, {"type", "bluetooth"}, {"soft", "1"}, {"hard", "0"}})
        write_file(root / "sys/class/rfkill/rfkill0" / name, std::string(value) + "\n");
    std::filesystem::create_directories(root / "sys/class/bluetooth/hci0/rfkill0");
    std::filesystem::create_directories(root / "usr/lib/firmware");
    write_pci_ids(root);
}

std::string intel_laptop_kernel_log() {
    return "[    0.000000] Linux version 6.18.2_1 (voidlinux@voidlinux)\n"
           "[    3.104611] iwlwifi 0000:00:14.3: Direct firmware load for "
           "iwlwifi-cc-a0-77.ucode failed with error -2\n"
           "[    3.104650] iwlwifi 0000:00:14.3: no suitable firmware found!\n";
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void EnvGuard::set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

EnvGuard::~EnvGuard() {
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

FakeTools::FakeTools(const std::vector<std::string>& fakes) {
    bin_ = tmp_ / "bin";
    rec_ = tmp_ / "rec";
    std::filesystem::create_directories(bin_);
    std::filesystem::create_directories(rec_);
    const std::filesystem::path source = KELMORA_FAKES_DIR;
    for (const auto& name : fakes) std::filesystem::create_symlink(source / name, bin_ / name);
    for (const char* tool :
         {"sh",   "cat",    "sed", "basename", "head", "sleep",    "kill",    "printf",
          "echo", "dd",     "yes", "tr",       "seq",  "readlink", "dirname", "mkdir",
          "rm",   "mktemp", "env", "wc",       "grep", "id",       "ln"}) {
        for (const char* dir : {"/usr/bin", "/bin"}) {
            const std::filesystem::path p = std::filesystem::path(dir) / tool;
            if (std::filesystem::exists(p)) {
                std::filesystem::create_symlink(p, bin_ / tool);
                break;
            }
        }
    }
    env_.set("PATH", bin_.string());
    env_.set("KELMORA_FAKE_DIR", rec_.string());
}

void FakeTools::add_script(const std::string& name, const std::string& body) {
    std::error_code ignored;
    std::filesystem::remove(bin_ / name, ignored);
    write_file(bin_ / name, "#!/bin/sh\n" + body);
    std::filesystem::permissions(bin_ / name, std::filesystem::perms::owner_all);
}

void FakeTools::set(const std::string& name, const std::string& content) {
    write_file(rec_ / name, content);
}

int FakeTools::pkexec_calls() const {
    const std::string count = read_file(rec_ / "pkexec.count");
    return count.empty() ? 0 : std::stoi(count);
}

std::vector<std::string> FakeTools::pkexec_argv(int call) const {
    std::vector<std::string> args;
    std::istringstream in(read_file(rec_ / ("pkexec." + std::to_string(call) + ".argv")));
    for (std::string line; std::getline(in, line);) args.push_back(line);
    return args;
}

Collector::Collector() : context_(g_main_context_new()) {
    auto [sender, receiver] = UiChannel<UiMessage>::create(
        [this](UiMessage&& m) { messages.push_back(std::move(m)); }, context_);
    sender_ = std::move(sender);
    receiver_ = receiver;
}

Collector::~Collector() {
    receiver_.close();
    g_main_context_unref(context_);
}

void Collector::run(const std::function<void(const UiSender&)>& work) {
    std::atomic<bool> finished{false};
    std::thread worker([&, sender = sender_] {
        work(sender);
        finished = true;
    });
    while (!finished)
        if (!g_main_context_iteration(context_, FALSE)) g_usleep(200);
    worker.join();
}

bool Collector::wait_closed(std::chrono::milliseconds timeout) {
    sender_ = UiSender();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (receiver_.attached()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(context_, FALSE)) g_usleep(500);
    }
    return true;
}

InstallRun run_installer(const std::vector<std::string_view>& packages,
                         std::chrono::milliseconds timeout) {
    Collector c;
    InstallRun run;
    c.run([&](const UiSender& s) { run.ok = run_pkexec_xbps(packages, log_sink(s)); });
    if (!c.wait_closed(timeout)) ADD_FAILURE() << "the output readers did not finish";
    run.lines = c.lines();
    return run;
}

std::vector<std::string> Collector::lines() const {
    std::vector<std::string> out;
    for (const auto& m : messages)
        if (auto* line = std::get_if<Line>(&m)) out.push_back(line->text);
    return out;
}

}  // namespace kelmora::test
