#!/usr/bin/env bash
# End-to-end tests of the built (or installed) program, used as a user uses it: under an X
# server of its own, in a fresh working folder, with COM1 on a pseudo-terminal that tarvix-sim
# drives, and only keys and clicks (xdotool) to work it.
#
#     e2e.sh <case> <tarvix> <tarvix-sim> <source folder>
#
# TARVIX_E2E_PROGRAM, when set, names the program to test instead of <tarvix> (an installed
# /usr/bin/tarvix, for example). TARVIX_E2E_WM=xfwm4 runs the case under that window manager.
# Cases: command-line, start-up, capture-files, print, port-back, signals, ports, port-cancel,
# open-argument, journal. Exit status 0 passed, 1 failed, 77
# skipped (a tool is missing; in CI, where CI is set, that is a failure instead).
set -euo pipefail

case_name=$1
program=$(realpath "${TARVIX_E2E_PROGRAM:-$2}")
sim=$(realpath "$3")
sources=$(realpath "$4")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source-path=SCRIPTDIR source=session.sh
source "$here/session.sh"

main_title='Tarvix Conectivity'
port_ui="$sources/src/port/port_selection_window.ui"
save_ui="$sources/src/files/save_window.ui"
open_ui="$sources/src/files/open_window.ui"
# The port number file for COM1: "1", CR LF, an empty line.
write_com1_cfg()
{
    printf '1\r\n\r\n' >"$1"
}

# bytes_of <file>: its bytes in hexadecimal, for messages and comparisons.
bytes_of()
{
    od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'
}

# same_bytes <expected> <actual> <what>
same_bytes()
{
    [ -f "$2" ] || fail "$3: $2 was not written"
    if ! cmp -s "$1" "$2"; then
        fail "$3: $2 differs from what was expected: $(cmp "$1" "$2" 2>&1 | head -n 1)" \
            "($(stat -c %s "$2") bytes, expected $(stat -c %s "$1"))"
    fi
}

# write_readings <count> <marker> [end of the last but one line]: a transmission of the
# instrument, numbered readings with CR LF, a few bytes above 127 (µ, °) and by default a line
# ended by LF alone, which must all come through unchanged.
write_readings()
{
    local count=$1 marker=$2 end=${3:-'\n'} i
    {
        printf 'TARVIX-1M %s\r\n' "$marker"
        for ((i = 1; i <= count; i++)); do
            printf ' %03d     %d.%02d mg\r\n' "$i" $((20 + i % 7)) $((i * 37 % 100))
            if ((i % 25 == 0)); then
                printf ' %03d     %d.%d \xb5g  21.5\xb0C\r\n' "$i" $((i / 5)) $((i % 10))
            fi
        done
        printf 'END OF MEMORY%b' "$end"
        printf 'TOTAL %d\r\n' "$count"
    }
}

file_exists_with_size()
{
    [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ]
}

# The main window with the program idle after start-up (tvx.cfg names COM1).
start_with_com1()
{
    write_com1_cfg "$session_work/run/tvx.cfg"
    start_program
    main=$(wait_window "$main_title")
}

# save_as <main window> <name>: File > Save (Ctrl+S), the name typed over "temp.dat", Ok. The
# window closes once the file is written.
save_as()
{
    local save
    press "$1" ctrl+s
    save=$(wait_window 'File Save')
    type_into_control "$save" "$save_ui" txtfilename "$2"
    click_control "$save" "$save_ui" cmdsaveok
    wait_window_gone 'File Save'
}

# open_file <main window> <path>: File > Open (Ctrl+O), the path typed into the path box, OK.
open_file()
{
    local open
    press "$1" ctrl+o
    open=$(wait_window 'File Open')
    type_into_control "$open" "$open_ui" Text1 "$2"
    click_control "$open" "$open_ui" cmdok
    wait_window_gone 'File Open'
}

# exit_program <main window>: File > Exit by its shortcut; the program ends at once, status 0.
exit_program()
{
    press "$1" ctrl+x
    wait_program_end
    [ "$session_program_exit" = 0 ] || fail "the program ended with status $session_program_exit"
}

