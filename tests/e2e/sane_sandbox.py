#!/usr/bin/python3
"""e2e-sane: the scanner page against the real SANE and sane-airscan, talking
to a small eSCL scanner (escl_responder.py) on 127.0.0.1. As root, in a
private mount and network namespace whose every mount is checked first:
sane-airscan gets a configuration of its own through SANE_CONFIG_DIR (with
/etc/sane.d, an overlay here, after it). The row appears, Test Scan shows the
picture, a scanner that stopped answering says so, and Add Scanner by
Address asks the scanner through sane-airscan and then writes its file into
/etc/sane.d/airscan.d through kelmora's helper, installed as users install
it (pkexec is a stand-in that runs the helper as pkexec does, as root). The
host is checked afterwards.

usage: sane_sandbox.py KELMORA_BINARY SOURCE_DIR
"""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import polkit_sandbox as sandbox  # noqa: E402  (mounts, their checks, ending processes)

PORT, ADDRESS_PORT = 18631, 18641
CONF = "/tmp/sane-conf"  # SANE_CONFIG_DIR, with /etc/sane.d after it
BIN = "/tmp/stand-ins"
HOME = "/tmp/home"
NAME = "Kelmora eSCL"
ADDED = "Scanner at 127.0.0.1:%d" % ADDRESS_PORT
MOUNTS = [
    ("/tmp", "tmpfs", "tmpfs"),
    ("/run", "tmpfs", "tmpfs"),
    ("/etc/sane.d", "overlay", "overlay"),
]
WATCHED = ["/etc/sane.d", "/usr/local/libexec", "/usr/local/share/polkit-1"]


def why_not_here():
    if os.geteuid() != 0:
        return "not root"
    for tool in ("unshare", "mount", "scanimage", "dbus-daemon", "Xvfb"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    if not glob.glob("/usr/lib/*/sane/libsane-airscan.so*") + glob.glob("/usr/lib/sane/libsane-airscan.so*"):
        return "sane-airscan is not installed"
    if not os.path.isdir("/etc/sane.d"):
        return "/etc/sane.d is missing"
    if subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"],
                      capture_output=True).returncode != 0:
        return "python3 module pyatspi is missing"
    probe = ("mount -t tmpfs tmpfs /tmp && mkdir /tmp/u /tmp/w && mount -t overlay overlay "
             "-o lowerdir=/etc/sane.d,upperdir=/tmp/u,workdir=/tmp/w /etc/sane.d")
    if subprocess.run(["unshare", "--mount", "--net", "--propagation", "private", "sh", "-c",
                       probe], capture_output=True).returncode != 0:
        return "this root may not mount tmpfs and overlay file systems in a private namespace"
    return None


def host_state():
    state = {}
    for top in WATCHED:
        for path, _, files in os.walk(top):
            for name in files:
                full = os.path.join(path, name)
                with open(full, "rb") as f:
                    state[full] = hashlib.sha256(f.read()).hexdigest()
    return state


def host_main(kelmora, source):
    return sandbox.run_on_host("real-SANE", why_not_here(), host_state, ["--mount", "--net"],
                               __file__, kelmora, source)


def configure(devices):
    os.makedirs(CONF, exist_ok=True)
    with open(CONF + "/dll.conf", "w") as f:
        f.write("airscan\n")
    with open(CONF + "/airscan.conf", "w") as f:
        f.write("[options]\ndiscovery = disable\n[devices]\n" +
                "".join('"%s" = http://127.0.0.1:%d/eSCL, eSCL\n' % d for d in devices))


