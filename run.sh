#!/usr/bin/env bash
# Sets up what is missing, builds, starts the simulated unit on a
# pseudo-terminal and runs a session with it: login with the default
# administrator password, the firmware version and a few parameters, a move
# to the clock menu and back, logout.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_setup_packages
kv_build build

kvsim=build/sim/kvsim/kvsim
demo=build/session/kvsession-demo
transcript=build/kvsim-transcript.txt
# The unit keeps what was set in a state file between runs.
state=build/kvsim-state.txt

# kvsim ends when its standard input (our end of the coprocess pipe) closes.
coproc KVSIM { exec "$kvsim" --stdin-exit --log "$transcript" --state "$state"; }
sim_pid=$KVSIM_PID
stop_sim() {
    if kill -0 "$sim_pid" 2>/dev/null; then
        exec {KVSIM[1]}>&- 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap stop_sim EXIT

pty=""
read -r -t 5 pty <&"${KVSIM[0]}" || true
if [ -z "$pty" ]; then
    echo "kvsim did not start" >&2
    exit 1
fi
echo "== the simulated unit is on $pty (transcript: $transcript)"
echo "== headless session (the window comes with a later issue)"
status=0
"$demo" "$pty" 1234 || status=$?
stop_sim
exit "$status"
