// The graphics hardware of a machine, read from fixture trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "hardware/firmware.h"
#include "hardware/graphics.h"
#include "hardware/kernels.h"
#include "hardware/machine.h"
#include "i18n/catalogue.h"
#include "packages/firmware_packages.h"
#include "packages/machine_survey.h"
#include "packages/packages.h"
#include "test_support.h"
#include "ui/graphics_text.h"

namespace kelmora {
namespace {

using test::write_file;
using test::write_pci_device;

// Real pci.ids entries (the fixture database) and what each card needs.
TEST(Graphics, EachNvidiaChipGetsTheNewestGenerationThatDrivesIt) {
    struct Case {
        const char* device;
        const char* name;
        std::optional<NvidiaDriver> expected;
    };
    const std::vector<Case> cases = {
        {"0x06c0", "GF100 [GeForce GTX 480]", NvidiaDriver::Nvidia390},
        {"0x1180", "GK104 [GeForce GTX 680]", NvidiaDriver::Nvidia470},
        {"0x1381", "GM107 [GeForce GTX 750]", NvidiaDriver::Nvidia580},
        {"0x1c03", "GP106 [GeForce GTX 1060 6GB]", NvidiaDriver::Nvidia580},
        {"0x1d81", "GV100 [TITAN V]", NvidiaDriver::Nvidia580},
        {"0x1e82", "TU104 [GeForce RTX 2080]", NvidiaDriver::Nvidia},
        {"0x1f99", "TU117M", NvidiaDriver::Nvidia},
        {"0x2204", "GA102 [GeForce RTX 3090]", NvidiaDriver::Nvidia},
        {"0x2684", "AD102 [GeForce RTX 4090]", NvidiaDriver::Nvidia},
        {"0x2330", "GH100[H100 SXM5 80GB]", NvidiaDriver::Nvidia},
        {"0x2d04", "", NvidiaDriver::Nvidia},  // newer than the database
        {"0x0612", "G92 [GeForce 9800 GTX / 9800 GTX+]", std::nullopt},
        {"0x0a65", "GT218 [GeForce 210]", std::nullopt},
        {"0x086f", "MCP79 [GeForce 8200M G]", std::nullopt},
        {"0x0867", "C79 [GeForce 9400]", std::nullopt},
        {"0x0040", "NV40 [GeForce 6800 Ultra]", std::nullopt},
    };
    for (const Case& c : cases) {
        test::TempDir root;
        test::write_pci_ids(root.path());
        write_pci_device(root.path(), "0000:01:00.0", "0x030000", "0x10de", c.device, "nouveau");
        // The card's audio function carries the same chip code and is no display.
        write_pci_device(root.path(), "0000:01:00.1", "0x040300", "0x10de", "0x10f1");
        const GraphicsHardware found = detect_graphics_hardware(root.path());
        ASSERT_EQ(found.cards.size(), 1u) << c.device;
        EXPECT_EQ(found.cards[0].device_name, c.name);
        EXPECT_EQ(found.cards[0].vendor_name, "NVIDIA Corporation");
        EXPECT_EQ(found.cards[0].driver, "nouveau");
        EXPECT_EQ(recommended_driver(found.cards[0]), c.expected) << c.device;
        if (c.expected) {
            EXPECT_TRUE(driver_supports(*c.expected, nvidia_arch(c.name)));
            // The generations without GBM say that Wayland is out.
            const std::string notes =
                nvidia_notes_text(found, static_cast<int>(*c.expected), Lang::En);
            const bool x11 =
                *c.expected == NvidiaDriver::Nvidia470 || *c.expected == NvidiaDriver::Nvidia390;
            EXPECT_EQ(notes, x11 ? "X11 sessions only" : "") << c.device;
        }
    }
}

TEST(Graphics, HybridMachinesListEveryCardAndRecommendOnlyWhenOneGenerationFits) {
    test::TempDir root;
    test::write_pci_ids(root.path());
    write_pci_device(root.path(), "0000:00:02.0", "0x030000", "0x8086", "0x5917", "i915");
    write_pci_device(root.path(), "0000:01:00.0", "0x030200", "0x10de", "0x1c03");
    const GraphicsHardware found = detect_graphics_hardware(root.path());
    ASSERT_EQ(found.cards.size(), 2u);
    EXPECT_EQ(graphics_cards_text(found.cards, Lang::En),
              "Intel UHD Graphics 620 — driver in use: i915\n"
              "NVIDIA GP106 [GeForce GTX 1060 6GB] — no driver in use — recommended: nvidia580");
    EXPECT_EQ(single_recommendation(found.cards), NvidiaDriver::Nvidia580);

    auto mixed = found.cards;
    mixed.push_back({"0000:02:00.0", pci_vendor_nvidia, 0x1180, "", "GK104 [GeForce GTX 680]", ""});
    EXPECT_EQ(single_recommendation(mixed), std::nullopt);
    mixed.back().device_name = "G92 [GeForce 9800 GTX / 9800 GTX+]";
    EXPECT_EQ(single_recommendation(mixed), std::nullopt);
    EXPECT_EQ(single_recommendation({found.cards[0]}), std::nullopt);  // Intel alone
    EXPECT_EQ(graphics_cards_text({}, Lang::De), "Keine Grafikkarte gefunden.");
}

// Whatever sysfs, efivars or the database hold, detection returns.
TEST(Graphics, BrokenTreesSkipTheirDeviceAndNeverStopTheScan) {
    test::TempDir root;
    const auto& r = root.path();
    EXPECT_TRUE(detect_graphics_hardware(r).cards.empty());  // no sysfs at all
    write_pci_device(r, "0000:00:01.0", "0x030000", "0x1002", "0x67df", "amdgpu");
    const auto devices = r / "sys/bus/pci/devices";
    // A device without a vendor file, one with garbage, one empty, one
    // oversized, a FIFO and a directory where attributes belong, a dangling
    // driver link, and a plain file among the devices.
    write_pci_device(r, "0000:00:02.0", "0x030000", "0x8086", "0x5917");
    std::filesystem::remove(devices / "0000:00:02.0/vendor");
    write_pci_device(r, "0000:00:03.0", "0x030000", "NVIDIA", "0x1c03");
    write_pci_device(r, "0000:00:04.0", "", "0x10de", "0x1c03");
    write_pci_device(r, "0000:00:05.0", "0x030000", "0x10de", "0x1c03");
    write_file(devices / "0000:00:05.0/device", "0x1c03" + std::string(100000, ' '));
    std::filesystem::create_directories(devices / "0000:00:06.0");
    ASSERT_EQ(::mkfifo((devices / "0000:00:06.0/class").c_str(), 0600), 0);
    write_pci_device(r, "0000:00:07.0", "0x030000", "0x10de", "0x1c03");
    std::filesystem::remove(devices / "0000:00:07.0/vendor");
    std::filesystem::create_directories(devices / "0000:00:07.0/vendor");
    write_pci_device(r, "0000:00:08.0", "0x0300000000", "0x10de", "0x1c03");
    write_pci_device(r, "0000:00:09.0", "0x030000", "0x10de", "0x1e82");
    std::filesystem::create_symlink("/nonexistent/\x1b[31mbad", devices / "0000:00:09.0/driver");
    write_file(devices / "README", "not a device");
    // A database that libpci cannot parse.
    std::filesystem::create_directories(pci_ids_path(r).parent_path());
    write_file(pci_ids_path(r), "10de  NVIDIA\n\t\t\tgarbage\n");

    const GraphicsHardware found = detect_graphics_hardware(r);
    ASSERT_EQ(found.cards.size(), 2u);
    EXPECT_EQ(found.cards[0].vendor, pci_vendor_amd);
    EXPECT_EQ(found.cards[0].driver, "amdgpu");
    EXPECT_EQ(found.cards[1].device, 0x1e82);
    EXPECT_EQ(found.cards[1].driver, "");       // not a plain name
    EXPECT_EQ(found.cards[1].device_name, "");  // the database was refused
    EXPECT_EQ(graphics_cards_text(found.cards, Lang::En),
              "AMD [1002:67df] — driver in use: amdgpu\n"
              "NVIDIA [10de:1e82] — no driver in use — recommended: nvidia");
}

TEST(Kernels, TheModuleIsFoundWhereDkmsPutsItAndLinksOrHostileTreesNeverCount) {
    test::TempDir root;
    const auto& r = root.path();
    const auto modules = r / "usr/lib/modules";
    EXPECT_EQ(running_kernel_release(r), "");  // no procfs
    write_file(r / "proc/sys/kernel/osrelease", "6.6.63_1\n");
    EXPECT_EQ(running_kernel_release(r), "6.6.63_1");
    for (const char* bad : {"../../etc\n", "6.6\n6.1\n", "", "6.6 63"}) {
        write_file(r / "proc/sys/kernel/osrelease", bad);
        EXPECT_EQ(running_kernel_release(r), "") << bad;
    }
    std::filesystem::remove(r / "proc/sys/kernel/osrelease");
    ASSERT_EQ(::mkfifo((r / "proc/sys/kernel/osrelease").c_str(), 0600), 0);
    EXPECT_EQ(running_kernel_release(r), "");  // never blocks on a FIFO

    // Void's place, another set-up's place, compressed.
    write_file(modules / "6.12.7_1/kernel/drivers/video/nvidia.ko", "");
    write_file(modules / "6.6.63_1/updates/dkms/nvidia.ko.zst", "");
    EXPECT_TRUE(has_nvidia_module(r, "6.12.7_1"));
    EXPECT_TRUE(has_nvidia_module(r, "6.6.63_1"));
    // A "build" link into the headers (or anywhere) is not followed, a link
    // named like the module is not one, nor a directory, nor one too deep.
    write_file(r / "usr/src/elsewhere/nvidia.ko", "");
    std::filesystem::create_directories(modules / "6.1.119_1/kernel");
    std::filesystem::create_directory_symlink(r / "usr/src/elsewhere", modules / "6.1.119_1/build");
    std::filesystem::create_symlink(r / "usr/src/elsewhere/nvidia.ko",
                                    modules / "6.1.119_1/kernel/nvidia.ko");
    std::filesystem::create_directories(modules / "6.1.119_1/extra/nvidia.ko.xz");
    write_file(modules / "6.1.119_1/a/b/c/d/e/f/g/h/i/j/nvidia.ko", "");
    EXPECT_FALSE(has_nvidia_module(r, "6.1.119_1"));
    std::filesystem::create_directory_symlink(modules / "6.12.7_1", modules / "6.3.13_1");
    EXPECT_FALSE(has_nvidia_module(r, "6.3.13_1"));  // the release itself a link
    EXPECT_FALSE(has_nvidia_module(r, "../../src/elsewhere"));
    EXPECT_FALSE(has_nvidia_module(r, "5.10.1_1"));  // no such kernel
    // Another module by its own name only: nvidia-drm.ko is not nvidia's,
    // wl.ko.zst is wl's, wlan.ko is not.
    write_file(modules / "6.18.2_1/kernel/drivers/video/nvidia-drm.ko", "");
    write_file(modules / "6.18.2_1/updates/dkms/wlan.ko", "");
    EXPECT_FALSE(has_nvidia_module(r, "6.18.2_1"));
    EXPECT_FALSE(has_kernel_module(r, "6.18.2_1", "wl"));
    write_file(modules / "6.18.2_1/updates/dkms/wl.ko.zst", "");
    EXPECT_TRUE(has_kernel_module(r, "6.18.2_1", "wl"));
    EXPECT_FALSE(has_kernel_module(r, "6.18.2_1", ""));
}

TEST(Graphics, SecureBootIsOnOnlyForTheValueOneAfterFourAttributeBytes) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {std::string("\x06\x00\x00\x00\x01", 5), true},
        {std::string("\x06\x00\x00\x00\x00", 5), false},
        {std::string("\x06\x00\x00\x00", 4), false},
        {std::string("\x06\x00\x00\x00\x01\x01", 6), false},
        {"", false},
    };
    for (const auto& [bytes, on] : cases) {
        test::TempDir root;
        const auto dir = root.path() / "sys/firmware/efi/efivars";
        std::filesystem::create_directories(dir);
        write_file(dir / "SecureBoot-8be4df61-93ca-11d2-aa0d-e3e5e6b3b2f4", bytes);
        EXPECT_EQ(secure_boot_enabled(root.path()), on) << bytes.size();
    }
    test::TempDir none;
    EXPECT_FALSE(secure_boot_enabled(none.path()));
}

