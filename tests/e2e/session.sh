# shellcheck shell=bash disable=SC2034 # some variables are for the scripts that source it
# A desktop session for the real program, as a user has it: an X server of its own (Xvfb), the
# instrument simulator on a pseudo-terminal mapped to COM1, the program started in a fresh
# working folder, and xdotool to press keys and click. Sourced by tests/e2e/e2e.sh and
# tools/screenshot.sh; bash only.
#
# Needs: Xvfb, xdotool, xdpyinfo (x11-utils), ImageMagick's import.
#
# Every wait polls with a deadline; nothing sleeps for a fixed long time.

session_program=
session_sim=
session_work=
session_xvfb_pid=
session_sim_pid=
session_program_pid=
session_program_exit=

# The main window's client area under its menu bar, and the reading area inside it (pixels).
readonly main_client_height=424
readonly reading_left=72
readonly reading_top=40

# session_start <tarvix> <tarvix-sim>: X server up, fresh working folder made.
session_start()
{
    session_program=$(realpath "$1")
    session_sim=$(realpath "$2")
    session_work=$(mktemp -d "${TMPDIR:-/tmp}/tarvix-e2e.XXXXXX")
    # The program's working folder, empty: no tvx.cfg, no reading files.
    mkdir "$session_work/run" "$session_work/runtime"
    chmod 700 "$session_work/runtime"
    trap session_cleanup EXIT
    start_x
    # TARVIX_E2E_WM=xfwm4: the same cases under a window manager.
    if [ "${TARVIX_E2E_WM:-}" = xfwm4 ]; then
        start_wm own-bus
    fi
}

# Ends whatever the session started, by process id.
session_stop()
{
    local pid
    wm_stop
    for pid in "$session_program_pid" "$session_sim_pid" "$session_xvfb_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null || true
        fi
    done
    for pid in "$session_program_pid" "$session_sim_pid" "$session_xvfb_pid"; do
        if [ -n "$pid" ]; then
            wait "$pid" 2>/dev/null || true
        fi
    done
    session_program_pid='' session_sim_pid='' session_xvfb_pid=''
}

# read_first_line <seconds> <command...>: starts the command in the background with its standard
# output on a pipe and reads the first line it writes into $first_line; the command's process
# id ends in $started_pid.
read_first_line()
{
    local seconds=$1 fifo="$session_work/first-line" pipe
    shift
    rm -f "$fifo"
    mkfifo "$fifo"
    # Held open for reading and writing, the pipe never blocks the opening, whatever the
    # command does.
    exec {pipe}<>"$fifo"
    "$@" >"$fifo" &
    started_pid=$!
    first_line=
    read -r -t "$seconds" -u "$pipe" first_line || true
    exec {pipe}<&-
    rm -f "$fifo"
}

# An X server on a free display: Xvfb picks the number itself and tells it on a descriptor.
# -noreset: by default the server resets whenever its last client leaves, and refuses
# connections meanwhile; every xdotool call is such a client.
start_x()
{
    read_first_line 20 xvfb_on_stdout
    session_xvfb_pid=$started_pid
    local display=$first_line
    if [ -z "$display" ]; then
        fail "Xvfb did not start: $(cat "$session_work/xvfb.log")"
    fi
    export DISPLAY=":$display"
    # Wait until the server answers.
    poll 20 "the X server on $DISPLAY" xdpyinfo
}

xvfb_on_stdout()
{
    exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>&1 >/dev/null \
        2>"$session_work/xvfb.log"
}

# A window manager as a desktop has one: xfwm4, with its focus-stealing prevention on, so that
# a window comes to the front with the keyboard focus only when the program asks for it the way
# the desktop standards want. xfwm4 keeps its settings in xfconf, which needs a D-Bus session:
# the session gets a bus of its own (start_wm own-bus; start_wm this-bus: the one already in
# DBUS_SESSION_BUS_ADDRESS), and the settings live in the working folder.
# Needs: xfwm4, xfconf, dbus-daemon, dbus-send, wmctrl.
# TARVIX_E2E_WM=icewm: icewm instead, as it comes (Alt+F11 full screen, Alt+F10 maximise,
# Alt+F5 restore), with its settings in the working folder. Needs: icewm, wmctrl.
session_wm_pid=
session_bus_pid=
session_xfconf_pid=