# --version and --help answer on standard output without any display, tarvix-sim's too; an
# unknown option is refused on standard error with status 1, with a display or without, and the
# window never opens for it; the toolkit's own options are taken.
case_command_line()
{
    local out program_name
    local licence='License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.'
    for program_name in tarvix tarvix-sim; do
        local binary=$program
        [ "$program_name" = tarvix ] || binary=$sim
        out=$(cd "$session_work/run" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
            "$binary" --version 2>"$session_work/version.err") ||
            fail "$program_name --version ended with status $?: $(cat "$session_work/version.err")"
        [[ "$(head -n 1 <<<"$out")" =~ ^$program_name\ [0-9]+\.[0-9]+$ ]] ||
            fail "$program_name --version printed \"$out\""
        grep -qxF -- "$licence" <<<"$out" || fail "$program_name --version names no licence: $out"
        [ ! -s "$session_work/version.err" ] ||
            fail "$program_name --version wrote to standard error: $(cat "$session_work/version.err")"

        # Refused without a display: no toolkit message, no abort.
        expect_refusal "$program_name" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
            "$binary" --no-such-option
    done

    out=$(cd "$session_work/run" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$program" --help 2>"$session_work/help.err") ||
        fail "--help ended with status $?: $(cat "$session_work/help.err")"
    for text in 'Usage: tarvix' '--version' '--help' 'tvx.cfg' 'TARVIX_COM'; do
        grep -qF -- "$text" <<<"$out" || fail "--help does not mention $text: $out"
    done
    # tarvix-sim names itself, not the folder it was built or installed in.
    out=$("$sim" --help) || fail "tarvix-sim --help ended with status $?"
    [ "$(head -n 1 <<<"$out")" = 'Usage: tarvix-sim [options]' ] ||
        fail "tarvix-sim --help begins \"$(head -n 1 <<<"$out")\""
    ! grep -qF -- "$(dirname "$sim")" <<<"$out" || fail "tarvix-sim --help names its folder: $out"
    [ -z "$(ls -A "$session_work/run")" ] || fail "--version or --help left files behind"

    # With a display the refusal is the same, and no window opens: the program would wait at
    # its "File Error" box instead of ending.
    start_sim --delay 600000
    start_program --no-such-option
    wait_program_end
    [ "$session_program_exit" = 1 ] ||
        fail "tarvix --no-such-option on a display ended with status $session_program_exit"
    same_text "$session_work/tarvix.err" "tarvix: unknown option 'no-such-option'" \
        "Try 'tarvix --help'." || fail "tarvix --no-such-option on a display said otherwise"

    # The toolkit's own options are taken: start-up as without tvx.cfg. (A word that is no
    # option names a reading file: the case open-argument.)
    start_program -platform xcb -reverse -style Fusion
    wait_window 'File Error' >/dev/null
}

# same_text <file> <line>...: the file holds exactly these lines.
same_text()
{
    local file=$1
    shift
    [ "$(cat "$file")" = "$(printf '%s\n' "$@")" ] || {
        echo "$file holds: $(cat "$file")" >&2
        return 1
    }
}

# expect_refusal <program name> <command>...: the command refuses the option --no-such-option
# with status 1, on standard error only.
expect_refusal()
{
    local name=$1 status=0
    shift
    (cd "$session_work/run" && "$@" >"$session_work/refusal.out" 2>"$session_work/refusal.err") ||
        status=$?
    [ "$status" = 1 ] || fail "$name --no-such-option ended with status $status:" \
        "$(cat "$session_work/refusal.err")"
    same_text "$session_work/refusal.err" "$name: unknown option 'no-such-option'" \
        "Try '$name --help'." || fail "$name --no-such-option said otherwise"
    [ ! -s "$session_work/refusal.out" ] || fail "$name --no-such-option wrote to standard output"
}

# Start-up without tvx.cfg: the "File Error" box (and on standard error that there is no such
# file), then the port selection window with the main window hidden; Ok on the free COM1 writes tvx.cfg and shows the main window.
case_start_up()
{
    local box port
    start_sim --delay 600000
    start_program
    box=$(wait_window 'File Error')
    # Standard error says what the box cannot: the file is simply not there yet.
    same_text "$session_work/tarvix.err" "tvx.cfg: no such file in $(cd "$session_work/run" && pwd -P)" ||
        fail "a first start said otherwise on standard error"
    window_gone 'Port selection' || fail "the port selection window came before the message"
    window_gone "$main_title" || fail "the main window is shown behind the message"

    press "$box" Return
    wait_window_gone 'File Error'
    port=$(wait_window 'Port selection')
    window_gone "$main_title" || fail "the main window is shown beside the port selection"
    [ ! -e "$session_work/run/tvx.cfg" ] || fail "tvx.cfg was written before Ok"

    click_control "$port" "$port_ui" cmdok
    main=$(wait_window "$main_title")
    wait_window_gone 'Port selection'
    poll 10 "tvx.cfg" file_exists_with_size "$session_work/run/tvx.cfg" 5
    [ "$(bytes_of "$session_work/run/tvx.cfg")" = '31 0d 0a 0d 0a' ] ||
        fail "tvx.cfg holds $(bytes_of "$session_work/run/tvx.cfg"), not 31 0d 0a 0d 0a"
    exit_program "$main"
}

# A transmission of a few KB at 1200 baud, captured, saved through the save window and
# compared byte for byte; then opened through the open window and saved again.
case_capture_files()
{
    local run="$session_work/run" sent="$session_work/sent.txt" bytes seconds
    write_readings 120 "capture-$$" >"$sent"
    bytes=$(stat -c %s "$sent")
    ((bytes >= 2048)) || fail "the transmission is only $bytes bytes"
    # 1200 baud with 8N1 carries 120 characters a second; the capture ends 1.3 s after the
    # last of them. The deadline leaves room for a loaded machine.
    seconds=$((bytes / 120 + 30))

    # The instrument sends a second from now; what comes before the program has opened the
    # port waits in the terminal.
    start_sim --file "$sent" --delay 1000
    start_with_com1
    wait_capture "$main" "$seconds"

    save_as "$main" readings.dat
    { cat "$sent"; printf '\r\n'; } >"$session_work/expected.dat"
    same_bytes "$session_work/expected.dat" "$run/readings.dat" "the saved capture"

    # The file's bytes, its CR LF included, become the reading text; saving it again adds
    # one more CR LF.
    open_file "$main" "$run/readings.dat"
    save_as "$main" again.dat
    { cat "$sent"; printf '\r\n\r\n'; } >"$session_work/expected-again.dat"
    same_bytes "$session_work/expected-again.dat" "$run/again.dat" "the file opened and saved again"
    same_bytes "$session_work/expected.dat" "$run/readings.dat" "the opened file"
    exit_program "$main"
}

# tarvix FILE, as a file manager's "Open with" starts it: the file becomes the reading text once
# the port is loaded, byte for byte, as saving it again shows.
case_open_argument()
{
    local run="$session_work/run" file="$session_work/joined readings.dat"
    write_readings 40 "argument-$$" '\r' >"$file"
    write_com1_cfg "$run/tvx.cfg"
    start_sim --delay 600000
    start_program "$file"
    main=$(wait_window "$main_title")
    save_as "$main" again.dat
    { cat "$file"; printf '\r\n'; } >"$session_work/expected.dat"
    same_bytes "$session_work/expected.dat" "$run/again.dat" "the file named on the command line"
    exit_program "$main"
}

# The time the program's threads have spent on the CPU, in nanoseconds, and how often they were
# woken: "<ns> <switches>".
cpu_and_wakeups()
{
    local task ns=0 switches=0 run count
    for task in /proc/"$session_program_pid"/task/*; do
        read -r run _ <"$task/schedstat"
        count=$(awk '/ctxt_switches/ { n += $2 } END { print n + 0 }' "$task/status")
        ns=$((ns + run))
        switches=$((switches + count))
    done
    echo "$ns $switches"
}

stderr_has()
{
    grep -qxF -- "$1" "$session_work/tarvix.err"
}

# expect_idle <what>: over 3 s the program neither runs nor wakes.
expect_idle()
{
    local before after idle_ns idle_switches
    sleep 0.5
    before=$(cpu_and_wakeups)
    sleep 3
    after=$(cpu_and_wakeups)
    idle_ns=$((${after% *} - ${before% *}))
    idle_switches=$((${after#* } - ${before#* }))
    echo "idle 3 s with $1: ${idle_ns} ns of CPU, ${idle_switches} wake-ups"
    ((idle_switches == 0)) ||
        fail "the program woke $idle_switches times (${idle_ns} ns of CPU) with $1"
}

# holds_device <device>: the program has the device open.
holds_device()
{
    local fd
    for fd in /proc/"$session_program_pid"/fd/*; do
        [ "$(readlink "$fd")" != "$1" ] || return 0
    done
    return 1
}

# The terminal behind COM1 goes away while the program runs, and a new one takes its name: the
# device behind COM1 is a link to the simulator's terminal, named as udev names a USB adapter's
# node. A pseudo-terminal's name goes to the next terminal made, a new shell's as well as the
# simulator's, so the program does not reopen it by itself; it stays idle all along, and the
# user's Ok in the port selection window opens it: the next transmission is captured byte for
# byte.
case_port_back()
{
    local run="$session_work/run" sent="$session_work/sent.txt" link="$session_work/dev/ttyUSB0"
    local terminal port note
    mkdir "$session_work/dev"
    start_sim --delay 600000
    ln -s "$sim_device" "$link"
    sim_device=$link
    start_with_com1

    # The terminal goes: the line hangs up, then the link goes.
    kill "$session_sim_pid"
    wait "$session_sim_pid" 2>/dev/null || true
    session_sim_pid=''
    poll 10 "the lost port on standard error" grep -q "^COM1 ($link): " "$session_work/tarvix.err"
    note="COM1 ($link) will not be reopened by itself: nothing tells whether a device that"
    note+=" appears there is the same one (Option > Serial Port Selection > Ok reopens it)"
    poll 10 "the word that it is not reopened" stderr_has "$note"
    rm "$link"
    expect_idle "the port lost"

    # A new terminal under the same name, its transmission 10 s away: left alone.
    write_readings 30 "back-$$" >"$sent"
    start_sim --file "$sent" --delay 10000
    ln -s "$sim_device" "$link"
    terminal=$(realpath "$link")
    expect_idle "a new terminal under the lost port's name"
    ! holds_device "$terminal" || fail "the program opened the new terminal $terminal by itself"

    # The user's Ok in the port selection window opens it.
    press "$main" alt+o Return
    port=$(wait_window 'Port selection')
    click_control "$port" "$port_ui" cmdok
    wait_window_gone 'Port selection'
    holds_device "$terminal" || fail "Ok in the port selection window did not open $terminal"
    wait_capture "$main" 60
    save_as "$main" readings.dat
    { cat "$sent"; printf '\r\n'; } >"$session_work/expected.dat"
    same_bytes "$session_work/expected.dat" "$run/readings.dat" "the capture after Ok"
    # Standard error holds the loss and the word that it is not reopened, nothing else of the
    # program's own.
    grep '^COM1 ' "$session_work/tarvix.err"
    [ "$(grep -c '^COM1 ' "$session_work/tarvix.err")" = 2 ] ||
        fail "standard error says more or less than the loss and that it is not reopened"
    exit_program "$main"
}

# lock_file_of <device>: the lock file Qt keeps in /run/lock while the device is open.
lock_file_of()
{
    local name
    name=$(realpath "$1")
    name=${name#/dev/}
    echo "/run/lock/LCK..${name//\//_}"
}

# SIGTERM (a logout), SIGINT (Ctrl+C) and SIGHUP (the terminal closed) end the program as Exit
# does: status 0, the port closed and its lock file gone, so the next start opens it at once.
# Also a signal that comes while the start-up message box waits for OK.
case_signals()
{
    local sig lock fd target
    start_sim --delay 600000
    lock=$(lock_file_of "$sim_device")
    for sig in TERM INT HUP; do
        start_with_com1
        [ -e "$lock" ] || fail "no lock file $lock while the port is open"
        kill -s "$sig" "$session_program_pid"
        wait_program_end
        [ "$session_program_exit" = 0 ] ||
            fail "SIG$sig ended the program with status $session_program_exit"
        [ ! -e "$lock" ] || fail "SIG$sig left the lock file $lock behind"
    done
    # The next instance opened the port at once each time (start_with_com1 found the main
    # window, not the "File Error" box).

    # Started with its standard descriptors closed, as some launchers start programs, it has
    # /dev/null in their place: the serial device or a file it opens never takes one of those
    # numbers, so no warning of the toolkit goes into it.
    (
        cd "$session_work/run" || exit
        exec env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$session_work/runtime" \
            TARVIX_COM1="$sim_device" "$session_program" <&- >&- 2>&-
    ) &
    session_program_pid=$!
    wait_window "$main_title" >/dev/null
    for fd in 0 1 2; do
        target=$(readlink "/proc/$session_program_pid/fd/$fd" || true)
        [ "$target" = /dev/null ] || fail "descriptor $fd of the program is $target, not /dev/null"
    done
    kill -s TERM "$session_program_pid"
    wait_program_end
    [ "$session_program_exit" = 0 ] ||
        fail "SIGTERM ended the program started without descriptors with status $session_program_exit"
    [ ! -e "$lock" ] || fail "the program started without descriptors left $lock behind"

    rm "$session_work/run/tvx.cfg"
    start_program
    wait_window 'File Error' >/dev/null
    kill -s TERM "$session_program_pid"
    wait_program_end
    [ "$session_program_exit" = 0 ] ||
        fail "SIGTERM during the start-up message ended the program with status $session_program_exit"

    # At a logout the X server may go first; Qt then ends the program itself.
    start_with_com1
    [ -e "$lock" ] || fail "no lock file $lock while the port is open"
    kill "$session_xvfb_pid"
    wait "$session_xvfb_pid" 2>/dev/null || true
    session_xvfb_pid=''
    wait_program_end
    [ ! -e "$lock" ] || fail "the X server's end left the lock file $lock behind"
}

# --ports answers without a display: COM1 to COM4 at least, one line each, with the device and
# what the system says of it; TARVIX_COM<n> shows as such.
case_ports()
{
    local out line
    out=$(cd "$session_work/run" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        TARVIX_COM2=/dev/tarvix-sim "$program" --ports 2>"$session_work/ports.err") ||
        fail "--ports ended with status $?: $(cat "$session_work/ports.err")"
    echo "$out"
    [ ! -s "$session_work/ports.err" ] || fail "--ports wrote to standard error"
    [ "$(echo "$out" | head -n 4 | awk '{ print $1 }' | tr '\n' ' ')" = 'COM1 COM2 COM3 COM4 ' ] ||
        fail "--ports does not list COM1 to COM4 first"
    while IFS= read -r line; do
        [[ "$line" =~ ^COM[0-9]+\ +(/[^ ]+\ +.+|-\ +no\ serial\ port\ stands\ behind\ this\ number)$ ]] ||
            fail "--ports printed a line of another shape: \"$line\""
        [[ "$line" != *' /dev/pts/'* ]] || fail "--ports lists a pseudo-terminal: \"$line\""
    done <<<"$out"
    grep -qE '^COM2 +/dev/tarvix-sim +serial port \(set by TARVIX_COM2\)$' <<<"$out" ||
        fail "--ports does not show COM2 as TARVIX_COM2 sets it"
}

# Where cups-pdf puts the jobs of this user: the Out setting of its configuration.
cups_pdf_folder()
{
    local user home out
    user=$(id -un)
    home=$(getent passwd "$user" | cut -d: -f6)
    out=$(sed -n 's/^[[:space:]]*Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -n 1)
    out=${out:-/var/spool/cups-pdf/\$\{USER\}}
    out=${out//\$\{HOME\}/$home}
    out=${out//\$\{USER\}/$user}
    echo "$out"
}

# The newest PDF of the folder written since the mark that holds the text; its path goes to
# $report_pdf.
find_report()
{
    local folder=$1 mark=$2 marker=$3 pdf
    while IFS= read -r -d '' pdf; do
        if pdftotext -layout "$pdf" - 2>/dev/null | grep -qF -- "$marker"; then
            report_pdf=$pdf
            return 0
        fi
    done < <(find "$folder" -maxdepth 1 -name '*.pdf' -newer "$mark" -print0 2>/dev/null)
    return 1
}

# File > Print (Ctrl+P) of an opened reading file goes to the printing service's default
# printer, here the CUPS queue tarvix-pdf whose device writes PDF files.
case_print()
{
    local readings="$session_work/run/report.dat" folder marker
    require lpstat pdftotext
    unset CUPS_SERVER
    lpstat -r 2>/dev/null | grep -q 'scheduler is running' ||
        skip "no CUPS scheduler (tests/print/cups-setup.sh starts it, as root)"
    lpstat -v tarvix-pdf >/dev/null 2>&1 ||
        skip "no CUPS queue tarvix-pdf (tests/print/cups-setup.sh makes it, as root)"
    folder=$(cups_pdf_folder)
    # The program prints to the default printer; this one is chosen for its process only.
    export LPDEST=tarvix-pdf

    marker="print-$$-$RANDOM"
    write_readings 12 "$marker" '\r\n' >"$readings"
    start_sim --delay 600000
    start_with_com1
    open_file "$main" "$readings"

    # Every PDF of this job is newer than the mark, even where file times have whole seconds.
    touch -d "@$(($(date +%s) - 1))" "$session_work/print-mark"
    press "$main" ctrl+p
    poll 90 "a PDF of the report in $folder" find_report "$folder" "$session_work/print-mark" "$marker"
    window_gone Tarvix || fail "printing showed a message"

    # What the report shows, blanks collapsed: heading, blank line, the readings line by line
    # as their CR LF divide them, a blank line for the CR LF that ends the file, "Report Over".
    pdftotext -layout "$report_pdf" - | sed 's/[[:space:]]\+/ /g; s/^ //; s/ $//' |
        sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' >"$session_work/report.txt"
    {
        echo 'ID Reading'
        echo
        tr -d '\r' <"$readings" | iconv -f latin1 -t utf-8 | sed 's/[[:space:]]\+/ /g; s/^ //; s/ $//'
        echo
        echo 'Report Over'
    } >"$session_work/report-expected.txt"
    if ! diff -u "$session_work/report-expected.txt" "$session_work/report.txt" >&2; then
        fail "the printed report differs from the reading text ($report_pdf)"
    fi
    rm -f "$report_pdf"
    exit_program "$main"
}

# Cancel in the port selection window in the middle of a transmission, the port unchanged: the
# port stays open under the running capture, which loses nothing; the saved file is the whole
# transmission byte for byte.
case_port_cancel()
{
    local run="$session_work/run" sent="$session_work/sent.txt" port
    # About 1200 bytes: ten seconds at 1200 baud.
    write_readings 60 "cancel-$$" >"$sent"
    start_sim --file "$sent" --delay 1000
    start_with_com1
    poll 30 "a capture to start" reading_area_hidden "$main"
    press "$main" alt+o Return
    port=$(wait_window 'Port selection')
    click_control "$port" "$port_ui" cmdcancel
    wait_window_gone 'Port selection'
    reading_area_hidden "$main" || fail "the capture was over before Cancel"
    poll 60 "the capture to end" reading_area_shown "$main"
    save_as "$main" readings.dat
    { cat "$sent"; printf '\r\n'; } >"$session_work/expected.dat"
    same_bytes "$session_work/expected.dat" "$run/readings.dat" "the capture with a Cancel in it"
    exit_program "$main"
}

# The capture journal's files, newest last.
journal_files()
{
    find "$session_work/state/tarvix/captures" -name 'readings-*.dat' -printf '%T@ %p\n' \
        2>/dev/null | sort -n | cut -d' ' -f2-
}

# bytes_sent: what the simulator has written so far, its device's name on standard output
# included (the kernel counts every byte a process writes).
bytes_sent()
{
    awk '/^wchar:/ { print $2 }' "/proc/$session_sim_pid/io"
}

# is_prefix <file> <of file> <what>: the file's bytes are the start of the other's.
is_prefix()
{
    cmp -s -n "$(stat -c %s "$1")" "$1" "$2" ||
        fail "$3: $1 is not the start of what was sent: $(cmp "$1" "$2" 2>&1 | head -n 1)"
}

# Every capture goes to the journal as it arrives: a program killed in the middle of a
# transmission leaves on disk all that arrived more than a second before; Exit during a capture
# and after one leaves the capture as a reading file, which File Open opens byte for byte.
case_journal()
{
    local run="$session_work/run" sent="$session_work/sent.txt" sent_before file size header
    write_readings 100 "journal-$$" >"$sent"
    write_com1_cfg "$run/tvx.cfg"

    # Killed: what the simulator had sent two seconds before is in the journal file.
    start_sim --file "$sent" --delay 1000
    header=$(($(bytes_sent)))
    start_program
    main=$(wait_window "$main_title")
    poll 30 "a capture to start" reading_area_hidden "$main"
    sleep 3
    sent_before=$(($(bytes_sent) - header))
    sleep 2
    reading_area_hidden "$main" || fail "the transmission ended before the program was killed"
    kill -s KILL "$session_program_pid"
    wait_program_end
    file=$(journal_files | tail -n 1)
    [ -n "$file" ] || fail "the killed program left no journal file"
    size=$(stat -c %s "$file")
    echo "killed: $size bytes in $file; $sent_before bytes sent 2 s before the kill"
    ((size >= sent_before)) || fail "the journal holds $size bytes; $sent_before were sent 2 s earlier"
    is_prefix "$file" "$sent" "the journal of the killed program"
    kill "$session_sim_pid"
    wait "$session_sim_pid" 2>/dev/null || true

    # Exit in the middle of a capture: what arrived, then CR LF.
    start_sim --file "$sent" --delay 1000
    header=$(($(bytes_sent)))
    start_program
    main=$(wait_window "$main_title")
    poll 30 "a capture to start" reading_area_hidden "$main"
    sleep 2
    sent_before=$(($(bytes_sent) - header))
    exit_program "$main"
    file=$(journal_files | tail -n 1)
    [ "$(journal_files | wc -l)" = 2 ] || fail "Exit during a capture left no journal file of its own"
    size=$(stat -c %s "$file")
    ((size >= sent_before + 2)) || fail "Exit left $size bytes; $sent_before had been sent before"
    [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = 0d0a ] ||
        fail "the journal file of a capture ended by Exit does not end with CR LF"
    head -c $((size - 2)) "$file" >"$session_work/exit-journal.txt"
    is_prefix "$session_work/exit-journal.txt" "$sent" "the journal after Exit"
    kill "$session_sim_pid"
    wait "$session_sim_pid" 2>/dev/null || true

    # Exit after a whole capture: the journal file is the reading file a save writes, and File
    # Open shows it so.
    write_readings 10 "whole-$$" >"$sent"
    start_sim --file "$sent" --delay 1000
    start_program
    main=$(wait_window "$main_title")
    wait_capture "$main" 60
    file=$(journal_files | tail -n 1)
    { cat "$sent"; printf '\r\n'; } >"$session_work/expected.dat"
    same_bytes "$session_work/expected.dat" "$file" "the journal of a whole capture"
    open_file "$main" "$file"
    save_as "$main" opened.dat
    { cat "$sent"; printf '\r\n\r\n'; } >"$session_work/expected-opened.dat"
    same_bytes "$session_work/expected-opened.dat" "$run/opened.dat" "the journal file opened"
    exit_program "$main"
    [ "$(journal_files | wc -l)" = 3 ] || fail "the journal does not hold the three captures"
    ! grep -q 'journal' "$session_work/tarvix.err" ||
        fail "standard error: $(cat "$session_work/tarvix.err")"
}

require Xvfb xdotool xdpyinfo import
[ "${TARVIX_E2E_WM:-}" != xfwm4 ] || require xfwm4 xfconf-query dbus-daemon dbus-send wmctrl
session_start "$program" "$sim"
case "$case_name" in
command-line) case_command_line ;;
start-up) case_start_up ;;
capture-files) case_capture_files ;;
print) case_print ;;
port-back) case_port_back ;;
signals) case_signals ;;
ports) case_ports ;;
port-cancel) case_port_cancel ;;
open-argument) case_open_argument ;;
journal) case_journal ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS: $case_name"
