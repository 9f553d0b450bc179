#!/usr/bin/python3
"""What Orca said, from its debug log: one utterance a line.

    orca_speech.py <log> <first line>

Orca writes each utterance as "<time> - SPEECH OUTPUT: '<text>'" and a voice, whether or not
speech is on; a text that holds a line break goes on over the next lines of the log, indented as
far as the time. The utterances from the given line of the log on are printed without their
quotes, with a carriage return as \\r and a line feed as \\n.
"""

import re
import signal
import sys

# A reader that has heard what it waited for goes away; the rest is not needed.
signal.signal(signal.SIGPIPE, signal.SIG_DFL)

MARK = "SPEECH OUTPUT: "

with open(sys.argv[1], "rb") as log:
    lines = log.read().decode("utf-8", "replace").split("\n")[int(sys.argv[2]) - 1 :]

text = None
indent = 0
for line in lines:
    if MARK in line:
        indent = line.index(MARK)
        text = line[indent + len(MARK) :]
    elif text is not None:
        text += "\n" + line[indent:]
    else:
        continue
    # The text ends at the quote that a voice, or nothing, follows.
    whole = re.match(r"^'(.*)'\s*(\{.*\})?\s*$", text, re.S)
    if whole:
        print(whole.group(1).replace("\r", "\\r").replace("\n", "\\n"), flush=True)
        text = None
