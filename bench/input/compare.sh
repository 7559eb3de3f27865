#!/usr/bin/env bash
# Two builds' pointer latency side by side in one run: bench/input/run.sh starts the desktops once
# and each build's bench_input_latency runs in turns, one run of `moves` per desktop per round;
# medians over the rounds and the second build's ratio to the first. For "no loss" checks of a
# change against its parent. Run it under flock /tmp/velmora-serial.lock.
#   bench/input/compare.sh <build before> <build after> [moves per run] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
before=$(cd "$1" && pwd) after=$(cd "$2" && pwd) moves=${3:-1200} rounds=${4:-3}
for b in "$before" "$after"; do
    [ -x "$b/bench/bench_input_latency" ] || { echo "compare.sh: $b/bench/bench_input_latency is missing" >&2; exit 1; }
done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
out=$(VELMORA_BENCH_BUILDS="$before $after" VELMORA_BENCH_ROUNDS=$rounds "$root/bench/input/run.sh" "$moves" 1)
# The rounds as they came, for a second look.
[ -n "${VELMORA_BENCH_RAW:-}" ] && printf '%s\n' "$out" >"$VELMORA_BENCH_RAW"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$moves moves at 240/s per desktop, $rounds rounds in turns, medians of the rounds' p99 (p50)"
echo
echo "| desktop | before p99 | after p99 | after / before p99 | before p50 | after p50 |"
echo "|---|---:|---:|---:|---:|---:|"
# Lines of bench_input_latency: "  <desktop>  p50 <x> us  p99 <y> us  unmatched <n>".
awk -v before="$before" '
    /^== / { side = ($2 == before) ? "b" : "a"; next }
    / p50 .* p99 / {
        label = $0; sub(/^ +/, "", label); sub(/ +p50 .*/, "", label)
        # The first figures, in microseconds; a "(/ x11 …: p50 … p99 …)" ratio may follow.
        p50 = p99 = ""
        for (i = 1; i <= NF; ++i) {
            if ($i == "p50" && p50 == "") p50 = $(i + 1)
            if ($i == "p99" && p99 == "") p99 = $(i + 1)
        }
        if (!(label in seen)) { seen[label] = 1; order[++n] = label }
        v[label, side, "p99"] = v[label, side, "p99"] " " p99
        v[label, side, "p50"] = v[label, side, "p50"] " " p50
    }
    function median(s,   a, k, i, j, t) {
        k = split(s, a, " ")
        for (i = 2; i <= k; ++i) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
        return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    END {
        for (i = 1; i <= n; ++i) {
            l = order[i]
            bp99 = median(v[l, "b", "p99"]) / 1000; ap99 = median(v[l, "a", "p99"]) / 1000
            printf "| %s | %.2f ms | %.2f ms | %.2f | %.2f ms | %.2f ms |\n", l, bp99, ap99, ap99 / bp99,
                median(v[l, "b", "p50"]) / 1000, median(v[l, "a", "p50"]) / 1000
        }
    }' <<<"$out"
