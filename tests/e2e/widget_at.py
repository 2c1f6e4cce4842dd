#!/usr/bin/python3
"""Prints "X Y", the screen position of the middle of a widget of Quillix found by its accessible
name inside the window with the given title, read through the accessibility bus (AT-SPI).

    widget_at.py WINDOW_TITLE WIDGET_NAME            waits until the widget is shown
    widget_at.py --focused WINDOW_TITLE WIDGET_NAME  waits until it also has the keyboard focus
    widget_at.py --gone WINDOW_TITLE WIDGET_NAME     waits until the window shows it no more

Waits up to 60 s, a limit only a fault reaches; exits with 1 when the wait is not met. Called
without arguments it only starts the accessibility bus, which the program looks for as it starts.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(node, name, depth=0):
    if depth > 40:
        return None
    try:
        if node.get_name() == name:
            extents = node.get_extents(Atspi.CoordType.SCREEN)
            if extents.width > 0 and extents.height > 0:
                return node, extents
        for i in range(node.get_child_count()):
            found = find(node.get_child_at_index(i), name, depth + 1)
            if found:
                return found
    except gi.repository.GLib.Error:
        # A widget that went away while we looked.
        return None
    return None


def shown_in(desktop, title, name):
    """The named widget's node and extents when a window titled `title` shows it; (None, None)
    when such a window is there without it; None when there is no such window."""
    window_seen = False
    for a in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(a)
        if app is None:
            continue
        for w in range(app.get_child_count()):
            window = app.get_child_at_index(w)
            if window is None or window.get_name() != title:
                continue
            window_seen = True
            found = find(window, name)
            if found:
                return found
    return (None, None) if window_seen else None


def focused(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.FOCUSED)
    except gi.repository.GLib.Error:
        return False


def main():
    desktop = Atspi.get_desktop(0)
    if len(sys.argv) == 1:
        return 0
    mode = sys.argv[1] if sys.argv[1] in ("--focused", "--gone") else None
    title, name = sys.argv[-2], sys.argv[-1]
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        seen = shown_in(desktop, title, name)
        if mode == "--gone":
            if seen is not None and seen[0] is None:
                return 0
        elif seen is not None and seen[0] is not None:
            node, extents = seen
            if mode != "--focused" or focused(node):
                print(extents.x + extents.width // 2, extents.y + extents.height // 2)
                return 0
        time.sleep(0.1)
    wanted = {None: "shown", "--focused": "focused", "--gone": "gone"}[mode]
    print(f'the widget named "{name}" in a window titled "{title}" was not {wanted} within 60 s', file=sys.stderr)
    return 1


sys.exit(main())
