#!/usr/bin/python3
"""e2e-polkit: kelmora against the real pkexec and polkitd.

Everything that runs as root runs in a private mount namespace in which /etc,
/var, /usr and /root are overlays with a throw-away upper layer, and the paths
that the privileged steps write (/etc/sv, /var/service, the Polkit actions and
rules, /run, /tmp) are tmpfs. Every mount is checked before anything runs as
root; afterwards the host is checked for anything the sandbox wrote.

Inside: a test user (only in the namespace's passwd, shadow and group), a
Polkit rule that reads its answer (yes, no, auth_admin) from a file at each
check, the system bus and polkitd. Then polkit_driver.py runs as the test
user: it starts Xvfb, a session bus and kelmora, and drives the window.

Needs root that may mount (overlayfs included), a /usr without nosuid and
no_new_privs 0; where one is missing the suite is skipped (exit 77).

usage: polkit_sandbox.py KELMORA_BINARY SOURCE_DIR
"""
import hashlib
import fcntl
import os
import struct
import socket
import pwd
import shutil
import re
import signal
import subprocess
import sys
import time

SKIP = 77
USER, UID, PASSWORD = "kelmoratest", 4242, "kelmora-e2e-password"
HOME = "/tmp/" + USER
STATE = "/var/lib/kelmora-e2e"        # the fake xbps-install's state, written as root
ANSWER_DIR = "/etc/kelmora-e2e"       # the rule's answer, written by the test user
RULE = "/etc/polkit-1/rules.d/00-kelmora-e2e.rules"
POLKITD = "/usr/lib/polkit-1/polkitd"
LAYERS = "/tmp/.kelmora-layers"
# What the sandbox runs, copied in: the checkout may live anywhere, under /tmp
# (a tmpfs here) or in a directory the test user may not enter.
PAYLOAD = "/run/kelmora-e2e"
PAYLOAD_FILES = {  # in the payload: (in the checkout, mode)
    "tests/e2e/polkit_driver.py": ("tests/e2e/polkit_driver.py", 0o644),
    "tests/e2e/atspi_test.py": ("tests/e2e/atspi_test.py", 0o644),
    "tests/e2e/session.py": ("tests/e2e/session.py", 0o644),
    "tests/e2e/escl_responder.py": ("tests/e2e/escl_responder.py", 0o644),
    "tests/fakes/xbps-install": ("tests/fakes/xbps-install", 0o755),
    "tests/fakes/xbps-remove": ("tests/fakes/xbps-remove", 0o755),
    "tests/fakes/xbps-query": ("tests/fakes/xbps-query", 0o755),
    "tests/fakes/xbps-reconfigure": ("tests/fakes/xbps-reconfigure", 0o755),
    "tests/fakes/dkms-trigger": ("tests/fakes/dkms-trigger", 0o644),
    "tests/fakes/xbps-pool": ("tests/fakes/xbps-pool", 0o644),
    "tests/data/org.tamsel.pellin.policy": ("tests/data/org.tamsel.pellin.policy", 0o644),
}

# What the sandbox may write; none of it may reach the host.
WATCHED = ["/etc/sv/cupsd", "/etc/sv/saned", "/var/service/cupsd", "/var/service/saned",
           "/usr/bin/cupsd", "/usr/bin/scanimage", "/usr/bin/xbps-install",
           "/usr/bin/xbps-remove", "/usr/bin/xbps-query", "/usr/bin/xbps-reconfigure",
           "/usr/lib/modules/6.6.63_1", "/usr/lib/modules/6.12.7_1",
           "/usr/share/xbps.d/10-repository-nonfree.conf",
           "/usr/share/polkit-1/actions/org.tamsel.pellin.policy",
           "/usr/share/polkit-1/actions/com.tamsel.pellin.helper.policy", "/usr/local/libexec",
           "/usr/local/share/polkit-1", "/dev/bus", RULE, STATE, ANSWER_DIR, HOME]
WATCHED_FILES = ["/etc/passwd", "/etc/shadow", "/etc/group", "/etc/gshadow"]

