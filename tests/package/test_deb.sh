#!/usr/bin/env bash
# Builds the .deb from the build tree and checks what it holds: the program,
# its desktop entry and icon in the standard places, and dependencies taken
# from the libraries it links.
# Usage: test_deb.sh BUILD_DIR
set -euo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log" >&2; fail "cpack did not build the package"; }
debs=("$out"/*.deb)
[ -f "${debs[0]}" ] || fail "no .deb in $out"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in ./usr/bin/kv20rcfg ./usr/share/applications/kvmanage.desktop \
         ./usr/share/icons/hicolor/scalable/apps/kvmanage.svg; do
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
for lib in libc6 libstdc++6 libqt6widgets6 libqt6core6 libudev1; do
    grep -q "\b$lib\b" <<<"$depends" || fail "$lib is not among the dependencies"
done

# The desktop entry names the program and the icon the package holds.
x="$out/x"
dpkg-deb -x "$deb" "$x"
entry="$x/usr/share/applications/kvmanage.desktop"
for line in 'Type=Application' 'Name=Kvmanage' 'Exec=kv20rcfg' 'Icon=kvmanage'; do
    grep -qx "$line" "$entry" || fail "the desktop entry lacks $line"
done
grep -q '^Comment=' "$entry" && grep -q '^Comment\[ru\]=' "$entry" || fail "the desktop entry lacks its comments"
grep -q '^Categories=.*;$' "$entry" || fail "the desktop entry lacks its categories"
[ -x "$x/usr/bin/kv20rcfg" ] || fail "the program is not executable"
LC_ALL=C grep -aqP "\\x00\\Q$version\\E\\x00" "$x/usr/bin/kv20rcfg" || fail "the program does not carry the package's version $version"
grep -q '<svg' "$x/usr/share/icons/hicolor/scalable/apps/kvmanage.svg" || fail "the icon is no SVG"
echo "1 passed, 0 failed"
