#!/usr/bin/env bash
# What `cmake --install` puts in place, checked in a scratch prefix: exactly the program,
# tarvix-capture, the simulator, a manual page and bash completion for each, the desktop entry
# (named by the AppStream ID) and its AppStream metadata, the icons and the scalable one, the
# capture station's unit (naming the installed tarvix-capture), its user and udev rule example,
# the copyright, the changelog and lintian's overrides, nothing outside the prefix, an entry that
# desktop-file-validate accepts and names what is installed, icons of their sizes, manual pages
# that groff accepts and that explain every option --help lists, and a tarvix-capture that loads
# no widget or GUI library.
#
#     install.sh <build folder> <version>
set -euo pipefail

build=$(realpath "$1")
version=$2
sizes=(16 22 24 32 48 64 128 256)

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvix-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
manifest="$scratch/manifest"

# DESTDIR stays out of it: the prefix alone must hold everything.
env -u DESTDIR cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$scratch/install.log")"
cp "$build/install_manifest.txt" "$manifest"

id=org.example.tarvix
{
    for program in tarvix tarvix-capture tarvix-sim; do
        echo "bin/$program"
        echo "share/man/man1/$program.1.gz"
    done
    echo share/bash-completion/completions/tarvix
    echo share/bash-completion/completions/tarvix-capture
    echo "share/applications/$id.desktop"
    echo "share/metainfo/$id.metainfo.xml"
    echo "lib/systemd/system/tarvix-capture@.service"
    echo lib/sysusers.d/tarvix.conf
    echo share/doc/tarvix/examples/99-tarvix-capture.rules
    echo share/doc/tarvix/copyright
    echo share/doc/tarvix/changelog.gz
    echo share/lintian/overrides/tarvix
    for size in "${sizes[@]}"; do
        echo "share/icons/hicolor/${size}x${size}/apps/tarvix.png"
    done
    echo share/icons/hicolor/scalable/apps/tarvix.svg
} | sort >"$scratch/expected"

while read -r path || [ -n "$path" ]; do
    case "$path" in
    "$prefix"/*) echo "${path#"$prefix"/}" ;;
    *) fail "installed outside the prefix: $path" ;;
    esac
done <"$manifest" | sort >"$scratch/installed"
diff -u "$scratch/expected" "$scratch/installed" >&2 || fail "the installed files differ"
# Nothing more than the manifest says, either.
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) >"$scratch/found"
diff -u "$scratch/expected" "$scratch/found" >&2 || fail "files under the prefix differ"

# The unit runs the tarvix-capture of this prefix, not of the build's default one.
unit="$prefix/lib/systemd/system/tarvix-capture@.service"
grep -q "^ExecStart=$prefix/bin/tarvix-capture --device /%I " "$unit" ||
    fail "the unit runs $(sed -n 's/^ExecStart=//p' "$unit")"

desktop="$prefix/share/applications/$id.desktop"
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
elif [ -n "${CI:-}" ]; then
    fail "desktop-file-validate is missing (package desktop-file-utils)"
fi
entry()
{
    sed -n "s/^$1=//p" "$desktop"
}
[ "$(entry Name)" = "Tarvix Conectivity" ] || fail "the entry's Name is $(entry Name)"
[[ ";$(entry Categories)" == *";Utility;"* ]] || fail "the entry is not in Utility"
# The program, given the file a file manager opens with it; no MIME type of its own is claimed.
[ "$(entry Exec)" = "tarvix %f" ] || fail "the entry runs $(entry Exec), not tarvix %f"
[ -x "$prefix/bin/tarvix" ] || fail "the entry runs tarvix, which is not installed"
[ -z "$(entry MimeType)" ] || fail "the entry claims $(entry MimeType)"
[ -f "$prefix/share/icons/hicolor/48x48/apps/$(entry Icon).png" ] ||
    fail "the entry's icon $(entry Icon) is not installed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(entry Icon).svg" ] ||
    fail "the entry's icon $(entry Icon) has no scalable form"
# The software centres' metadata names the entry, and the releases come from NEWS.md.
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
grep -qF "<id>$id</id>" "$metainfo" || fail "the metadata's ID is not $id"
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch the entry"
grep -q "<release version=\"$version\" date=\"[0-9-]*\">" "$metainfo" ||
    fail "the metadata names no release $version"
zcat "$prefix/share/doc/tarvix/changelog.gz" | head -n 1 | grep -qF "tarvix ($version) " ||
    fail "the changelog begins $(zcat "$prefix/share/doc/tarvix/changelog.gz" | head -n 1)"

for size in "${sizes[@]}"; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/tarvix.png"
    [ "$(identify -format '%m %w %h' "$icon")" = "PNG $size $size" ] ||
        fail "$icon: $(identify "$icon")"
done

out=$(env -u DISPLAY "$prefix/bin/tarvix" --version) || fail "the installed tarvix --version failed"
[ "$(head -n 1 <<<"$out")" = "tarvix $version" ] ||
    fail "the installed tarvix --version printed \"$out\""
# tarvix-capture runs where there is no display: it links neither Qt's GUI nor its widgets,
# directly or through another library.
capture="$prefix/bin/tarvix-capture"
needed=$(readelf -d "$capture" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
grep -q '^libQt6Core\.so' <<<"$needed" || fail "readelf -d finds no libraries of tarvix-capture"
if grep -E '^libQt6(Gui|Widgets|PrintSupport)\.so' <<<"$needed"; then
    fail "tarvix-capture links a GUI library"
fi
if ldd "$capture" | grep -E 'libQt6(Gui|Widgets|PrintSupport)\.so|libX11|libxcb\.so|libGL'; then
    fail "tarvix-capture loads a GUI library"
fi
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$capture" --version) ||
    fail "the installed tarvix-capture --version failed"
[ "$(head -n 1 <<<"$out")" = "tarvix-capture $version" ] ||
    fail "the installed tarvix-capture --version printed \"$out\""

# The manual pages: compressed, accepted by groff without a warning, with the version, and
# explaining every option that the program's --help lists.
for program in tarvix tarvix-capture tarvix-sim; do
    manpage="$prefix/share/man/man1/$program.1.gz"
    gzip -t "$manpage" || fail "$manpage is not a gzip file"
    warnings=$(zcat "$manpage" | groff -man -Tutf8 -ww -z 2>&1) || fail "groff: $warnings"
    [ -z "$warnings" ] || fail "groff warns about the manual page of $program: $warnings"
    title=${program^^}
    zcat "$manpage" | grep -q "^\.TH $title 1 .*Tarvix Conectivity $version" ||
        fail "$program's manual page's title line lacks its section or version:" \
            "$(zcat "$manpage" | grep '^\.TH')"
    options=$(env -u DISPLAY "$prefix/bin/$program" --help |
        sed -n 's/^ *\(-[a-z?], \)\?\(--[a-z-]*\).*/\2/p')
    [ "$(wc -l <<<"$options")" -ge 4 ] || fail "$program --help lists only these options: $options"
    for option in $options; do
        zcat "$manpage" | grep -qF -- "${option//-/\\-}" ||
            fail "the manual page of $program does not explain $option"
    done
done
echo "PASS: install layout"