TEST(Graphics, NotesWarnAboutAnUnsupportedChoiceSecureBootAndMissingDrivers) {
    GraphicsHardware pascal;
    pascal.cards.push_back(
        {"0000:01:00.0", pci_vendor_nvidia, 0x1c03, "", "GP106 [GeForce GTX 1060 6GB]", ""});
    const auto notes = [&](int chosen, bool available = true) {
        return nvidia_notes_text(pascal, chosen, Lang::En, available);
    };
    EXPECT_EQ(notes(static_cast<int>(NvidiaDriver::Nvidia580)), "");
    // 470 and 390 still drive Pascal, on X11 only; the open-module driver does not.
    EXPECT_EQ(notes(static_cast<int>(NvidiaDriver::Nvidia470)), "X11 sessions only");
    EXPECT_EQ(notes(static_cast<int>(NvidiaDriver::Nvidia390)), "X11 sessions only");
    // Having 470 installed says so whatever is chosen.
    EXPECT_EQ(nvidia_notes_text(pascal, static_cast<int>(NvidiaDriver::Nvidia580), Lang::De, true,
                                {"nvidia470"}),
              "Nur X11-Sitzungen");
    EXPECT_EQ(notes(static_cast<int>(NvidiaDriver::Nvidia)),
              "The chosen driver does not support this computer's NVIDIA card "
              "(recommended: nvidia580).");
    pascal.secure_boot = true;
    EXPECT_EQ(notes(static_cast<int>(NvidiaDriver::Nvidia580)),
              get_text(Lang::En, "nv_secure_boot"));
    EXPECT_EQ(notes(0, false), get_text(Lang::En, "nv_unavailable"));
    // No NVIDIA card: nothing to warn about.
    EXPECT_EQ(nvidia_notes_text({}, 2, Lang::Fr), "");
}

