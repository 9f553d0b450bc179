#!/usr/bin/env bash
# The Windows part of the tests (make windows-test), after make windows: in a fresh Wine prefix,
#   1. every test suite of the Windows build that runs under Wine, through ctest, headless
#      (QT_QPA_PLATFORM=offscreen); those labelled in tests/windows/suites.cmake are left out;
#      tst_serial_port's real ports are pseudo-terminals linked as COM ports (pty_server.py);
#   2. the installer run silently; the installed programs answer --version from their own folder
#      (no Qt but the one installed beside them), the desktop program shows its start-up window
#      on an X server of its own, the Start-menu entry starts it in Public Documents\Tarvix with
#      the program's icon, and the uninstaller, run silently, leaves nothing behind;
#   3. the capture end to end: tarvix-sim of the Linux build plays the instrument on a
#      pseudo-terminal linked as COM5, and tarvix-capture.exe and tarvix.exe capture from it.
#
#     tests/windows/run-under-wine.sh [WINDOWS_BUILD]      (default: build-windows)
#
# Wine takes a pseudo-terminal for a COM port only when the modem-line requests (TIOCMGET and
# its kin) succeed on it; pty_modem_lines.c, built here and preloaded into the Wine processes
# that open one, answers them. TVX_SIM names tarvix-sim (default: build/tools/sim/tarvix-sim).
#
# Exit status 0 when everything passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd) || exit 2
tree=$build/tree
version=$(sed -n 's/^project(tarvix VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup=$build/tarvix-setup-$version.exe
[ -f "$tree/CTestTestfile.cmake" ] && [ -f "$setup" ] ||
    { echo "run-under-wine: make windows first" >&2; exit 2; }

WINEPREFIX=$(mktemp -d /tmp/tarvix-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=;mshtml='
work=$(mktemp -d /tmp/tarvix-wine-work.XXXXXX)
xvfb_pid=
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
wine wineboot --init >/dev/null 2>&1
wineserver -w

# The fixture that lets Wine take a pseudo-terminal for a COM port, for the machine's Wine: the
# 64-bit loader (wine64) runs the program, and its ntdll asks for the modem lines.
modem=$build/pty-modem/libptymodem.so
mkdir -p "$(dirname "$modem")"
cc -shared -fPIC -O2 -Wall -Wextra -Werror -o "$modem" "$root/tests/windows/pty_modem_lines.c" -ldl ||
    { echo "run-under-wine: the modem-line fixture does not build" >&2; exit 2; }
export TVX_PTY_MODEM_LIB=$modem

# 1. The suites.
excluded=$(sed -n 's/^set(TVX_WINE_EXCLUDED_LABELS \(.*\))$/\1/p' "$root/tests/windows/suites.cmake")
pattern="^($(tr ' ' '|' <<<"$excluded"))\$"
echo "== The suites under Wine (left out by label: $excluded)"
suites=0
ctest --test-dir "$tree" -LE "$pattern" --output-on-failure -j "${JOBS:-$(nproc)}" || suites=1
for label in $excluded; do
    echo "Left out, label $label: $(ctest --test-dir "$tree" -N -L "^$label\$" |
        sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')"
done

passed=0 failed=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS: $what"
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
    fi
}
# An X server of the run's own, for the desktop program's windows.
display=
start_display() {
    [ -n "$display" ] && return 0
    command -v Xvfb >/dev/null && command -v xdotool >/dev/null || return 1
    display=:$((100 + RANDOM % 800))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
}

# 2. The installer.
echo "== The installer under Wine"
drive_c=$WINEPREFIX/drive_c
installed="$drive_c/Program Files/Tarvix Conectivity"
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvix Conectivity.lnk"
start_in="$drive_c/users/Public/Documents/Tarvix"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvix Conectivity'

wine "$setup" /S
wineserver -w
check "installs into Program Files" test -f "$installed/tarvix.exe" -a -f "$installed/uninstall.exe"
check "the installed folder is the built one, and the uninstaller" \
    diff -rq --exclude=uninstall.exe "$build/tarvix-$version" "$installed"
# The first line names the program and its version; the licence follows.
answer=$(cd "$work" && WINEPATH= wine "$installed/tarvix.exe" --version 2>/dev/null | tr -d '\r' |
    head -n 1)
check "installed tarvix.exe --version answers \"$answer\"" test "$answer" = "tarvix $version"
answer=$(cd "$work" && WINEPATH= wine "$installed/tarvix-capture.exe" --version 2>/dev/null |
    tr -d '\r' | head -n 1)
check "installed tarvix-capture.exe --version answers \"$answer\"" \
    test "$answer" = "tarvix-capture $version"
check "a Start-menu entry" test -f "$shortcut"
# A shell link keeps its working folder and icon place as UTF-16 strings.
link_text=$(iconv -f UTF-16LE -t UTF-8 -c "$shortcut" 2>/dev/null | tr -c '[:print:]' '\n')
check "the entry starts in Public Documents\\Tarvix" \
    grep -qi 'users\\Public\\Documents\\Tarvix$' <<<"$link_text"
check "the entry shows tarvix.exe's icon" \
    grep -qi 'Program Files\\Tarvix Conectivity\\tarvix.exe$' <<<"$link_text"
check "the working folder exists for everyone" test -d "$start_in"
check "Windows lists the program as installed" wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1

# The installed desktop program on an X server of its own, started where the entry starts it:
# with no tvx.cfg there yet it shows its "File Error" box (COM1 is whatever Wine maps it to;
# a port that never answers is refused, not waited for).
if start_display; then
    (cd "$start_in" 2>/dev/null || cd "$work"
     DISPLAY=$display WINEPATH= wine "$installed/tarvix.exe" >"$work/tarvix.err" 2>&1) &
    shown=false
    for _ in $(seq 60); do
        if DISPLAY=$display xdotool search --name '^File Error$' >/dev/null 2>&1; then
            shown=true
            break
        fi
        sleep 1
    done
    check "the installed program shows its start-up window within a minute" $shown
    sed 's/^/  tarvix.exe: /' "$work/tarvix.err"
    wineserver -k
    sleep 1
    rm -f "$start_in/tvx.cfg"
else
    echo "SKIP: the installed program's window (no Xvfb or xdotool)"
fi

if [ -f "$installed/uninstall.exe" ]; then
    wine "$installed/uninstall.exe" /S
    wineserver -w
    check "the uninstaller removes the program's folder" test ! -e "$installed"
    check "the uninstaller removes the Start-menu entry" test ! -e "$shortcut"
    check "the uninstaller removes the empty working folder" test ! -e "$start_in"
    check "the uninstaller removes the program from Windows' list" \
        bash -c "! wine reg query '$uninstall_key' /reg:64 >/dev/null 2>&1"
else
    check "an uninstaller to run" false
fi

# 3. The capture end to end, after the installer's checks: the installed program's first start
# is a new user's, in a prefix where no program has run from a COM port yet.
. "$root/tests/windows/capture-under-wine.sh"

echo "Capture and installer: $passed passed, $failed failed"
[ $suites -eq 0 ] && [ $failed -eq 0 ]
