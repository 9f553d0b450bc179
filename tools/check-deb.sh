#!/usr/bin/env bash
# Checks the Debian package the way a packager and a user meet it, on this machine, as root:
# lintian (--pedantic) finds no error and no warning in it; then it is installed with apt, its
# programs pass hardening-check, its AppStream metadata and desktop entry pass their validators,
# every program has a manual page that renders without a warning, bash completes the programs'
# options, devices and port numbers; the installed program runs from outside the project with the
# project folder hidden (an empty folder mounted over it, in a mount namespace of its own), as if
# the project had never been built here; then the package is removed and nothing of it is left.
#
#     sudo tools/check-deb.sh build/tarvix_*.deb
#
# Changes the machine: the package is installed and removed again. Needs what make test-deps
# and make package install (Xvfb, xdotool, ImageMagick, CUPS with the queue tarvix-pdf for the
# printing case, bash-completion, lintian, devscripts, appstream, desktop-file-utils, man-db).
set -euo pipefail

deb=$(realpath "$1")
project=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}
step()
{
    echo "== $*"
}
# A command that fails where no check expected it says where, rather than ending the check
# without a word.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND ended with status $?" >&2' ERR

[ "$(id -u)" = 0 ] || fail "run as root: the package is installed and removed"
if dpkg-query -W -f='${Status}' tarvix 2>/dev/null | grep -q 'ok installed'; then
    fail "tarvix is installed already; remove it first"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvix-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Everything named after the program, outside every git working tree (this project's, its other
# working trees and clones, where builds and tests may be running meanwhile: no package puts
# files there), the scratch space, the package manager's own records and the PDF files of
# printing.
traces()
{
    find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \
        -o -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache -o -path /var/log \
        -o -path /var/spool/cups-pdf -o -path "$HOME/PDF" \) -prune \
        -o -name .git -prune -print -o -iname '*tarvix*' -print 2>/dev/null |
        awk '/\/\.git$/ { trees[++n] = substr($0, 1, length($0) - 4); next }
             { found[++m] = $0 }
             END {
                 for (i = 1; i <= m; i++) {
                     inside = 0
                     for (j = 1; j <= n && !inside; j++)
                         inside = index(found[i], trees[j]) == 1
                     if (!inside)
                         print found[i]
                 }
             }' | sort
}
traces >"$scratch/before"

step "lintian --pedantic"
# Overridden tags are the package's own choices, each with its reason in the overrides file.
# (Exit status 1 is its finding of tags, which are judged below; 2 is its own failure.)
status=0
lintian --pedantic --display-info --display-experimental --show-overrides "$deb" >"$scratch/lintian" 2>"$scratch/lintian.err" ||
    status=$?
cat "$scratch/lintian"
grep -v 'running with root privileges' "$scratch/lintian.err" >&2 || true
[ "$status" -le 1 ] || fail "lintian failed with status $status"
if grep -E '^[EW]: ' "$scratch/lintian" >/dev/null; then
    fail "lintian finds errors or warnings in the package"
fi
echo "lintian: no error, no warning ($(grep -c '^[IPX]: ' "$scratch/lintian") other tags)"

step "apt install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$scratch/apt-install.log" 2>&1 ||
    fail "apt install failed: $(tail -n 20 "$scratch/apt-install.log")"
grep -E '^(The following|  )' "$scratch/apt-install.log" || true
dpkg -L tarvix | sort >"$scratch/files"
echo "Installed:"
while read -r path; do [ -f "$path" ] && echo "  $path"; done <"$scratch/files"

step "the binaries load only libraries of the package's dependencies"
for binary in /usr/bin/tarvix /usr/bin/tarvix-capture /usr/bin/tarvix-sim; do
    if readelf -d "$binary" | grep -Eq 'RPATH|RUNPATH'; then
        fail "$binary carries a library path: $(readelf -d "$binary" | grep -E 'RPATH|RUNPATH')"
    fi
    if ldd "$binary" | grep -q 'not found'; then
        fail "$binary: $(ldd "$binary" | grep 'not found')"
    fi
done
# Every package tarvix needs, directly or through others.
apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances tarvix 2>/dev/null |
    sed 's/^ *|\?\(Pre\)\?Depends: //; s/:.*//; s/[<>]//g' | sort -u >"$scratch/closure"