MOUNTS = [  # mount point, file system type, made how
    ("/tmp", "tmpfs", "tmpfs"),
    ("/etc", "overlay", "overlay"),
    ("/var", "overlay", "overlay"),
    ("/usr", "overlay", "overlay"),
    ("/root", "overlay", "overlay"),
    ("/run", "tmpfs", "tmpfs"),
    ("/run/dbus", "tmpfs", "tmpfs"),
    ("/etc/sv", "tmpfs", "tmpfs"),
    ("/var/service", "tmpfs", "tmpfs"),
    ("/usr/share/polkit-1/actions", "tmpfs", "tmpfs keeping its files"),
    ("/etc/polkit-1/rules.d", "tmpfs", "tmpfs keeping its files"),
    # The machine's PCI and USB devices: a GTX 1060 (Pascal) and a Brother
    # scanner in place of the host's; the scanner's node in /dev.
    ("/sys/bus", "tmpfs", "tmpfs"),
    ("/dev", "overlay", "overlay keeping its mounts"),
]
USB_SCANNER = "/sys/bus/usb/devices/1-4"
USB_SCANNER_NODE = "/dev/bus/usb/001/007"
PASCAL = "/sys/bus/pci/devices/0000:01:00.0"
HELPER_POLICY = "com.tamsel.pellin.helper.policy"
HELPER_ACTION = "com.tamsel.pellin.helper"
# The generation installed before the window opens: every member of "nvidia".
NVIDIA_MEMBERS = ["nvidia", "nvidia-libs", "nvidia-libs-32bit", "nvidia-dkms", "nvidia-gtklibs",
                  "nvidia-firmware"]
# The machine runs the LTS series, without its headers: dkms brings only the
# default series' ones, so the module is built for linux6.6 only when kelmora
# asks for linux6.6-headers.
LTS_KERNEL = ("linux6.6", "6.6.63_1")


def run(*argv, **kw):
    return subprocess.run(list(argv), check=True, **kw)


# ---------------------------------------------------------------- host side

def why_not_here():
    """The reason this machine cannot run the suite, or None."""
    if os.geteuid() != 0:
        return "not root"
    for tool in ("unshare", "mount", "pkexec", "pkttyagent", "pkaction", "dbus-daemon", "Xvfb"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    if not os.access(POLKITD, os.X_OK):
        return POLKITD + " is not installed"
    if not os.stat(shutil.which("pkexec")).st_mode & 0o4000:
        return "pkexec is not set-user-ID"
    with open("/proc/self/status") as f:
        if any(line.split() == ["NoNewPrivs:", "1"] for line in f):
            return "no_new_privs is set: set-user-ID programs cannot gain root"
    options = subprocess.run(["findmnt", "-no", "OPTIONS", "--target", "/usr"],
                             capture_output=True, text=True).stdout
    if "nosuid" in options.split(","):
        return "/usr is mounted nosuid"
    for module in ("dbus", "pyatspi"):
        if subprocess.run(["/usr/bin/python3", "-c", "import " + module],
                          capture_output=True).returncode != 0:
            return "python3 module %s is missing" % module
    probe = ("mkdir -p /tmp/.kelmora-probe && mount -t tmpfs tmpfs /tmp/.kelmora-probe && "
             "mkdir /tmp/.kelmora-probe/u /tmp/.kelmora-probe/w /tmp/.kelmora-probe/u2 "
             "/tmp/.kelmora-probe/w2 && "
             "mount -t overlay overlay -o lowerdir=/etc,upperdir=/tmp/.kelmora-probe/u,"
             "workdir=/tmp/.kelmora-probe/w /etc && "
             "mount -t tmpfs tmpfs /sys/bus && "
             "mount -t overlay overlay -o lowerdir=/dev,upperdir=/tmp/.kelmora-probe/u2,"
             "workdir=/tmp/.kelmora-probe/w2 /dev")
    # The probe directory itself is made inside a private /tmp.
    probe = "mount -t tmpfs tmpfs /tmp && " + probe
    if subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", probe],
                      capture_output=True).returncode != 0:
        return ("this root may not mount tmpfs and overlay file systems (over /etc, /sys/bus "
                "and /dev) in a private namespace")
    return None


def host_state():
    state = {p: os.path.lexists(p) for p in WATCHED}
    for f in WATCHED_FILES:
        with open(f, "rb") as fh:
            state[f] = hashlib.sha256(fh.read()).hexdigest()
    return state


