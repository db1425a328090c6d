#!/usr/bin/env bash
# Sets up what is missing, builds in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_setup_packages
kv_build build
echo "== running tests"
cd build
ctest --output-on-failure --timeout 600 -j "$(nproc)"
