#!/usr/bin/python3
# An accessibility client as a screen reader is one: finds the log view of the
# kelmora window in process PID, listens to its text events and counts them.
# Prints "ready" once it listens; when its standard input closes it prints
# "events TEXT_CHANGED CARET_MOVED" and exits.
#   atspi_listener.py PID
import sys

import pyatspi
from gi.repository import GLib

pid = int(sys.argv[1])
counts = {"text": 0, "caret": 0}


def on_event(event):
    if event.type.startswith("object:text-changed"):
        counts["text"] += 1
    elif event.type.startswith("object:text-caret-moved"):
        counts["caret"] += 1


def find_log():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return pyatspi.findDescendant(
                app, lambda a: a.getRole() == pyatspi.ROLE_TEXT and a.name == "Installations-Log")
    return None


def start():
    log = find_log()
    if log is None:
        return True  # try again
    log.queryText().characterCount  # looked at, as a reader does when focus lands there
    pyatspi.Registry.registerEventListener(on_event, "object:text-changed",
                                           "object:text-caret-moved")
    print("ready", flush=True)
    return False


def on_stdin(*_):
    # Events still queued on the bus are counted before the end.
    GLib.timeout_add(300, finish)
    return False


def finish():
    print("events %d %d" % (counts["text"], counts["caret"]), flush=True)
    pyatspi.Registry.stop()
    return False


GLib.timeout_add(50, start)
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_stdin)
pyatspi.Registry.start()
