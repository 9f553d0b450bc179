# The capture end to end under Wine, part of tests/windows/run-under-wine.sh (sourced there,
# with its check, start_display, $build, $work, $version and the modem-line fixture $modem):
# tarvix-sim of the Linux build plays the instrument on a pseudo-terminal, which
# $WINEPREFIX/dosdevices/com5 links as COM5, and the built folder's programs capture from it
# at 1200 baud, as a Windows user's would from a COM port.
#   - tarvix-capture.exe --port 5: two transmissions with a pause between them, two captures,
#     each byte for byte (every byte value, XON and XOFF among them);
#   - the instrument's end hung up in the middle of a transmission (an adapter unplugged): the
#     port reported lost, status 4, what arrived written;
#   - COM5 held by another Wine process: refused as in use, status 2;
#   - tarvix.exe on an X server of its own: the transmission in its capture journal, byte for
#     byte; and its --version, --ports and --journal answered although it is a GUI program.

echo "== The capture under Wine (tarvix-sim on a pseudo-terminal as COM5)"
folder=$build/tarvix-$version
sim=${TVX_SIM:-$root/build/tools/sim/tarvix-sim}
com5=$WINEPREFIX/dosdevices/com5
# Every byte value, twice and a half: 640 bytes, about 5.3 s at 1200 baud.
sent=$work/sent.dat
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 2 + bytes(range(128)))' \
    >"$sent"
printf '\r\n' >"$work/crlf"
cat "$sent" "$work/crlf" >"$work/expected.dat"

