#!/usr/bin/env bash
# End-to-end cases where a window manager changes the outcome, under xfwm4 with its
# focus-stealing prevention on: the main window shown again after the port selection window's
# and the save window's Ok (also when it was minimised to the task bar), the stacking of the
# windows that stay open beside it, and the frames that fit their layouts. The program is worked
# with keys and clicks only; nothing forces the keyboard focus on a window as the other cases
# do, the window manager gives it.
#
#     desktop.sh <case> <tarvix> <tarvix-sim> <source folder>
#
# TARVIX_E2E_PROGRAM, when set, names the program to test instead of <tarvix>.
# Cases: shown-again, minimised, stacking, frames, full-screen. Exit status 0 passed, 1 failed, 77
# skipped (a tool is missing; in CI, where CI is set, that is a failure instead).
# TARVIX_E2E_WM=icewm runs them under icewm instead of xfwm4 (full-screen is the case for it).
# shellcheck disable=SC2119 # the cases start the program without arguments
set -euo pipefail

case_name=$1
program=$(realpath "${TARVIX_E2E_PROGRAM:-$2}")
sim=$(realpath "$3")
sources=$(realpath "$4")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source-path=SCRIPTDIR source=session.sh
source "$here/session.sh"

main_title='Tarvix Conectivity'
help_title='Help'
about_title='About Quorvane Tarvix Conectivity'
port_ui="$sources/src/port/port_selection_window.ui"
save_ui="$sources/src/files/save_window.ui"

# The window that has the keyboard focus, and that the window manager calls active: both
# must be the same for the user's keys to go where the window manager shows them going.
focused()
{
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] &&
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]
}

# The window is in front of the others: at its centre the pointer is over it, not over one of
# the other windows (the cases place them so that they overlap).
on_top()
{
    local width height under
    read -r width height < <(xdotool getwindowgeometry --shell "$1" |
        awk -F= '/^WIDTH=/ { w = $2 } /^HEIGHT=/ { h = $2 } END { print w, h }')
    under=$(xdotool mousemove --window "$1" $((width / 2)) $((height / 2)) \
        getmouselocation --shell | sed -n 's/^WINDOW=//p')
    [ "$under" = "$1" ]
}

iconic()
{
    xprop -id "$1" WM_STATE | grep -q 'window state: Iconic'
}

# wait_in_front <window> <what>: the window is shown (not minimised), on top of the others and
# has the keyboard focus.
wait_in_front()
{
    poll 10 "$2 to be on top" on_top "$1"
    poll 10 "$2 to have the keyboard focus" focused "$1"
    ! iconic "$1" || fail "$2 is still minimised"
}

# keys <keys...>: pressed on the keyboard, reaching whatever window has the focus.
keys()
{
    xdotool key --clearmodifiers "$@"
}

# wm_click_control <window> <form.ui> <objectName>: a left click on a control, as a mouse gives
# it: to the window on screen at that point, which gets the focus from the window manager.
wm_click_control()
{
    local x y
    read -r x y < <(control_centre "$2" "$3")
    [ -n "$y" ] || fail "no control $3 in $2"
    timeout 10 xdotool mousemove --window "$1" "$x" "$y" click 1 ||
        fail "could not click in window $1"
}

# As a click on its task bar button does.
activate()
{
    timeout 10 xdotool windowactivate --sync "$1" 2>/dev/null || fail "could not activate window $1"
    poll 10 "window $1 to have the keyboard focus" focused "$1"
}

# place <window> <x> <y>: moved there, as a drag of its title bar does; the windows are made to
# overlap, so that which one is in front matters.
place()
{
    wmctrl -i -r "$1" -e "0,$2,$3,-1,-1"
    poll 10 "window $1 to move" at_place "$1" "$2" "$3"
}

at_place()
{
    local x y
    read -r x y < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF } END { print x, y }')
    ((x >= $2 && x <= $2 + 10 && y >= $3 && y <= $3 + 40))
}

minimise()
{
    timeout 10 xdotool windowminimize --sync "$1" || fail "could not minimise window $1"
    poll 10 "window $1 to be minimised" iconic "$1"
}

start_main()
{
    printf '1\r\n\r\n' >"$session_work/run/tvx.cfg"
    start_sim --delay 600000
    start_program
    main=$(wait_window "$main_title")
    poll 10 "the main window to have the keyboard focus" focused "$main"
}

# The main window shows whatever it is asked through the keyboard: Ctrl+S opens the save window.
main_takes_keys()
{
    local save
    keys ctrl+s
    save=$(wait_window 'File Save')
    wait_in_front "$save" "the save window"
}

exit_program()
{
    activate "$main"
    keys ctrl+x
    wait_program_end
    [ "$session_program_exit" = 0 ] || fail "the program ended with status $session_program_exit"
}