def cannot_run(tools, probe, what):
    """Why a suite cannot run here: not root, a tool or pyatspi missing, or
    the mounts of `probe` (a shell line) refused in a private namespace
    (`what` says which); None when it can."""
    if os.geteuid() != 0:
        return "not root"
    for tool in ("unshare", "mount", "dbus-daemon", "Xvfb") + tuple(tools):
        if shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin") is None:
            return tool + " is not installed"
    if subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"],
                      capture_output=True).returncode != 0:
        return "python3 module pyatspi is missing"
    if subprocess.run(["unshare", "--mount", "--net", "--propagation", "private", "sh", "-c",
                       probe], capture_output=True).returncode != 0:
        return "this root may not mount %s in a private namespace" % what
    return None


def open_window(kelmora, env, umask=0o022):
    """kelmora started with `env`, and its window over AT-SPI: (process,
    frame, labels(), button(name, timeout))."""
    import pyatspi
    from atspi_test import application, find, frames, wait_for
    app_proc = subprocess.Popen([kelmora], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, start_new_session=True, umask=umask)
    app = wait_for(lambda: application(app_proc.pid), "kelmora on the accessibility bus")
    frame = wait_for(lambda: next(iter(frames(app)), None), "the main window")

    def labels():
        found = []
        pyatspi.findAllDescendants(frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and
                                   found.append(a.name))
        return found

    def button(name, timeout=20):
        return wait_for(lambda: find(frame, name=name, role=pyatspi.ROLE_PUSH_BUTTON), name,
                        timeout=timeout)
    return app_proc, frame, labels, button


def paths_state(paths):
    """What each path holds: a file's digest, a directory's names, or None."""
    state = {}
    for path in paths:
        if os.path.isfile(path):
            with open(path, "rb") as f:
                state[path] = hashlib.sha256(f.read()).hexdigest()
        elif os.path.isdir(path):
            state[path] = sorted(os.listdir(path))
        else:
            state[path] = None
    return state


def run_on_host(suite, reason, state, namespaces, script, kelmora, source, more_leaks=list):
    """A suite's host side: skips with `reason` when there is one, runs `script`
    --inside new `namespaces` (unshare options), and fails when the host's
    `state` differs afterwards or `more_leaks` names anything."""
    if reason:
        print("SKIP: the %s suite cannot run here: %s" % (suite, reason), flush=True)
        return SKIP
    before = state()
    host_ns = os.readlink("/proc/self/ns/mnt")
    status = subprocess.run(["unshare"] + namespaces + ["--propagation", "private",
                             "/usr/bin/python3", os.path.abspath(script), "--inside", host_ns,
                             kelmora, source]).returncode
    after = state()
    leaked = [p for p in before if before[p] != after[p]] + more_leaks()
    if leaked:
        print("FAIL the sandbox changed the host: %s" % ", ".join(leaked), flush=True)
        return 1
    print("ok   the host is untouched (%d paths and files checked)" % len(before), flush=True)
    return status


def test_user_left():
    try:
        pwd.getpwnam(USER)
        return ["user " + USER]
    except KeyError:
        return []


def host_main(kelmora, source):
    return run_on_host("real-polkit", why_not_here(), host_state, ["--mount"], __file__, kelmora,
                       source, test_user_left)


# ---------------------------------------------------------------- inside

