#!/usr/bin/env bash
# Renders every tab page of the window (connected to the simulated unit in
# system mode, with data loaded) and every dialog to PNG files under
# build/screens/, offscreen, so the screens can be looked at without a
# display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
kv_setup_packages
kv_build build
out=build/screens
rm -rf "$out"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
build/tests/ui/tab_screens "$out"
build/tests/ui/dialog_screens "$out"
echo "== $(ls "$out" | wc -l) screens in $out:"
ls "$out"
