#!/usr/bin/env bash
# Runs the pointer latency benchmark with a headless sway, a headless GNOME Mutter (directly and
# through its portal, the dialog accepted by the test helper), a headless
# KDE KWin with its RemoteDesktop portal and an Xvfb of its own, in a private network namespace
# (the command server listens on loopback only there). A desktop that does not start is left out.
# With `paragraph`, the 600-character paragraph instead, X11 included (into xterm).
# BENCH_DESKTOP=TEXT starts and measures only the desktops whose label holds TEXT (as printed:
# "sway", "mutter, direct", "mutter, portal", "kwin", "x11").
#   bench/input/run.sh [moves per run] [runs]
#   bench/input/run.sh paragraph [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec unshare -n bash -c '
    ip link set lo up
    source "$0/scripts/lib.sh"
    unset DISPLAY WAYLAND_DISPLAY
    start_virtual_display >/dev/null
    trap "stop_headless_kwin; stop_gnome_portal; stop_headless_mutter; stop_headless_sway; stop_virtual_display" EXIT
    # Whether any of the labels given is one BENCH_DESKTOP picks.
    wanted() {
        local label
        for label in "$@"; do
            case "$label" in *"${BENCH_DESKTOP:-}"*) return 0 ;; esac
        done
        return 1
    }
    if wanted "gnome (mutter, direct)" "gnome (mutter, portal)" && start_headless_mutter >/dev/null; then
        export VELMORA_BENCH_MUTTER_DISPLAY=$WAYLAND_DISPLAY VELMORA_BENCH_MUTTER_BUS=$VELMORA_MUTTER_BUS
        if wanted "gnome (mutter, portal)"; then
            start_gnome_portal && export VELMORA_BENCH_GNOME_PORTAL=1
        fi
    fi
    if wanted "kde (kwin, portal)" && start_headless_kwin >/dev/null; then
        export VELMORA_BENCH_KWIN_DISPLAY=$WAYLAND_DISPLAY VELMORA_BENCH_KWIN_BUS=$VELMORA_KWIN_BUS
    fi
    if wanted "wayland (sway, virtual pointer)"; then
        start_headless_sway >/dev/null
    else
        unset WAYLAND_DISPLAY
    fi
    if [ "${1:-}" != paragraph ] ||
        wanted "gnome (mutter, direct)" "gnome (mutter, portal)" "kde (kwin, portal)" "wayland (sway, virtual pointer)"; then
        # bench/input/compare.sh runs two builds in turns on the same desktops.
        for round in $(seq "${VELMORA_BENCH_ROUNDS:-1}"); do
            for build in ${VELMORA_BENCH_BUILDS:-$0/build}; do
                [ -n "${VELMORA_BENCH_BUILDS:-}" ] && echo "== $build round $round"
                "$build/bench/bench_input_latency" "$@"
            done
        done
    fi
    # X11 types the paragraph into a real terminal: the third text of bench_typing.
    if [ "${1:-}" = paragraph ] && wanted "x11 (Xvfb, XTest), into xterm"; then
        echo "x11 (Xvfb, XTest), into xterm:"
        BENCH_ONLY=2 "$0/build/bench/bench_typing" 600 "${2:-3}"
    fi
' "$root" "$@"
