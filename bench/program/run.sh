#!/usr/bin/env bash
# The real program under a virtual display: time from start to both ports listening (first start
# in a fresh home, then later starts), resident memory at idle, and resident memory and CPU while
# a phone sends "mousemove" at 240 per second, on the command port or the browser's channel.
#   bench/program/run.sh [build dir] [seconds of moves] [later starts] [tcp|web]
# Binds 8888 and 6888: run it inside a network namespace of its own where others use them, e.g.
#   unshare -n bash -c 'ip link set lo up; bench/program/run.sh build 600'
# Needs Xvfb and trayer (scripts/packages.txt) when DISPLAY is unset. The debug log goes to a file,
# as a desktop session's log would take it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) # absolute: the program runs from another folder
seconds=${2:-600}
starts=${3:-5}
channel=${4:-tcp}
rate=240
# shellcheck source=program.sh
source "$root/bench/program/program.sh"
hz=$(getconf CLK_TCK)

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
launch
finish
first=$took
later=$(for _ in $(seq "$starts"); do launch; finish; echo "$took"; done | median)
echo "start to both ports listening: first start ${first} s, later starts ${later} s (median of $starts)"

launch
sleep 10
t0=$(cpu_ticks)
sleep 10
idle_cpu=$(awk -v a="$t0" -v b="$(cpu_ticks)" -v hz="$hz" 'BEGIN { printf "%.2f", (b - a) / hz / 10 * 100 }')
echo "idle: resident $(($(rss_kib) / 1024)) MiB, CPU ${idle_cpu} % of a core"

samples=()
phone_moves "$channel" "$seconds" "$rate" >"$work/sent" &
phone=$!
sleep 1
c0=$(cpu_ticks)
start=$(date +%s%N)
while kill -0 "$phone" 2>/dev/null; do
    samples+=("$(($(rss_kib) / 1024))")
    for _ in $(seq 30); do kill -0 "$phone" 2>/dev/null && sleep 1; done
done
wait "$phone"
c1=$(cpu_ticks)
elapsed=$(awk -v a="$start" -v b="$(date +%s%N)" 'BEGIN { print (b - a) / 1e9 }')
samples+=("$(($(rss_kib) / 1024))")
echo "$(cat "$work/sent") moves ($channel) in ${seconds} s at $rate/s: CPU $(awk -v a="$c0" -v b="$c1" -v hz="$hz" -v s="$elapsed" \
    'BEGIN { printf "%.2f", (b - a) / hz / s * 100 }') % of a core"
echo "resident MiB every 30 s: ${samples[*]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
finish
