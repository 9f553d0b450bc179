#!/usr/bin/env bash
# Compiles every C++ source file of src/ for Windows, syntax only, with the MinGW-w64 cross
# compiler, so that the Windows branches (COMn, drive letters) cannot rot unseen.
#
# The definitions and include folders are those of the real build: each file's command is
# taken from the build folder's compile_commands.json, with the compiler swapped and the
# outputs dropped. Qt's own headers are the same for both systems; the generated ones (ui_*.h,
# moc output) come from the build folder, which must have been built.
#
# Usage: tools/windows-check.sh BUILD_FOLDER
# Exit status: 0 when every file compiles, 1 when any does not (each failure names the file,
# and the compiler's messages name the line), 2 when the check cannot run.
set -uo pipefail

build=${1:?usage: windows-check.sh BUILD_FOLDER}
compiler=${WINDOWS_CXX:-x86_64-w64-mingw32-g++-posix}
root=$(cd "$(dirname "$0")/.." && pwd)
commands="$build/compile_commands.json"

command -v "$compiler" >/dev/null || { echo "windows-check: $compiler is missing" >&2; exit 2; }
command -v jq >/dev/null || { echo "windows-check: jq is missing" >&2; exit 2; }
[ -f "$commands" ] || { echo "windows-check: $commands is missing (configure and build first)" >&2; exit 2; }

# One line per source file of src/: the file, a tab, its command. Generated files (moc, rcc)
# belong to the build, not to src/.
sources=$(jq -r --arg src "$root/src/" \
    '.[] | select(.file | startswith($src)) | select(.file | endswith(".cpp")) |
     "\(.file)\t\(.directory)\t\(.command)"' "$commands" | sort -u)
[ -n "$sources" ] || { echo "windows-check: no source of src/ in $commands" >&2; exit 2; }

check_one() {
    local file=$1 directory=$2 command=$3
    local -a words kept=()
    eval "words=($command)"
    # words[0] is the compiler; -o takes the object file; -c and position-independent code are
    # the Linux build's own business.
    local i=1
    while [ $i -lt ${#words[@]} ]; do
        case "${words[$i]}" in
        -o) i=$((i + 2)); continue ;;
        -c | -fPIC | -fPIE | -pie) ;;
        *) kept+=("${words[$i]}") ;;
        esac
        i=$((i + 1))
    done
    local out
    if ! out=$(cd "$directory" && "$compiler" -fsyntax-only "${kept[@]}" 2>&1); then
        printf 'windows-check: %s does not compile for Windows\n%s\n' "${file#"$root"/}" "$out"
        return 1
    fi
    printf 'windows-check: %s\n' "${file#"$root"/}"
}

failed=0
total=0
while IFS=$'\t' read -r file directory command; do
    total=$((total + 1))
    check_one "$file" "$directory" "$command" || failed=$((failed + 1))
done <<<"$sources"

if [ $failed -gt 0 ]; then
    echo "windows-check: $failed of $total source files do not compile for Windows" >&2
    exit 1
fi
echo "windows-check: all $total source files of src/ compile for Windows"
