#!/usr/bin/env bash
# make windows: the Windows program built with the MinGW-w64 cross compiler and Qt for Windows,
# then the folder a Windows user runs and the installer.
#
#     tools/windows/build.sh [OUT]          (OUT: build-windows)
#
# Qt for Windows is QT_WINDOWS when set (a prefix with bin/qt-cmake); otherwise
# ../shared/windows/qt-6.4.2-mingw-w64.tar.xz (QT_WINDOWS_ARCHIVE) is unpacked into OUT/qt-mingw
# once; tools/windows/build-qt.sh makes such a prefix from source. Made here:
#   OUT/tree/                      the build: tarvix.exe, tarvix-capture.exe and the test suites
#   OUT/tarvix-1.0/                tarvix.exe and tarvix-capture.exe with the Qt DLLs they use,
#                                  platforms/ and styles/, and the MinGW-w64 runtime: nothing more
#   OUT/tarvix-setup-1.0.exe       the installer (NSIS)
# JOBS sets the build's parallel jobs (default: the number of cores).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mkdir -p "${1:-$root/build-windows}" && cd "${1:-$root/build-windows}" && pwd)
jobs=${JOBS:-$(nproc)}
version=$(sed -n 's/^project(tarvix VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
archive=${QT_WINDOWS_ARCHIVE:-$root/../shared/windows/qt-6.4.2-mingw-w64.tar.xz}

say() { printf 'make windows: %s\n' "$*"; }

# Qt for Windows.
if [ -n "${QT_WINDOWS:-}" ]; then
    qt=$(cd "$QT_WINDOWS" && pwd)
else
    qt=$out/qt-mingw
    stamp=$out/qt-mingw.unpacked
    if [ ! -f "$stamp" ] || [ "$archive" -nt "$stamp" ]; then
        [ -f "$archive" ] || {
            echo "make windows: no Qt for Windows: $archive is missing;" \
                 "give QT_WINDOWS=<prefix> or make one with tools/windows/build-qt.sh" >&2
            exit 2
        }
        say "unpacking $(basename "$archive")"
        rm -rf "$qt" "$stamp"
        tar -xJf "$archive" -C "$out"
        touch "$stamp"
    fi
fi
[ -x "$qt/bin/qt-cmake" ] || { echo "make windows: $qt/bin/qt-cmake is missing" >&2; exit 2; }

# The build. The toolchain Qt was made with is chain-loaded from here (the prefix names the
# place it was built in); Wine runs the build's own programs (icongen, the suites under ctest);
# Debian's rcc compresses with zstd, which this Qt cannot read back.
tree=$out/tree
"$qt/bin/qt-cmake" -G Ninja -S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=Release \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/tools/windows/mingw.cmake" \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=$root/tools/windows/wine-run.sh;$qt" \
    -DCMAKE_AUTORCC_OPTIONS=--no-zstd >"$out/configure.log" ||
    { cat "$out/configure.log"; exit 1; }
cmake --build "$tree" -j "$jobs"

# The folder: the two programs, then every DLL they load that is not Windows's own, found by
# following the import tables from Qt's bin folder and the MinGW-w64 runtime, then the plugins
# the program loads by name (the window system and the native style) and what those import.
folder=$out/tarvix-$version
rm -rf "$folder"
mkdir -p "$folder/platforms" "$folder/styles"
cp "$tree/src/tarvix.exe" "$tree/src/capture_tool/tarvix-capture.exe" "$folder/"
cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
search=("$qt/bin" "$runtime" /usr/x86_64-w64-mingw32/lib)
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
pending=("$folder"/*.exe "$folder"/platforms/*.dll "$folder"/styles/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
    binary=${pending[0]}
    pending=("${pending[@]:1}")
    while read -r dll; do
        [ -e "$folder/$dll" ] && continue
        for place in "${search[@]}"; do
            if [ -f "$place/$dll" ]; then
                cp "$place/$dll" "$folder/"
                pending+=("$folder/$dll")
                break
            fi
        done
    done < <(imports "$binary")
done
say "folder $folder: $(find "$folder" -type f | wc -l) files, $(du -sh "$folder" | cut -f1)"

# The installer.
makensis -V2 -DVERSION="$version" -DFOLDER="$folder" -DICON="$tree/packaging/windows/tarvix.ico" \
    -DOUTFILE="$out/tarvix-setup-$version.exe" "$root/packaging/windows/tarvix.nsi"
say "installer $out/tarvix-setup-$version.exe"
