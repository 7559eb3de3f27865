#!/usr/bin/env bash
# Runs the typing benchmark on an Xvfb of its own (no window manager), in a private network
# namespace (the command server listens on loopback only there).
#   bench/input/run-typing.sh [characters per text] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec unshare -n bash -c '
    ip link set lo up
    source "$0/scripts/lib.sh"
    unset DISPLAY WAYLAND_DISPLAY
    start_virtual_display >/dev/null
    trap "stop_virtual_display" EXIT
    "$0/build/bench/bench_typing" "$@"
' "$root" "$@"
