#!/usr/bin/env bash
# Runs the pointer latency benchmark with a headless sway and an Xvfb of its own, in a private
# network namespace (the command server listens on loopback only there).
#   bench/input/run.sh [moves per run] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec unshare -n bash -c '
    ip link set lo up
    source "$0/scripts/lib.sh"
    unset DISPLAY WAYLAND_DISPLAY
    start_virtual_display >/dev/null
    trap "stop_headless_sway; stop_virtual_display" EXIT
    start_headless_sway >/dev/null
    "$0/build/bench/bench_input_latency" "$@"
' "$root" "$@"
