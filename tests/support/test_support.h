// Helpers shared by the test suites: temporary directories, environment
// overrides, fake tools on PATH and a collector for UI channel messages.
#pragma once

#include <glib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ui_message.h"

namespace kelmora::test {

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Writes `content` to `file`, making its parent directories.
void write_file(const std::filesystem::path& file, const std::string& content);
std::string read_file(const std::filesystem::path& file);

// A PCI function under <root>/sys/bus/pci/devices, as sysfs shows it: hex
// attributes with a newline, `driver` a link into the drivers directory.
void write_pci_device(const std::filesystem::path& root, const std::string& slot,
                      const std::string& pci_class, const std::string& vendor,
                      const std::string& device, const std::string& driver = "");
// A PCI ID database under `root` with real pci.ids lines for the cards the
// tests use (NVIDIA from G92 to AD102, an AMD and an Intel card).
void write_pci_ids(const std::filesystem::path& root);

// A made-up Intel laptop below `root`: an i7 with microcode 0xf4, Intel
// graphics, an AX201 Wi-Fi card (iwlwifi), a BCM4360 that nothing drives,
// hci0 blocked by software (rfkill0), a SOF sound device, an empty firmware
// folder, kernel 6.18.2_1 running; and a kernel log in which iwlwifi missed
// its firmware.
void write_intel_laptop(const std::filesystem::path& root);
std::string intel_laptop_kernel_log();

// Sets (or with nullopt unsets) environment variables and restores them.
class EnvGuard {
  public:
    void set(const std::string& name, const std::optional<std::string>& value);
    ~EnvGuard();

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// A bin directory that is the whole PATH: the chosen fake tools from
// tests/fakes plus the few system utilities the fakes use, and a recording
// directory exported as KELMORA_FAKE_DIR.
class FakeTools {
  public:
    explicit FakeTools(const std::vector<std::string>& fakes = {
                           "pkexec", "xbps-install", "xbps-remove", "xbps-query",
                           "xbps-reconfigure", "driverless", "avahi-browse", "airscan-discover",
                           "lpadmin", "lpstat", "lpoptions", "lpinfo", "cupsenable", "cupsaccept",
                           "cancel", "ipptool", "scanimage"});
    const std::filesystem::path& bin() const { return bin_; }
    const std::filesystem::path& dir() const { return rec_; }
    // Adds a script of our own to the bin directory.
    void add_script(const std::string& name, const std::string& body);
    // Writes a file into the recording directory (outputs, statuses, outcomes).
    void set(const std::string& name, const std::string& content);
    int pkexec_calls() const;
    std::vector<std::string> pkexec_argv(int call) const;

  private:
    TempDir tmp_;
    std::filesystem::path bin_, rec_;
    EnvGuard env_;
};

// Receives UI channel messages on a private main context.
class Collector {
  public:
    Collector();
    ~Collector();
    const UiSender& sender() const { return sender_; }
    // Runs `work` with a sender on another thread while this thread handles
    // the messages, as the window's main loop does; returns when `work` does.
    void run(const std::function<void(const UiSender&)>& work);
    // Drops our sender and runs the context until every other sender is gone.
    bool wait_closed(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::vector<UiMessage> messages;
    std::vector<std::string> lines() const;  // texts of the Line messages, in order

  private:
    GMainContext* context_;
    UiSender sender_;
    UiReceiver receiver_;
};

// Runs the real installer with `packages` against whatever is on PATH and
// collects every line it and its readers send.
struct InstallRun {
    bool ok = false;
    std::vector<std::string> lines;
};
InstallRun run_installer(const std::vector<std::string_view>& packages,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Iterates the default main context until `done` holds or the time is up.
template <class F>
bool run_until(F done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

}  // namespace kelmora::test