def loopback_up():
    """127.0.0.1 and ::1 in the new network namespace."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    request = struct.pack("16sH", b"lo", 0)
    flags = struct.unpack("16sH", fcntl.ioctl(s, 0x8913, request))[1]  # SIOCGIFFLAGS
    fcntl.ioctl(s, 0x8914, struct.pack("16sH", b"lo", flags | 0x1))  # SIOCSIFFLAGS, IFF_UP
    s.close()


def enter(host_ns, kelmora, source, mounts, helper_bin=None):
    """Inside a suite's namespace: what runs is copied in first (the checkout and
    the build may live under /tmp, which the sandbox covers), every mount is
    made and checked, and loopback is up. With `helper_bin`, the helper is
    installed as users install it (on an overlay of its prefix) behind a pkexec
    in that directory. Returns kelmora's path there, or None (and says why)
    when a mount is not as it must be."""
    payload = read_payload(kelmora, source)
    if helper_bin:
        if "kelmora-helper" not in payload:
            print("FAIL sandbox: the build has no kelmora-helper", flush=True)
            return None
        prefix = helper_prefix(payload)
        # Unless an overlay already covers it (a later one would hide this).
        if not any(point == prefix or prefix.startswith(point + "/")
                   for point, kind, _ in mounts if kind == "overlay"):
            mounts = mounts[:1] + [(prefix, "overlay", "overlay")] + mounts[1:]
    mount_all(mounts)
    problems = check_mounts(host_ns, mounts)
    if problems:
        for p in problems:
            print("FAIL sandbox: " + p, flush=True)
        return None
    print("ok   sandbox: %d private mounts checked" % len(mounts), flush=True)
    write_payload(payload)
    sys.path.insert(0, PAYLOAD + "/tests/e2e")
    loopback_up()
    if helper_bin:
        global installed_helper
        installed_helper = install_helper_behind_pkexec(payload, helper_bin)
    return PAYLOAD + "/kelmora"


def mount_all(mounts=None):
    mounts = MOUNTS if mounts is None else mounts
    kept = {}
    for point, _, how in mounts:
        if how == "tmpfs keeping its files" and os.path.isdir(point):
            kept[point] = {n: open(os.path.join(point, n), "rb").read()
                           for n in os.listdir(point)
                           if os.path.isfile(os.path.join(point, n))}
    for point, _, how in mounts:
        os.makedirs(point, exist_ok=True)  # on an overlay or a tmpfs made before it
        moved = []
        if how == "overlay keeping its mounts":
            # The mounts below it (/dev/pts, /dev/shm) would be hidden under
            # the overlay: they move aside and come back on top of it.
            with open("/proc/self/mountinfo") as f:
                below = sorted({line.split()[4] for line in f
                                if line.split()[4].startswith(point + "/")})
            for n, sub in enumerate(b for b in below
                                    if not any(b.startswith(o + "/") for o in below)):
                aside = "%s/moved/%d" % (LAYERS, n)
                os.makedirs(aside)
                run("mount", "--move", sub, aside)
                moved.append((aside, sub))
        if how.startswith("overlay"):
            name = point.strip("/")
            upper, work = LAYERS + "/" + name + "/upper", LAYERS + "/" + name + "/work"
            os.makedirs(upper)
            os.makedirs(work)
            run("mount", "-t", "overlay", "overlay", "-o",
                "lowerdir=%s,upperdir=%s,workdir=%s" % (point, upper, work), point)
        else:
            run("mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", point)
            if point == "/tmp":
                os.chmod("/tmp", 0o1777)
        for aside, sub in moved:
            run("mount", "--move", aside, sub)
        for name, data in kept.get(point, {}).items():
            with open(os.path.join(point, name), "wb") as f:
                f.write(data)


def check_mounts(host_ns, mounts=None):
    """Every mount of the sandbox is there, of its type, and private."""
    mounts = MOUNTS if mounts is None else mounts
    problems = []
    if os.readlink("/proc/self/ns/mnt") == host_ns:
        problems.append("not in a mount namespace of our own")
    last = {}
    with open("/proc/self/mountinfo") as f:
        for line in f:
            fields = line.split()
            sep = fields.index("-")
            last[fields[4]] = (fields[sep + 1], fields[6:sep])
    for point, fstype, _ in mounts:
        if point not in last:
            problems.append(point + " is not mounted")
            continue
        kind, optional = last[point]
        if kind != fstype:
            problems.append("%s is %s, not %s" % (point, kind, fstype))
        if any(o.startswith("shared:") for o in optional):
            problems.append(point + " propagates to other namespaces")
    return problems


def password_hash():
    try:
        import crypt  # gone in Python 3.13
        return crypt.crypt(PASSWORD, crypt.mksalt(crypt.METHOD_SHA512))
    except ImportError:
        return subprocess.run(["openssl", "passwd", "-6", PASSWORD], capture_output=True,
                              text=True, check=True).stdout.strip()


def add_test_user():
    with open("/etc/passwd", "a") as f:
        f.write("%s:x:%d:%d:kelmora test:%s:/bin/sh\n" % (USER, UID, UID, HOME))
    with open("/etc/shadow", "a") as f:
        f.write("%s:%s:19000:0:99999:7:::\n" % (USER, password_hash()))
    with open("/etc/group", "a") as f:
        f.write("%s:x:%d:\n" % (USER, UID))
    os.makedirs(HOME, mode=0o700)
    os.chown(HOME, UID, UID)


def write_rule():
    os.makedirs(ANSWER_DIR)
    answer = ANSWER_DIR + "/answer"
    with open(answer, "w") as f:
        f.write("no\n")
    os.chown(ANSWER_DIR, UID, UID)
    os.chown(answer, UID, UID)
    with open(RULE, "w") as f:
        f.write("""// The test user is the administrator; pkexec's answer is read at each check.
