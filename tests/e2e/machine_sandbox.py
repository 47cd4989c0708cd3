#!/usr/bin/python3
"""e2e-machine: This Computer on a made-up Intel laptop, every privileged step
through kelmora's helper installed as users install it (pkexec is a stand-in
that runs the helper as pkexec does, as root). As root, in a private mount
and network namespace whose every mount is checked first: the laptop is a
sysfs tree on tmpfs (/sys/bus, /sys/class), /proc/cpuinfo and the kernel's
release bound over with the laptop's, an empty firmware folder and module
tree; xbps is the fake xbps tools at /usr/bin (their state below /var/lib),
rfkill and dmesg are stand-ins at /usr/bin that act on the laptop's switch
and print its kernel log (with a line the page must never show). ln and
gpasswd are the real ones, on overlays of /etc and /var. The host is checked
afterwards.

usage: machine_sandbox.py KELMORA_BINARY SOURCE_DIR
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import polkit_sandbox as sandbox  # noqa: E402  (mounts, their checks, ending processes)

BIN = "/tmp/stand-ins"
HOME = "/tmp/home"
LAPTOP = "/tmp/laptop"  # the files bound over /proc's
XBPS_STATE = "/var/lib/kelmora-e2e-machine"
SECRET = "kelmora-e2e-secret-line"
MOUNTS = [
    ("/tmp", "tmpfs", "tmpfs"),
    ("/run", "tmpfs", "tmpfs"),
    ("/etc", "overlay", "overlay"),
    ("/var", "overlay", "overlay"),
    ("/usr", "overlay", "overlay"),
    ("/etc/sv", "tmpfs", "tmpfs"),
    ("/var/service", "tmpfs", "tmpfs"),
    ("/usr/lib/modules", "tmpfs", "tmpfs"),
    ("/usr/lib/firmware", "tmpfs", "tmpfs"),
    ("/sys/bus", "tmpfs", "tmpfs"),
    ("/sys/class", "tmpfs", "tmpfs"),
]
BINDS = [("/proc/cpuinfo", LAPTOP + "/cpuinfo"),
         ("/proc/sys/kernel/osrelease", LAPTOP + "/osrelease")]
WATCHED = ["/etc/group", "/etc/gshadow", "/usr/bin/rfkill", "/usr/bin/dmesg",
           "/usr/bin/xbps-install", "/usr/share/xbps.d", "/usr/local/libexec",
           "/usr/local/share/polkit-1", "/var/service", "/var/lib/kelmora-e2e-machine"]

KERNEL_LOG = ("[    0.000000] Linux version 6.18.2_1 (voidlinux@voidlinux)\n"
              "[    1.000000] " + SECRET + "\n"
              "[    3.104611] iwlwifi 0000:00:14.3: Direct firmware load for "
              "iwlwifi-cc-a0-77.ucode failed with error -2\n")
# util-linux's rfkill, for the one use the helper makes of it: "unblock ID"
# lifts the software block of /sys/class/rfkill/rfkillID.
RFKILL = """#!/bin/sh
[ "$1" = unblock ] || { echo "rfkill: unknown command: $1" >&2; exit 1; }
[ -f /sys/class/rfkill/rfkill$2/soft ] && echo 0 > /sys/class/rfkill/rfkill$2/soft
exit 0
"""


def why_not_here():
    return sandbox.cannot_run(
        ("gpasswd",),
        "mount -t tmpfs tmpfs /tmp && mkdir /tmp/u /tmp/w && "
        "mount -t overlay overlay -o lowerdir=/etc,upperdir=/tmp/u,workdir=/tmp/w /etc && "
        "mount -t tmpfs tmpfs /sys/class && : > /tmp/c && mount --bind /tmp/c /proc/cpuinfo",
        "tmpfs, overlay and bind mounts")


def host_state():
    return sandbox.paths_state(WATCHED)


def host_main(kelmora, source):
    return sandbox.run_on_host("machine", why_not_here(), host_state, ["--mount", "--net"],
                               __file__, kelmora, source)


def write(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def pci(slot, cls, vendor, device, driver=None):
    d = "/sys/bus/pci/devices/" + slot
    for name, value in (("class", cls), ("vendor", vendor), ("device", device)):
        write(d + "/" + name, value + "\n")
    if driver:
        os.makedirs("/sys/bus/pci/drivers/" + driver, exist_ok=True)
        os.symlink("../../../../sys/bus/pci/drivers/" + driver, d + "/driver")


def make_laptop():
    """The laptop: an i7 with microcode 0xf4, a BCM4360 that nothing drives,
    hci0 blocked by software, a SOF sound device, kernel 6.18 installed and
    running; its /proc files bound over the real ones, which is checked."""
    write(LAPTOP + "/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\n"
          "model name\t: 11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz\nmicrocode\t: 0xf4\n")
    write(LAPTOP + "/osrelease", "6.18.2_1\n")
    problems = []
    for point, source in BINDS:
        sandbox.run("mount", "--bind", source, point)
        with open(point) as f, open(source) as g:
            if f.read() != g.read():
                problems.append(point + " does not show the laptop's")
    with open("/proc/self/mountinfo") as f:
        for line in f:
            fields = line.split()
            if fields[4] in dict(BINDS) and any(o.startswith("shared:") for o in
                                                fields[6:fields.index("-")]):
                problems.append(fields[4] + " propagates to other namespaces")
    pci("0000:00:02.0", "0x030000", "0x8086", "0x9a49", "i915")
    pci("0000:00:1f.3", "0x040380", "0x8086", "0xa0c8", "sof-audio-pci-intel-tgl")
    pci("0000:03:00.0", "0x028000", "0x14e4", "0x43a0")
    for name, value in (("name", "hci0"), ("type", "bluetooth"), ("soft", "1"), ("hard", "0")):
        write("/sys/class/rfkill/rfkill0/" + name, value + "\n")
    os.makedirs("/sys/class/bluetooth/hci0/rfkill0")
    os.makedirs("/usr/lib/modules/6.18.2_1/kernel")
    write("/usr/bin/rfkill", RFKILL, 0o755)
    write("/usr/bin/dmesg", "#!/bin/sh\nprintf '%s'\n" % KERNEL_LOG.replace("%", "%%"), 0o755)
    # xbps: the fake tools at their real paths, their state at a fixed path.
    os.makedirs(XBPS_STATE)
    os.symlink("/", XBPS_STATE + "/xbps-root")
    write(XBPS_STATE + "/xbps-installed", "xbps\nlinux6.18 6.18.2_1\n")
    for tool in ("xbps-install", "xbps-query", "xbps-reconfigure", "xbps-remove"):
        write("/usr/bin/" + tool, "#!/bin/sh\nKELMORA_FAKE_DIR=%s exec '%s/tests/fakes/%s' \"$@\"\n"
              % (XBPS_STATE, sandbox.PAYLOAD, tool), 0o755)
    for f in os.listdir("/usr/share/xbps.d") if os.path.isdir("/usr/share/xbps.d") else []:
        os.remove("/usr/share/xbps.d/" + f)  # nonfree is not enabled yet
    # No user is in the group yet.
    for group_file in ("/etc/group", "/etc/gshadow"):
        if os.path.exists(group_file):
            with open(group_file) as f:
                kept = [line for line in f if not line.startswith("bluetooth:")]
            with open(group_file, "w") as f:
                f.writelines(kept)
    return problems


def drive(kelmora, checks):
    from session import start_session
    start_session()
    import pyatspi
    from atspi_test import FAILURE, SUCCESS, click, find, text_of, wait_for
    os.makedirs(HOME)
    env = dict(os.environ, PATH=BIN + ":/usr/sbin:/usr/bin:/sbin:/bin", HOME=HOME,
               LANG="C.UTF-8")
    app_proc = None
    try:
        app_proc, frame, labels, button = sandbox.open_window(kelmora, env)
        log_button = find(frame, name="Installations-Log", role=pyatspi.ROLE_PUSH_BUTTON)
        if log_button is not None:
            click(log_button)
        log = wait_for(lambda: find(frame, name="Installations-Log", role=pyatspi.ROLE_TEXT),
                       "the log")
        calls_before = [0]

        def run(name, then, what):
            """Clicks, waits for the task's end and for `then` on the page;
            returns the helper requests it made."""
            before = len(text_of(log))
            click(button(name, timeout=30))
            wait_for(lambda: SUCCESS in text_of(log)[before:] or FAILURE in text_of(log)[before:],
                     name + " to end", timeout=120)
            ok = SUCCESS in text_of(log)[before:]
            try:
                wait_for(lambda: then in labels(), then, timeout=30)
            except AssertionError:
                ok = False
            calls = sandbox.pkexec_calls()[calls_before[0]:]
            calls_before[0] += len(calls)
            through = all(c[0] == sandbox.installed_helper for c in calls)
            checks.check(ok and through, "%s: %s (%s)" % (what, then, [c[1:] for c in calls]))
            if not ok:
                print(text_of(log)[before:], flush=True)
            return [c[1:] for c in calls]

        click(find(frame, name="This Computer", role=pyatspi.ROLE_PAGE_TAB))
        wait_for(lambda: "Microcode updates are not installed (intel-ucode)." in labels(),
                 "the processor's row", timeout=40)
        checks.check("11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz" in labels() and
                     "Microcode revision 0xf4" in labels() and "14e4:43a0" in labels(),
                     "page: the processor with 0xf4 and the BCM4360 by its IDs")

        calls = run("Install intel-ucode", "Restart to load the update", "microcode")
        checks.check(calls == [["xbps-install", "-Syf", "void-repo-nonfree"],
                               ["xbps-install", "-Su", "-y", "intel-ucode"],
                               ["xbps-reconfigure", "-f", "linux6.18"]],
                     "microcode: nonfree, intel-ucode, then linux6.18's initramfs")
        calls = run("Install broadcom-wl-dkms", "broadcom-wl-dkms is installed; restart to use it.",
                    "Broadcom")
        checks.check(calls == [["xbps-install", "-Su", "-y", "broadcom-wl-dkms",
                                "linux6.18-headers"]] and
                     os.path.exists("/usr/lib/modules/6.18.2_1/kernel/drivers/net/wireless/wl.ko"),
                     "Broadcom: with linux6.18-headers, and wl.ko was built for 6.18.2_1")
        calls = run("Unblock", "On.", "radio")
        checks.check(calls == [["rfkill", "unblock", "0"]] and
                     open("/sys/class/rfkill/rfkill0/soft").read().strip() == "0",
                     "radio: rfkill unblock 0 lifted the block")
        calls = run("Set Up Bluetooth", "You are not in the group bluetooth.", "Bluetooth")
        checks.check(calls[0] == ["xbps-install", "-Su", "-y", "bluez", "dbus"] and
                     calls[-2:] == [["ln", "-sf", "/etc/sv/dbus", "/var/service/"],
                                    ["ln", "-sf", "/etc/sv/bluetoothd", "/var/service/"]] and
                     os.readlink("/var/service/bluetoothd") == "/etc/sv/bluetoothd" and
                     os.readlink("/var/service/dbus") == "/etc/sv/dbus",
                     "Bluetooth: bluez and the dbus daemon, then dbus and bluetoothd linked")
        calls = run("Add Me to the Group", "Log out and in again to use the group bluetooth.",
                    "group")
        with open("/etc/group") as f:
            line = [entry for entry in f if entry.startswith("bluetooth:")]
        checks.check(calls == [["gpasswd", "-a", "root", "bluetooth"]] and
                     line and line[0].rstrip().split(":")[3] == "root",
                     "group: the real gpasswd put root in bluetooth (%s)" % line)
        run("Install sof-firmware", "Driver: sof-audio-pci-intel-tgl", "sound")
        calls = run("Look for Missing Firmware", "iwlwifi-cc-a0-77.ucode", "firmware")
        checks.check(calls == [["firmware-log"]] and SECRET not in text_of(log) and
                     SECRET not in labels() and "In package linux-firmware-network" in labels(),
                     "firmware: the helper's firmware-log, the file with its package, and "
                     "nothing else of the kernel log")
        run("Install linux-firmware-network", "The kernel found all the firmware it asked for.",
            "firmware package")
    except (Exception, SystemExit) as e:
        checks.check(False, "%s: %s" % (type(e).__name__, e))
    return app_proc


def inside_main(host_ns, kelmora, source):
    return sandbox.run_suite(host_ns, kelmora, source, MOUNTS, BIN, drive, prepare=make_laptop)


if __name__ == "__main__":
    sandbox.entry(__doc__, host_main, inside_main)
