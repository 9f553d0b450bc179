#!/usr/bin/env bash
# End-to-end cases for assistive technology: the built (or installed) program under an X server,
# a D-Bus session and an accessibility bus of its own (at-spi-bus-launcher and the AT-SPI
# registry, as a desktop starts them), with its accessibility on as a screen reader turns it on,
# and a listener (reading_events.py, pyatspi) on that bus as the screen reader.
#
#     accessibility.sh <case> <tarvix> <tarvix-sim> <source folder>
#
# TARVIX_E2E_PROGRAM, when set, names the program to test instead of <tarvix>.
# Cases: capture; screen_reader, the real screen reader Orca on that bus under xfwm4. Exit status
# 0 passed, 1 failed, 77 skipped (a tool is missing; in CI, where CI is set, that is a failure
# instead; where Orca is installed and cannot start, the case fails).
# shellcheck disable=SC2119 # the case starts the program without arguments
set -euo pipefail

case_name=$1
program=$(realpath "${TARVIX_E2E_PROGRAM:-$2}")
sim=$(realpath "$3")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source-path=SCRIPTDIR source=session.sh
source "$here/session.sh"

main_title='Tarvix Conectivity'
# The name the program gives itself, which the accessibility bus lists it under.
app_name='Tarvix'
bus_launcher_service=/usr/share/dbus-1/services/org.a11y.Bus.service

# pyatspi comes with Debian's Python; another python3 first on the path lacks it.
python=
for candidate in /usr/bin/python3 python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import pyatspi' 2>/dev/null; then
        python=$candidate
        break
    fi
done

write_com1_cfg()
{
    printf '1\r\n\r\n' >"$1"
}

# write_readings <count>: a transmission of the instrument, numbered readings with CR LF, a line
# ended by LF alone and a few bytes above 127 (µ, °), which assistive technology must hear as
# the characters they are.
write_readings()
{
    local count=$1 i
    printf 'TARVIX-1M a11y-%s\r\n' "$$"
    for ((i = 1; i <= count; i++)); do
        printf ' %03d     %d.%02d mg\r\n' "$i" $((20 + i % 7)) $((i * 37 % 100))
        if ((i % 10 == 0)); then
            printf ' %03d     %d.%d \xb5g  21.5\xb0C\r\n' "$i" $((i / 5)) $((i % 10))
        fi
    done
    printf 'END OF MEMORY\n'
    printf 'TOTAL %d\r\n' "$count"
}

# The accessibility bus's processes, ended with the session.
a11y_launcher_pid=
a11y_bus_pid=
a11y_registry_pid=
listener_pid=

# A D-Bus session of its own, and the accessibility bus it starts on demand, as on a desktop.
start_buses()
{
    local bus address
    bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 \
        2>"$session_work/bus.log") || fail "no D-Bus session: $(cat "$session_work/bus.log")"
    export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
    session_bus_pid=${bus##*$'\n'}
    address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress 2>"$session_work/a11y.log") ||
        fail "the accessibility bus did not start: $(cat "$session_work/a11y.log")"
    a11y_launcher_pid=$(pid_on_bus --session org.a11y.Bus)
    [ -n "$a11y_launcher_pid" ] || fail "no process owns org.a11y.Bus"
    address=$(echo "$address" | tr -d ' ')
    # The registry is started by the accessibility bus when first asked for.
    dbus-send --bus="$address" --print-reply --dest=org.a11y.atspi.Registry \
        /org/a11y/atspi/accessible/root org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1 ||
        fail "the AT-SPI registry did not start"
    a11y_registry_pid=$(pid_on_bus --bus="$address" org.a11y.atspi.Registry)
    a11y_bus_pid=$(pid_on_bus --bus="$address" org.freedesktop.DBus)
}

# pid_on_bus <bus option> <name>: the process that owns the name.
pid_on_bus()
{
    dbus-send "$1" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$2" 2>/dev/null |
        awk '/uint32/ { print $2 }'
}