polkit.addAdminRule(function(action, subject) {
    if (subject.user == "%(user)s") return ["unix-user:%(user)s"];
});
// The helper's action gets what its policy gives an active session: the
// sandbox has no login session, where the policy's defaults would apply.
polkit.addRule(function(action, subject) {
    var generic = action.id == "org.freedesktop.policykit.exec";
    if (subject.user != "%(user)s" || (!generic && action.id != "%(helper)s")) return;
    var answer = polkit.spawn(["/bin/cat", "%(answer)s"]).trim();
    if (answer == "policy") return;  // the action's own defaults decide
    if (answer == "yes") return polkit.Result.YES;
    if (answer == "auth_admin")
        return generic ? polkit.Result.AUTH_ADMIN : polkit.Result.AUTH_ADMIN_KEEP;
    return polkit.Result.NO;
});
""" % {"user": USER, "answer": answer, "helper": HELPER_ACTION})


def install_fakes(source):
    """The fake xbps tools, found by pkexec (and kelmora) through PATH, run as
    root with a cleaned environment (xbps-query as the user): their state is at
    a fixed path, and their root is the sandbox's own, so that what they
    install is what kelmora probes. The machine is a Pascal card with the
    current "nvidia" generation installed, on an LTS kernel without headers."""
    os.makedirs(STATE)
    os.symlink("/", STATE + "/xbps-root")
    with open(STATE + "/xbps-installed", "w") as f:
        f.write("xbps\nlinux-lts\n%s %s\n" % LTS_KERNEL + "".join(m + "\n" for m in NVIDIA_MEMBERS))
    os.makedirs("/usr/lib/modules/%s/kernel" % LTS_KERNEL[1])
    open(STATE + "/xbps-newer", "w").close()  # the first install must update xbps
    for tool in ("xbps-install", "xbps-remove", "xbps-query", "xbps-reconfigure"):
        with open("/usr/bin/" + tool, "w") as f:
            f.write("#!/bin/sh\nKELMORA_FAKE_DIR=%s exec '%s/tests/fakes/%s' \"$@\"\n"
                    % (STATE, source, tool))
        os.chmod("/usr/bin/" + tool, 0o755)
    os.makedirs(PASCAL)
    for name, value in (("class", "0x030000"), ("vendor", "0x10de"), ("device", "0x1c03")):
        with open(PASCAL + "/" + name, "w") as f:
            f.write(value + "\n")
    for service in ("cupsd", "avahi-daemon", "saned"):
        os.makedirs("/etc/sv/" + service)
    # A Brother scanner on USB whose node only the scanner group may write.
    for name, value in (("idVendor", "04f9"), ("product", "DCP-L2550DN series"), ("busnum", "1"),
                        ("devnum", "7"), ("1-4:1.0/bInterfaceClass", "ff")):
        path = (USB_SCANNER + "/" + name).replace("1-4/1-4:1.0", "1-4:1.0")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(value + "\n")
    scanner_gid = group_id("scanner")
    os.makedirs(os.path.dirname(USB_SCANNER_NODE))
    open(USB_SCANNER_NODE, "w").close()
    os.chown(USB_SCANNER_NODE, 0, scanner_gid)
    os.chmod(USB_SCANNER_NODE, 0o664)
    # The machine has neither CUPS nor SANE until the test installs them,
    # whatever the host has: the overlay hides the host's programs.
    for program in ("/usr/bin/cupsd", "/usr/bin/scanimage"):
        if os.path.lexists(program):
            os.unlink(program)


def group_id(name):
    """The group's id, the group made (in /etc/group and /etc/gshadow) where missing."""
    import grp
    try:
        return grp.getgrnam(name).gr_gid
    except KeyError:
        pass
    gid = 4243
    with open("/etc/group", "a") as f:
        f.write("%s:x:%d:\n" % (name, gid))
    if os.path.exists("/etc/gshadow"):
        with open("/etc/gshadow", "a") as f:
            f.write("%s:!::\n" % name)
    return gid