# Start-up without tvx.cfg: the main window stays hidden behind the port selection window;
# that window's Ok brings it back, in front and with the keyboard focus.
case_shown_again()
{
    local box port
    start_sim --delay 600000
    start_program
    box=$(wait_window 'File Error')
    wait_in_front "$box" "the File Error box"
    keys Return
    port=$(wait_window 'Port selection')
    wait_in_front "$port" "the port selection window"
    window_gone "$main_title" || fail "the main window is shown beside the port selection"
    wm_click_control "$port" "$port_ui" cmdok
    main=$(wait_window "$main_title")
    wait_window_gone 'Port selection'
    wait_in_front "$main" "the main window"
    main_takes_keys
    exit_program
}

# The main window minimised to the task bar while the save window, then the port selection
# window, is open, with the help window open beside them: the window's Ok brings the main
# window back, above the help window and with the keyboard focus.
case_minimised()
{
    local help save port
    start_main
    keys F1
    help=$(wait_window "$help_title")
    wait_in_front "$help" "the help window"
    place "$help" 100 100

    activate "$main"
    keys ctrl+s
    save=$(wait_window 'File Save')
    wait_in_front "$save" "the save window"
    minimise "$main"
    wm_click_control "$save" "$save_ui" cmdsaveok
    wait_window_gone 'File Save'
    poll 10 "the main window to come back" window_shown "$main_title"
    wait_in_front "$main" "the main window after the save window's Ok"
    [ -f "$session_work/run/temp.dat" ] || fail "the save window's Ok saved no temp.dat"

    keys alt+o Return # Option > Serial Port Selection
    port=$(wait_window 'Port selection')
    wait_in_front "$port" "the port selection window"
    minimise "$main"
    wm_click_control "$port" "$port_ui" cmdok
    wait_window_gone 'Port selection'
    poll 10 "the main window to come back" window_shown "$main_title"
    wait_in_front "$main" "the main window after the port selection window's Ok"
    main_takes_keys
    exit_program
}

# A window that is open already comes to the front when it is asked for again, over the other
# windows and out of the task bar, with the keyboard focus; there is still only one of it.
case_stacking()
{
    local help about
    start_main
    keys F1
    help=$(wait_window "$help_title")
    wait_in_front "$help" "the help window"
    activate "$main"
    keys alt+h a # Help > About
    about=$(wait_window "$about_title")
    wait_in_front "$about" "the about window"
    place "$help" 100 100
    place "$about" 120 120

    activate "$main"
    keys F1
    wait_in_front "$help" "the help window shown again"
    [ "$(xdotool search --onlyvisible --name "^$help_title\$" | wc -l)" = 1 ] ||
        fail "a second help window opened"

    minimise "$help"
    activate "$main"
    keys F1
    poll 10 "the help window to come back" window_shown "$help_title"
    wait_in_front "$help" "the minimised help window shown again"
    exit_program
}

# The window manager offers to maximise the window.
maximisable()
{
    xprop -id "$1" _NET_WM_ALLOWED_ACTIONS | grep -q '_NET_WM_ACTION_MAXIMIZE_\(VERT\|HORZ\)'
}

# Not shown full screen, as far as the window manager tells.
not_full_screen()
{
    ! xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN
}

# full_screen <window>: what an EWMH full-screen request (a task bar's, a key binding's) asks.
full_screen()
{
    wmctrl -i -r "$1" -b add,fullscreen
}

# size_is <window> <width>x<height>, or <width> alone.
size_is()
{
    local size
    size=$(size_of "$1")
    [ "$size" = "$2" ] || [ "${size%x*}" = "$2" ]
}

has_icon()
{
    # Only the first bytes: the whole icon is long, and grep would stop reading it.
    xprop -len 16 -id "$1" _NET_WM_ICON | grep -q '^_NET_WM_ICON(CARDINAL)'
}

size_of()
{
    xdotool getwindowgeometry --shell "$1" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | paste -sd x
}

# reading_area_at <main window> <y>: at that height of the window the reading area's own
# background shows right of the window's.
reading_area_at()
{
    local pixels
    pixels=$(import -window "$1" -format "%[hex:p{20,$2}] %[hex:p{$((reading_left + 2)),$2}]" info:)
    [ -n "$pixels" ] && [ "${pixels% *}" != "${pixels#* }" ]
}

# resize <window> <width> <height>: as a drag of the frame's edge asks the window manager.
resize()
{
    wmctrl -i -r "$1" -e "0,-1,-1,$2,$3"
}

