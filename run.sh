#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the tool on the simulated unit.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_setup_packages
kv_build build
echo "The tool is not runnable yet: the session and the simulated unit come next."
