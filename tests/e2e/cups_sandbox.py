#!/usr/bin/python3
"""e2e-cups: from a found printer, or one on a USB cable, to a working print
queue, against the real CUPS. As root, in a private mount and network namespace whose every mount is
checked first: the real cupsd (its configuration on a throw-away overlay, its
spool, cache, logs and sockets on tmpfs), a real IPP Everywhere printer
(ippeveprinter on 127.0.0.1) and kelmora, whose "Add" button runs the real
lpadmin. The network search is played by stand-ins that report the printer as
driverless and avahi-browse would (avahi-browse with a forged record, which
must make no row); pkexec is a stand-in that runs CUPS's administration tools
only (the real pkexec is e2e-polkit's subject). The USB printer is CUPS's usb
backend played by a stand-in (the backend protocol: devices listed without
arguments, a job taken with them, "ATTR:" lines for the supplies, exit 1 to
stop the queue as Void's ErrorPolicy stop-printer does) and a sysfs tree with
the same serial number. The host is checked afterwards.

usage: cups_sandbox.py KELMORA_BINARY SOURCE_DIR
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import polkit_sandbox as sandbox  # noqa: E402  (mounts, their checks, ending processes)

PORT, GONE_PORT, HOSTILE_PORT, ADDRESS_PORT = 8631, 8999, 8633, 8641
IPP_USB_PORT = 60000  # where ipp-usb (played by a printer run as root) serves
XBPS_STATE = "/var/lib/kelmora-e2e-cups"  # the fake xbps tools' state
ADDRESS_PRINTER = "Kelmora Address Printer"  # not on the search's list: added by its address
ADDRESS_QUEUE = "Kelmora_Address_Printer"
TEST_PAGE = "/usr/share/cups/data/testprint"  # cups-filters ships it
SPOOL = "/tmp/ipp-spool"  # where ippeveprinter keeps the jobs it receives
BIN = "/tmp/stand-ins"
HOME = "/tmp/home"
QUEUE = "localhost"  # the rows are driverless's, named by host for a direct URI
RAW_QUEUE = "localhost_2"  # the user's own queue, with the name the next Add would take
URI = "ipp://localhost:%d/ipp/print" % PORT

MOUNTS = [  # mount point, file system type, made how
    ("/tmp", "tmpfs", "tmpfs"),
    ("/run", "tmpfs", "tmpfs"),
    ("/etc", "overlay", "overlay"),
    ("/var", "overlay", "overlay"),
    ("/usr", "overlay", "overlay"),  # the usb backend, the helper, xbps
    ("/etc/sv", "tmpfs", "tmpfs"),
    ("/var/service", "tmpfs", "tmpfs"),
    ("/var/spool/cups", "tmpfs", "tmpfs"),
    ("/var/cache/cups", "tmpfs", "tmpfs"),
    ("/var/log/cups", "tmpfs", "tmpfs"),
    ("/sys/bus", "tmpfs", "tmpfs"),
]
# What the sandbox writes; none of it may reach the host.
WATCHED = ["/etc/cups/printers.conf", "/etc/cups/ppd", "/var/spool/cups", "/var/log/cups",
           "/run/cups", "/var/cache/cups", "/usr/lib/cups/backend", "/usr/local/libexec",
           "/usr/local/share/polkit-1", "/usr/libexec/kelmora-helper", "/etc/sv", "/var/service",
           "/usr/bin/xbps-install", "/usr/bin/xbps-query", "/var/lib/kelmora-e2e-cups"]
# The path users install: kelmora's helper and its policy where the build looks
# for them, pkexec running the helper as root. One run goes without them: the
# fallback through pkexec and CUPS's own tools.
WITH_HELPER = os.environ.get("KELMORA_E2E_WITHOUT_HELPER") != "1"

STAND_INS = {
    "pkexec": """#!/bin/sh
# Runs CUPS's administration tools, the only privileged programs this suite
# needs, as we are root.
[ "$1" = --disable-internal-agent ] && shift  # pkexec's own option: no text agent
case "$1" in
lpadmin|lpinfo|cupsenable|cupsaccept|cancel) exec "$@" ;;
esac
echo "e2e-cups pkexec: only CUPS's administration tools" >&2
exit 127
""",
    "driverless": """#!/bin/sh
# ipp-usb announces its printer once runit runs it.
[ -e /var/service/ipp-usb ] && echo "ipp://localhost:%d/ipp/print"
echo "ipp://localhost:%d/ipp/print"
echo "ipp://localhost:%d/ipp/print"
echo "ipp://%%E2%%80%%AEEvil%%09Name._ipp._tcp.local/"
""" % (IPP_USB_PORT, PORT, GONE_PORT),
    "avahi-browse": """#!/bin/sh
