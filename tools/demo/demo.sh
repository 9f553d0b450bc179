#!/usr/bin/env bash
# Shows a real capture without any hardware: tarvix-sim plays the instrument on a
# pseudo-terminal, and the program runs in a fresh working folder whose tvx.cfg says COM1, with
# COM1 mapped to that terminal. The instrument sends a few seconds after start and then every
# 20 seconds, as if someone pressed "Recall" and "Save". Everything stops when the program ends.
set -euo pipefail
build=${1:-build}
sim="$build/tools/sim/tarvix-sim"
program="$(realpath "$build/src/tarvix")"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvix-demo.XXXXXX")
printf '1\r\n\r\n' > "$work/tvx.cfg"

coproc SIM { exec "$sim" --delay 3000 --repeat 20; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
read -r device <&"${SIM[0]}"
echo "Instrument on $device; working folder $work"

cd "$work"
TARVIX_COM1="$device" "$program"
