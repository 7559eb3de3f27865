#!/usr/bin/env bash
# Two builds' HTTP servers side by side in one run: http_bench_server of each over the same
# temporary "mobile" folder (index.html and a 1 MiB file), wrk against them in turns, medians and
# the second build's ratio to the first. For "no loss" checks of a change against its parent.
#   bench/http/compare.sh <build before> <build after> [seconds per wrk run] [rounds]
# Needs wrk (bench/http/run.sh installs it); both builds must have the target http_bench_server.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
seconds=${3:-5}
rounds=${4:-5}
command -v wrk >/dev/null || { echo "compare.sh: wrk is missing" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/mobile"
cp "$root/mobile/index.html" "$work/mobile/index.html"
head -c 1048576 /dev/urandom >"$work/mobile/big.bin"

QT_LOGGING_RULES='*.debug=false' "$before/bench/http_bench_server" 18771 "$work" >/dev/null &
pids+=($!)
QT_LOGGING_RULES='*.debug=false' "$after/bench/http_bench_server" 18772 "$work" >/dev/null &
pids+=($!)
for port in 18771 18772; do
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/index.html" && break
        sleep 0.1
    done
done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A results
for round in $(seq "$rounds"); do
    for f in index.html big.bin; do
        for port in 18771 18772; do
            rps=$(wrk -t1 -c16 -d"${seconds}s" "http://127.0.0.1:$port/$f" | awk '/^Requests\/sec:/ {print $2}')
            results["$port,$f"]+="$rps "
        done
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
echo "wrk -t1 -c16 -d${seconds}s, $rounds rounds in turns, medians of requests/s"
echo
echo "| file | before | after | after / before |"
echo "|---|---:|---:|---:|"
for f in index.html big.bin; do
    b=$(median <<<"${results[18771,$f]}")
    a=$(median <<<"${results[18772,$f]}")
    awk -v f="$f" -v b="$b" -v a="$a" 'BEGIN { printf "| %s | %.0f | %.0f | %.2f |\n", f, b, a, a / b }'
done
