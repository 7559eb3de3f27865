#!/usr/bin/env bash
# System calls of the real program per phone message: `strace -c -f` on it while a phone sends
# "mousemove" at 240 per second, on the command port ("tcp", bench/program/phone_moves.py) or on
# the browser's sealed channel ("web", bench/program/web_moves.mjs). 10 s are 2,400 moves.
#   bench/program/syscalls.sh [build dir] [tcp|web] [seconds]
# Binds 8888 and 6888: run it inside a network namespace of its own where others use them, e.g.
#   unshare -n bash -c 'ip link set lo up; bench/program/syscalls.sh build web 10'
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
channel=${2:-tcp}
seconds=${3:-10}
rate=240
# shellcheck source=program.sh
source "$root/bench/program/program.sh"

launch
sleep 3
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
strace -c -f -p "$pid" -o "$work/strace" 2>/dev/null &
tracer=$!
sleep 1
sent=$(phone_moves "$channel" "$seconds" "$rate")
sleep 0.5 # the last moves are run
kill -INT "$tracer"
wait "$tracer" || true
cat "$work/strace"
awk -v moves="$sent" -v channel="$channel" '$NF == "total" {
    printf "%s: %d moves, %d system calls, %.1f per move\n", channel, moves, $4, $4 / moves }' "$work/strace"
