#!/usr/bin/env bash
# tarvix-capture beside other serial programs on one device, as the real programs do it. minicom
# names its lock file after the name it is given (the path after /dev/, '/' made '_'), and an
# adapter is best given by its name in /dev/serial/by-id, which the case makes for the
# simulator's terminal as udev makes one for an adapter.
#
#     locks.sh <case> <tarvix-capture> <tarvix-sim>
#
# Cases: minicom (both ways, under the stable name; needs root), two-starts (two starts at once
# over one stale lock file, many rounds). Exit status 0 passed, 1 failed, 77 skipped (not root,
# minicom missing; in CI, where CI is set, that is a failure instead).
set -euo pipefail

case_name=$1
capture=$(realpath "$2")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source-path=SCRIPTDIR source=session.sh
source "$here/session.sh"
session_sim=$(realpath "$3")
session_work=$(mktemp -d "${TMPDIR:-/tmp}/tarvix-locks.XXXXXX")
stable=
minicom_pid=
trap locks_cleanup EXIT

locks_cleanup()
{
    if [ -n "$minicom_pid" ]; then
        kill "$minicom_pid" 2>/dev/null || true
        wait "$minicom_pid" 2>/dev/null || true
    fi
    if [ -n "$stable" ]; then
        rm -f "$stable" "$(lock_of "$stable")" # minicom, hung up, leaves its lock behind
        rmdir /dev/serial/by-id /dev/serial 2>/dev/null || true # while nothing else is there
    fi
    session_cleanup
}

