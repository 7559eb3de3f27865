# Shared by scripts/run and scripts/test.
# shellcheck shell=bash

VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages of scripts/packages.txt (plus any given) that are missing.
install_packages() {
    local wanted missing=() pkg
    wanted=$(grep -v -E '^\s*(#|$)' "$VELMORA_ROOT/scripts/packages.txt")
    for pkg in $wanted "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    # Debian ships npm apart from nodejs; a nodejs from elsewhere brings its own npm.
    if ! command -v npm >/dev/null 2>&1; then
        missing+=(npm)
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# Configures and builds into build/ (warnings are errors there).
build_velmora() {
    cmake -S "$VELMORA_ROOT" -B "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON >/dev/null
    cmake --build "$VELMORA_ROOT/build" -j"$(nproc)"
}

# Without a desktop session: an Xvfb display with a tray host, stopped when the script ends.
start_virtual_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local fdfile
    fdfile=$(mktemp)
    # Own sessions: a Ctrl+C meant for Velmora must not take its display away first.
    setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    VELMORA_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
    export DISPLAY
    setsid trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
    VELMORA_TRAYER_PID=$!
    # The tray is there once trayer owns the system-tray selection.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 || true
        if xwininfo -root -tree 2>/dev/null | grep -qi 'panel'; then break; fi
        sleep 0.1
    done
    trap stop_virtual_display EXIT
    echo "Started a virtual display $DISPLAY with a tray host"
}

stop_virtual_display() {
    [ -n "${VELMORA_TRAYER_PID:-}" ] && kill "$VELMORA_TRAYER_PID" 2>/dev/null
    [ -n "${VELMORA_XVFB_PID:-}" ] && kill "$VELMORA_XVFB_PID" 2>/dev/null
    return 0
}
