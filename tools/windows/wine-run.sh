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

# Wine keeps the QT_ variables of Linux to itself (they are meant for its own Qt, if any) and
# hands a Windows program only WINEQT_... ones, under their QT_ name: the test suites' headless
# platform (QT_QPA_PLATFORM=offscreen) goes through so. Without a console, which a Wine process
# started from a script does not have, Qt Test and Qt's messages go to the debugger instead of
# the standard streams, unless QT_FORCE_STDERR_LOGGING says otherwise.
export QT_FORCE_STDERR_LOGGING=${QT_FORCE_STDERR_LOGGING:-1}
# The headless platform of Qt for Windows reads its fonts from one folder, not Windows's: the
# Liberation fonts the Linux suites are measured with (fonts-liberation).
if [ "${QT_QPA_PLATFORM:-}" = offscreen ] && [ -z "${QT_QPA_FONTDIR:-}" ]; then
    export QT_QPA_FONTDIR=$(windows_path /usr/share/fonts/truetype/liberation)
fi
while IFS='=' read -r name _; do
    [[ $name == QT_* ]] && export "WINE$name=${!name}"
done < <(env)

# A prefix is made by the first program started in it. Two started at once in a prefix not made
# yet (two build steps running the icons tool under -j2, in a clean clone) would both make it,
# and one of them fails: the first makes it while the others wait.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    flock "$WINEPREFIX.lock" sh -c \
        '[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }'
fi

exec wine "$@"