# The package holding a library, whichever of its names (merged /usr, symbolic links) dpkg knows.
owner_of()
{
    local name
    for name in "$1" "$(realpath "$1")" "/usr${1#/usr}" "${1#/usr}"; do
        dpkg -S "$name" 2>/dev/null | head -n 1 | cut -d: -f1 && return 0
    done
    return 1
}
ldd /usr/bin/tarvix /usr/bin/tarvix-capture /usr/bin/tarvix-sim | awk '$3 ~ /^\// { print $3 }' | sort -u >"$scratch/libraries"
while read -r library; do
    owner=$(owner_of "$library") || fail "no package holds $library"
    grep -qx "$owner" "$scratch/closure" ||
        fail "$library comes from $owner, which tarvix does not depend on"
done <"$scratch/libraries"
echo "$(wc -l <"$scratch/libraries") libraries, all from packages tarvix depends on"
echo "Depends: $(dpkg-query -W -f='${Depends}' tarvix)"
if ldd /usr/bin/tarvix-capture | grep -E 'libQt6(Gui|Widgets|PrintSupport)\.so'; then
    fail "tarvix-capture loads a GUI library"
fi

step "hardening: every installed program"
for binary in /usr/bin/tarvix /usr/bin/tarvix-capture /usr/bin/tarvix-sim; do
    hardening-check "$binary" || fail "hardening-check finds $binary unprotected"
done

step "manual pages: one for every program, rendered without a warning"
programs=$(grep '^/usr/bin/' "$scratch/files")
[ "$(wc -l <<<"$programs")" = 3 ] || fail "the package installs these programs: $programs"
for binary in $programs; do
    page="/usr/share/man/man1/$(basename "$binary").1.gz"
    grep -qx "$page" "$scratch/files" || fail "$binary has no manual page"
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $page: $warnings"
    [ -z "$warnings" ] || fail "man warns about $page: $warnings"
    echo "$page: $(MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l) lines"
done

step "the desktop entry and the AppStream metadata"
metainfo=$(grep '^/usr/share/metainfo/.*\.metainfo\.xml$' "$scratch/files") ||
    fail "the package has no AppStream metadata"
appstreamcli validate --pedantic --no-net "$metainfo" || fail "appstreamcli refuses $metainfo"
id=$(basename "$metainfo" .metainfo.xml)
desktop=/usr/share/applications/$id.desktop
[ -f "$desktop" ] || fail "no desktop entry $desktop for the ID $id"
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch $id.desktop"
for binary in $programs; do
    grep -qF "<binary>$(basename "$binary")</binary>" "$metainfo" ||
        fail "the metadata does not provide $(basename "$binary")"
done
[ -f /usr/share/icons/hicolor/scalable/apps/tarvix.svg ] || fail "no scalable icon"
# The releases and the changelog come from the same news, newest first, of the package's version.
version=$(dpkg-query -W -f='${Version}' tarvix)
[ "$(dpkg-parsechangelog -l /usr/share/doc/tarvix/changelog.gz -S Version)" = "$version" ] ||
    fail "the changelog's newest entry is not $version"
grep -q "<release version=\"$version\" date=\"[0-9-]*\">" "$metainfo" ||
    fail "the metadata names no release $version"
echo "$id: valid, launches $desktop, provides $(tr '\n' ' ' <<<"$programs")"

