#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: CMake's emulator for that build, so the icons
# tool at build time and every test suite under ctest start through it.
#
#     wine-run.sh QT_PREFIX PROGRAM.exe [ARGUMENT...]
#
# The Qt DLLs (QT_PREFIX/bin) and the MinGW-w64 runtime are found through WINEPATH, so the
# build folder needs no copies of them. WINEPREFIX is used when set (the CI run gives each run a
# fresh one); otherwise the build keeps its own beside QT_PREFIX. No Mono or Gecko is asked for,
# and Wine's own messages stay quiet unless WINEDEBUG says otherwise.
set -euo pipefail

qt=$(cd "${1:?usage: wine-run.sh QT_PREFIX PROGRAM.exe [ARGUMENT...]}" && pwd)
shift

export WINEPREFIX=${WINEPREFIX:-$(dirname "$qt")/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree=;mshtml=}

# A Linux path as Wine's Z: drive shows it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
pthread=/usr/x86_64-w64-mingw32/lib
WINEPATH="$(windows_path "$qt/bin");$(windows_path "$runtime");$(windows_path "$pthread")"
export WINEPATH

# Qt Test on Windows sends its log to the debugger rather than to standard output when no
# console is attached, as none is to a Wine process started from a script: a suite (tst_*.exe)
# writes its log to a file instead, shown here once it has ended.
program=$(basename "$1")
if [[ $program == tst_*.exe ]] && [[ " $* " != *" -o "* ]]; then
    log=$(mktemp --suffix=.txt)
    trap 'rm -f "$log"' EXIT
    status=0
    wine "$@" -o "$(windows_path "$log"),txt" || status=$?
    cat "$log"
    exit $status
fi
exec wine "$@"