start_wm()
{
    local bus
    export XDG_CONFIG_HOME="$session_work/config" XDG_CACHE_HOME="$session_work/cache"
    if [ "${TARVIX_E2E_WM:-}" = icewm ]; then
        export ICEWM_PRIVCFG="$session_work/config/icewm"
        mkdir -p "$ICEWM_PRIVCFG"
        icewm >"$session_work/wm.log" 2>&1 &
        session_wm_pid=$!
        poll 20 "the window manager" wm_running IceWM
        return
    fi
    if [ "${1:-}" != this-bus ]; then
        export NO_AT_BRIDGE=1
        bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 \
            2>"$session_work/bus.log") || fail "no D-Bus session: $(cat "$session_work/bus.log")"
        export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
        session_bus_pid=${bus##*$'\n'}
    fi
    xfconf-query -c xfwm4 -p /general/prevent_focus_stealing -n -t bool -s true ||
        fail "xfwm4's focus-stealing prevention could not be set"
    # The bus started the settings service for that; it is ended with the session.
    session_xfconf_pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        string:org.xfce.Xfconf | awk '/uint32/ { print $2 }')
    xfwm4 --compositor=off >"$session_work/wm.log" 2>&1 &
    session_wm_pid=$!
    poll 20 "the window manager" wm_running Xfwm4
    [ "$(xfconf-query -c xfwm4 -p /general/prevent_focus_stealing)" = true ] ||
        fail "xfwm4 runs without its focus-stealing prevention"
}

# wm_running <name>: the window manager of that name runs.
wm_running()
{
    wmctrl -m | grep -q "^Name: $1\b"
}

# The settings service writes its files into the working folder until it has ended, so the
# folder is removed only after that.
wm_stop()
{
    local pid i
    for pid in "$session_wm_pid" "$session_xfconf_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null || true
        fi
    done
    if [ -n "$session_wm_pid" ]; then
        wait "$session_wm_pid" 2>/dev/null || true
    fi
    if [ -n "$session_xfconf_pid" ]; then
        for ((i = 0; i < 50; i++)); do
            kill -0 "$session_xfconf_pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    if [ -n "$session_bus_pid" ]; then
        kill "$session_bus_pid" 2>/dev/null || true
    fi
    session_wm_pid='' session_xfconf_pid='' session_bus_pid=''
}

# A case that cannot run here: skipped (status 77), or failed in CI, where CI is set.
skip()
{
    if [ -n "${CI:-}" ]; then
        echo "FAIL (CI): $*" >&2
        exit 1
    fi
    echo "SKIP: $*"
    exit 77
}

require()
{
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (make test-deps)"
    done
}

# start_sim [tarvix-sim options...]: the simulated instrument on a new pseudo-terminal; its
# device path ends in $sim_device.
start_sim()
{
    read_first_line 20 sim_on_stdout "$@"
    session_sim_pid=$started_pid
    sim_device=$first_line
    if [ -z "$sim_device" ] || [ ! -e "$sim_device" ]; then
        fail "tarvix-sim gave no device: $(cat "$session_work/sim.err")"
    fi
}

sim_on_stdout()
{
    exec "$session_sim" "$@" 2>"$session_work/sim.err"
}

# start_program [arguments...]: the program in the working folder, COM1 on the simulator.
start_program()
{
    (
        cd "$session_work/run" || exit
        exec env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$session_work/runtime" \
            XDG_STATE_HOME="$session_work/state" TARVIX_COM1="$sim_device" \
            "$session_program" "$@"
    ) >"$session_work/tarvix.out" 2>"$session_work/tarvix.err" &
    session_program_pid=$!
}

# Waits until the program has ended; its exit status is then in $session_program_exit.
wait_program_end()
{
    poll 20 "the program to end" program_ended
    session_program_exit=0
    wait "$session_program_pid" || session_program_exit=$?
    session_program_pid=''
}

program_ended()
{
    # Ended and not yet reaped, it is a zombie.
    ! kill -0 "$session_program_pid" 2>/dev/null ||
        grep -q '^State:[[:space:]]*Z' "/proc/$session_program_pid/status" 2>/dev/null
}