def drive(kelmora, checks):
    from session import start_session
    start_session()
    import pyatspi
    from atspi_test import SUCCESS, click, find, text_of, wait_for
    import escl_responder
    scanner = escl_responder.serve(PORT, seconds=200)
    escl_responder.serve(ADDRESS_PORT, seconds=200)
    configure([(NAME, PORT)])
    # The helper makes the directory: it must be there for every user to read
    # whatever the umask of the user who asked.
    shutil.rmtree("/etc/sane.d/airscan.d", ignore_errors=True)
    os.makedirs(HOME)
    env = dict(os.environ, PATH=BIN + ":/usr/sbin:/usr/bin:/sbin:/bin", HOME=HOME,
               LANG="C.UTF-8", SANE_CONFIG_DIR=CONF + ":")
    app_proc = None
    try:
        app_proc, frame, labels, button = sandbox.open_window(kelmora, env, umask=0o077)
        tab = find(frame, name="Scanner", role=pyatspi.ROLE_PAGE_TAB)
        click(tab)
        wait_for(lambda: NAME in labels(), "the scanner's row", timeout=40)
        checks.check("Scanners found: 1" in labels() and "127.0.0.1" in labels(),
                     "list: one row, with its address (%s)" % [n for n in labels() if n][:12])

        click(button("Test Scan"))
        picture = wait_for(lambda: pyatspi.findDescendant(
            frame, lambda a: a.getRole() == pyatspi.ROLE_IMAGE and
            a.name == "Test scan of " + NAME), "the test scan's picture", timeout=60)
        checks.check(picture is not None, "test scan: the picture shows in the row")

        scanner.shutdown()
        scanner.server_close()
        time.sleep(31)  # the listing is old now: it is made again first
        click(button("Test Scan"))
        said = "The scanner did not answer: is it switched on and connected?"
        try:
            wait_for(lambda: said in labels(), "the line that it did not answer", timeout=90)
            checks.check(True, "no answer: the row says so")
        except AssertionError as e:
            checks.check(False, "no answer: %s (%s)" % (e, [n for n in labels() if n][:20]))

        # Nothing on the network: Add Scanner by Address asks it, then writes its file.
        configure([])
        click(button("Search Again"))
        entry = wait_for(lambda: find(frame, name="Scanner address"), "the address field",
                         timeout=40)
        log = wait_for(lambda: find(frame, name="Installations-Log", role=pyatspi.ROLE_TEXT)
                       if find(frame, name="Installations-Log", role=pyatspi.ROLE_TEXT) else
                       click(find(frame, name="Installations-Log",
                                  role=pyatspi.ROLE_PUSH_BUTTON)), "the log")
        before = len(text_of(log))
        entry.queryEditableText().setTextContents("127.0.0.1:%d" % ADDRESS_PORT)
        click(button("Add Scanner by Address"))
        wait_for(lambda: SUCCESS in text_of(log)[before:], "the end of adding", timeout=90)
        written = glob.glob("/etc/sane.d/airscan.d/kelmora-*.conf")
        checks.check(len(written) == 1 and
                     open(written[0]).read().endswith(
                         '"%s" = http://127.0.0.1:%d/eSCL, eSCL\n' % (ADDED, ADDRESS_PORT)),
                     "by address: one file in /etc/sane.d/airscan.d names it (%s)" % written)
        modes = [oct(os.stat(p).st_mode & 0o777) for p in ["/etc/sane.d/airscan.d"] + written]
        checks.check(modes == ["0o755", "0o644"],
                     "by address: with the user's umask 077 the helper's directory is 0755 and "
                     "its file 0644 (%s)" % modes)
        calls = sandbox.pkexec_calls()
        checks.check([c[1:2] for c in calls] == [["airscan-device"]] and
                     calls[0][0] == sandbox.installed_helper,
                     "by address: the installed helper wrote it (%s)" % calls)
        try:
            wait_for(lambda: ADDED in labels(), "the added scanner's row", timeout=60)
            checks.check(True, "by address: the scanner is listed afterwards")
        except AssertionError as e:
            checks.check(False, "by address: %s" % e)
    except (Exception, SystemExit) as e:
        checks.check(False, "%s: %s" % (type(e).__name__, e))
    return app_proc


def inside_main(host_ns, kelmora, source):
    return sandbox.run_suite(host_ns, kelmora, source, MOUNTS, BIN, drive)


if __name__ == "__main__":
    sandbox.entry(__doc__, host_main, inside_main)
