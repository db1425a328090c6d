#!/bin/sh
# Runs a test program with a secret service of its own: a private session
# bus (dbus-run-session) with gnome-keyring's secrets component, its keyring
# in a temporary folder, unlocked with a throwaway password. Both end with
# the bus. Exit 77 (skipped) where either program is missing.
set -eu
for p in dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$p" >/dev/null 2>&1; then
        echo "skipped: $p is not installed, so no secret service can be started"
        exit 77
    fi
done
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
export XDG_DATA_HOME="$data" KV_SECRET_SERVICE=1
status=0
dbus-run-session -- sh -c 'printf test | gnome-keyring-daemon --unlock --components=secrets >/dev/null && exec "$@"' \
    secret-service "$@" || status=$?
exit "$status"