# Ends the listener and the buses by process id (the program first: it is a client of both),
# then the rest of the session.
# Ended within 5 s: one that does not end at the request (Orca busy with a bus that went away)
# is killed, so a failed case ends instead of hanging until its time limit.
end_process()
{
    local i
    kill "$1" 2>/dev/null || return 0
    for ((i = 0; i < 50; i++)); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

a11y_cleanup()
{
    local pid
    for pid in "$orca_pid" "$listener_pid" "$session_program_pid"; do
        [ -n "$pid" ] && end_process "$pid"
    done
    session_program_pid=
    for pid in "$a11y_registry_pid" "$a11y_launcher_pid" "$a11y_bus_pid" "$session_bus_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null || true
        fi
    done
    session_bus_pid=
    session_cleanup
}

# listener_says <word> <seconds>: the next line of the listener begins with the word.
listener_says()
{
    local line=
    read -r -t "$2" -u "${LISTENER[0]}" line || true
    [[ "$line" == "$1"* ]] ||
        fail "the listener did not say \"$1\" within $2 s (said \"$line\"): $(cat "$session_work/listener.err")"
    echo "listener: $line"
}

# A capture heard as a screen reader hears it: the reading area found on the accessibility bus,
# each received block heard as an insertion at the end, the whole transmission in order and
# byte for byte, and the area's text read back the same once the capture is over.
case_capture()
{
    local sent="$session_work/sent.txt" bytes seconds
    write_readings 40 >"$sent"
    bytes=$(stat -c %s "$sent")
    # 1200 baud with 8N1 carries 120 characters a second; the capture ends 1.3 s after the
    # last of them. The deadline leaves room for a loaded machine.
    seconds=$((bytes / 120 + 20))

    start_buses
    # The listener is registered before the program starts, so the program knows from its
    # first moment that someone listens.
    coproc LISTENER { exec "$python" "$here/reading_events.py" "$app_name" "$sent" \
        $((seconds + 40)) 2>"$session_work/listener.err"; }
    # shellcheck disable=SC2153 # coproc sets LISTENER_PID
    listener_pid=$LISTENER_PID
    listener_says listening 20

    # The instrument is held (stopped) until the listener has found the reading area: nothing
    # it sends can come before the program's accessibility is up.
    start_sim --file "$sent" --delay 3000
    kill -STOP "$session_sim_pid"
    write_com1_cfg "$session_work/run/tvx.cfg"
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_program
    main=$(wait_window "$main_title")
    listener_says found 20
    kill -CONT "$session_sim_pid"

    wait_capture "$main" "$seconds"
    echo check >&"${LISTENER[1]}"
    local status=0
    wait "$listener_pid" || status=$?
    listener_pid=
    cat "$session_work/listener.err" >&2
    [ "$status" = 0 ] || fail "what the listener heard differs from the capture"
}

# Orca, started on the session's accessibility bus, from a copy of Debian's launcher that writes
# its debug log line by line (Debian's opens it block-buffered, so what Orca said shows only when
# it ends) and that leaves other Orcas of this user alone (each case's Orca has a bus of its
# own). Speech and braille are off; the log records every "SPEECH OUTPUT" all the same.
orca_launcher=/usr/bin/orca
orca_log=
orca_pid=

start_orca()
{
    local launcher="$session_work/orca" prefs="$session_work/orca-prefs"
    orca_log="$session_work/orca.log"
    sed -e "s/open(args.debug_file, 'w')/open(args.debug_file, 'w', buffering=1)/" \
        -e 's/^    if otherOrcas():$/    if False:/' "$orca_launcher" >"$launcher"
    grep -q "open(args.debug_file, 'w', buffering=1)" "$launcher" && grep -q '^    if False:$' "$launcher" ||
        fail "$orca_launcher is not the launcher this case knows: its debug log cannot be made line-buffered"
    mkdir -p "$prefs"
    XDG_DATA_HOME="$session_work/data" "$python" "$launcher" --disable speech --disable braille \
        --user-prefs "$prefs" --debug-file "$orca_log" >"$session_work/orca.out" 2>&1 &
    orca_pid=$!
    poll 60 "Orca to start" orca_ready
}

orca_ready()
{
    kill -0 "$orca_pid" 2>/dev/null ||
        fail "Orca ended at start: $(cat "$session_work/orca.out")$(tail -n 20 "$orca_log" 2>/dev/null)"
    grep -aq 'ORCA: Startup complete notification made' "$orca_log" 2>/dev/null
}

# What Orca has said from line <from> of its log on, one utterance a line (orca_speech.py).
said_since()
{
    "$python" "$here/orca_speech.py" "$orca_log" "$1"
}

log_lines()
{
    wc -l <"$orca_log"
}

# orca_says <from> <seconds> <text>: Orca says the text (a whole utterance; one that ends in "*"
# the start of one) from line <from> of its log on.
orca_says()
{
    local from=$1 seconds=$2 expected=$3 deadline line
    deadline=$((SECONDS + seconds))
    while :; do
        while IFS= read -r line; do
            if [ "$line" = "$expected" ] ||
                { [[ "$expected" == *\* ]] && [[ "$line" == "${expected%\*}"* ]]; }; then
                echo "Orca said: '$line'"
                return 0
            fi
        done < <(said_since "$from")
        ((SECONDS < deadline)) || fail "Orca did not say '$expected' within $seconds s; it said:
$(said_since "$from" | tail -n 12)"
        sleep 0.2
    done
}

# The readings as the instrument lists them, one a row: rows narrow enough for the reading area.
write_rows()
{
    local i
    for ((i = 1; i <= $1; i++)); do
        printf ' %03d     %d.%02d\r\n' "$i" $((20 + i % 7)) $((i * 37 % 100))
    done
}

# A blind technician's session, as Orca presents it: the reading area's name when it gets the
# focus, the capture's start and its count of lines, Down reading the next row and Shift+Down
# the selection.
case_screen_reader()
{
    local sent="$session_work/sent.txt" lines seconds from second
    write_rows 40 >"$sent"
    lines=40
    seconds=$(($(stat -c %s "$sent") / 120 + 20))
    second=$(sed -n 2p "$sent" | tr -d '\r')

    start_buses
    start_wm this-bus
    start_orca
    start_sim --file "$sent" --delay 3000
    kill -STOP "$session_sim_pid"
    write_com1_cfg "$session_work/run/tvx.cfg"
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_program
    main=$(wait_window "$main_title")
    poll 30 "Orca to know the program" grep -aq "application | $app_name\]" "$orca_log"
    # The help window opened and closed again: the main window is activated once more, now that
    # Orca surely follows the program, and the reading area gets the focus back.
    from=$(log_lines)
    # Started from no launcher, the window may not have the focus under xfwm4's focus-stealing
    # prevention: activated as a taskbar would.
    timeout 10 xdotool windowactivate --sync "$main" || fail "could not activate the main window"
    xdotool key --clearmodifiers F1
    wait_window Help >/dev/null
    xdotool key --clearmodifiers Escape
    wait_window_gone Help
    orca_says "$from" 20 "Readings read only text."

    from=$(log_lines)
    kill -CONT "$session_sim_pid"
    orca_says "$from" 30 "notification DATA CAPTURING WAIT."
    orca_says "$from" "$seconds" "notification $lines lines received."
    [ "$(said_since "$from" | grep -c 'DATA CAPTURING WAIT')" = 1 ] ||
        fail "Orca said DATA CAPTURING WAIT more than once: $(said_since "$from")"

    # The caret is on the first row.
    from=$(log_lines)
    xdotool key --clearmodifiers Down
    orca_says "$from" 10 "$second"
    # The row selected, with its line break.
    from=$(log_lines)
    xdotool key --clearmodifiers shift+Down
    orca_says "$from" 10 "$second\\r\\n"
}

[ -n "$python" ] || skip "python3-pyatspi is not installed (make test-deps)"
require Xvfb xdotool xdpyinfo import dbus-daemon dbus-send
[ -e "$bus_launcher_service" ] || skip "at-spi2-core is not installed (make test-deps)"
# The accessibility bus, the registry and the listener live in the working folder's runtime
# folder.
session_bus_pid=
session_start "$program" "$sim"
trap a11y_cleanup EXIT
export XDG_RUNTIME_DIR="$session_work/runtime"
unset NO_AT_BRIDGE AT_SPI_BUS_ADDRESS
case "$case_name" in
capture) case_capture ;;
screen_reader)
    [ -x "$orca_launcher" ] || skip "orca is not installed (make test-deps)"
    require xfwm4 xfconf-query
    case_screen_reader
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS: $case_name"
