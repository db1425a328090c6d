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
# The dialogs that show a running job or the toolkit's own texts are pictured
# by their tests.
export KV_SCREENS_DIR="$out"
build/tests/ui/test_ui_dialogs \
    --gtest_filter='DialogsTest.ConfirmationsAndQuestions:FileDialogs.ExportProposesTheReportAndNeedsAnExistingFolder' >/dev/null
build/tests/ui/test_ui_clock --gtest_filter='ClockDialog.LiveDisplayEditsApplyComputerAndClose' >/dev/null
build/tests/ui/test_ui_transfer --gtest_filter='TransferDialog.UploadAndDownloadRoundTripWithTheFieldsMoving' >/dev/null
echo "== $(ls "$out" | wc -l) screens in $out:"
ls "$out"
