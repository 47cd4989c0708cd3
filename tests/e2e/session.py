"""A private X display and session bus for the end-to-end suites that run
inside a sandbox of their own."""
import os
import select
import subprocess


def start_session():
    """Xvfb (-noreset: a client that connects while Xvfb resets cannot open the
    display) and a session bus; returns their processes."""
    # -displayfd: Xvfb picks a free display and writes its number to us.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                             "-screen", "0", "1280x1024x24"], pass_fds=(write_end,),
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        if not select.select([read_end], [], [], 20)[0]:
            raise SystemExit("Xvfb did not start")
        chunk = os.read(read_end, 16)
        if not chunk:
            raise SystemExit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    display = ":" + number.decode().strip()
    # Before the bus starts: the services it activates (the accessibility
    # registry) take their display from its environment.
    os.environ["DISPLAY"] = display
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, text=True)
    address = bus.stdout.readline().strip()
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
    return [xvfb, bus]
