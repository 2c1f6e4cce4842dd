#!/usr/bin/python3
"""Prints "X Y", the screen position of the middle of a widget of Quillix found by its accessible
name inside the window with the given title, read through the accessibility bus (AT-SPI).

    widget_at.py WINDOW_TITLE WIDGET_NAME

Waits up to 20 s for the widget to appear with a size; exits with 1 when it does not. Called
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
                return extents
        for i in range(node.get_child_count()):
            found = find(node.get_child_at_index(i), name, depth + 1)
            if found:
                return found
    except gi.repository.GLib.Error:
        # A widget that went away while we looked.
        return None
    return None


def main():
    desktop = Atspi.get_desktop(0)
    if len(sys.argv) == 1:
        return 0
    title, name = sys.argv[1], sys.argv[2]
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        for a in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(a)
            if app is None:
                continue
            for w in range(app.get_child_count()):
                window = app.get_child_at_index(w)
                if window is None or window.get_name() != title:
                    continue
                extents = find(window, name)
                if extents:
                    print(extents.x + extents.width // 2, extents.y + extents.height // 2)
                    return 0
        time.sleep(0.1)
    print(f'no widget named "{name}" in a window titled "{title}"', file=sys.stderr)
    return 1


sys.exit(main())