# No window offers a maximise that the window manager would refuse (xfwm4 maximises no window
# that cannot fill the screen), and none is shown full screen: the request is undone and the
# layout keeps its size. The main window grows taller, never wider, and its reading area grows
# with it down to the window's bottom. Every window carries the program's icon.
case_frames()
{
    local first width height title window
    start_main
    ! maximisable "$main" || fail "the window manager offers to maximise the main window"
    for title in "$help_title" "$about_title" 'File Open' 'File Save' 'Port selection'; do
        activate "$main"
        case $title in
        "$help_title") keys F1 ;;
        "$about_title") keys alt+h a ;;
        'File Open') keys ctrl+o ;;
        'File Save') keys ctrl+s ;;
        *) keys alt+o Return ;;
        esac
        window=$(wait_window "$title")
        ! maximisable "$window" || fail "the window manager offers to maximise \"$title\""
        first=$(size_of "$window")
        resize "$window" 900 700
        sleep 0.3
        [ "$(size_of "$window")" = "$first" ] ||
            fail "\"$title\" changed its size from $first to $(size_of "$window")"
        full_screen "$window"
        sleep 0.3
        poll 10 "\"$title\" to leave full screen" not_full_screen "$window"
        poll 10 "\"$title\" to keep its size $first" size_is "$window" "$first"
        has_icon "$window" || fail "\"$title\" carries no icon"
    done

    first=$(size_of "$main")
    width=${first%x*} height=${first#*x}
    # The reading area ends 7 pixels above the window's bottom edge, at any height.
    activate "$main"
    reading_area_at "$main" $((height - 8)) || fail "the reading area is not where it belongs"
    ! reading_area_at "$main" $((height - 4)) || fail "the reading area reaches the bottom edge"
    resize "$main" $((width + 200)) $((height + 250))
    poll 10 "the main window to grow taller" test "$(size_of "$main")" = "${width}x$((height + 250))"
    activate "$main"
    reading_area_at "$main" $((height + 242)) || fail "the reading area stays short in a taller window"
    ! reading_area_at "$main" $((height + 246)) || fail "the reading area reaches the bottom edge"
    resize "$main" $((width - 100)) $((height - 100))
    poll 10 "the main window to come back to its first size" test "$(size_of "$main")" = "$first"
    has_icon "$main" || fail "the main window carries no icon"
    full_screen "$main"
    sleep 0.3
    poll 10 "the main window to leave full screen" not_full_screen "$main"
    poll 10 "the main window to keep its width $width" size_is "$main" "$width"
    echo "main window: $first at first; asked for $((width + 200))x$((height + 250)), it became" \
        "${width}x$((height + 250))"
    exit_program
}

# placement <window>: "x,y WxH", the window itself (not its frame) on the screen.
placement()
{
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print x "," y " " w "x" h }'
}

placed_at()
{
    [ "$(placement "$1")" = "$2" ]
}

# The window's frame, title bar and all, begins on the screen.
title_bar_shown()
{
    local top at y
    top=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.* = [0-9]*, [0-9]*, \([0-9]*\),.*/\1/p')
    at=$(placement "$1")
    y=${at#*,}
    ((${y%% *} - ${top:-0} >= 0))
}

# back_after_full_screen <window> <what> <how...>: the window is asked to fill the screen (keys
# pressed in it, or an EWMH request) and comes back where and as large as it was, its title bar
# on screen, and not full screen as far as the window manager tells.
back_after_full_screen()
{
    local window=$1 what=$2 before
    shift 2
    before=$(placement "$window")
    if [ "$1" = keys ]; then
        activate "$window"
        shift
        keys "$@"
    else
        full_screen "$window"
    fi
    sleep 0.3
    poll 10 "$what to leave full screen" not_full_screen "$window"
    poll 10 "$what to come back at $before (at $(placement "$window"))" placed_at "$window" \
        "$before"
    title_bar_shown "$window" || fail "the title bar of $what is off the screen"
    # Put right for good, not only for a moment.
    sleep 1
    placed_at "$window" "$before" || fail "$what moved on to $(placement "$window")"
}

# A window asked to fill the screen, by its window manager's key or by another program, twice
# each, comes back where it was and as large as it was, with its title bar on the screen: the
# main window made taller and moved first, and the help window.
case_full_screen()
{
    local help
    start_main
    resize "$main" "$(size_of "$main" | cut -dx -f1)" 600
    poll 10 "the main window to grow taller" size_is "$main" "$(size_of "$main" | cut -dx -f1)x600"
    place "$main" 120 60
    keys F1
    help=$(wait_window "$help_title")
    place "$help" 400 200
    # A place and size the window has had for a moment are the ones it comes back to.
    sleep 1
    for window in "$main" "$help"; do
        back_after_full_screen "$window" "window $window" keys alt+F11
        back_after_full_screen "$window" "window $window" keys alt+F11
        back_after_full_screen "$window" "window $window" request
        back_after_full_screen "$window" "window $window" request
    done
    exit_program
}

if [ "${TARVIX_E2E_WM:-}" = icewm ]; then
    require Xvfb xdotool xdpyinfo xwininfo xprop import icewm wmctrl
else
    require Xvfb xdotool xdpyinfo xwininfo xprop import xfwm4 xfconf-query dbus-daemon dbus-send \
        wmctrl
fi
session_start "$program" "$sim"
start_wm own-bus
case "$case_name" in
shown-again) case_shown_again ;;
minimised) case_minimised ;;
stacking) case_stacking ;;
frames) case_frames ;;
full-screen) case_full_screen ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS: $case_name"
