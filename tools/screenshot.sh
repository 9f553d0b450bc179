#!/usr/bin/env bash
# Makes the README's screenshot: the main window right after a capture of the simulator's
# sample transmission, taken under an X server of its own, so it can be remade any time.
#
#     tools/screenshot.sh [build folder] [output.png]      (default: build docs/screenshot.png)
#
# Needs Xvfb, xdotool, xdpyinfo and ImageMagick (make test-deps installs them).
set -euo pipefail

root=$(dirname "$(realpath "${BASH_SOURCE[0]}")")/..
build=${1:-build}
output=$(realpath -m "${2:-$root/docs/screenshot.png}")
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
