#!/usr/bin/python3
"""Answers GNOME's "Remote desktop" dialog through the accessibility bus, as a user would: ticks
"Allow remote interaction" and presses Share. Keeps watching until it is ended, so every dialog of
a test run is answered. A test may ask for another answer by writing it into the file that
VELMORA_TEST_PORTAL_ANSWER names: "accept", "cancel" (presses Cancel) or "ignore" (leaves the
dialog up). Needs Debian's python3-pyatspi (hence /usr/bin/python3).

A dialog may close while it is read (a withdrawn one is destroyed under the reader): that look
is given up and the next one taken, so the helper outlives every dialog. It logs each answer and
each look given up, for a test that waited in vain."""
import os
import time

import pyatspi
from gi.repository import GLib

ANSWER_FILE = os.environ.get("VELMORA_TEST_PORTAL_ANSWER", "")


def wanted():
    try:
        with open(ANSWER_FILE, encoding="utf-8") as f:
            return f.read().strip() or "accept"
    except OSError:
        return "accept"


def nodes(node, depth=0):
    if node is None or depth > 40:
        return
    try:
        yield node
        for i in range(node.childCount):
            yield from nodes(node.getChildAtIndex(i), depth + 1)
    except Exception:  # a dialog that closes while it is read
        return


def button(found, label):
    return next((n for n in found if n.getRoleName() == "push button" and label in (n.name or "")), None)


def answer_once():
    found = list(nodes(pyatspi.Registry.getDesktop(0)))
    box = next((n for n in found if n.getRoleName() == "check box"
                and n.name == "Allow remote interaction"), None)
    share = button(found, "Share")
    if box is None or share is None:
        return False
    answer = wanted()
    if answer == "ignore":
        return False
    if answer == "cancel":
        cancel = button(found, "Cancel")
        if cancel is None:
            return False
        cancel.queryAction().doAction(0)
        print("cancelled", flush=True)
        return True
    if not box.getState().contains(pyatspi.STATE_CHECKED):
        box.queryAction().doAction(0)
        # The button is greyed until the box is ticked, and a busy machine redraws late: the
        # click waits until the button says it takes clicks (or, should it never say, 10 s).
        time.sleep(0.3)
        deadline = time.monotonic() + 10
        while not share.getState().contains(pyatspi.STATE_SENSITIVE) and time.monotonic() < deadline:
            time.sleep(0.05)
    share.queryAction().doAction(0)
    print("accepted", flush=True)
    return True


print("watching for the Remote desktop dialog", flush=True)
while True:
    try:
        answered = answer_once()
    except GLib.Error as error:  # an object of a closing dialog is gone
        print(f"a dialog changed while read ({error.message}); looking again", flush=True)
        answered = False
    if answered:
        time.sleep(1)
    time.sleep(0.2)