printf '=  lo IPv4 Kelmora Test Printer        Internet Printer   local\\n'
printf '   hostname = [localhost]\\n   address = [127.0.0.1]\\n   port = [%d]\\n'
printf '   txt = ["rp=ipp/print"]\\n'
printf '=  lo IPv4 \\342\\200\\256Evil\\tName        Internet Printer   local\\n'
printf '   hostname = [localhost]\\n   address = [127.0.0.1]\\n   port = [%d]\\n'
printf '   txt = ["x=\\n=  lo IPv4 Forged  Internet Printer   local\\n   hostname = [127.0.0.1]\\n'
printf '   port = [8080]\\n   txt = [\\"rp=admin/api\\"]"]\\n'
""" % (PORT, HOSTILE_PORT),
    "airscan-discover": "#!/bin/sh\necho '[devices]'\n",
}

# A job ippeveprinter takes: it keeps application/octet-stream only when it can
# type it, and PDF only with a command to print it; a PWG Raster header is typed
# as image/pwg-raster from its first bytes ("RaS2PwgRaster").
PWG_JOB = b"RaS2PwgRaster" + bytes(1787)

USB_SPOOL = "/tmp/usb-spool"  # what the USB stand-in printed
USB_FAIL = "/tmp/usb-fail"  # while it exists, the printer "is not responding"
USB_SERIAL = "KLM001"
USB_ID = "MFG:HP;MDL:HP LaserJet;CMD:PCL;"  # cups' sample.drv has a driver for it
USB_URI = "usb://HP/LaserJet?serial=" + USB_SERIAL
USB_QUEUE = "HP_LaserJet"
# CUPS's usb backend, played (mode 0744: cupsd runs it as root). Devices are
# listed, then a moment's wait: cups-deviced may drop a backend's last lines.
USB_BACKEND = """#!/bin/sh
if [ $# -eq 0 ]; then
    echo 'direct %s "HP LaserJet" "HP LaserJet USB %s" "%s" ""'
    sleep 1
    exit 0
fi
echo "ATTR: marker-colors=#000000 marker-levels=63 marker-names='Black Toner' marker-types=toner" >&2
if [ -e %s ]; then echo "ERROR: The printer is not responding." >&2; exit 1; fi
n=$(ls %s | wc -l)
if [ -n "$6" ]; then cat "$6" > %s/job-$n; else cat > %s/job-$n; fi
exit 0
""" % (USB_URI, USB_SERIAL, USB_ID, USB_FAIL, USB_SPOOL, USB_SPOOL, USB_SPOOL)


IPP_USB_SERIAL = "KLM002"
IPP_USB_QUEUE = "HP_OfficeJet_Pro_9010"


def plug_in_usb_printer(device="1-9", serial=USB_SERIAL, maker="HP", product="HP LaserJet",
                        protocol="02"):
    """A printer on the cable, as sysfs shows it (usblp bound: its device ID;
    protocol 04: IPP over USB, which ipp-usb drives)."""
    devices = "/sys/bus/usb/devices"
    d, i = device, device + ":1.0"
    files = [(d + "/idVendor", "03f0"), (d + "/idProduct", "0517"), (d + "/manufacturer", maker),
             (d + "/product", product), (d + "/serial", serial),
             (i + "/bInterfaceClass", "07"), (i + "/bInterfaceSubClass", "01"),
             (i + "/bInterfaceProtocol", protocol)]
    if protocol != "04":
        files.append((i + "/ieee1284_id", USB_ID))
    for name, text in files:
        os.makedirs(os.path.dirname(os.path.join(devices, name)), exist_ok=True)
        with open(os.path.join(devices, name), "w") as f:
            f.write(text + "\n")


# ---------------------------------------------------------------- host side

def why_not_here():
    return sandbox.cannot_run(
        ("cupsd", "ippeveprinter", "lpadmin", "lpstat", "lp"),
        "mount -t tmpfs tmpfs /tmp && mkdir /tmp/u /tmp/w && "
        "mount -t overlay overlay -o lowerdir=/etc/cups,upperdir=/tmp/u,workdir=/tmp/w /etc/cups",
        "tmpfs and overlay file systems")


def host_state():
    return sandbox.paths_state(WATCHED)


def host_main(kelmora, source):
    return sandbox.run_on_host("real-CUPS", why_not_here(), host_state, ["--mount", "--net"],
                               __file__, kelmora, source)


# ---------------------------------------------------------------- inside

def listening(port):
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def start_services():
    """The system bus (ippeveprinter will not start without one), cupsd and the
    printer; returns cupsd's process and all of them."""
    os.makedirs("/run/dbus")
    os.makedirs("/run/cups", exist_ok=True)
    # Void's cupsd.conf keeps CUPS's own error policy: a failing backend
    # stops the queue and keeps the job.
    with open(CUPSD_CONF) as f:
        conf = f.read()
    with open(CUPSD_CONF, "w") as f:
        f.write("ErrorPolicy stop-printer\n" + conf.replace("ErrorPolicy ", "#ErrorPolicy "))
    with open("/usr/lib/cups/backend/usb", "w") as f:
        f.write(USB_BACKEND)
    os.chmod("/usr/lib/cups/backend/usb", 0o744)
    os.makedirs(USB_SPOOL, mode=0o777)
    procs = [subprocess.Popen(["dbus-daemon", "--system", "--nofork", "--nopidfile"])]
    sandbox.wait_until(lambda: os.path.exists("/run/dbus/system_bus_socket"), "the system bus")
    cupsd = subprocess.Popen([shutil.which("cupsd", path="/usr/sbin:/usr/bin:/sbin"), "-f"])
    procs.append(cupsd)
    os.makedirs(SPOOL)
    os.makedirs(SPOOL + "-address")
    procs.append(subprocess.Popen(
        [shutil.which("ippeveprinter", path="/usr/sbin:/usr/bin"), "-k", "-d", SPOOL,
         "-p", str(PORT), "-r", "off", "Kelmora Test Printer"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    procs.append(subprocess.Popen(
        [shutil.which("ippeveprinter", path="/usr/sbin:/usr/bin"), "-k", "-d", SPOOL + "-address",
         "-p", str(ADDRESS_PORT), "-r", "off", ADDRESS_PRINTER],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    procs.append(subprocess.Popen(
        [shutil.which("ippeveprinter", path="/usr/sbin:/usr/bin"), "-d", SPOOL + "-ipp-usb",
         "-p", str(IPP_USB_PORT), "-r", "off", "Kelmora IPP USB"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    sandbox.wait_until(lambda: listening(PORT), "ippeveprinter on port %d" % PORT)
    sandbox.wait_until(lambda: listening(ADDRESS_PORT), "ippeveprinter on port %d" % ADDRESS_PORT)
    sandbox.wait_until(lambda: subprocess.run(["lpstat", "-r"], capture_output=True,
                                              text=True).stdout.startswith("scheduler is running"),
                       "cupsd")
    return cupsd, procs


def install_xbps(source):
    """The fake xbps tools at their real paths (the helper runs /usr/bin's),
    with their state at a fixed path; ipp-usb's and Avahi's service
    directories, as their packages install them."""
    os.makedirs(XBPS_STATE)
    os.symlink("/", XBPS_STATE + "/xbps-root")
    with open(XBPS_STATE + "/xbps-installed", "w") as f:
        f.write("xbps\ncups\navahi\n")
    for tool in ("xbps-install", "xbps-query"):
        with open("/usr/bin/" + tool, "w") as f:
            f.write("#!/bin/sh\nKELMORA_FAKE_DIR=%s exec '%s/tests/fakes/%s' \"$@\"\n"
                    % (XBPS_STATE, source, tool))
        os.chmod("/usr/bin/" + tool, 0o755)
    for service in ("avahi-daemon", "ipp-usb"):
        os.makedirs("/etc/sv/" + service)


def write_stand_ins():
    os.makedirs(BIN, exist_ok=True)
    for name, text in STAND_INS.items():
        if name == "pkexec" and WITH_HELPER:
            continue  # the one that runs the installed helper
        path = os.path.join(BIN, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)


CUPSD_CONF = "/etc/cups/cupsd.conf"
# A policy that keeps the queue list (CUPS-Get-Printers) from everyone.
FORBID_LISTING = """  <Limit CUPS-Get-Printers>
    AuthType Default
    Require user kelmora-nobody
    Order deny,allow
  </Limit>
"""


def reload_cupsd():
    """cupsd -f reads its configuration again on SIGHUP."""
    subprocess.run(["pkill", "-HUP", "-x", "cupsd"], check=False)
    time.sleep(1)
    sandbox.wait_until(lambda: subprocess.run(["lpstat", "-r"], capture_output=True,
                                              text=True).stdout.startswith("scheduler is running"),
                       "cupsd after a reload")


def lpstat_devices():
    return lpstat("-v")


def lpstat(*options):
    return subprocess.run(["lpstat"] + list(options), capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def spooled(spool):
    return len(os.listdir(spool)) if os.path.isdir(spool) else 0


def drive(kelmora):
    """Opens kelmora and clicks through the printer page; returns the checks."""
    from session import start_session
    session = start_session()
    import pyatspi
    from atspi_test import (FAILURE, SUCCESS, Checks, application, click, find, frames,
                            text_of, wait_for)
    checks = Checks()
    # A user in Britain: the queues kelmora adds print on A4.
    env = dict(os.environ, PATH=BIN + ":/usr/sbin:/usr/bin:/sbin:/bin", HOME=HOME,
               LANG="en_GB.UTF-8")
    os.makedirs(HOME)
    app_proc = subprocess.Popen([kelmora], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, start_new_session=True)
    try:
        app = wait_for(lambda: application(app_proc.pid), "kelmora on the accessibility bus")
        frame = wait_for(lambda: next(iter(frames(app)), None), "the main window")
        click(find(frame, name="Installations-Log", role=pyatspi.ROLE_PUSH_BUTTON))
        log = wait_for(lambda: find(frame, name="Installations-Log", role=pyatspi.ROLE_TEXT),
                       "the log view")
        tab = find(frame, name="Printer", role=pyatspi.ROLE_PAGE_TAB)
        click(tab)
        wait_for(lambda: tab.getState().contains(pyatspi.STATE_SELECTED), "the printer page")
        time.sleep(0.5)  # the page slides in

        def labels():
            found = []
            pyatspi.findAllDescendants(frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and
                                       found.append(a.name))
            return found

        def add_buttons():
            found = []
            pyatspi.findAllDescendants(frame, lambda a: a.getRole() == pyatspi.ROLE_PUSH_BUTTON
                                       and a.name == "Add" and found.append(a))
            return found

        def run(button, timeout=60):
            before = len(text_of(log))
            click(button)

            def ended():
                text = text_of(log)[before:]
                return text if (SUCCESS in text or FAILURE in text) else None
            text = wait_for(ended, "the end of the task", timeout=timeout)
            wait_for(lambda: find(frame, name="Scan for Network Printers & Scanners",
                                  role=pyatspi.ROLE_PUSH_BUTTON).getState().contains(
                                      pyatspi.STATE_SENSITIVE), "the window idle")
            time.sleep(0.3)
            return text

        wait_for(lambda: "Print queues: none" in labels(), "the empty queue list")
        checks.check(True, "the page lists CUPS's queues: none yet")

        # The search: one row per printer, the hostile name as plain text.
        search = find(frame, name="Scan for Network Printers & Scanners",
                      role=pyatspi.ROLE_PUSH_BUTTON)
        click(search)
        wait_for(lambda: len(add_buttons()) == 3, "three found printers")
        shown = labels()
        checks.check(shown.count("localhost") == 2 and "Forged" not in shown and
                     not any(":8080" in n for n in shown),
                     "search: a row per printer driverless reports, none from a forged record")
        checks.check("Evil Name" in shown and not any("\u202e" in n or "\t" in n for n in shown),
                     "search: a hostile name shows without its control characters")

        # Add: the real lpadmin makes the queue, cupsd its driver, lp prints.
        text = run(add_buttons()[0])
        checks.check(text.rstrip().endswith(SUCCESS), "add: the success banner ends the task")
        checks.check("device for %s: %s" % (QUEUE, URI) in lpstat_devices(),
                     "add: lpstat lists the queue with the printer's URI")
        shown = labels()
        checks.check("Added" in shown and QUEUE + ": ready to print." in shown,
                     "add: the row says Added, and the queue is ready")
        checks.check(len(add_buttons()) == 2, "add: the added printer has no Add button left")
        with open("/tmp/test.pwg", "wb") as f:
            f.write(PWG_JOB)
        job = subprocess.run(["lp", "-d", QUEUE, "-o", "raw", "-o",
                              "document-format=image/pwg-raster", "/tmp/test.pwg"],
                             capture_output=True, text=True)
        checks.check(job.returncode == 0, "print: lp accepts a job (%s)" % job.stderr.strip())
        try:
            wait_for(lambda: any(os.scandir(SPOOL)), "the job at the printer", timeout=30)
            checks.check(True, "print: the job reaches the IPP Everywhere printer's spool")
        except AssertionError as e:
            checks.check(False, "print: %s" % e)

        def queue_button(queue, name, role=pyatspi.ROLE_PUSH_BUTTON):
            """The button (or other `role`) `name` in the row of `queue` (its
            title starts with it)."""
            title = wait_for(lambda: pyatspi.findDescendant(
                frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and
                a.name.startswith(queue + " \u2014 ")), "the row of " + queue)
            row = title.parent.parent.parent  # the row's column: its buttons, bars
            try:
                return wait_for(lambda: pyatspi.findDescendant(
                    row, lambda c: c is not None and c.getRole() == role and
                    c.name == name), name + " of " + queue)
            except AssertionError:
                seen = []
                pyatspi.findAllDescendants(row, lambda c: c is not None and seen.append(
                    (c.getRoleName(), c.name)))
                raise AssertionError("no %s %r in the row of %s: %s" % (role, name, queue, seen))

        def has_label(prefix):
            return any(n.startswith(prefix) for n in labels())

        # Print Test Page: CUPS's own test page, as the user, reaches the
        # printer; the page says it was sent, then that it completed.
        before = spooled(SPOOL)
        text = run(queue_button(QUEUE, "Print Test Page"))
        checks.check(text.rstrip().endswith(SUCCESS) and "Starting: pkexec" not in text and
                     'Starting: lp ["-d", "%s", "%s"]' % (QUEUE, TEST_PAGE) in text,
                     "test page: lp sends CUPS's test page as the user, nothing privileged (%s)"
                     % text)
        checks.check(has_label("Test page sent to %s (job %s-" % (QUEUE, QUEUE)),
                     "test page: the page says it was sent, with the job id")
        try:
            wait_for(lambda: has_label("Test page on %s completed" % QUEUE), "the test page done",
                     timeout=75)
            wait_for(lambda: spooled(SPOOL) > before, "the test page at the printer", timeout=10)
            time.sleep(1)  # the queues are listed again right after the note: rows anew
            checks.check(True, "test page: it reached the printer's spool, and the page says so")
        except AssertionError as e:
            checks.check(False, "test page: %s (%s)" % (e, [n for n in labels() if "est" in n]))

        # Make Default: lpadmin -d through the helper's grammar.
        text = run(queue_button(QUEUE, "Make Default"))
        checks.check(text.rstrip().endswith(SUCCESS) and
                     lpstat("-d").strip() == "system default destination: " + QUEUE,
                     "default: lpstat -d names the queue (%r)" % lpstat("-d").strip())
        checks.check(wait_for(lambda: has_label(QUEUE + " \u2014 idle \u00b7 Default"), "Default"),
                     "default: the row says Default and offers Make Default no more")

        # Add by Address: a printer the search does not find, asked first.
        entry = find(frame, name="Printer address")
        add_by_address = find(frame, name="Add by Address", role=pyatspi.ROLE_PUSH_BUTTON)
        log_before = len(text_of(log))
        entry.queryEditableText().setTextContents("printer;reboot")
        click(add_by_address)
        time.sleep(0.5)
        checks.check("An address has no spaces or special characters" in labels() and
                     "Starting:" not in text_of(log)[log_before:],
                     "address: a bad one says why, and nothing runs")
        entry.queryEditableText().setTextContents("127.0.0.1:%d" % ADDRESS_PORT)
        text = run(add_by_address, timeout=90)
        address_uri = "ipp://127.0.0.1:%d/ipp/print" % ADDRESS_PORT
        checks.check(text.rstrip().endswith(SUCCESS) and
                     "device for %s: %s" % (ADDRESS_QUEUE, address_uri) in lpstat_devices(),
                     "address: a queue under the printer's own name prints to it")
        options = subprocess.run(["lpoptions", "-p", ADDRESS_QUEUE, "-l"], capture_output=True,
                                 text=True).stdout
        checks.check(":" in options, "address: the queue has its driver (lpoptions lists options)")

        # A printer that has gone: no queue is left behind.
        text = run(add_buttons()[0], timeout=90)
        checks.check(text.rstrip().endswith(FAILURE), "gone: the failure banner")
        checks.check("The printer did not answer; no queue was added." in labels(),
                     "gone: the page says the printer did not answer")
        checks.check(":%d/" % GONE_PORT not in lpstat_devices(), "gone: no queue is left")

        # The user has a raw queue with the name the next Add would take, and
        # cupsd refuses to list queues: Add must stop before lpadmin, which
        # would take that queue over.
        subprocess.run(["lpadmin", "-p", RAW_QUEUE, "-E", "-v", "ipp://127.0.0.1:9/raw"],
                       capture_output=True)
        checks.check("device for %s: ipp://127.0.0.1:9/raw" % RAW_QUEUE in lpstat_devices(),
                     "refused: the user's raw queue exists")
        with open(CUPSD_CONF) as f:
            conf = f.read()
        with open(CUPSD_CONF, "w") as f:
            f.write(conf.replace("<Policy default>", "<Policy default>\n" + FORBID_LISTING, 1))
        reload_cupsd()
        listing = subprocess.run(["lpstat", "-v"], capture_output=True, text=True,
                                 env=dict(os.environ, LC_ALL="C"))
        checks.check("Forbidden" in listing.stderr, "refused: lpstat is refused (%r, %r)"
                     % (listing.stdout, listing.stderr))
        text = run(add_buttons()[0])
        checks.check(text.rstrip().endswith(FAILURE) and "Starting: pkexec" not in text,
                     "refused: the failure banner, and nothing privileged ran")
        checks.check("CUPS did not list its print queues (refused or no answer), so nothing "
                     "was changed." in labels(), "refused: the page says why it stopped")
        with open(CUPSD_CONF, "w") as f:
            f.write(conf)
        reload_cupsd()
        checks.check("device for %s: ipp://127.0.0.1:9/raw" % RAW_QUEUE in lpstat_devices(),
                     "refused: the user's queue is unchanged")

        # Remove asks on its button, then removes exactly that queue. (A search
        # first: the page lists the queues again after every task.)
        searches = text_of(log).count("NETWORK SCAN RESULTS")
        click(search)
        wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches,
                 "the search's results")
        wait_for(lambda: search.getState().contains(pyatspi.STATE_SENSITIVE), "the window idle")
        time.sleep(0.3)
        remove = queue_button(RAW_QUEUE, "Remove")
        click(remove)
        # The question stands for a few seconds: one look for it, no row walk.
        ask = wait_for(lambda: find(frame, name="Remove %s?" % RAW_QUEUE,
                                    role=pyatspi.ROLE_PUSH_BUTTON), "the question", timeout=4)
        checks.check(RAW_QUEUE in lpstat_devices(), "remove: the first click only asks")
        text = run(ask)
        devices = lpstat_devices()
        checks.check(text.rstrip().endswith(SUCCESS) and RAW_QUEUE + ":" not in devices and
                     "device for %s:" % QUEUE in devices and ADDRESS_QUEUE in devices,
                     "remove: exactly that queue is gone, the others stay")

        # A USB printer: plugged in, listed after the next task with the
        # driver CUPS ranks first; Add makes a queue with a PPD, one password.
        plug_in_usb_printer()
        searches = text_of(log).count("NETWORK SCAN RESULTS")
        click(search)
        wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches,
                 "the search's results")
        wait_for(lambda: "USB \u00b7 driver: HP LaserJet Series PCL 4/5" in labels(),
                 "the USB printer's row with its driver")
        checks.check("HP LaserJet" in labels(), "usb: the row names the printer from its device ID")
        text = run(add_buttons()[0], timeout=90)
        checks.check(text.rstrip().endswith(SUCCESS) and
                     "device for %s: %s" % (USB_QUEUE, USB_URI) in lpstat_devices(),
                     "usb: Add makes a queue at the address CUPS lists for the serial (%s)"
                     % text[-600:])
        checks.check(os.path.exists("/etc/cups/ppd/%s.ppd" % USB_QUEUE),
                     "usb: the queue has the driver's PPD")
        starts = [line for line in text.splitlines() if line.startswith("Starting: pkexec")]
        checks.check(len(starts) == 3 and '"-o", "PageSize=A4"]' in starts[2],
                     "usb: three privileged steps for the click: list, add, the locale's paper (%s)"
                     % starts)

        def option_line(queue, key):
            listing = subprocess.run(["lpoptions", "-p", queue, "-l"], capture_output=True,
                                     text=True).stdout
            return next((line for line in listing.splitlines()
                         if line.startswith(key + "/") or line.startswith(key + ":")), "")
        checks.check("*A4" in option_line(USB_QUEUE, "PageSize").split(),
                     "paper: under en_GB the driver's Letter became A4 (%r)"
                     % option_line(USB_QUEUE, "PageSize"))
        wait_for(lambda: "Added" in labels() and "USB \u00b7 driver: HP LaserJet Series PCL 4/5"
                 in labels(), "the row says Added")

        checks.check(wait_for(lambda: has_label(USB_QUEUE + " \u2014 idle \u00b7 A4"), "A4"),
                     "paper: the row says A4")

        # Two-sided printing, in the row's settings: they open under the row,
        # with the driver's choices. GTK 4.8 offers no way to choose in a
        # drop-down through the accessibility bus (the GUI test chooses in it);
        # the request it sends goes through the installed helper here, which
        # checks the value against the queue's own listing.
        click(queue_button(USB_QUEUE, "Settings"))  # a toggle; GTK 4.8 calls it a push button
        checks.check(queue_button(USB_QUEUE, "Two-sided", pyatspi.ROLE_COMBO_BOX) is not None,
                     "settings: the row's settings open with a two-sided choice")
        if WITH_HELPER:
            def helper_sets(value):
                return subprocess.run(
                    [BIN + "/pkexec", "--disable-internal-agent", sandbox.installed_helper,
                     "lpadmin", "-p", USB_QUEUE, "-o", "Duplex=" + value],
                    capture_output=True, text=True, timeout=60)
            refused = helper_sets("DuplexSideways")
            checks.check(refused.returncode == 65 and "does not list" in refused.stderr and
                         "*None" in option_line(USB_QUEUE, "Duplex").split(),
                         "settings: a value the queue does not list is refused (%s, %r)"
                         % (refused.returncode, refused.stderr.strip()))
            chosen = helper_sets("DuplexNoTumble")
            checks.check(chosen.returncode == 0 and
                         "*DuplexNoTumble" in option_line(USB_QUEUE, "Duplex").split(),
                         "settings: Long edge makes DuplexNoTumble the queue's default (%r)"
                         % option_line(USB_QUEUE, "Duplex"))

        # Two held jobs, each a line with its own Cancel; one goes, one stays.
        held = []
        for _ in range(2):
            out = subprocess.run(["lp", "-d", USB_QUEUE, "-H", "hold", "/tmp/test.pwg"],
                                 capture_output=True, text=True).stdout
            held.append(out.split()[3] if out.startswith("request id is") else "")
        searches = text_of(log).count("NETWORK SCAN RESULTS")
        click(search)
        wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches, "the results")
        try:
            first = wait_for(lambda: find(frame, name="Cancel " + held[0],
                                          role=pyatspi.ROLE_PUSH_BUTTON), "the first job's Cancel")
            checks.check(find(frame, name="Cancel " + held[1], role=pyatspi.ROLE_PUSH_BUTTON)
                         is not None, "jobs: both held jobs have a line (%s)" % held)
            run(first)
            pending = lpstat("-o", USB_QUEUE)
            checks.check(held[0] not in pending and held[1] in pending,
                         "jobs: Cancel on one leaves the other (%r)" % pending)
        except Exception as e:
            checks.check(False, "jobs: %s: %s" % (type(e).__name__, e))
        subprocess.run(["cancel", "-a", USB_QUEUE], capture_output=True)

        # Its test page reaches the printer on the cable.
        before = spooled(USB_SPOOL)
        run(queue_button(USB_QUEUE, "Print Test Page"))
        try:
            wait_for(lambda: spooled(USB_SPOOL) > before, "the test page at the USB printer",
                     timeout=90)
            checks.check(True, "usb: the test page reaches the backend")
        except AssertionError as e:
            checks.check(False, "usb: %s" % e)

        # The printer stops answering: CUPS stops the queue and keeps the job;
        # the row says so, and Resume prints the kept job.
        open(USB_FAIL, "w").close()
        subprocess.run(["lp", "-d", USB_QUEUE, "/tmp/test.pwg"], capture_output=True)
        wait_for(lambda: "disabled" in lpstat("-p", USB_QUEUE), "CUPS stopping the queue",
                 timeout=60)
        searches = text_of(log).count("NETWORK SCAN RESULTS")
        click(search)  # the page lists the queues again after every task
        wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches, "the results")
        wait_for(lambda: has_label(USB_QUEUE + " \u2014 stopped"), "the row saying Stopped")
        checks.check(any(n.startswith(USB_QUEUE + " \u2014 stopped: ") and "jobs waiting: 1" in n
                         for n in labels()),
                     "stopped: the row says Stopped with CUPS's reason and the kept job")
        bars = []
        pyatspi.findAllDescendants(frame, lambda a: a.getRole() == pyatspi.ROLE_LEVEL_BAR and
                                   bars.append(a.name))
        checks.check("Black Toner: 63%" in bars, "supplies: a bar named with its level (%s)" % bars)
        os.unlink(USB_FAIL)
        before = spooled(USB_SPOOL)
        text = run(queue_button(USB_QUEUE, "Resume"))
        checks.check(text.rstrip().endswith(SUCCESS) and "disabled" not in lpstat("-p", USB_QUEUE),
                     "resume: cupsenable starts the queue again")
        try:
            wait_for(lambda: spooled(USB_SPOOL) > before, "the kept job printing", timeout=60)
            checks.check(True, "resume: the kept job prints")
        except AssertionError as e:
            checks.check(False, "resume: %s" % e)

        # Cancel All Jobs empties a stopped queue, after asking on its button.
        open(USB_FAIL, "w").close()
        subprocess.run(["lp", "-d", USB_QUEUE, "/tmp/test.pwg"], capture_output=True)
        wait_for(lambda: "disabled" in lpstat("-p", USB_QUEUE), "the queue stopping", timeout=60)
        subprocess.run(["lp", "-d", USB_QUEUE, "/tmp/test.pwg"], capture_output=True)
        searches = text_of(log).count("NETWORK SCAN RESULTS")
        click(search)
        wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches, "the results")
        click(queue_button(USB_QUEUE, "Cancel All Jobs"))
        ask = wait_for(lambda: find(frame, name="Cancel all jobs?",
                                    role=pyatspi.ROLE_PUSH_BUTTON), "the question", timeout=4)
        checks.check(lpstat("-o", USB_QUEUE).strip() != "", "cancel: the first click only asks")
        text = run(ask)
        checks.check(text.rstrip().endswith(SUCCESS) and lpstat("-o", USB_QUEUE).strip() == "",
                     "cancel: cancel -a empties the queue (%r)" % lpstat("-o", USB_QUEUE))
        os.unlink(USB_FAIL)

        if WITH_HELPER:
            # An IPP-over-USB printer: Set Up installs ipp-usb, links Avahi's
            # and ipp-usb's services and adds the printer ipp-usb announces,
            # every step through the helper.
            plug_in_usb_printer("1-10", IPP_USB_SERIAL, "HP", "OfficeJet Pro 9010", "04")
            calls_before = len(sandbox.pkexec_calls())
            searches = text_of(log).count("NETWORK SCAN RESULTS")
            click(search)
            wait_for(lambda: text_of(log).count("NETWORK SCAN RESULTS") > searches, "the results")
            set_up = wait_for(lambda: find(frame, name="Set Up", role=pyatspi.ROLE_PUSH_BUTTON),
                              "the IPP-over-USB printer's Set Up")
            text = run(set_up, timeout=120)
            calls = sandbox.pkexec_calls()[calls_before:]
            checks.check(text.rstrip().endswith(SUCCESS) and
                         "device for %s: ipp://localhost:%d/ipp/print" % (IPP_USB_QUEUE, IPP_USB_PORT)
                         in lpstat_devices(),
                         "ipp-usb: Set Up adds the printer ipp-usb serves (%s)" % text[-400:])
            # (and the locale's paper where the printer's default is another)
            checks.check([c[1] for c in calls][:4] == ["xbps-install", "ln", "ln", "lpadmin"] and
                         all(c[4] == "-o" for c in calls[4:]) and
                         all(c[0] == sandbox.installed_helper for c in calls) and
                         os.readlink("/var/service/ipp-usb") == "/etc/sv/ipp-usb",
                         "ipp-usb: install, two links and the queue, all through the helper (%s)"
                         % [c[1:3] for c in calls])
        return checks, app_proc, session, frame, run, add_buttons, labels
    except (Exception, SystemExit) as e:
        checks.check(False, "%s: %s" % (type(e).__name__, e))
        return checks, app_proc, session, None, None, None, None


LOCAL_PORT, USER_PORT = 8651, 8652  # printers that ask for CUPS's local key
# A printer that answers every request with 401 and asks for CUPS's "Local"
# authentication (the root certificate, trc="y"); it writes down every
# Authorization header it is sent. Bounded in requests and time.
LOCAL_AUTH_PRINTER = """
import http.server, socketserver, sys, time
port, out = int(sys.argv[1]), sys.argv[2]
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(min(length, 1 << 20))
        with open(out, "a") as f:
            f.write("request %s\\n" % self.path)
            if self.headers.get("Authorization"):
                f.write("Authorization: %s\\n" % self.headers["Authorization"])
        self.send_response(401)
        self.send_header("WWW-Authenticate", 'Local trc="y"')
        self.send_header("Content-Length", "0")
        self.end_headers()
    do_GET = do_POST = answer
    def log_message(self, *a):
        pass
socketserver.TCPServer.allow_reuse_address = True
with socketserver.TCPServer(("127.0.0.1", port), Handler) as server:
    server.timeout = 1
    deadline = time.monotonic() + 60
    for _ in range(200):
        if time.monotonic() > deadline:
            break
        server.handle_request()
"""


def local_certificate_checks(checks):
    """Root's CUPS key never leaves for a loopback printer that asks for it."""
    certificate = "/run/cups/certs/0"
    if not os.path.exists(certificate):  # cupsd writes it when it starts
        os.makedirs(os.path.dirname(certificate), exist_ok=True)
        with open(certificate, "w") as f:
            f.write("0123456789abcdef0123456789abcdef")
    with open(certificate) as f:
        key = f.read().strip()
    with open("/tmp/local-auth-printer.py", "w") as f:
        f.write(LOCAL_AUTH_PRINTER)

    def listener(port, out, user=None):
        open(out, "w").close()
        os.chmod(out, 0o666)
        proc = subprocess.Popen(["/usr/bin/python3", "/tmp/local-auth-printer.py", str(port), out],
                                user=user, cwd="/tmp")
        sandbox.wait_until(lambda: listening(port), "the printer on port %d" % port)
        return proc

    def helper_adds(queue, port):
        return subprocess.run(
            [BIN + "/pkexec", "--disable-internal-agent", sandbox.installed_helper, "lpadmin", "-p", queue, "-E",
             "-v", "ipp://127.0.0.1:%d/ipp/print" % port, "-m", "everywhere"],
            capture_output=True, text=True, timeout=60)

    def heard(out, seconds):
        """What the printer was sent within `seconds` (cupsd asks it in the background)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with open(out) as f:
                seen = f.read()
            if "Authorization:" in seen:
                break
            time.sleep(0.2)
        return seen

    # Run by a user: the helper refuses to add it, and the printer hears nothing.
    proc = listener(USER_PORT, "/tmp/local-auth-user", user=65534)
    added = helper_adds("Kelmora_User", USER_PORT)
    seen = heard("/tmp/local-auth-user", 5)
    checks.check(added.returncode == 65 and "root does not serve" in added.stderr and seen == "",
                 "certificate: a loopback printer a user serves is refused before lpadmin and "
                 "hears nothing (%s, %r, %r)" % (added.returncode, added.stderr.strip(), seen))
    # What that refusal prevents: a queue for it made all the same, and cupsd
    # (which asks the printer itself) hands it root's key.
    subprocess.run(["lpadmin", "-p", "Kelmora_User_2", "-E", "-v",
                    "ipp://127.0.0.1:%d/ipp/print" % USER_PORT, "-m", "everywhere"],
                   capture_output=True, timeout=60, env={"PATH": "/usr/sbin:/usr/bin"})
    checks.check(key in heard("/tmp/local-auth-user", 20),
                 "certificate: without the helper's check the user's printer gets root's key "
                 "(the check sees a leak)")
    subprocess.run(["lpadmin", "-x", "Kelmora_User_2"], capture_output=True)
    proc.terminate()
    proc.wait()
    # Nobody listening: whoever listened first would get cupsd's call.
    added = helper_adds("Kelmora_Nobody", USER_PORT)
    checks.check(added.returncode == 65 and "no printer answers" in added.stderr and
                 "Kelmora_Nobody" not in lpstat("-v"),
                 "certificate: a loopback address nobody serves is refused (%s, %r)"
                 % (added.returncode, added.stderr.strip()))
    # Run by root (as ipp-usb is): the helper adds it; CUPS's programs that
    # the helper runs never read the key (cupsd may give its own to root).
    proc = listener(LOCAL_PORT, "/tmp/local-auth-root")
    added = helper_adds("Kelmora_Local", LOCAL_PORT)
    checks.check(added.returncode == 0 and "Kelmora_Local" in lpstat("-v"),
                 "certificate: a loopback printer root serves is added (%s, %r)"
                 % (added.returncode, added.stderr.strip()))
    subprocess.run(["lpadmin", "-x", "Kelmora_Local"], capture_output=True)
    proc.terminate()
    proc.wait()


def inside_main(host_ns, kelmora, source):
    status = 1
    try:
        kelmora = sandbox.enter(host_ns, kelmora, source, MOUNTS,
                                helper_bin=BIN if WITH_HELPER else None)
        if kelmora is None:
            return 1
        os.makedirs(SPOOL + "-ipp-usb", exist_ok=True)
        cupsd, _ = start_services()
        install_xbps(sandbox.PAYLOAD)
        write_stand_ins()
        checks, app_proc, _, frame, run, add_buttons, labels = drive(kelmora)
        from atspi_test import FAILURE
        if WITH_HELPER:
            calls = sandbox.pkexec_calls()
            verbs = {c[1] for c in calls if len(c) > 1}
            checks.check(calls and all(c[0] == sandbox.installed_helper for c in calls) and
                         {"lpinfo", "lpadmin", "cupsenable", "cancel"} <= verbs,
                         "helper: every privileged step ran through the installed helper (%s)"
                         % sorted(verbs))
            local_certificate_checks(checks)
        if frame is not None:
            try:
                # cupsd stopped: lpadmin cannot connect, and the page says what to do.
                cupsd.send_signal(signal.SIGTERM)
                cupsd.wait(timeout=10)
                text = run(add_buttons()[0])
                checks.check(text.rstrip().endswith(FAILURE) and "Starting: pkexec" not in text,
                             "no cupsd: the failure banner, and lpadmin was not run")
                checks.check("CUPS is not running: click \u201cSet up Services\u201d first." in
                             labels(), "no cupsd: the page suggests Set up Services")
            except Exception as e:
                checks.check(False, "%s: %s" % (type(e).__name__, e))
        app_proc.terminate()
        print("%d passed, %d failed" % (checks.passed, checks.failed), flush=True)
        status = 1 if checks.failed else 0
    except Exception as e:
        print("FAIL sandbox: %s: %s" % (type(e).__name__, e), flush=True)
    finally:
        status = sandbox.without_leftovers(status)
    return status


if __name__ == "__main__":
    sandbox.entry(__doc__, host_main, inside_main)
