#!/usr/bin/env bash
# Runs a program as a screen reader's desktop would have it: under an X server and a D-Bus
# session of its own whose accessibility bus is already up (the toolkit turns accessibility on
# when it finds that bus; it does not start it), with a runtime folder of its own so that the bus
# is not shared with another run.
#
# Usage: accessibility_session.sh PROGRAM [ARGUMENT...]
set -euo pipefail
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
exec dbus-run-session -- bash -c '
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null || { echo "accessibility bus did not start" >&2; exit 1; }
    exec xvfb-run -a -s "-screen 0 640x480x24" "$@"' bash "$@"