# start_sim OPTION...: the simulator on a pseudo-terminal of its own, linked as COM5.
sim_pty=
start_sim() {
    "$sim" "$@" >"$work/sim.out" 2>&1 &
    sim_pid=$!
    sim_pty=
    for _ in $(seq 50); do
        sim_pty=$(head -n 1 "$work/sim.out" 2>/dev/null)
        [ -n "$sim_pty" ] && break
        sleep 0.1
    done
    ln -sfn "$sim_pty" "$com5"
}
# Its end of the line goes at once, as an adapter pulled out (it would drain and pause first).
stop_sim() {
    [ -n "$sim_pid" ] && kill -KILL "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    sim_pid=
}
# Whether one of the programs (a Wine process, named after its .exe) or the Wine server, which
# keeps a copy, has the simulator's terminal open: the port is open.
port_open() {
    local pid fd
    for pid in $(pgrep -f 'tarvix(-capture)?\.exe|wineserver'); do
        for fd in /proc/"$pid"/fd/*; do
            [ "$(readlink "$fd" 2>/dev/null)" = "$sim_pty" ] && return 0
        done
    done
    return 1
}
wait_until() { # wait_until SECONDS COMMAND...
    local until=$((SECONDS + $1))
    shift
    while [ $SECONDS -lt $until ]; do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
# capture NAME ARGUMENT...: tarvix-capture.exe of the folder in $work, its status, standard
# output and error in $work/NAME.status, .out and .err; in the background, its PID in
# capture_pid.
capture() {
    local name=$1
    shift
    (cd "$work" && LD_PRELOAD=$modem WINEPATH= wine "$folder/tarvix-capture.exe" "$@" \
        >"$work/$name.out" 2>"$work/$name.err"
     echo $? >"$work/$name.status") &
    capture_pid=$!
}
status_of() { cat "$work/$1.status" 2>/dev/null; }
show_err() { tr -d '\r' <"$work/$1.err" | sed "s/^/  $1: /"; }

# One Wine server for the whole part, its own messages kept out of the programs' standard error.
wineserver -p >/dev/null 2>&1

if [ ! -x "$sim" ]; then
    check "tarvix-sim of the Linux build to play the instrument ($sim; make build)" false
else
    # Two transmissions four seconds apart, two captures.
    start_sim --file "$sent" --delay 500 --repeat 4
    mkdir -p "$work/caps"
    capture two --port 5 --dir caps --count 2 --wait 60 --quiet
    wait_until 90 test -s "$work/two.status"
    stop_sim
    show_err two
    check "tarvix-capture.exe --port 5 --count 2 ends with 0 (status $(status_of two))" \
        test "$(status_of two)" = 0
    mapfile -t captures < <(ls "$work/caps")
    check "two transmissions are two captures (${#captures[@]}: ${captures[*]})" \
        test ${#captures[@]} -eq 2
    for file in "${captures[@]}"; do
        check "$file: the $(stat -c %s "$sent") bytes sent at 1200 baud, byte for byte, and CR LF" \
            cmp "$work/caps/$file" "$work/expected.dat"
    done

    # The instrument's end hangs up in the middle of the transmission (about 2.5 s into its
    # 5.3 s), while the capture still runs: how many bytes arrived depends on the moment, so
    # what is written is compared with as many of the bytes sent as the message counts.
    start_sim --file "$sent" --delay 3000
    capture cut --port 5 --out cut.dat --wait 60
    wait_until 60 port_open
    started=$SECONDS
    while [ $((SECONDS - started)) -lt 5 ]; do sleep 0.2; done
    stop_sim
    wait_until 30 test -s "$work/cut.status"
    show_err cut
    check "an unplugged port ends the capture with 4 (status $(status_of cut))" \
        test "$(status_of cut)" = 4
    arrived=$(tr -d '\r' <"$work/cut.err" | sed -n 's/.*: the \([0-9]*\) bytes received are.*/\1/p')
    check "the transmission was cut in its middle (${arrived:-no} bytes of $(stat -c %s "$sent"))" \
        test "${arrived:-0}" -gt 0 -a "${arrived:-0}" -lt "$(stat -c %s "$sent")"
    head -c "${arrived:-0}" "$sent" | cat - "$work/crlf" >"$work/cut-expected.dat"
    check "what arrived before, ${arrived:-no} bytes, is written" \
        cmp "$work/cut.dat" "$work/cut-expected.dat"
    check "the port is said lost, once, by its name" \
        test "$(tr -d '\r' <"$work/cut.err")" = "tarvix-capture: COM5: the device was removed or hung up
tarvix-capture: the device was lost in the middle of a capture: the ${arrived:-?} bytes received are written to cut.dat, incomplete"

    # COM5 held by another Wine process, which then captures what comes.
    start_sim --file "$sent" --delay 6000
    capture held --port 5 --out held.dat --wait 60 --quiet
    wait_until 60 port_open
    capture second --port 5 --out second.dat --wait 5
    wait_until 30 test -s "$work/second.status"
    show_err second
    check "a port another program holds is refused with 2 (status $(status_of second))" \
        test "$(status_of second)" = 2
    check "... as in use by the other tarvix-capture.exe, named with its process" \
        grep -q '^tarvix-capture: COM5: in use by tarvix-capture.exe (process [0-9]*)' \
        "$work/second.err"
    wait_until 60 test -s "$work/held.status"
    stop_sim
    check "the holder captures the transmission all the same" \
        cmp "$work/held.dat" "$work/expected.dat"

    # The desktop program, started in a folder whose tvx.cfg says COM5, in a Wine session of its
    # own: the console programs' session made its desktop without an X display, and a window
    # program can make no window there ("CreateWindowEx failed").
    wineserver -k 2>/dev/null
    wineserver -w
    wineserver -p >/dev/null 2>&1
    if start_display; then
        journal=$(find "$WINEPREFIX/drive_c/users" -maxdepth 1 -mindepth 1 -type d \
            ! -name Public | head -n 1)/AppData/Local/Tarvix/captures
        mkdir -p "$work/desktop"
        printf '5\r\n\r\n' >"$work/desktop/tvx.cfg"
        start_sim --file "$sent" --delay 3000
        (cd "$work/desktop" && DISPLAY=$display LD_PRELOAD=$modem WINEPATH= \
            WINEQT_FORCE_STDERR_LOGGING=1 wine "$folder/tarvix.exe" >"$work/desktop.err" 2>&1 || true) &
        journaled() {
            local file
            for file in "$journal"/readings-*.dat; do
                cmp -s "$file" "$work/expected.dat" && return 0
            done
            return 1
        }
        wait_until 90 journaled
        check "tarvix.exe captures the transmission: its journal holds it byte for byte" journaled
        check "tarvix.exe shows its main window" \
            bash -c "DISPLAY='$display' xdotool search --name '^Tarvix Conectivity\$' >/dev/null"
        stop_sim
        wineserver -k
        sleep 1
        sed 's/^/  tarvix.exe: /' "$work/desktop.err"
        check "the toolkit says nothing of the DPI awareness" \
            bash -c "! grep -qi 'DpiAwareness' '$work/desktop.err'"
        # The installer's check starts the program as a new user would, without this journal.
        rm -rf "$journal"
    else
        echo "SKIP: the desktop program's capture (no Xvfb or xdotool)"
    fi
fi
wineserver -k 2>/dev/null
wineserver -w

# tarvix.exe is a GUI program, which opens no console beside its window; tarvix-capture.exe a
# console program.
subsystem() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p'; }
check "tarvix.exe is a GUI program ($(subsystem "$folder/tarvix.exe"))" \
    test "$(subsystem "$folder/tarvix.exe")" = "(Windows GUI)"
check "tarvix-capture.exe is a console program ($(subsystem "$folder/tarvix-capture.exe"))" \
    test "$(subsystem "$folder/tarvix-capture.exe")" = "(Windows CUI)"
# Its answers still reach standard output.
answer() { (cd "$work" && WINEPATH= wine "$folder/$1" "${@:2}" 2>/dev/null | tr -d '\r'); }
check "tarvix.exe --ports lists COM1 to COM4" \
    test "$(answer tarvix.exe --ports | cut -c1-4 | tr '\n' ' ')" = "COM1 COM2 COM3 COM4 "
check "tarvix-capture.exe --ports lists them alike" \
    test "$(answer tarvix-capture.exe --ports)" = "$(answer tarvix.exe --ports)"
check "tarvix.exe --journal names the journal in AppData" \
    grep -q 'AppData\\Local\\Tarvix\\captures$' <<<"$(answer tarvix.exe --journal)"
check "tarvix-capture.exe --help speaks of COM ports, not of /dev or dialout" \
    bash -c "answer=\$(cd '$work' && WINEPATH= wine '$folder/tarvix-capture.exe' --help 2>/dev/null)
             grep -q 'COM7' <<<\"\$answer\" && ! grep -q '/dev\\|dialout' <<<\"\$answer\""
