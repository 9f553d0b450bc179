#!/usr/bin/env bash
# Makes the README's screenshots under an X server of their own, so they can be remade any time:
# the main window right after a capture of the simulator's sample transmission, and the port
# selection window with the tooltip of "Comport 1", which names the machine's own COM1.
#
#     tools/screenshot.sh [build folder] [main.png] [ports.png]
#
# (default: build docs/screenshot.png docs/port-selection.png)
#
# Needs Xvfb, xdotool, xdpyinfo and ImageMagick (make test-deps installs them).
set -euo pipefail

root=$(dirname "$(realpath "${BASH_SOURCE[0]}")")/..
build=${1:-build}
output=$(realpath -m "${2:-$root/docs/screenshot.png}")
ports_output=$(realpath -m "${3:-$root/docs/port-selection.png}")
# shellcheck source-path=SCRIPTDIR source=../tests/e2e/session.sh
source "$root/tests/e2e/session.sh"

session_start "$build/src/tarvix" "$build/tools/sim/tarvix-sim"
printf '1\r\n\r\n' >"$session_work/run/tvx.cfg"
# The simulator's sample readings at 1200 baud, a second from now (what comes before the program
# has opened the port waits in the terminal).
start_sim --delay 1000
# shellcheck disable=SC2119 # started without arguments, as a user does
start_program
main=$(wait_window 'Tarvix Conectivity')
wait_capture "$main" 60
# The window alone; without a window manager there is no frame around it.
mkdir -p "$(dirname "$output")"
import -window "$main" -strip "$output"
echo "Wrote $output"
press "$main" ctrl+x
wait_program_end

# The port selection window on the machine's own ports (no TARVIX_COM1), the mouse resting on
# "Comport 1" until its tooltip shows.
sim_device=
start_program
main=$(wait_window 'Tarvix Conectivity|File Error')
if [ "$(xdotool getwindowname "$main")" = 'File Error' ]; then
    press "$main" Return
    main=
else
    press "$main" alt+o Return
fi
port=$(wait_window 'Port selection')
read -r x y < <(control_centre "$root/src/port/port_selection_window.ui" Option1)
focus "$port"
xdotool mousemove --sync --window "$port" "$((x - 20))" "$y"
sleep 1.5
# The window and its tooltip (the program's one other small window on screen): the smallest
# rectangle around both.
region=$(for id in $(xdotool search --onlyvisible --pid "$session_program_pid"); do
    [ "$id" != "$main" ] || continue
    xdotool getwindowgeometry --shell "$id" | tr '\n' ' '
    echo
done | awk '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] } }
    {
        if (!n++ || v["X"] < x0) x0 = v["X"]
        if (n == 1 || v["Y"] < y0) y0 = v["Y"]
        if (v["X"] + v["WIDTH"] > x1) x1 = v["X"] + v["WIDTH"]
        if (v["Y"] + v["HEIGHT"] > y1) y1 = v["Y"] + v["HEIGHT"]
    }
    END { printf "%dx%d+%d+%d", x1 - x0, y1 - y0, x0, y0 }')
import -window root -crop "$region" +repage -strip "$ports_output"
echo "Wrote $ports_output"