TEST(Graphics, WithoutMultilibAmdAndIntelInstallTheir64BitPackagesOnly) {
    for (const PackageList& list : {amd_packages(false), intel_packages(false)}) {
        EXPECT_FALSE(list.empty());
        for (std::string_view package : list) {
            EXPECT_EQ(package.find("-32bit"), std::string_view::npos) << package;
            EXPECT_NE(package, "void-repo-multilib");
        }
    }
    EXPECT_EQ(amd_packages(false).size() + 4, amd_packages(true).size());
    EXPECT_EQ(intel_packages(false).size() + 4, intel_packages(true).size());
}

// The processor from /proc/cpuinfo: the first one's vendor, model and
// microcode revision (printed only when not zero); hostile text stays plain.
TEST(Machine, TheProcessorComesFromCpuinfoAsPlainText) {
    const auto intel = processor_from_cpuinfo(
        "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
        "model name\t: Intel(R) Core(TM) i7-8565U CPU @ 1.80GHz\nmicrocode\t: 0xf4\n\n"
        "processor\t: 1\nvendor_id\t: Other\nmicrocode\t: 0x1\n");
    ASSERT_TRUE(intel.has_value());
    EXPECT_EQ(intel->vendor, "GenuineIntel");
    EXPECT_EQ(intel->model, "Intel(R) Core(TM) i7-8565U CPU @ 1.80GHz");
    EXPECT_EQ(intel->microcode, "0xf4");
    const auto odd = processor_from_cpuinfo(
        "vendor_id: AuthenticAMD\nmodel name: <b>\x1b[2J</b>\n"
        "microcode: 0x$(reboot)\n");
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->model.find('\x1b'), std::string::npos);
    EXPECT_EQ(odd->microcode, "");  // not a hex revision
    EXPECT_FALSE(processor_from_cpuinfo("model name: x\n").has_value());
    EXPECT_FALSE(processor_from_cpuinfo("").has_value());
}

