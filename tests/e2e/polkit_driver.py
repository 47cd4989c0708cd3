#!/usr/bin/python3
"""The user's side of e2e-polkit (started by polkit_sandbox.py as the test
user, inside the sandbox): a display, a session bus with its accessibility
bus, kelmora, and the scenarios, clicked through the accessibility tree while
the real pkexec asks the real polkitd.

usage: polkit_driver.py KELMORA SOURCE_DIR PASSWORD ANSWER_FILE [HELPER]
"""
import fcntl
import os
import pty
import select
import subprocess
import sys
import termios
import time

kelmora, source, password, answer_file = sys.argv[1:5]
HELPER = sys.argv[5] if len(sys.argv) > 5 else ""  # the installed helper, or none
sys.path.insert(0, os.path.join(source, "tests", "e2e"))
DOCUMENT = open(os.path.join(source, "tests", "data", "org.tamsel.pellin.policy"), "rb").read()


from session import start_session  # noqa: E402

session = start_session()
# pyatspi finds the accessibility bus through the session bus at import.
import pyatspi  # noqa: E402
from atspi_test import (FAILURE, SUCCESS, TITLE, Checks, application, click, find,  # noqa: E402
                        frames, text_of, wait_for)


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
pid = int(sys.argv[1])
start = int(open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[19])
subject = ("unix-process", {"pid": dbus.UInt32(pid), "start-time": dbus.UInt64(start)})
authority = dbus.Interface(bus.get_object("org.freedesktop.PolicyKit1",
                                          "/org/freedesktop/PolicyKit1/Authority"),
                           "org.freedesktop.PolicyKit1.Authority")
authority.RegisterAuthenticationAgent(subject, "C", "/org/kelmora/e2e/Agent")
print("registered", flush=True)
GLib.MainLoop().run()
'''


def start_cancel_agent(pid):
    """An agent that answers Cancelled, as a dialog that the user closes."""
    proc = subprocess.Popen(["/usr/bin/python3", "-c", CANCEL_AGENT, str(pid)],
                            stdout=subprocess.PIPE, text=True)
    if proc.stdout.readline().strip() != "registered":
        raise AssertionError("the cancelling agent did not register")
    return proc


def main():
    checks = Checks()
    env = dict(os.environ)
    # setsid: with a terminal, pkexec's own agent would prompt there and wait.
    # Its standard output is the one that tee copies the policy document to.
    app_proc = subprocess.Popen([kelmora], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, start_new_session=True)
    try:
        app = wait_for(lambda: application(app_proc.pid), "kelmora on the accessibility bus")
        frame = wait_for(lambda: next(iter(frames(app)), None), "the main window")
        checks.check(frame.name == TITLE, "the window is up")
        expander = find(frame, name="Installations-Log", role=pyatspi.ROLE_PUSH_BUTTON)
        click(expander)
        log = wait_for(lambda: find(frame, name="Installations-Log", role=pyatspi.ROLE_TEXT),
                       "the log view")
        tabs = {n: find(frame, name=n, role=pyatspi.ROLE_PAGE_TAB)
                for n in ("Graphics", "Printer", "Scanner")}

        def button(name):
            return wait_for(lambda: find(frame, name=name, role=pyatspi.ROLE_PUSH_BUTTON), name)

        def show(tab):
            click(tabs[tab])
            wait_for(lambda: tabs[tab].getState().contains(pyatspi.STATE_SELECTED), tab + " shown")

        def status_lines():
            """The printer's and the scanner's status line, in that order."""
            found = []
            pyatspi.findAllDescendants(frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and (
                a.name == "Not installed" or a.name[:2] in ("\u25cb ", "\u25cf ")) and
                found.append(a.name))
            return found

        def run_task(name, tick=None, timeout=60):
            """Clicks `name` and waits for the end banner; returns this task's log."""
            before = text_of(log)
            click(button(name))

            def ended():
                if tick:
                    tick()
                text = text_of(log)[len(before):]
                return text if (SUCCESS in text or FAILURE in text) else None
            wait_for(ended, "the end of " + name, timeout=timeout)
            wait_for(lambda: button(name).getState().contains(pyatspi.STATE_SENSITIVE),
                     "the window idle after " + name)
            time.sleep(0.3)  # anything that would follow the banner
            return text_of(log)[len(before):]

        def label_starting(prefix):
            found = pyatspi.findDescendant(frame, lambda a: a.getRole() == pyatspi.ROLE_LABEL and
                                           a.name.startswith(prefix))
            return found.name if found else None

        def raw_starts(text):
            return [line[len("Starting: pkexec "):] for line in text.splitlines()
                    if line.startswith("Starting: pkexec ")]

        def starts(text):
            """The commands run, without the helper in front of them."""
            return [line.replace('"%s", ' % HELPER, "", 1) if HELPER else line
                    for line in raw_starts(text)]

        # 1. The agent answers Cancelled: pkexec says dismissed, nothing runs
        #    after it, and the window says cancelled, not failed. (First: once
        #    the helper's action is kept, nothing asks for the next minutes.)
        set_answer("auth_admin")
        show("Graphics")
        cancel = start_cancel_agent(app_proc.pid)
        try:
            text = run_task("Install Nvidia + 32-Bit")
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

        # 2. No agent at all: the failure banner, and the window idle again.
        text = run_task("Install AMD Packages")
        checks.check(text.rstrip().endswith(FAILURE) and len(starts(text)) == 1,
                     "no agent: the failure banner after the first command")
        checks.check(button("Install AMD Packages").getState().contains(pyatspi.STATE_SENSITIVE),
                     "no agent: the window is idle again")

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
        text = run_task("Install Nvidia + 32-Bit")
        checks.check(starts(text) == [
            '["xbps-install", "-Syf", "void-repo-multilib", "void-repo-multilib-nonfree", '
            '"void-repo-nonfree"]',
            '["xbps-install", "-Syu", "xbps"]',
            '["xbps-remove", "-Ry", "nvidia", "nvidia-libs", "nvidia-libs-32bit", "nvidia-dkms", '
            '"nvidia-gtklibs", "nvidia-firmware"]',
            '["xbps-install", "-Su", "-y", "void-repo-multilib", "void-repo-multilib-nonfree", '
            '"void-repo-nonfree", "nvidia580", "nvidia580-libs-32bit", "linux6.6-headers"]'] and
            text.rstrip().endswith(SUCCESS),
            "NVIDIA: repositories, self-update, the old generation removed, nvidia580 installed")
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
    except (Exception, SystemExit) as e:  # report, then clean up
        checks.check(False, "%s: %s" % (type(e).__name__, e))
        try:
            sys.stdout.write("--- the log at that moment ---\n" + text_of(log) + "\n")
        except Exception:
            pass
    finally:
        app_proc.terminate()
        try:
            app_proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            app_proc.kill()
        for p in session:
            p.terminate()
    print("%d passed, %d failed" % (checks.passed, checks.failed), flush=True)
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