def install_helper(payload, system_actions=True):
    """The helper where kelmora's build looks for it (the policy's exec.path),
    its policy beside it and (with `system_actions`) where polkitd reads
    actions; returns the path."""
    if "kelmora-helper" not in payload:
        return ""
    policy = payload[HELPER_POLICY][0].decode()
    path = re.search(r'"org.freedesktop.policykit.exec.path">([^<]+)<', policy).group(1)
    prefix = os.path.dirname(os.path.dirname(path))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(payload["kelmora-helper"][0])
    os.chmod(path, 0o755)
    for actions in (prefix + "/share/polkit-1/actions",) + (
            ("/usr/share/polkit-1/actions",) if system_actions else ()):
        os.makedirs(actions, exist_ok=True)
        with open(os.path.join(actions, HELPER_POLICY), "w") as f:
            f.write(policy)
    return path


# pkexec as it runs kelmora's helper for a suite that runs kelmora as root:
# only the program the helper's action names, with pkexec's environment (and
# nothing of the caller's but PKEXEC_UID), its descriptors above 2 closed, in
# root's home. Anything else is refused as pkexec refuses what no action
# allows. Every call is written down.
PKEXEC_FOR_HELPER = """#!/usr/bin/python3
import json, os, sys
HELPER, CALLS = %r, %r
args = sys.argv[1:]
if args[:1] == ["--disable-internal-agent"]:
    args = args[1:]
with open(CALLS, "a") as f:
    f.write(json.dumps(args) + "\\n")
if not args or args[0] != HELPER:
    sys.stderr.write("Error executing command as another user: Not authorized\\n")
    sys.exit(127)
env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "USER": "root", "LOGNAME": "root",
       "HOME": "/root", "SHELL": "/bin/sh", "PKEXEC_UID": str(os.getuid())}
os.closerange(3, 1 << 16)
os.chdir("/root" if os.path.isdir("/root") else "/")
os.execve(HELPER, args, env)
"""
PKEXEC_CALLS = "/tmp/pkexec-calls"
installed_helper = ""  # set by enter() where a suite runs with the helper


def helper_prefix(payload):
    """The installation prefix kelmora's build looks for its helper under."""
    policy = payload[HELPER_POLICY][0].decode()
    path = re.search(r'"org.freedesktop.policykit.exec.path">([^<]+)<', policy).group(1)
    return os.path.dirname(os.path.dirname(path))


def install_helper_behind_pkexec(payload, bin_dir):
    """The helper and its policy where kelmora's build looks for them (under an
    overlay of the prefix), and a pkexec on `bin_dir` that runs it as pkexec
    would; returns the helper's path."""
    prefix = helper_prefix(payload)
    helper = install_helper(payload, system_actions=prefix == "/usr")
    os.makedirs(bin_dir, exist_ok=True)
    with open(os.path.join(bin_dir, "pkexec"), "w") as f:
        f.write(PKEXEC_FOR_HELPER % (helper, PKEXEC_CALLS))
    os.chmod(os.path.join(bin_dir, "pkexec"), 0o755)
    return helper


def pkexec_calls():
    """The argument vectors pkexec was given, in order."""
    import json
    if not os.path.exists(PKEXEC_CALLS):
        return []
    with open(PKEXEC_CALLS) as f:
        return [json.loads(line) for line in f if line.strip()]


def wait_until(predicate, what, timeout=20.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise RuntimeError("timed out waiting for " + what)
        time.sleep(0.05)


def polkitd_owns_its_name():
    return subprocess.run(
        ["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/",
         "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.PolicyKit1"],
        capture_output=True, text=True).stdout.strip().endswith("true")


def start_polkitd(preload=None):
    """polkitd; with `preload`, the stand-in for logind's library that puts
    the test user's processes in an active session."""
    env = dict(os.environ)
    if preload:
        env.update(LD_PRELOAD=preload, KELMORA_E2E_UID=str(UID))
    proc = subprocess.Popen([POLKITD, "--no-debug"], stdout=subprocess.DEVNULL, env=env)
    wait_until(polkitd_owns_its_name, "polkitd on the system bus")
    return proc


def start_buses():
    procs = [subprocess.Popen(["dbus-daemon", "--system", "--nofork", "--nopidfile"])]
    wait_until(lambda: os.path.exists("/run/dbus/system_bus_socket"), "the system bus")
    procs.append(start_polkitd())
    return procs


def end_namespace_processes():
    """Ends every process of this mount namespace but ourselves, by PID."""
    ours, me = os.readlink("/proc/self/ns/mnt"), os.getpid()

    def members():
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == me:
                continue
            try:
                if os.readlink("/proc/%s/ns/mnt" % entry) == ours:
                    found.append(int(entry))
            except OSError:
                pass
        return found
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in members():
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 3
        while members() and time.monotonic() < deadline:
            try:
                os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                pass
            time.sleep(0.05)
    return members()


def read_payload(kelmora, source):
    """What the sandbox runs: kelmora, its helper and the helper's policy (from
    the build beside it) and the files of the checkout it needs."""
    build = os.path.dirname(os.path.dirname(os.path.abspath(kelmora)))
    files = {"kelmora": (open(kelmora, "rb").read(), 0o755)}
    for name, path, mode in (("kelmora-helper", "src/kelmora-helper", 0o755),
                             (HELPER_POLICY, "data/" + HELPER_POLICY, 0o644),
                             ("fake-logind.so", "tests/fake-logind.so", 0o644)):
        if os.path.exists(os.path.join(build, path)):
            files[name] = (open(os.path.join(build, path), "rb").read(), mode)
    for name, (path, mode) in PAYLOAD_FILES.items():
        files[name] = (open(os.path.join(source, path), "rb").read(), mode)
    return files


def write_payload(files):
    for name, (data, mode) in files.items():
        path = os.path.join(PAYLOAD, name)
        os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)