// Firmware the kernel missed: the file names of its lines, checked (a name
// that leaves /usr/lib/firmware is dropped), found as it is or compressed,
// and the package that holds each.
TEST(Machine, MissingFirmwareComesFromTheKernelsLinesAndNamesItsPackage) {
    const auto files = missing_firmware_from_log(
        "[    3.1] iwlwifi 0000:00:14.3: Direct firmware load for iwlwifi-cc-a0-77.ucode failed "
        "with error -2\n"
        "[    3.2] iwlwifi 0000:00:14.3: Direct firmware load for iwlwifi-cc-a0-77.ucode failed "
        "with error -2\n"
        "[    3.3] x: Direct firmware load for ../../etc/shadow failed with error -2\n"
        "[    3.4] x: Direct firmware load for /etc/shadow failed with error -2\n"
        "[    3.5] x: Direct firmware load for a b failed with error -2\n"
        "[    3.6] x: Direct firmware load for i915/tgl_dmc.bin failed with error -12\n"
        "[    3.7] sof: Direct firmware load for intel/sof/sof-tgl.ri failed with error -2\n");
    EXPECT_EQ(files, (std::vector<std::string>{"iwlwifi-cc-a0-77.ucode", "intel/sof/sof-tgl.ri"}));
    for (const char* bad : {"", "a//b", "./a", "a/..", "a\\b", "a;b", "-", "/a"})
        EXPECT_EQ(firmware_name_allowed(bad), std::string_view(bad) == "-") << bad;

    test::TempDir tmp;
    test::write_file(tmp.path() / "usr/lib/firmware/iwlwifi-cc-a0-77.ucode.zst", "x");
    test::write_file(tmp.path() / "usr/lib/firmware/i915/tgl_dmc.bin", "x");
    EXPECT_TRUE(firmware_present(tmp.path(), "iwlwifi-cc-a0-77.ucode"));
    EXPECT_TRUE(firmware_present(tmp.path(), "i915/tgl_dmc.bin"));
    EXPECT_FALSE(firmware_present(tmp.path(), "intel/sof/sof-tgl.ri"));
    EXPECT_FALSE(firmware_present(tmp.path(), "../../../etc/passwd"));

    const struct {
        const char* file;
        const char* package;
    } packages[] = {
        {"iwlwifi-cc-a0-77.ucode", "linux-firmware-network"},
        {"intel/ibt-19-0-4.sfi", "linux-firmware-network"},
        {"intel/sof/sof-tgl.ri", "sof-firmware"},
        {"amdgpu/renoir_dmcub.bin", "linux-firmware-amd"},
        {"radeon/R600_rlc.bin", "linux-firmware-amd"},
        {"brcm/brcmfmac43602-pcie.bin", "linux-firmware-broadcom"},
        {"i915/tgl_dmc.bin", "linux-firmware-intel"},
        {"nvidia/tu104/gsp.bin", "linux-firmware-nvidia"},
        {"qcom/a630_sqe.fw", "linux-firmware-qualcomm"},
        {"rtw88/rtw8822c_fw.bin", "linux-firmware-network"},
        {"ath10k/QCA6174/hw3.0/board.bin", "linux-firmware-network"},
        {"mediatek/mt7961_patch_mcu_1_2_hdr.bin", "linux-firmware-network"},
        {"regulatory.db", "linux-firmware"},
    };
    for (const auto& p : packages) EXPECT_EQ(firmware_package(p.file), p.package) << p.file;
}

