#!/usr/bin/python3
"""The user's side of e2e-polkit (started by polkit_sandbox.py as the test
user, inside the sandbox): a display, a session bus with its accessibility
bus, kelmora, and the scenarios, clicked through the accessibility tree while
the real pkexec asks the real polkitd.

Two phases, each with a kelmora of its own (polkit keeps authorizations and
agents per process): "no-session", where polkitd finds no login session (as
without elogind), and "session", where a stand-in for logind's library puts
the test user in an active one.

usage: polkit_driver.py PHASE KELMORA SOURCE_DIR PASSWORD ANSWER_FILE [HELPER]
"""
import fcntl
import os
import pty
import select
import subprocess
import sys
import termios
import time

phase, kelmora, source, password, answer_file = sys.argv[1:6]
HELPER = sys.argv[6] if len(sys.argv) > 6 else ""  # the installed helper, or none
USER = os.environ.get("USER", "")
sys.path.insert(0, os.path.join(source, "tests", "e2e"))
DOCUMENT = open(os.path.join(source, "tests", "data", "org.tamsel.pellin.policy"), "rb").read()


from session import start_session  # noqa: E402

session = start_session()
# pyatspi finds the accessibility bus through the session bus at import.
import pyatspi  # noqa: E402
from atspi_test import (FAILURE, SUCCESS, TITLE, Checks, application, click, find,  # noqa: E402
                        frames, shown_windows, text_of, wait_for)
from Xlib import X, XK, display  # noqa: E402
from Xlib.ext import xtest  # noqa: E402

AUTH_TITLE = "Authentication Required"
RETRY = "That did not work \u2014 please try again."
NO_AGENT_LINE = "Kein Polkit-Agent hat geantwortet; kelmora fragt selbst nach dem Passwort."


def type_keys(title, keys):
    """Key presses into the window titled `title`, through the X test extension:
    each character of a text, or a key name such as "Return"."""
    names = {"-": "minus", " ": "space", ".": "period"}
    d = display.Display()
    try:
        windows = shown_windows(d, title)
        if windows:
            windows[0].set_input_focus(X.RevertToParent, X.CurrentTime)
            d.sync()
        for key in keys:
            code = d.keysym_to_keycode(XK.string_to_keysym(names.get(key, key)))
            xtest.fake_input(d, X.KeyPress, code)
            xtest.fake_input(d, X.KeyRelease, code)
        d.sync()
    finally:
        d.close()


def set_answer(answer):
    with open(answer_file, "w") as f:
        f.write(answer + "\n")