def inside_main(host_ns, kelmora, source):
    payload = read_payload(kelmora, source)  # before /tmp and the rest are covered
    mount_all()
    problems = check_mounts(host_ns)
    if problems:
        for p in problems:
            print("FAIL sandbox: " + p, flush=True)
        return 1
    print("ok   sandbox: %d private mounts checked" % len(MOUNTS), flush=True)
    status = 1
    try:
        write_payload(payload)
        kelmora, source = PAYLOAD + "/kelmora", PAYLOAD
        add_test_user()
        write_rule()
        install_fakes(source)
        helper = install_helper(payload)
        polkitd = start_buses()[1]
        driver = os.path.join(source, "tests", "e2e", "polkit_driver.py")
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": HOME, "USER": USER,
               "LOGNAME": USER, "LANG": "C.UTF-8", "SHELL": "/bin/sh"}

        def drive(phase):
            return subprocess.run(
                ["/usr/bin/python3", driver, phase, kelmora, source, PASSWORD,
                 ANSWER_DIR + "/answer", helper],
                user=UID, group=UID, extra_groups=[], env=env, cwd=HOME).returncode
        # No login session, as without elogind; then one, as with it.
        status = drive("no-session")
        polkitd.terminate()
        polkitd.wait()
        wait_until(lambda: not polkitd_owns_its_name(), "polkitd gone from the bus")
        start_polkitd(preload=PAYLOAD + "/fake-logind.so")
        status = drive("session") or status
    except Exception as e:  # report, then clean up
        print("FAIL sandbox: %s: %s" % (type(e).__name__, e), flush=True)
    finally:
        status = without_leftovers(status)
    return status


def run_suite(host_ns, kelmora, source, mounts, helper_bin, drive, prepare=lambda: []):
    """A suite's inside for one kelmora run with the helper: the mounts made
    and checked, `prepare()` (which returns its problems), then `drive(kelmora,
    checks)`, which returns kelmora's process; the namespace left empty."""
    status = 1
    try:
        kelmora = enter(host_ns, kelmora, source, mounts, helper_bin=helper_bin)
        if kelmora is None:
            return 1
        problems = prepare()
        for p in problems:
            print("FAIL sandbox: " + p, flush=True)
        if problems:
            return 1
        from atspi_test import Checks
        checks = Checks()
        app_proc = drive(kelmora, checks)
        if app_proc is not None:
            app_proc.terminate()
        print("%d passed, %d failed" % (checks.passed, checks.failed), flush=True)
        status = 1 if checks.failed else 0
    except Exception as e:
        print("FAIL sandbox: %s: %s" % (type(e).__name__, e), flush=True)
    finally:
        status = without_leftovers(status)
    return status


def without_leftovers(status):
    """Ends the namespace's processes; a process that stays fails the suite."""
    left = end_namespace_processes()
    if left:
        print("FAIL processes left in the sandbox: %s" % left, flush=True)
        return 1
    return status


def entry(usage, host, inside):
    """A suite's command line: KELMORA SOURCE on the host, --inside in its namespace."""
    if len(sys.argv) == 5 and sys.argv[1] == "--inside":
        sys.exit(inside(*sys.argv[2:]))
    if len(sys.argv) != 3:
        sys.exit(usage)
    sys.exit(host(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))


if __name__ == "__main__":
    entry(__doc__, host_main, inside_main)
