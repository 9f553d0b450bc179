#!/usr/bin/python3
"""What a screen reader hears of the reading area during a capture, over the real AT-SPI bus.

    reading_events.py <application name> <transmission file> <seconds>

Registers for the text changes of every application before the program starts (so the program
sends them from its first moment on), then looks for the application of that name and its
reading area: a text, read-only and multi-line. It tells the driving script on standard output:

    listening            the listener is registered
    found <name>         the reading area is there (the instrument may send now)

and waits for the line "check" on standard input, sent once the capture has ended. It then
compares what it heard with the transmission, byte for byte (one Latin-1 character each):
nothing but a removal before the readings come, then insertions at consecutive positions from
0 whose texts joined are the transmission, and the area's whole text read back the same. Exit
status 0 when all holds, 1 otherwise (the reasons on standard error).
"""

import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402

import pyatspi  # noqa: E402

app_name = sys.argv[1]
with open(sys.argv[2], "rb") as sent_file:
    expected = sent_file.read().decode("latin-1")
seconds = float(sys.argv[3])

# Every text change heard, in order: (kind, source, position, length, text).
heard = []
area = None
last_error = None
status = 1


def say(line):
    print(line, flush=True)


def problem(text):
    print(f"reading_events: {text}", file=sys.stderr, flush=True)


def on_text_changed(event):
    heard.append((event.type.minor, event.source, event.detail1, event.detail2, event.any_data))


def has_states(accessible, *states):
    state_set = accessible.getState()
    return all(state_set.contains(s) for s in states)


def is_reading_area(accessible):
    try:
        return accessible.getRole() == pyatspi.ROLE_TEXT and has_states(
            accessible, pyatspi.STATE_MULTI_LINE, pyatspi.STATE_READ_ONLY
        )
    except Exception:  # an object that went away while looked at
        return False


def look_for_area():
    global area, last_error
    try:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == app_name:
                area = pyatspi.findDescendant(app, is_reading_area, breadth_first=True)
                if area is not None:
                    say(f"found {area.name or area.getRoleName()}")
                    return False
    except Exception as error:  # the application is still starting
        last_error = error
    return True


def same_object(a, b):
    if a is b or a == b:
        return True
    try:
        return (a.get_bus_name(), a.get_path()) == (b.get_bus_name(), b.get_path())
    except Exception:
        return False


def area_events():
    return [e for e in heard if same_object(e[1], area)]


def inserted_length():
    return sum(len(e[4]) for e in area_events() if e[0] == "insert")


def check():
    """The comparison, once the capture is over; True when everything holds."""
    events = area_events()
    others = len(heard) - len(events)
    print(
        f"reading_events: {len(events)} text changes of the reading area"
        f" ({others} of other objects)",
        file=sys.stderr,
    )
    ok = True
    position = 0
    inserts = 0
    joined = []
    for number, (kind, _, at, length, text) in enumerate(events):
        where = f"change {number + 1} ({kind} at {at}, {length} characters)"
        if kind == "delete":
            # The empty area is emptied (or nothing is said) before the readings come.
            if inserts:
                problem(f"{where}: a removal after the readings began")
                ok = False
            elif at != 0:
                problem(f"{where}: the emptied area's removal is not at 0")
                ok = False
            continue
        inserts += 1
        if at != position:
            problem(f"{where}: expected at {position}, where the previous block ended")
            ok = False
        if length != len(text):
            problem(f"{where}: its length says {length}, its text has {len(text)} characters")
            ok = False
        position = at + len(text)
        joined.append(text)
    joined = "".join(joined)
    if not inserts:
        problem("no insertion was heard")
        return False
    if joined != expected:
        common = next(
            (i for i, (a, b) in enumerate(zip(joined, expected)) if a != b),
            min(len(joined), len(expected)),
        )
        problem(
            f"the insertions joined ({len(joined)} characters) differ from the transmission"
            f" ({len(expected)}) from character {common}:"
            f" heard {joined[common:common + 20]!r}, sent {expected[common:common + 20]!r}"
        )
        ok = False
    # A transmission of several seconds arrives in several blocks, each heard when it comes.
    if inserts < 2:
        problem(f"the transmission was heard in {inserts} insertion, not block by block")
        ok = False
    text = area.queryText()
    whole = text.getText(0, -1)
    if whole != expected:
        problem(
            f"getText(0, -1) gives {len(whole)} characters, not the {len(expected)} sent:"
            f" {whole[:40]!r}..."
        )
        ok = False
    if text.characterCount != len(expected):
        problem(f"characterCount is {text.characterCount}, not {len(expected)}")
        ok = False
    print(f"reading_events: {inserts} insertions, {len(joined)} characters", file=sys.stderr)
    return ok


def finish(ok):
    global status
    status = 0 if ok else 1
    pyatspi.Registry.stop()
    return False


def on_command(source, condition):
    line = sys.stdin.readline()
    if not line:  # the script is gone
        problem("standard input closed")
        return finish(False)
    if line.strip() != "check":
        return True
    if area is None:
        problem("the reading area was never found")
        return finish(False)
    # Signals sent before the capture ended may still be on their way: a call to the program
    # answers after them; then the rest is waited for a little.
    area.queryText().characterCount
    deadline = GLib.get_monotonic_time() + 5_000_000

    def settled():
        if inserted_length() < len(expected) and GLib.get_monotonic_time() < deadline:
            return True
        return finish(check())

    GLib.timeout_add(50, settled)
    return False


def on_timeout():
    problem(f"no verdict within {seconds:.0f} s")
    if area is None:
        problem(f"the reading area was not found (last error: {last_error})")
    return finish(False)


pyatspi.Registry.registerEventListener(
    on_text_changed, "object:text-changed:insert", "object:text-changed:delete"
)
say("listening")
GLib.timeout_add(100, look_for_area)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
GLib.timeout_add(int(seconds * 1000), on_timeout)
pyatspi.Registry.start()
sys.exit(status)
