# Shared by test.sh, run.sh and .ci/run: installs missing Debian packages
# and configures and builds a tree. Sourced, not run.

KV_PACKAGES=(cmake g++ make lld pkg-config libgtest-dev qt6-base-dev libudev-dev qt6-translations-l10n dpkg-dev lrzsz
    libsndfile1-dev libsoxr-dev libebur128-dev sox libsox-fmt-all lame espeak-ng nettle-dev appstream man-db
    libgit2-dev libtomlplusplus-dev qt6-multimedia-dev pulseaudio pulseaudio-utils qtkeychain-qt6-dev
    dbus gnome-keyring libtelnet-dev ser2net)

kv_missing_packages() {
    local p missing=()
    for p in "${KV_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    echo "${missing[@]:-}"
}

kv_setup_packages() {
    local missing
    missing="$(kv_missing_packages)"
    [ -z "$missing" ] && return 0
    echo "== installing: $missing"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo="sudo"
        else
            echo "These Debian packages are missing: $missing" >&2
            echo "Install them with:" >&2
            echo "  sudo apt-get update && sudo apt-get install -y $missing" >&2
            echo "then run this command again." >&2
            exit 1
        fi
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
}

# kv_build DIR [cmake options...]: configures DIR once, then builds it.
kv_build() {
    local dir="$1"; shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        echo "== configuring $dir"
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    fi
    echo "== building $dir"
    cmake --build "$dir" -j "$(nproc)" 2>&1 | grep -Ev '^\[ *[0-9]+%\] (Building|Linking|Built|Automatic)|^Consolidate|Scanning dependencies' || true
    # The filter above swallows make's status; ask again so a failure stops us.
    cmake --build "$dir" -j "$(nproc)" >/dev/null
}
