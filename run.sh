#!/usr/bin/env bash
# Sets up what is missing, builds, starts the simulated unit on a
# pseudo-terminal and opens the window on it. The window's settings live in
# build/config (the user's own are not touched), where COM1 opens the
# simulated unit; the unit keeps what was set in build/kvsim-state.txt.
# Closing the window ends the simulated unit. Without a display, a headless
# session runs instead: login, a few reads, the clock menu and back, logout.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_setup_packages
kv_build build

here="$PWD"
kvsim=build/sim/kvsim/kvsim
window=build/kv20rcfg
demo=build/session/kvsession-demo
transcript=build/kvsim-transcript.txt
state=build/kvsim-state.txt
# A stable path for the unit's terminal, whatever pseudo-terminal it gets.
link="$here/build/kvsim-tty"
config="$here/build/config"

# kvsim ends when its standard input (our end of the coprocess pipe) closes.
coproc KVSIM { exec "$kvsim" --stdin-exit --log "$transcript" --state "$state" --link "$link"; }
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
echo "== the simulated unit is on $pty, also $link (transcript: $transcript)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "== no display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the headless session instead of the window"
    status=0
    "$demo" "$pty" 1234 || status=$?
    stop_sim
    exit "$status"
fi

# COM1 opens the simulated unit: the device map of the program's own
# settings file, in its INI form (section [Software], keys kv20rm\...).
ini="$config/kvmanage/kv20rcfg.ini"
mkdir -p "$(dirname "$ini")"
key='kv20rm\Devices\COM1'
if [ -f "$ini" ] && grep -q '^\[Software\]' "$ini"; then
    grep -vF "$key=" "$ini" > "$ini.new" || true
    sed -i "/^\[Software\]/a ${key//\\/\\\\}=$link" "$ini.new"
    mv "$ini.new" "$ini"
else
    printf '[Software]\n%s=%s\n' "$key" "$link" >> "$ini"
fi

echo "== the window (settings: $ini); closing it ends the simulated unit"
status=0
XDG_CONFIG_HOME="$config" "$window" || status=$?
stop_sim
exit "$status"