step "bash completion"
# complete <word>...: what bash offers for the last word, one a line, as bash-completion loads
# the program's completion.
complete_words()
{
    bash -c '
        source /usr/share/bash-completion/bash_completion
        _completion_loader "$1"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        function=$(complete -p "$1" | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
        "$function" "$1" "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        printf "%s\n" "${COMPREPLY[@]}"
    ' complete "$@" | sort
}
[ "$(complete_words tarvix-capture --de)" = --device ] || fail "--de completes to $(complete_words tarvix-capture --de)"
[ "$(complete_words tarvix --jo)" = --journal ] || fail "tarvix --jo completes to $(complete_words tarvix --jo)"
# --device offers the serial devices there are, and nothing else.
expected=$(for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
    if [ -e "$device" ]; then echo "$device"; fi
done | sort)
[ "$(complete_words tarvix-capture --device '')" = "$expected" ] ||
    fail "--device completes to $(complete_words tarvix-capture --device '')"
# --port offers the numbers tarvix --ports finds a port behind, one mapped by TARVIX_COM6 too.
offered=$(TARVIX_COM6=/dev/null complete_words tarvix-capture --port '')
grep -qx 6 <<<"$offered" || fail "--port does not offer 6 for TARVIX_COM6: $offered"
for number in $offered; do
    TARVIX_COM6=/dev/null tarvix --ports | awk -v com="COM$number" '$1 == com && $2 != "-"' |
        grep -q . || fail "--port offers $number, behind which there is no port"
done
echo "tarvix-capture --port offers: $(tr '\n' ' ' <<<"$offered")"

step "the capture station: the unit, its user and the udev rule example"
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$scratch/contents"
unit=/usr/lib/systemd/system/tarvix-capture@.service
for path in "$unit" /usr/lib/sysusers.d/tarvix.conf /usr/share/doc/tarvix/examples/99-tarvix-capture.rules; do
    grep -qx ".$path" "$scratch/contents" || fail "the package lacks $path"
done
# shellcheck disable=SC2016 # the unit's own variable
grep -qx 'ExecStart=/usr/bin/tarvix-capture --device /%I --dir ${STATE_DIRECTORY} --count 0 --quiet' "$unit" ||
    fail "the unit does not run the installed tarvix-capture: $(grep '^ExecStart=' "$unit")"
getent passwd tarvix >/dev/null || fail "the package made no user tarvix"
if find /etc/systemd -name 'tarvix-capture@*' 2>/dev/null | grep -q .; then
    fail "the package enabled a station by itself"
fi
if command -v systemd-analyze >/dev/null; then
    cp "$unit" "$scratch/tarvix-capture@dev-ttyS0.service"
    systemd-analyze verify "$scratch/tarvix-capture@dev-ttyS0.service" ||
        fail "systemd-analyze verify refuses an instance of the unit"
    systemd-analyze security --offline=yes --no-pager "$scratch/tarvix-capture@dev-ttyS0.service" |
        grep 'Overall exposure level'
fi

step "the installed program, with the project folder hidden"
mkdir -p "$scratch/e2e/tests/e2e" "$scratch/e2e/src/port" "$scratch/e2e/src/files"
cp "$project"/tests/e2e/{e2e.sh,session.sh} "$scratch/e2e/tests/e2e/"
cp "$project"/src/port/port_selection_window.ui "$scratch/e2e/src/port/"
cp "$project"/src/files/{save_window.ui,open_window.ui} "$scratch/e2e/src/files/"
mkdir "$scratch/elsewhere"
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount bash -euo pipefail -c '
    project=$1 scratch=$2
    mount -t tmpfs -o ro,size=1m hidden "$project"
    [ -z "$(ls -A "$project")" ] || { echo "the project folder is still visible" >&2; exit 1; }
    cd "$scratch/elsewhere"
    echo "tarvix --version: $(tarvix --version)"
    tarvix --help | head -n 1
    echo "tarvix-capture --version: $(tarvix-capture --version)"
    # One capture of the simulated instrument, without a display: the bytes, then CR LF.
    printf "TARVIX-1M\r\n 001     23.17\r\n 002     23.24\r\n" >"$scratch/sent.bin"
    tarvix-sim --file "$scratch/sent.bin" --fast --delay 300 >"$scratch/sim.out" &
    sim=$!
    for _ in $(seq 50); do [ -s "$scratch/sim.out" ] && break; sleep 0.1; done
    env -u DISPLAY tarvix-capture --device "$(head -n 1 "$scratch/sim.out")" \
        --out "$scratch/capture.dat" --wait 10
    kill "$sim"
    wait "$sim" || true
    printf "\r\n" | cat "$scratch/sent.bin" - | cmp - "$scratch/capture.dat"
    for case in command-line start-up capture-files print port-back signals ports; do
        TMPDIR="$scratch" bash "$scratch/e2e/tests/e2e/e2e.sh" "$case" /usr/bin/tarvix \
            /usr/bin/tarvix-sim "$scratch/e2e"
    done
' check "$project" "$scratch" || fail "the installed program failed"

step "apt remove tarvix"
DEBIAN_FRONTEND=noninteractive apt-get remove -y tarvix >"$scratch/apt-remove.log" 2>&1 ||
    fail "apt remove failed: $(tail -n 20 "$scratch/apt-remove.log")"
status=$(dpkg-query -W -f='${Status}' tarvix 2>/dev/null || true)
case "$status" in
"" | "unknown ok not-installed" | "deinstall ok not-installed") ;;
*) fail "after removal the package is \"$status\"" ;;
esac
while read -r path; do
    # Folders shared with other packages (/usr/bin, the icon theme's) stay, of course.
    if [ -e "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
        fail "left behind: $path"
    fi
done <"$scratch/files"
traces >"$scratch/after"
diff -u "$scratch/before" "$scratch/after" >&2 || fail "files named after the program differ"
echo "Removed; nothing left (status: ${status:-unknown})."
echo "PASS"