// A made-up Intel laptop below a root: a BCM4360 that nothing drives, an
// Intel card iwlwifi drives, a USB adapter, hci0 blocked by software, a SOF
// sound device without its firmware. Hostile names are skipped, never read
// as paths.
TEST(Machine, WifiBluetoothAndSoundComeFromSysfsBelowTheRoot) {
    test::TempDir tmp;
    const auto root = tmp.path();
    test::write_pci_device(root, "0000:03:00.0", "0x028000", "0x14e4", "0x43a0");
    test::write_pci_device(root, "0000:00:14.3", "0x028000", "0x8086", "0xa0f0", "iwlwifi");
    test::write_pci_device(root, "0000:00:1f.3", "0x040380", "0x8086", "0xa0c8",
                           "sof-audio-pci-intel-tgl");
    test::write_pci_device(root, "0000:00:02.0", "0x030000", "0x8086", "0x9a49", "i915");
    // A USB adapter: its interface has a phy80211 and a device on the USB bus.
    test::write_file(root / "sys/devices/pci0000:00/usb1/1-2/1-2:1.0/x", "");
    std::filesystem::create_directories(root / "sys/bus/usb/drivers/rtl8821cu");
    std::filesystem::create_symlink(root / "sys/bus/usb/drivers/rtl8821cu",
                                    root / "sys/devices/pci0000:00/usb1/1-2/1-2:1.0/driver");
    std::filesystem::create_directories(root / "sys/class/net/wlan1/phy80211");
    std::filesystem::create_symlink(root / "sys/devices/pci0000:00/usb1/1-2/1-2:1.0",
                                    root / "sys/class/net/wlan1/device");
    std::filesystem::create_directories(root / "sys/class/net/eth0");
    for (const auto& [name, value] :
         {std::pair{"name", "hci0"}, {"type", "bluetooth"}, {"soft", "1"}, {"hard", "0"}})
        test::write_file(root / "sys/class/rfkill/rfkill0" / name, std::string(value) + "\n");
    test::write_file(root / "sys/class/rfkill/rfkill1/type", "wlan\n");
    test::write_file(root / "sys/class/rfkill/rfkill1/hard", "1\n");
    test::write_file(root / "sys/class/rfkill/rfkill../type", "wlan\n");
    std::filesystem::create_directories(root / "sys/class/bluetooth/hci0/rfkill0");
    std::filesystem::create_directories(root / "sys/class/bluetooth/hci0:256");
    std::filesystem::create_directories(root / "usr/lib/firmware/intel");

    const auto wireless = read_wireless(root);
    ASSERT_EQ(wireless.size(), 3u);
    EXPECT_EQ(wireless[0].pci.slot, "0000:00:14.3");
    EXPECT_EQ(wireless[0].pci.driver, "iwlwifi");
    EXPECT_EQ(wireless[1].pci.driver, "");  // the BCM4360: nothing drives it
    EXPECT_TRUE(wl_serves(wireless[1].pci.vendor, wireless[1].pci.device));
    EXPECT_FALSE(wl_serves(0x8086, 0xa0f0));
    EXPECT_TRUE(wireless[2].usb);
    EXPECT_EQ(wireless[2].interface, "wlan1");
    EXPECT_EQ(wireless[2].pci.driver, "rtl8821cu");

    const auto radios = read_radio_switches(root);
    ASSERT_EQ(radios.size(), 2u);
    EXPECT_TRUE(radios[0].soft);
    EXPECT_FALSE(radios[0].hard);
    EXPECT_TRUE(radios[1].hard);
    const auto bluetooth = read_bluetooth(root);
    ASSERT_EQ(bluetooth.size(), 1u);  // hci0:256 is a connection
    ASSERT_TRUE(bluetooth[0].radio.has_value());
    EXPECT_EQ(bluetooth[0].radio->index, "0");
    EXPECT_TRUE(bluetooth[0].radio->soft);

    const auto sound = read_sound_cards(root);
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_TRUE(is_sof_driver(sound[0].driver));
    EXPECT_FALSE(sof_firmware_present(root));
    test::write_file(root / "usr/lib/firmware/intel/sof/sof-tgl.ri.zst", "x");
    EXPECT_TRUE(sof_firmware_present(root));
}

