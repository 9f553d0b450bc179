#!/bin/bash
# The program at its floor, measured the same way beside what it is compared with:
#
# - its start-up, in instructions (callgrind: the same count however loaded the machine is),
#   from the start until its window shows (the first expose of a window has been handled), with
#   tvx.cfg choosing COM1 and COM1 a pseudo-terminal; beside a bare window of the toolkit with a
#   menu bar and a read-only text box (bench/bare_window.cpp). Goal: at most 1.15 times as many.
# - a 1 GiB reading file (readings with CR LF) opened as `tarvix FILE`, in CPU seconds (user and
#   system, from the start until the program is idle again, the file shown) and private memory
#   once shown (Private_* of /proc/<pid>/smaps_rollup); beside glogg opening the same file,
#   measured the same way. Goal: no more CPU than glogg, at most 300 MB.
#
#     floor_bench.sh <build folder>      (under an X server: DISPLAY set)
#
# Exit status 1 when a goal is missed or a measure could not be taken.

set -u
build=$(cd "${1:?usage: floor_bench.sh <build folder>}" && pwd)
tarvix=$build/src/tarvix
bare=$build/bench/bare_window
sim=$build/tools/sim/tarvix-sim
work=$(mktemp -d)
failed=0
pids=()

cleanup()
{
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

say() { printf '%s\n' "$*"; }
# 12345678 as 12,345,678.
grouped() { sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<<"$1"; }
problem() { say "FAILED: $*"; failed=1; }

for tool in valgrind glogg Xvfb; do
    command -v "$tool" >/dev/null || { say "$tool is not installed (make test-deps)"; exit 1; }
done
[ -n "${DISPLAY:-}" ] || { say "no X server (DISPLAY is not set)"; exit 1; }

mkdir -p "$work/run" "$work/state" "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
printf '1\r\n\r\n' >"$work/run/tvx.cfg"

# The simulated instrument's pseudo-terminal, silent: COM1 for one run of the program.
start_sim()
{
    "$sim" --delay 100000000 >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    pids+=("$sim_pid")
    for _ in $(seq 1 100); do
        device=$(head -n 1 "$work/sim.out" 2>/dev/null)
        [ -n "$device" ] && [ -e "$device" ] && return 0
        sleep 0.1
    done
    problem "tarvix-sim gave no pseudo-terminal"
    return 1
}

# Runs a program in $work/run; its process id in $run_pid.
run_program()
{
    (
        cd "$work/run" || exit
        exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
            XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
            TARVIX_COM1="$device" "$@"
    ) >"$work/out" 2>"$work/err" &
    run_pid=$!
    pids+=("$run_pid")
}

# Ends a program: asked first (the program lets its port and lock go), then forced.
end_program()
{
    kill -TERM "$1" 2>/dev/null
    for _ in $(seq 1 100); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# Instructions until the window shows: callgrind writes a first profile once the first expose
# has been handled.
startup_instructions()
{
    rm -f "$work"/run/callgrind.out.*
    start_sim || return 1
    run_program valgrind --tool=callgrind --callgrind-out-file="$work/run/callgrind.out.%p" \
        --dump-after='QGuiApplicationPrivate::processExposeEvent*' "$@"
    local dump=
    for _ in $(seq 1 1200); do
        dump=$(ls "$work"/run/callgrind.out.*.1 2>/dev/null | head -n 1)
        [ -n "$dump" ] && break
        kill -0 "$run_pid" 2>/dev/null || break
        sleep 0.1
    done
    sleep 0.5
    end_program "$run_pid"
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    if [ -z "$dump" ] || ! grep -q '^summary:' "$dump"; then
        problem "$1: no window showed under callgrind ($(grep -v '^==' "$work/err" | head -n 3))"
        return 1
    fi
    grep '^summary:' "$dump" | awk '{print $2}'
}

# CPU seconds (user and system) a process has used.
cpu_seconds()
{
    awk -v tick="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / tick }' \
        "/proc/$1/stat" 2>/dev/null
}

# Private memory of a process in MB (Private_Clean, Private_Dirty, Private_Hugetlb).
private_mb()
{
    awk '/^Private_/ { kb += $2 } END { printf "%.0f\n", kb / 1024 }' "/proc/$1/smaps_rollup"
}

# Waits until the process has used no CPU for 3 s in a row (the file shown, nothing left to do),
# at most 10 minutes; then its CPU seconds and private MB in $cpu and $private.
measure_load()
{
    local pid=$1 last=-1 still=0 now
    for _ in $(seq 1 2400); do
        sleep 0.25
        now=$(cpu_seconds "$pid") || return 1
        [ -n "$now" ] || return 1
        if [ "$now" = "$last" ]; then
            still=$((still + 1))
            [ "$still" -ge 12 ] && break
        else
            still=0
            last=$now
        fi
    done
    cpu=$now
    private=$(private_mb "$pid")
}

# The 1 GiB file: readings as the instrument sends them, with CR LF.
make_readings()
{
    awk 'BEGIN {
        for (i = 0; length(chunk) < 1048576; ++i) {
            unit = (i % 25) ? " mg" : " \265g  21.5\260C"
            chunk = chunk sprintf(" %03d     %d.%02d%s\r\n", i % 1000, 20 + i % 7, i * 37 % 100, unit)
        }
        printf "%s", substr(chunk, 1, 1048576)
    }' >"$work/chunk"
    for _ in $(seq 1 1024); do cat "$work/chunk"; done >"$1"
}

say "Start-up, instructions until the window shows (callgrind), COM1 on a pseudo-terminal:"
bare_count=$(startup_instructions "$bare") || bare_count=
tarvix_count=$(startup_instructions "$tarvix") || tarvix_count=
if [ -n "$bare_count" ] && [ -n "$tarvix_count" ]; then
    ratio=$(awk -v t="$tarvix_count" -v b="$bare_count" 'BEGIN { printf "%.3f", t / b }')
    printf '  %-28s %14s\n' "bare window" "$(grouped "$bare_count")"
    printf '  %-28s %14s   %s x the bare window   goal <= 1.15 x\n' "tarvix" \
        "$(grouped "$tarvix_count")" "$ratio"
    awk -v r="$ratio" 'BEGIN { exit !(r <= 1.15) }' || problem "start-up: $ratio x the bare window"
fi

say ""
say "A 1 GiB reading file opened (CPU from the start until idle; private memory once shown):"
file=$work/readings-1GiB.dat
make_readings "$file"
start_sim || exit 1
run_program "$tarvix" "$file"
tarvix_pid=$run_pid
if measure_load "$tarvix_pid"; then
    tarvix_cpu=$cpu
    tarvix_private=$private
    # Shown, not refused: the main window is the only one, no box tells of a failure.
    windows=$(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sort -u)
    [ "$windows" = "Tarvix Conectivity" ] ||
        problem "tarvix did not show the file; its windows: $(echo $windows)"
else
    problem "tarvix ended while loading: $(head -n 3 "$work/err")"
fi
end_program "$tarvix_pid"
kill "$sim_pid" 2>/dev/null

run_program glogg "$file"
glogg_pid=$run_pid
if measure_load "$glogg_pid"; then
    glogg_cpu=$cpu
    glogg_private=$private
else
    problem "glogg ended while loading: $(head -n 3 "$work/err")"
fi
end_program "$glogg_pid"

if [ -n "${tarvix_cpu:-}" ] && [ -n "${glogg_cpu:-}" ]; then
    printf '  %-28s %10s %14s\n' "" "CPU (s)" "private (MB)"
    printf '  %-28s %10s %14s\n' "glogg $(glogg --version 2>/dev/null | head -n 1 | \
        grep -o '[0-9][0-9.]*' | head -n 1)" "$glogg_cpu" "$glogg_private"
    printf '  %-28s %10s %14s   goal: CPU <= glogg'"'"'s, <= 300 MB\n' "tarvix" "$tarvix_cpu" \
        "$tarvix_private"
    awk -v t="$tarvix_cpu" -v g="$glogg_cpu" 'BEGIN { exit !(t <= g) }' ||
        problem "1 GiB: $tarvix_cpu s of CPU, glogg $glogg_cpu s"
    [ "$tarvix_private" -le 300 ] || problem "1 GiB: $tarvix_private MB of private memory"
fi
exit "$failed"