fail()
{
    echo "FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ] && [ -n "$session_work" ]; then
        echo "Windows on screen:" >&2
        visible_windows >&2 || true
        import -window root "$session_work/failure.png" 2>/dev/null &&
            echo "Screen: $session_work/failure.png" >&2
    fi
    if [ -s "$session_work/tarvix.err" ]; then
        echo "The program's standard error:" >&2
        cat "$session_work/tarvix.err" >&2
    fi
    if [ -n "$session_work" ]; then
        echo "Kept: $session_work" >&2
        touch "$session_work/.keep"
    fi
    exit 1
}

# poll <seconds> <what> <command...>: runs the command every 100 ms until it succeeds.
poll()
{
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then
            fail "waited ${seconds} s for $what"
        fi
        if [ -n "$session_program_pid" ] && program_ended && [ "$1" != program_ended ]; then
            fail "the program ended while waiting for $what"
        fi
        sleep 0.1
    done
}

visible_windows()
{
    local id
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        echo "$id $(xdotool getwindowname "$id")"
    done
}

# The visible top-level window of exactly this title.
window_of()
{
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

window_shown()
{
    [ -n "$(window_of "$1")" ]
}

window_gone()
{
    [ -z "$(window_of "$1")" ]
}

# wait_window <title> [seconds]: prints the window id once it is on screen.
wait_window()
{
    poll "${2:-20}" "the window \"$1\"" window_shown "$1"
    window_of "$1"
}

wait_window_gone()
{
    poll "${2:-20}" "the window \"$1\" to close" window_gone "$1"
}

# There is no window manager: keyboard focus is given to a window directly. Bounded, so a
# window that went away fails the case instead of hanging it.
focus()
{
    timeout 10 xdotool windowfocus --sync "$1" || fail "could not focus window $1"
}

# press <window> <keys...>: key presses (xdotool names, e.g. ctrl+s, Return) in that window.
press()
{
    local window=$1
    shift
    focus "$window"
    xdotool key --clearmodifiers "$@"
}

# click <window> <x> <y>: a left click at a point of the window.
click()
{
    focus "$1"
    timeout 10 xdotool mousemove --sync --window "$1" "$2" "$3" click 1 ||
        fail "could not click in window $1"
}

# control_centre <form.ui> <objectName>: "x y", the centre of a control of a window as its
# Designer file lays it out (window pixels; for controls placed directly on the window).
control_centre()
{
    awk -v name="$2" '
        index($0, "name=\"" name "\"") { found = 1 }
        found && match($0, /<rect><x>[0-9]+<\/x><y>[0-9]+<\/y><width>[0-9]+<\/width><height>[0-9]+</) {
            split(substr($0, RSTART, RLENGTH), v, /[<>]/)
            print int(v[5] + v[13] / 2), int(v[9] + v[17] / 2)
            exit
        }' "$1"
}

# click_control <window> <form.ui> <objectName>
click_control()
{
    local x y
    read -r x y < <(control_centre "$2" "$3")
    [ -n "$y" ] || fail "no control $3 in $2"
    click "$1" "$x" "$y"
}

# type_into_control <window> <form.ui> <objectName> <text>: selects what the text box holds and
# types over it.
type_into_control()
{
    click_control "$1" "$2" "$3"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --clearmodifiers --delay 10 "$4"
}

# The reading area shows its own (text) background while it is shown; during a capture it is
# hidden and the window's background shows in its place. Compares a point inside the area's
# left margin, where no letter is drawn and far below the capture notice, with a point of the
# window's background left of it.
reading_area_shown()
{
    local window=$1 height y pixels
    height=$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^HEIGHT=//p')
    y=$((height - main_client_height + reading_top + 360))
    pixels=$(import -window "$window" \
        -format "%[hex:p{20,$y}] %[hex:p{$((reading_left + 2)),$y}]" info:)
    [ -n "$pixels" ] && [ "${pixels% *}" != "${pixels#* }" ]
}

reading_area_hidden()
{
    ! reading_area_shown "$1"
}

# wait_capture <main window> <seconds>: a capture starts (the reading area disappears behind
# the notice) and ends (the reading area shows the readings again).
wait_capture()
{
    poll 30 "a capture to start" reading_area_hidden "$1"
    poll "$2" "the capture to end" reading_area_shown "$1"
}

# Removes the working folder unless a failure kept it for a look (fail can run in a
# subshell, so the mark is a file).
session_cleanup()
{
    session_stop
    if [ -n "$session_work" ] && [ ! -e "$session_work/.keep" ]; then
        rm -rf "$session_work"
    fi
}