// What each row of This Computer offers, from the machine and what is
// installed: one action per row, none that installs without xbps, and the
// Bluetooth set-up before the group, the group before the next login.
TEST(Machine, EachDeviceOffersTheOneStepItNeedsNext) {
    test::TempDir tmp;
    const auto root = tmp.path();
    test::write_intel_laptop(root);
    using Installed = std::optional<std::vector<std::string>>;
    const auto kinds = [](const std::vector<MachineRow>& rows) {
        std::vector<std::tuple<DeviceState, MachineAction, std::string>> out;
        for (const MachineRow& r : rows) out.emplace_back(r.state, r.action, r.argument);
        return out;
    };
    using S = DeviceState;
    using A = MachineAction;
    using Rows = std::vector<std::tuple<DeviceState, MachineAction, std::string>>;

    MachineSurvey s =
        survey_machine(root, Installed({"xbps", "linux6.18", "pipewire"}), "anna", {});
    ASSERT_EQ(s.processor.size(), 1u);
    EXPECT_EQ(s.processor[0].name, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz");
    EXPECT_EQ(s.processor[0].detail, "0xf4");
    EXPECT_EQ(kinds(s.processor),
              (Rows{{S::MicrocodeMissing, A::InstallMicrocode, "intel-ucode"}}));
    EXPECT_EQ(kinds(s.wifi),
              (Rows{{S::FirmwareMissing, A::InstallPackage, "linux-firmware-network"},
                    {S::WlMissing, A::InstallWl, ""}}));
    EXPECT_EQ(s.wifi[1].ids, "14e4:43a0");
    EXPECT_EQ(s.wifi[1].name,
              "Broadcom Inc. and subsidiaries BCM4360 802.11ac Dual Band "
              "Wireless Network Adapter");
    EXPECT_EQ(kinds(s.bluetooth),
              (Rows{{S::RadioBlocked, A::Unblock, "0"},
                    {S::BluetoothNotSetUp, A::SetUpBluetooth, "libspa-bluetooth"}}));
    EXPECT_EQ(kinds(s.sound), (Rows{{S::SofFirmwareMissing, A::InstallPackage, "sof-firmware"}}));

    // Without xbps nothing installs; lifting a block still works.
    s = survey_machine(root, std::nullopt, "anna", {});
    EXPECT_EQ(kinds(s.processor), (Rows{{S::MicrocodeInstalled, A::None, ""}}));
    EXPECT_EQ(kinds(s.wifi), (Rows{{S::Driven, A::None, ""}, {S::NoDriver, A::None, ""}}));
    EXPECT_EQ(kinds(s.bluetooth), (Rows{{S::RadioBlocked, A::Unblock, "0"}}));
    EXPECT_EQ(kinds(s.sound), (Rows{{S::Driven, A::None, ""}}));

    // Bluetooth set up (no PipeWire): the group, then the next login, then nothing.
    for (const char* service : {"dbus", "bluetoothd"}) {
        std::filesystem::create_directories(root / "var/service");
        std::filesystem::create_symlink(std::string("/etc/sv/") + service,
                                        root / "var/service" / service);
    }
    // bluez without the dbus daemon's package is not set up: bluetoothd would wait for it.
    EXPECT_EQ(
        kinds(survey_machine(root, Installed({"xbps", "bluez"}), "anna", {}).bluetooth),
        (Rows{{S::RadioBlocked, A::Unblock, "0"}, {S::BluetoothNotSetUp, A::SetUpBluetooth, ""}}));
    const Installed bluez({"xbps", "bluez", "dbus", "linux-firmware-network", "intel-ucode"});
    test::write_file(root / "etc/group", "wheel:x:10:anna\nbluetooth:x:986:\n");
    EXPECT_EQ(kinds(survey_machine(root, bluez, "anna", {}).bluetooth),
              (Rows{{S::RadioBlocked, A::Unblock, "0"},
                    {S::BluetoothNotInGroup, A::JoinBluetoothGroup, ""}}));
    test::write_file(root / "etc/group", "bluetooth:x:986:bob,anna\n");
    EXPECT_EQ(kinds(survey_machine(root, bluez, "anna", {}).bluetooth),
              (Rows{{S::RadioBlocked, A::Unblock, "0"}, {S::BluetoothLogInAgain, A::None, ""}}));
    EXPECT_EQ(survey_machine(root, bluez, "anna", {986}).bluetooth.size(), 1u);
    // "ann" is not "anna"; a malformed line names nobody.
    test::write_file(root / "etc/group", "bluetooth:x:9x6:anna\nbluetooth:x:986:ann\n");
    EXPECT_EQ(kinds(survey_machine(root, bluez, "anna", {}).bluetooth),
              (Rows{{S::RadioBlocked, A::Unblock, "0"},
                    {S::BluetoothNotInGroup, A::JoinBluetoothGroup, ""}}));
    // A switch or a key: nothing to click. The Wi-Fi firmware there now.
    test::write_file(root / "sys/class/rfkill/rfkill0/hard", "1\n");
    s = survey_machine(root, bluez, "anna", {986});
    EXPECT_EQ(kinds(s.bluetooth), (Rows{{S::RadioSwitchedOff, A::None, ""}}));
    EXPECT_EQ(kinds(s.wifi), (Rows{{S::Driven, A::None, ""}, {S::WlMissing, A::InstallWl, ""}}));
    EXPECT_EQ(kinds(s.processor), (Rows{{S::MicrocodeInstalled, A::None, ""}}));

    // The Broadcom driver installed: not in use until a restart, then in
    // use; either way its way back is offered. brcmfmac's firmware package.
    const Installed wl({"xbps", "broadcom-wl-dkms"});
    const auto broadcom = [&] {  // the BCM4360's row, the second of two
        const Rows rows = kinds(survey_machine(root, wl, "anna", {}).wifi);
        return rows.size() == 2 ? rows[1] : Rows::value_type{};
    };
    EXPECT_EQ(broadcom(), std::make_tuple(S::WlAfterRestart, A::RemoveWl, std::string()));
    test::write_pci_device(root, "0000:03:00.0", "0x028000", "0x14e4", "0x43a0", "wl");
    EXPECT_EQ(broadcom(), std::make_tuple(S::Driven, A::RemoveWl, std::string()));
    test::write_pci_device(root, "0000:03:00.0", "0x028000", "0x14e4", "0x43a0", "brcmfmac");
    EXPECT_EQ(broadcom(), std::make_tuple(S::FirmwareMissing, A::InstallPackage,
                                          std::string("linux-firmware-broadcom")));
    for (const auto& [driver, package] : {std::pair{"iwlwifi", "linux-firmware-network"},
                                          {"ath11k_pci", "linux-firmware-network"},
                                          {"mt7921e", "linux-firmware-network"},
                                          {"rtw89_8852be", "linux-firmware-network"},
                                          {"brcmfmac", "linux-firmware-broadcom"},
                                          {"b43", ""},
                                          {"wl", ""},
                                          {"ath9k", ""}})
        EXPECT_EQ(driver_firmware_package(driver), package) << driver;

    // AMD: its microcode is linux-firmware-amd.
    test::write_file(root / "proc/cpuinfo",
                     "vendor_id\t: AuthenticAMD\nmodel name\t: AMD Ryzen 7 5800U\n");
    EXPECT_EQ(kinds(survey_machine(root, Installed({"xbps"}), "anna", {}).processor),
              (Rows{{S::AmdMicrocodeMissing, A::InstallPackage, "linux-firmware-amd"}}));
    EXPECT_EQ(kinds(survey_machine(root, Installed({"linux-firmware-amd"}), "anna", {}).processor),
              (Rows{{S::MicrocodeInstalled, A::None, ""}}));
    // Only the packages the page names can be installed by name.
    EXPECT_EQ(machine_package("sof-firmware"), "sof-firmware");
    EXPECT_EQ(machine_package("linux-firmware-network"), "linux-firmware-network");
    EXPECT_FALSE(machine_package("sudo").has_value());
    EXPECT_FALSE(machine_package("").has_value());
}

}  // namespace
}  // namespace kelmora
