#!/usr/bin/env bash
# Uploads a 1 GiB file over loopback with curl to Velmora's upload route (upload_bench_server)
# and to a plain receiver (receiver.py: python's http.server streaming the body to a file), in
# turns within one run, both writing into a tmpfs so that the disk does not decide; prints the
# median MiB/s of each, their ratio, and Velmora's resident memory before and at its peak.
#   bench/upload/run.sh [build dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-5}
size_mib=1024

cmake --build "$build" --target upload_bench_server -j2 >/dev/null
work=$(mktemp -d -p /dev/shm)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/velmora" "$work/plain"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/source.bin"

QT_LOGGING_RULES='*.debug=false;*.info=false' "$build/bench/upload_bench_server" 18791 "$work/velmora" "$rounds" \
    >"$work/tickets" &
server=$!
pids+=($server)
python3 "$root/bench/upload/receiver.py" 18792 "$work/plain" &
pids+=($!)
for _ in $(seq 100); do
    [ "$(wc -l <"$work/tickets")" -ge "$rounds" ] && curl -s -o /dev/null http://127.0.0.1:18792/ && break
    sleep 0.1
done
mapfile -t tickets <"$work/tickets"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
rss_before=$(rss "$server")
peak=$rss_before
upload() { # url, extra header
    curl -s -o /dev/null -w '%{speed_upload}' -X POST -T "$work/source.bin" -H 'Expect:' -H "$2" "$1"
}
velmora=() plain=()
for round in $(seq "$rounds"); do
    upload "http://127.0.0.1:18791/upload" "X-Velmora-Ticket: ${tickets[$((round - 1))]}" >"$work/speed" &
    curl_pid=$!
    while kill -0 "$curl_pid" 2>/dev/null; do
        now=$(rss "$server")
        [ "$now" -gt "$peak" ] && peak=$now
        sleep 0.05
    done
    wait "$curl_pid"
    velmora+=("$(cat "$work/speed")")
    cmp -s "$work/source.bin" "$work/velmora/$(ls "$work/velmora" | head -n1)" || { echo "run.sh: upload $round differs" >&2; exit 1; }
    rm -f "$work/velmora"/*
    plain+=("$(upload "http://127.0.0.1:18792/upload" "X-Round: $round")")
    rm -f "$work/plain"/*
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
v=$(echo "${velmora[*]}" | median)
p=$(echo "${plain[*]}" | median)
echo "1 GiB upload over loopback with curl, $rounds rounds in turns, medians; both write into a tmpfs"
echo
echo "| receiver | MiB/s | vs plain receiver |"
echo "|---|---:|---:|"
awk -v v="$v" -v p="$p" 'BEGIN { printf "| Velmora upload route | %.0f | %.2f |\n| python3 plain receiver | %.0f | 1.00 |\n", v / 1048576, v / p, p / 1048576 }'
echo
echo "Velmora resident memory: $((rss_before / 1024)) MiB before, $((peak / 1024)) MiB at the peak during the uploads"
