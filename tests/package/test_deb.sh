#!/usr/bin/env bash
# Builds the .deb from the build tree and checks what it holds: the programs,
# the window's desktop entry and icon, the manual pages (rendered without a
# warning) and the AppStream metainfo (validated) in the standard places,
# and dependencies taken from the libraries the programs link.
# Usage: test_deb.sh BUILD_DIR
set -euo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# What the package carries. A new program joins these lists (and the lists
# in desktop/CMakeLists.txt).
programs=(kv20rcfg kvbackup kvvoice)
manpages=(kv20rcfg.1 kvbackup.1 kvvoice.1)
desktop_id=org.example.kvmanage

fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log" >&2; fail "cpack did not build the package"; }
debs=("$out"/*.deb)
[ -f "${debs[0]}" ] || fail "no .deb in $out"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
expected=(./usr/share/applications/$desktop_id.desktop
          ./usr/share/icons/hicolor/scalable/apps/kvmanage.svg
          ./usr/share/metainfo/$desktop_id.metainfo.xml)
for p in "${programs[@]}"; do expected+=("./usr/bin/$p"); done
for m in "${manpages[@]}"; do expected+=("./usr/share/man/man1/$m.gz"); done
for f in "${expected[@]}"; do
    grep -qx "$f" <<<"$files" || fail "$f is not in the package"
done
# Nothing outside /usr, nothing of the build or the tests.
outside="$(grep -v -e '^\./$' -e '^\./usr/' <<<"$files" || true)"
[ -z "$outside" ] || fail "files outside /usr: $outside"
if grep -Eq 'kvsim|kvline|test_|bench_|\.a$|/include/' <<<"$files"; then
    fail "build or test files in the package"
fi

[ "$(dpkg-deb -f "$deb" Package)" = kvmanage ] || fail "package name"
# One version: the package's is the one the window's caption shows (the
# program holds it as a string of its own).
version="$(dpkg-deb -f "$deb" Version)"
echo "version: $version"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version $version is not MAJOR.MINOR.PATCH"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "depends: $depends"
for lib in libc6 libstdc++6 libqt6widgets6 libqt6core6 libudev1 libsndfile1 libsoxr0 libebur128-1 libqt6keychain1; do
    grep -q "\b$lib\b" <<<"$depends" || fail "$lib is not among the dependencies"
done

x="$out/x"
dpkg-deb -x "$deb" "$x"

for p in "${programs[@]}"; do
    [ -x "$x/usr/bin/$p" ] || fail "$p is not executable"
done
LC_ALL=C grep -aqP "\\x00\\Q$version\\E\\x00" "$x/usr/bin/kv20rcfg" || fail "the program does not carry the package's version $version"
# kvbackup runs from the package: its help names every command.
help="$("$x/usr/bin/kvbackup" --help)" || fail "kvbackup --help failed"
for verb in snapshot compare restore export; do
    grep -q "kvbackup .* $verb " <<<"$help" || fail "kvbackup --help lacks $verb"
done

# The desktop entry names the program and the icon the package holds.
entry="$x/usr/share/applications/$desktop_id.desktop"
for line in 'Type=Application' 'Name=Kvmanage' 'Exec=kv20rcfg' 'Icon=kvmanage'; do
    grep -qx "$line" "$entry" || fail "the desktop entry lacks $line"
done
grep -q '^Comment=' "$entry" && grep -q '^Comment\[ru\]=' "$entry" || fail "the desktop entry lacks its comments"
grep -q '^Categories=.*;$' "$entry" || fail "the desktop entry lacks its categories"
grep -q '<svg' "$x/usr/share/icons/hicolor/scalable/apps/kvmanage.svg" || fail "the icon is no SVG"

# The manual pages: gzipped as Debian ships them, and man renders each
# without a warning (in a UTF-8 locale: the pages quote the programs'
# Russian output). An unknown macro, a bad escape or a line too long to
# break is a warning.
for m in "${manpages[@]}"; do
    page="$x/usr/share/man/man1/$m.gz"
    gzip -t "$page" || fail "$m.gz is not gzip"
    name="${m%.1}"
    head="$(zcat "$page" | grep -m1 '^\.TH')"
    grep -q "^\.TH ${name^^} 1 " <<<"$head" || fail "$m: title line $head"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" ||
        fail "man could not render $m: $warnings"
    [ -z "$warnings" ] || fail "man warns about $m: $warnings"
    text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)"
    for section in NAME SYNOPSIS DESCRIPTION 'SEE ALSO'; do
        grep -qx "$section" <<<"$text" || fail "$m has no $section section"
    done
done
# kvbackup's page gives the exit statuses its help gives.
text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$x/usr/share/man/man1/kvbackup.1.gz" 2>/dev/null)"
grep -qx 'EXIT STATUS' <<<"$text" || fail "kvbackup.1 has no EXIT STATUS section"
for status in 0 1 2 3 4; do
    grep -qE "^ +$status +[A-Z]" <<<"$text" || fail "kvbackup.1 does not explain exit status $status"
done

# The metainfo: accepted by the validator (warnings fail it too), its id the
# desktop entry's, every program named.
meta="$x/usr/share/metainfo/$desktop_id.metainfo.xml"
report="$(appstreamcli validate --no-net --strict "$meta" 2>&1)" || fail "appstreamcli rejects the metainfo: $report"
grep -q "<id>$desktop_id</id>" "$meta" || fail "the metainfo's id is not $desktop_id"
grep -q "<launchable type=\"desktop-id\">$desktop_id.desktop</launchable>" "$meta" ||
    fail "the metainfo does not launch $desktop_id.desktop"
for p in "${programs[@]}"; do
    grep -q "<binary>$p</binary>" "$meta" || fail "the metainfo does not provide $p"
done
echo "1 passed, 0 failed"
