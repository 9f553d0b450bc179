#!/usr/bin/env bash
# Rebuilds the Qt for Windows that make windows uses, for anyone who has no copy of
# qt-6.4.2-mingw-w64.tar.xz: Qt 6.4.2 Core, Gui, Widgets, PrintSupport, Test and SerialPort for
# x86_64 Windows, shared, built with the MinGW-w64 cross compiler (posix threads) on Debian 12.
# About 1.5 hours on 2 cores.
#
#     tools/windows/build-qt.sh [WORK]        (WORK: build-qt-windows)
#
# Leaves WORK/qt-mingw (give it to make windows as QT_WINDOWS=WORK/qt-mingw) and
# WORK/qt-6.4.2-mingw-w64.tar.xz (the archive make windows unpacks: QT_WINDOWS_ARCHIVE=...).
# The sources are Debian's own source packages qt6-base and qt6-serialport (6.4.2), taken with
# apt-get source; a deb-src entry is added for the archives apt already uses when there is none.
# JOBS sets the parallel jobs (default: the number of cores). Runs as root or through sudo.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "${1:-$root/build-qt-windows}" && cd "${1:-$root/build-qt-windows}" && pwd)
jobs=${JOBS:-$(nproc)}
prefix=$work/qt-mingw
toolchain=$root/tools/windows/mingw.cmake
sudo=$([ "$(id -u)" = 0 ] || echo sudo)

say() { printf 'build-qt: %s\n' "$*"; }

# The tools: the cross compiler, CMake and ninja, Debian's Qt 6 for the host tools (moc, rcc,
# uic, ...), dpkg-dev for apt-get source.
packages=(g++-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev qt6-base-dev-tools
          qt6-base-private-dev dpkg-dev xz-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done

# Source packages need a deb-src entry: the Debian 12 (bookworm) archives apt already uses,
# for sources (other archives, which may have no sources, are left alone).
if ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    say "adding deb-src entries for the Debian archives apt uses"
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$list" ] || continue
        sed -n 's/^deb \(.* bookworm[ -].*\)/deb-src \1/p' "$list"
    done | $sudo tee /etc/apt/sources.list.d/tarvix-qt-sources.list >/dev/null
    for sources in /etc/apt/sources.list.d/*.sources; do
        [ -f "$sources" ] && grep -q '^Suites: bookworm' "$sources" || continue
        sed 's/^Types: .*/Types: deb-src/' "$sources" |
            $sudo tee "/etc/apt/sources.list.d/tarvix-qt-$(basename "$sources")" >/dev/null
    done
fi
$sudo apt-get update
[ ${#missing[@]} -eq 0 ] ||
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

cd "$work"
for source in qt6-base qt6-serialport; do
    if ! ls -d "$source"-6.4.2*/ >/dev/null 2>&1; then
        say "fetching Debian's source package $source"
        apt-get source "$source"
    fi
    ls -d "$source"-6.4.2*/ >/dev/null 2>&1 ||
        { echo "build-qt: Debian's $source is not 6.4.2 here" >&2; exit 1; }
done
qtbase=$(ls -d "$work"/qt6-base-6.4.2*/ | head -1)
serialport=$(ls -d "$work"/qt6-serialport-6.4.2*/ | head -1)

# qtbase, with Debian's host Qt for the tools. Left out what the program does not use; the
# Debian source has no tablet headers, so tablet support must be off.
say "qtbase: $qtbase"
cmake -G Ninja -S "$qtbase" -B "$work/build-qtbase" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF
cmake --build "$work/build-qtbase" -j "$jobs"
cmake --install "$work/build-qtbase"

# Qt Serial Port into the same prefix, with its qt-cmake.
say "qtserialport: $serialport"
"$prefix/bin/qt-cmake" -G Ninja -S "$serialport" -B "$work/build-qtserialport" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
cmake --build "$work/build-qtserialport" -j "$jobs"
cmake --install "$work/build-qtserialport"

tar -cJf "$work/qt-6.4.2-mingw-w64.tar.xz" -C "$work" qt-mingw
say "made $prefix and $work/qt-6.4.2-mingw-w64.tar.xz"
