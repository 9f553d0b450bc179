#!/usr/bin/env bash
# Runs a test program on a desktop of its own, as a user's X11 desktop has it: an X server (with
# the primary selection the toolkit's offscreen platform lacks) and a D-Bus session whose
# accessibility bus is already up (the toolkit turns accessibility on when it finds that bus; it
# does not start it), with a runtime folder of its own so that no bus is shared with another run.
#
# Usage: desktop_session.sh PROGRAM [ARGUMENT...]
set -euo pipefail
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# Under AddressSanitizer: the X keyboard library copies atom names, which X replies do not end
# with a NUL, with strndup and their length, which is sound; strict string checks take it for an
# overflow. Every other check stays.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS=$ASAN_OPTIONS:strict_string_checks=0
fi
exec dbus-run-session -- bash -c '
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null || { echo "accessibility bus did not start" >&2; exit 1; }
    exec xvfb-run -a -s "-screen 0 640x480x24" "$@"' bash "$@"