# lock_of <device name>: the lock file minicom, and tarvix-capture, keep for that name.
lock_of()
{
    local name=$1
    if [[ "$name" == /dev/* ]]; then
        name=${name#/dev/}
    else
        name=${name##*/}
    fi
    echo "/run/lock/LCK..${name//\//_}"
}

# holder_of <lock file>: the process its content names; nothing when there is none.
holder_of()
{
    tr -d ' \n' <"$1" 2>/dev/null || true
}

# held_by <lock file> <process>
held_by()
{
    [ "$(holder_of "$1")" = "$2" ]
}

# minicom_holds <lock file>: the lock names a living minicom.
minicom_holds()
{
    [ "$(cat "/proc/$(holder_of "$1")/comm" 2>/dev/null)" = minicom ]
}

# minicom <device name>: minicom on a terminal of its own (script's), as it needs one; in place
# of the shell it runs in.
minicom()
{
    TERM=xterm exec script -qfec "exec minicom -D '$1'" /dev/null
}

# capture [NAME=value...] [arguments...]: tarvix-capture in the case's folder, without a display,
# in place of the shell it runs in.
capture()
{
    local -a settings=()
    while [[ "${1:-}" == *=* ]]; do
        settings+=("$1")
        shift
    done
    cd "$session_work"
    exec env -u DISPLAY XDG_STATE_HOME="$session_work/state" "${settings[@]}" "$capture" "$@"
}

# expect_refusal <what> <expected standard error> <capture's arguments...>
expect_refusal()
{
    local what=$1 expected=$2 said status=0
    shift 2
    said=$( (capture "$@") 2>&1) || status=$?
    [ "$status" = 2 ] || fail "$what: status $status, not 2: $said"
    [ "$said" = "$expected" ] || fail "$what: said \"$said\", not \"$expected\""
}

# minicom holding the stable name refuses tarvix-capture given the real name, or COM1 leading to
# the stable one, with minicom named; tarvix-capture holding the port refuses root's minicom
# (whom the exclusive mode lets through) given the stable name.
case_minicom()
{
    local stable_lock real_lock keyboard pid capture_pid said status=0
    require minicom script
    [ "$(id -u)" = 0 ] || skip "a name in /dev/serial/by-id needs root"
    start_sim --delay 600000
    stable=/dev/serial/by-id/usb-Tarvix_Test_$$-if00-port0
    mkdir -p /dev/serial/by-id
    ln -s "$sim_device" "$stable"
    stable_lock=$(lock_of "$stable")
    real_lock=$(lock_of "$sim_device")

    # Its keyboard, a pipe that stays open: minicom runs until it is ended.
    mkfifo "$session_work/keyboard"
    exec {keyboard}<>"$session_work/keyboard"
    minicom "$stable" <&"$keyboard" >"$session_work/minicom.out" 2>&1 &
    minicom_pid=$!
    poll 10 "minicom's lock file $stable_lock" minicom_holds "$stable_lock"
    pid=$(holder_of "$stable_lock")
    expect_refusal "--device, the real name" \
        "tarvix-capture: $sim_device: in use by minicom (process $pid, lock file $stable_lock)" \
        --device "$sim_device"
    expect_refusal "COM1 leading to the stable name" \
        "tarvix-capture: COM1 ($stable): in use by minicom (process $pid, lock file $stable_lock)" \
        TARVIX_COM1="$stable"
    [ ! -e "$real_lock" ] || fail "a refused opening left $real_lock behind"
    kill "$minicom_pid"
    wait "$minicom_pid" 2>/dev/null || true
    minicom_pid=''
    exec {keyboard}<&-
    rm -f "$stable_lock"

    capture --device "$sim_device" 2>"$session_work/capture.err" &
    capture_pid=$!
    poll 10 "tarvix-capture's lock under the stable name" held_by "$stable_lock" "$capture_pid"
    held_by "$real_lock" "$capture_pid" || fail "no lock of tarvix-capture's in $real_lock"
    said=$(timeout 10 bash -c "$(declare -f minicom); minicom '$stable'" </dev/null 2>&1) ||
        status=$?
    if [ "$status" != 1 ] || [[ "$said" != *"Device $stable is locked."* ]]; then
        fail "minicom given the stable name: status $status: $said"
    fi
    kill -s TERM "$capture_pid"
    status=0
    wait "$capture_pid" || status=$?
    [ "$status" = 0 ] || fail "tarvix-capture ended with status $status: $(cat "$session_work/capture.err")"
    if [ -e "$stable_lock" ] || [ -e "$real_lock" ]; then
        fail "tarvix-capture left a lock file behind"
    fi
}

# Two starts at once over one stale lock file: exactly one gets the port and has its lock file,
# the other is told who holds it. Each start waits at a gate (a shell reading a line) so that
# the two start as one; many rounds, as the two interleave differently.
case_two-starts()
{
    local lock gate round ended i status refused holder said
    local -a pids
    start_sim --delay 600000
    lock=$(lock_of "$sim_device")
    gate="$session_work/gate"
    mkfifo "$gate"
    for ((round = 1; round <= 40; round++)); do
        sh -c 'exit 0' &
        ended=$!
        wait "$ended"
        printf '%10d\n' "$ended" >"$lock"
        exec {g}<>"$gate"
        for i in 0 1; do
            (
                read -r -u "$g" _
                exec {g}<&-
                capture --device "$sim_device"
            ) 2>"$session_work/err$i" &
            pids[i]=$!
        done
        printf 'go\ngo\n' >&"$g"
        exec {g}<&-
        poll 10 "one of the two starts to end" one_ended "${pids[@]}"
        refused=1
        ! one_ended "${pids[0]}" || refused=0
        holder=${pids[1 - refused]}
        status=0
        wait "${pids[refused]}" || status=$?
        said=$(cat "$session_work/err$refused")
        if [ "$status" != 2 ] ||
            [[ "$said" != "tarvix-capture: $sim_device: in use by tarvix-capture (process $holder"* ]]; then
            fail "round $round: the start refused ended with status $status: $said"
        fi
        poll 5 "round $round: the holder's lock file" held_by "$lock" "$holder"
        kill -s TERM "$holder"
        status=0
        wait "$holder" || status=$?
        [ "$status" = 0 ] || fail "round $round: the holder ended with status $status"
        [ ! -e "$lock" ] || fail "round $round: $lock stayed behind"
    done
}

# one_ended <process...>: one of them has ended (a zombie, not yet reaped, counts).
one_ended()
{
    local pid
    for pid in "$@"; do
        if ! kill -0 "$pid" 2>/dev/null || grep -q '^State:[[:space:]]*Z' "/proc/$pid/status"; then
            return 0
        fi
    done
    return 1
}

"case_$case_name"
echo "PASS: $case_name"
