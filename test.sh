#!/usr/bin/env bash
# Sets up what is missing, builds in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_setup_packages
kv_build build
echo "== running tests"
cd build
# Most tests spend their time waiting for the unit's time-outs, not on the
# processor: twice as many at once as there are cores.
ctest --output-on-failure --timeout 600 -j "$((2 * $(nproc)))"