class TtyAgent:
    """pkttyagent for one process, on a pseudo-terminal of its own (it reads the
    password from /dev/tty); types the password at every prompt."""

    def __init__(self, pid):
        self.master, slave = pty.openpty()
        notify_read, notify_write = os.pipe()

        self.proc = subprocess.Popen(
            ["pkttyagent", "--process", str(pid), "--notify-fd", str(notify_write)],
            stdin=slave, stdout=slave, stderr=slave, pass_fds=(notify_write,),
            start_new_session=True,  # then the terminal becomes its controlling one
            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(slave)
        os.close(notify_write)
        # The agent closes the notify descriptor once it is registered.
        select.select([notify_read], [], [], 20)
        os.read(notify_read, 1)
        os.close(notify_read)
        self.output, self.unanswered, self.prompts = b"", b"", 0

    def answer_prompts(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            self.output += chunk
            self.unanswered += chunk
            if self.unanswered.rstrip().endswith(b"Password:"):
                os.write(self.master, password.encode() + b"\n")
                self.prompts += 1
                self.unanswered = b""

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        os.close(self.master)


CANCEL_AGENT = r'''
import sys
import dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
class Cancelled(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.PolicyKit1.Error.Cancelled"
class Agent(dbus.service.Object):
    @dbus.service.method("org.freedesktop.PolicyKit1.AuthenticationAgent",
                         in_signature="sssa{ss}saa{sa{sv}}", out_signature="")
    def BeginAuthentication(self, action_id, message, icon, details, cookie, identities):
        print("asked", action_id, flush=True)
        raise Cancelled("the user closed the dialog")
    @dbus.service.method("org.freedesktop.PolicyKit1.AuthenticationAgent",
                         in_signature="s", out_signature="")
    def CancelAuthentication(self, cookie):
        pass
bus = dbus.SystemBus()
agent = Agent(bus, "/org/kelmora/e2e/Agent")
if sys.argv[1] == "session":
    subject = ("unix-session", {"session-id": sys.argv[2]})
else:
    pid = int(sys.argv[2])
    start = int(open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[19])
    subject = ("unix-process", {"pid": dbus.UInt32(pid), "start-time": dbus.UInt64(start)})
authority = dbus.Interface(bus.get_object("org.freedesktop.PolicyKit1",
                                          "/org/freedesktop/PolicyKit1/Authority"),
                           "org.freedesktop.PolicyKit1.Authority")
authority.RegisterAuthenticationAgent(subject, "C", "/org/kelmora/e2e/Agent")
print("registered", flush=True)
GLib.MainLoop().run()
'''


def start_cancel_agent(kind, which):
    """An agent that answers Cancelled, as a dialog that the user closes; for
    a process (its PID) or a login session (its id)."""
    proc = subprocess.Popen(["/usr/bin/python3", "-c", CANCEL_AGENT, kind, str(which)],
                            stdout=subprocess.PIPE, text=True)
    if proc.stdout.readline().strip() != "registered":
        raise AssertionError("the cancelling agent did not register")
    return proc


class Kelmora:
    """One kelmora process and its window, driven through the accessibility tree."""

    def __init__(self, checks, terminal=False):
        self.checks = checks
        self.tty = None
        if terminal:
            # Started from a terminal: a pseudo-terminal is its controlling
            # one, where pkexec's own text agent would ask (and be stopped).
            self.tty, slave = pty.openpty()
            self.proc = subprocess.Popen([kelmora], stdin=slave, stdout=slave, stderr=slave,
                                         start_new_session=True,
                                         preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
            os.close(slave)
        else:
            # setsid: with a terminal, pkexec's own agent would prompt there.
            # Its standard output is the one that tee copies the policy to.
            self.proc = subprocess.Popen([kelmora], stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, start_new_session=True)
        self.app = wait_for(lambda: application(self.proc.pid), "kelmora on the accessibility bus")
        self.frame = wait_for(lambda: next(iter(frames(self.app)), None), "the main window")
        checks.check(self.frame.name == TITLE, "the window is up")
        click(find(self.frame, name="Installations-Log", role=pyatspi.ROLE_PUSH_BUTTON))
        self.log = wait_for(lambda: find(self.frame, name="Installations-Log",
                                         role=pyatspi.ROLE_TEXT), "the log view")
        self.tabs = {n: find(self.frame, name=n, role=pyatspi.ROLE_PAGE_TAB)
                     for n in ("Graphics", "Printer", "Scanner")}
        self.terminal_output = b""

    def button(self, name):
        return wait_for(lambda: find(self.frame, name=name, role=pyatspi.ROLE_PUSH_BUTTON), name)

    def show(self, tab):
        click(self.tabs[tab])
        wait_for(lambda: self.tabs[tab].getState().contains(pyatspi.STATE_SELECTED), tab + " shown")

    def status_lines(self):
        """The printer's and the scanner's status line, in that order."""
        found = []
        pyatspi.findAllDescendants(self.frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and (
            a.name == "Not installed" or a.name[:2] in ("\u25cb ", "\u25cf ")) and
            found.append(a.name))
        return found

    def read_terminal(self):
        while self.tty is not None and select.select([self.tty], [], [], 0)[0]:
            try:
                self.terminal_output += os.read(self.tty, 4096)
            except OSError:
                return

    def run_task(self, name, tick=None, timeout=60, confirm=None):
        """Clicks `name` and waits for the end banner; returns this task's log.
        With `confirm`, the first click only asks (the button reads `confirm`,
        nothing runs) and the second one runs."""
        before = text_of(self.log)
        click(self.button(name))
        if confirm:
            ask = wait_for(lambda: find(self.frame, name=confirm, role=pyatspi.ROLE_PUSH_BUTTON),
                           confirm, timeout=4)
            if "Starting:" in text_of(self.log)[len(before):]:
                raise AssertionError("the first click of " + name + " ran something")
            click(ask)

        def ended():
            if tick:
                tick()
            self.read_terminal()
            text = text_of(self.log)[len(before):]
            return text if (SUCCESS in text or FAILURE in text) else None
        wait_for(ended, "the end of " + name, timeout=timeout)
        wait_for(lambda: self.button(name).getState().contains(pyatspi.STATE_SENSITIVE),
                 "the window idle after " + name)
        time.sleep(0.3)  # anything that would follow the banner
        return text_of(self.log)[len(before):]

    def label_starting(self, prefix):
        found = pyatspi.findDescendant(self.frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and
                                       a.name.startswith(prefix))
        return found.name if found else None

    def dialog(self):
        """kelmora's own authentication dialog, when it is open."""
        return next((w for w in self.app if w is not None and w.name == AUTH_TITLE and
                     w.getState().contains(pyatspi.STATE_SHOWING)), None)

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        if self.tty is not None:
            os.close(self.tty)


def raw_starts(text):
    return [line[len("Starting: pkexec "):] for line in text.splitlines()
            if line.startswith("Starting: pkexec ")]


def starts(text):
    """The commands run, without the helper in front of them."""
    return [line.replace('"%s", ' % HELPER, "", 1) if HELPER else line
            for line in raw_starts(text)]


def with_agents(checks, k):
    """Agents of other programs answer for this kelmora: one that cancels,
    polkit's text agent, or none where polkit refuses without asking."""
    app_proc, button, show, run_task = k.proc, k.button, k.show, k.run_task
    label_starting, status_lines = k.label_starting, k.status_lines
    # 1. The agent answers Cancelled: pkexec says dismissed, nothing runs
    #    after it, and the window says cancelled, not failed. (First: once
    #    the helper's action is kept, nothing asks for the next minutes.)
    set_answer("auth_admin")
    show("Graphics")
    cancel = start_cancel_agent("process", app_proc.pid)
    try:
        # nvidia is installed and nvidia580 fits the card: a switch, asked first.
        text = run_task("Install Nvidia + 32-Bit", confirm="Replace nvidia with nvidia580?")
    finally:
        cancel.terminate()
        cancel.wait()
    lines = text.splitlines()
    dismissed = "[Error] Error executing command as another user: Request dismissed"
    checks.check(dismissed in lines, "NVIDIA dismissed: pkexec's message is in the log")
    checks.check(lines[-1] == FAILURE and lines.index(dismissed) == len(lines) - 2,
                 "NVIDIA dismissed: the failure banner follows it, and nothing else")
    checks.check(len(starts(text)) == 1, "NVIDIA dismissed: no further command was started")
    checks.check(label_starting("Cancelled") == "Cancelled \u2014 nothing was changed",
                 "NVIDIA dismissed: the window says cancelled, nothing changed")

    # 3. Rule NO: pkexec is not authorized, the task fails at once.
    set_answer("no")
    text = run_task("Install Intel Packages")
    checks.check("[Error] Error executing command as another user: Not authorized" in
                 text.splitlines() and text.rstrip().endswith(FAILURE) and
                 len(starts(text)) == 1, "rule NO: not authorized, then the failure banner")

    # 4. AUTH_ADMIN_KEEP for the helper, the password typed into pkttyagent:
    #    the services are installed (xbps updates itself first) and enabled
    #    with the real ln, five privileged steps and one password prompt;
    #    the status line turns active.
    set_answer("auth_admin")
    show("Printer")
    checks.check(status_lines() == ["Not installed", "Not installed"],
                 "both status lines read Not installed (%s)" % status_lines())
    agent = TtyAgent(app_proc.pid)
    try:
        text = run_task("Set up Services", tick=agent.answer_prompts)
    finally:
        agent.stop()
    checks.check(agent.prompts == 1, "services: one password prompt for every privileged "
                 "step (got %d)" % agent.prompts)
    checks.check(HELPER and all(line.startswith('["%s", ' % HELPER) for line in
                                raw_starts(text)),
                 "services: every step ran through the helper (%s)" % raw_starts(text))
    checks.check(text.rstrip().endswith(SUCCESS), "services: the success banner ends the task")
    checks.check(starts(text) == [
        '["xbps-install", "-Su", "-y", "cups", "cups-filters", "avahi", "nss-mdns", "avahi-utils"]',
        '["xbps-install", "-Syu", "xbps"]',
        '["xbps-install", "-Su", "-y", "cups", "cups-filters", "avahi", "nss-mdns", "avahi-utils"]'],
        "services: refused while xbps must update, xbps updated, the install repeated")
    checks.check("[Error] ERROR: The 'xbps' package must be updated, please run "
                 "`xbps-install -u xbps`" in text, "services: xbps's refusal is in the log")
    checks.check(os.path.exists("/usr/bin/cupsd") and os.stat("/usr/bin/cupsd").st_uid == 0,
                 "services: the fake installer ran as root and made /usr/bin/cupsd")
    checks.check(all(os.readlink("/var/service/" + s) == "/etc/sv/" + s
                     for s in ("cupsd", "avahi-daemon")),
                 "services: real ln linked cupsd and avahi-daemon into /var/service")
    checks.check(wait_for(lambda: status_lines()[0] == "\u25cf Service active", "status"),
                 "services: the printer status reads \u25cf Service active")

    # 5. A second click within the time polkit keeps the authorization: the
    #    install and the link run, and nothing asks.
    show("Scanner")
    agent = TtyAgent(app_proc.pid)
    try:
        text = run_task("Set up SANE", tick=agent.answer_prompts)
    finally:
        agent.stop()
    checks.check(text.rstrip().endswith(SUCCESS), "SANE: the success banner ends the task")
    checks.check(agent.prompts == 0, "SANE: no password prompt within the kept time "
                 "(got %d)" % agent.prompts)
    checks.check(os.readlink("/var/service/saned") == "/etc/sv/saned",
                 "SANE: saned linked into /var/service")
    checks.check(wait_for(lambda: status_lines()[1] == "\u25cf Service active", "status"),
                 "SANE: the scanner status reads \u25cf Service active")

    # 6. Still kept: on a Pascal machine with "nvidia" installed and no
    #    repositories: they come first, then xbps's self-update, then the
    #    old generation goes and the recommended nvidia580 comes.
    show("Graphics")
    checks.check(label_starting("NVIDIA GP106 [GeForce GTX 1060 6GB]") is not None,
                 "NVIDIA: the Pascal card is named on the Graphics page")
    checks.check(label_starting("Installed: ") == "Installed: nvidia",
                 "NVIDIA: the page names the installed generation (%s)"
                 % label_starting("Installed: "))
    checks.check(wait_for(lambda: label_starting("Driver will not load") is not None,
                          "the module line"),
                 "NVIDIA: the page names the LTS kernel that has no module")
    text = run_task("Install Nvidia + 32-Bit", confirm="Replace nvidia with nvidia580?")
    checks.check(starts(text) == [
        '["xbps-install", "-Syf", "void-repo-multilib", "void-repo-multilib-nonfree", '
        '"void-repo-nonfree"]',
        '["xbps-install", "-Syu", "xbps"]',
        '["xbps-remove", "-Ry", "nvidia", "nvidia-libs", "nvidia-libs-32bit", "nvidia-dkms", '
        '"nvidia-gtklibs", "nvidia-firmware"]',
        '["nvidia-config", "modeset"]',
        '["xbps-install", "-Su", "-y", "void-repo-multilib", "void-repo-multilib-nonfree", '
        '"void-repo-nonfree", "nvidia580", "nvidia580-libs-32bit", "linux6.6-headers"]'] and
        text.rstrip().endswith(SUCCESS),
        "NVIDIA: repositories, self-update, the old generation removed, mode setting written "
        "before nvidia580 is installed (%s)" % starts(text))
    with open("/etc/modprobe.d/kelmora-nvidia.conf") as f:
        checks.check("options nvidia_drm modeset=1\n" in f.read(),
                     "NVIDIA: the helper wrote kelmora's modprobe file")
    checks.check(all(os.path.exists("/usr/share/xbps.d/10-repository-%s.conf" % r)
                     for r in ("nonfree", "multilib", "multilib-nonfree")),
                 "NVIDIA: the repository drop-in files exist")
    with open("/var/lib/kelmora-e2e/xbps-installed") as f:
        installed = f.read().split()
    checks.check("nvidia580" in installed and not any(
        p.startswith("nvidia-") or p == "nvidia" for p in installed),
        "NVIDIA: only the new generation is installed (%s)" % " ".join(installed))
    checks.check("linux6.6-headers" in installed and os.path.exists(
        "/usr/lib/modules/6.6.63_1/kernel/drivers/video/nvidia.ko"),
        "NVIDIA: the LTS headers came in the same click and the module was built for it")
    checks.check(wait_for(lambda: label_starting("Driver will not load") is None,
                          "the module line gone"),
                 "NVIDIA: the page no longer names a kernel without the module")
    checks.check(wait_for(lambda: (label_starting("Installed: ") or "").startswith(
        "Installed: nvidia580 \u2014 "), "the installed line"),
        "NVIDIA: the page names nvidia580 and asks for a restart")

    # 7. The Polkit policy, written by the real tee as root; polkitd reads it.
    text = run_task("Setup Polkit Security Rules")
    policy = "/usr/share/polkit-1/actions/org.tamsel.pellin.policy"
    checks.check(text.splitlines()[-2:] == ["Polkit-Policy erfolgreich registriert!", SUCCESS],
                 "policy: registered, then the success banner")
    checks.check(open(policy, "rb").read() == DOCUMENT and os.stat(policy).st_uid == 0,
                 "policy: the root-owned file is byte-identical to the document")

    def listed():
        r = subprocess.run(["pkaction", "--action-id", "org.tamsel.pellin.install"],
                           capture_output=True, text=True)
        return r.returncode == 0 and "org.tamsel.pellin.install" in r.stdout
    checks.check(wait_for(listed, "pkaction to list the action", timeout=5),
                 "policy: pkaction lists org.tamsel.pellin.install")

    # 8. A USB scanner whose node is for the scanner group: the helper adds
    #    the caller (the one PKEXEC_UID names) with the real gpasswd.
    show("Scanner")
    before = text_of(k.log)
    click(button("Add Me to the Scanner Group"))
    text = wait_for(lambda: (lambda t: t if SUCCESS in t or FAILURE in t else None)(
        text_of(k.log)[len(before):]), "the end of joining the group", timeout=60)
    with open("/etc/group") as f:
        members = next((line.strip().split(":")[3].split(",") for line in f
                        if line.startswith("scanner:")), [])
    checks.check(text.rstrip().endswith(SUCCESS) and
                 raw_starts(text) == ['["%s", "gpasswd", "-a", "%s", "scanner"]' % (HELPER, USER)]
                 and USER in members,
                 "group: the installed helper's gpasswd added the caller to scanner (%s, %s)"
                 % (raw_starts(text), members))
    checks.check(wait_for(lambda: k.label_starting("Log out and in again"), "the next-login note"),
                 "group: the page says it counts from the next login")


def own_dialog(checks, k):
    """No agent and no login session, kelmora started from a terminal: its own
    dialog asks, once per click, and the action's own defaults decide."""
    set_answer("policy")
    k.show("Scanner")
    dialogs = {"opened": 0, "shown": False}

    def watch(answer=None):
        """Counts the dialog's appearances; `answer` acts on it when shown."""
        shown = k.dialog() is not None
        if shown and not dialogs["shown"]:
            dialogs["opened"] += 1
        dialogs["shown"] = shown
        if shown and answer:
            answer()

    def entry_ready():
        """The dialog asks: PAM's prompt has come and the entry takes input."""
        d = k.dialog()
        entry = d and (find(d, role=pyatspi.ROLE_PASSWORD_TEXT) or find(d, name="Password"))
        return bool(entry) and entry.getState().contains(pyatspi.STATE_SENSITIVE)

    # Escape dismisses: cancelled, nothing changed.
    said = {"runs": None}

    def escape():
        if entry_ready():
            runs = pyatspi.findDescendant(k.dialog(), lambda a: a.getRole() == pyatspi.ROLE_LABEL
                                          and a.name.startswith("Runs: "))
            said["runs"] = runs.name if runs else ""
            type_keys(AUTH_TITLE, ["Escape"])
            time.sleep(0.5)
    text = k.run_task("Set up SANE", tick=lambda: watch(escape))
    checks.check(dialogs["opened"] == 1 and NO_AGENT_LINE in text.splitlines(),
                 "own dialog: no agent answered, kelmora's dialog opened (%d)" % dialogs["opened"])
    checks.check(k.label_starting("Cancelled") == "Cancelled \u2014 nothing was changed" and
                 text.rstrip().endswith(FAILURE),
                 "own dialog: Escape reads as cancelled, nothing was changed")
    checks.check((said["runs"] or "").startswith("Runs: xbps-install -Su -y sane"),
                 "own dialog: it says what will run (%r)" % said["runs"])

    # A wrong password says so in the same dialog; the right one then
    # authorizes the install and the link: one dialog for the click.
    state = {"typed": 0}

    def answer():
        if not entry_ready():
            return
        if state["typed"] == 0:
            type_keys(AUTH_TITLE, list("wrong-password") + ["Return"])
            state["typed"] = 1
        elif state["typed"] == 1 and find(k.dialog(), name=RETRY) is not None:
            type_keys(AUTH_TITLE, list(password) + ["Return"])
            state["typed"] = 2
    dialogs.update(opened=0, shown=False)
    text = k.run_task("Set up SANE", tick=lambda: watch(answer), timeout=90)
    checks.check(state["typed"] == 2, "own dialog: a wrong password was refused in the same "
                 "dialog, then the right one typed (%d)" % state["typed"])
    checks.check(dialogs["opened"] == 1 and text.rstrip().endswith(SUCCESS),
                 "own dialog: one dialog for the install and the link (%d), then success"
                 % dialogs["opened"])
    checks.check(os.readlink("/var/service/saned") == "/etc/sv/saned",
                 "own dialog: saned linked by the real ln")

    # The next click within the kept time asks nothing.
    dialogs.update(opened=0, shown=False)
    text = k.run_task("Set up SANE", tick=watch)
    checks.check(dialogs["opened"] == 0 and text.rstrip().endswith(SUCCESS) and
                 NO_AGENT_LINE not in text,
                 "own dialog: the next click asks nothing (%d dialogs)" % dialogs["opened"])
    k.read_terminal()
    checks.check(b"Password" not in k.terminal_output,
                 "own dialog: nothing asked on kelmora's terminal (%r)" % k.terminal_output[:80])


def session_agent(checks, k):
    """An agent registered for the login session answers (here it cancels):
    kelmora's own dialog never opens."""
    set_answer("auth_admin")
    k.show("Scanner")
    agent = start_cancel_agent("session", "c1")
    seen = {"dialog": False}
    try:
        text = k.run_task("Set up SANE", tick=lambda: seen.update(
            dialog=seen["dialog"] or k.dialog() is not None))
    finally:
        agent.terminate()
        agent.wait()
    checks.check("[Error] Error executing command as another user: Request dismissed" in
                 text.splitlines(), "session agent: it was asked and answered")
    checks.check(not seen["dialog"] and NO_AGENT_LINE not in text,
                 "session agent: kelmora's own dialog never opened")


def main():
    checks = Checks()
    runs = [(with_agents, False), (own_dialog, True)] if phase == "no-session" else \
        [(session_agent, False)]
    for scenario, terminal in runs:
        k = None
        try:
            k = Kelmora(checks, terminal=terminal)
            scenario(checks, k)
        except (Exception, SystemExit) as e:  # report, then clean up
            checks.check(False, "%s: %s: %s" % (scenario.__name__, type(e).__name__, e))
            try:
                sys.stdout.write("--- the log at that moment ---\n" + text_of(k.log) + "\n")
            except Exception:
                pass
        finally:
            if k is not None:
                k.stop()
    for p in session:
        p.terminate()
    print("%d passed, %d failed" % (checks.passed, checks.failed), flush=True)
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
