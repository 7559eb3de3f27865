#!/usr/bin/env bash
# Loads Velmora's HTTP server, nginx (one worker) and python3 -m http.server with wrk, all on
# loopback in one run, serving the same index.html and a 1 MiB file; prints medians and ratios.
#   bench/http/run.sh [build dir] [seconds per wrk run] [rounds]
# Needs the Debian packages wrk and nginx-light.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-5}
rounds=${3:-3}
connections=16

for tool in wrk nginx curl; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (apt-get install wrk nginx-light)" >&2; exit 1; }
done
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

cmake --build "$build" --target http_bench_server -j2 >/dev/null
server="$build/bench/http_bench_server"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/mobile"
if [ -f "$root/mobile/index.html" ]; then
    cp "$root/mobile/index.html" "$work/mobile/index.html"
else
    head -c 10240 /dev/zero | tr '\0' 'x' >"$work/mobile/index.html"
fi
head -c 1048576 /dev/urandom >"$work/mobile/big.bin"
chmod -R a+rX "$work/mobile"

# Ports: Velmora quiet, Velmora with its per-request debug log (to /dev/null), nginx, python.
QT_LOGGING_RULES='*.debug=false' "$server" 18781 "$work" >/dev/null &
pids+=($!)
QT_LOGGING_RULES='*.debug=true' "$server" 18782 "$work" >/dev/null 2>&1 &
pids+=($!)
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    sendfile on;
    keepalive_requests 100000000;
    server { listen 127.0.0.1:18783; root $work/mobile; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
pids+=($!)
"$python" -m http.server 18784 --bind 127.0.0.1 --directory "$work/mobile" >/dev/null 2>&1 &
pids+=($!)

for port in 18781 18782 18783 18784; do
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/index.html" && break
        sleep 0.1
    done
done

names=("velmora (debug log off)" "velmora (debug log to /dev/null)" "nginx, 1 worker" "python3 -m http.server")
ports=(18781 18782 18783 18784)
files=(index.html big.bin)
declare -A results
for round in $(seq "$rounds"); do
    for f in "${files[@]}"; do
        for i in "${!ports[@]}"; do
            out=$(wrk -t1 -c"$connections" -d"${seconds}s" "http://127.0.0.1:${ports[$i]}/$f")
            rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
            if grep -qE 'Non-2xx|Socket errors' <<<"$out"; then
                echo "warning: ${names[$i]} $f round $round: $(grep -E 'Non-2xx|Socket errors' <<<"$out" | tr -s ' ')" >&2
            fi
            results["$i,$f"]+="$rps "
        done
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
index_bytes=$(stat -c %s "$work/mobile/index.html")
echo "wrk -t1 -c$connections -d${seconds}s, $rounds rounds, medians; index.html is $index_bytes bytes, big.bin 1 MiB"
echo
echo "| server | index.html req/s | vs nginx | 1 MiB file req/s (= MiB/s) | vs nginx |"
echo "|---|---:|---:|---:|---:|"
nginx_index=$(median <<<"${results[2,index.html]}")
nginx_big=$(median <<<"${results[2,big.bin]}")
for i in "${!ports[@]}"; do
    small=$(median <<<"${results[$i,index.html]}")
    big=$(median <<<"${results[$i,big.bin]}")
    awk -v n="${names[$i]}" -v s="$small" -v b="$big" -v ns="$nginx_index" -v nb="$nginx_big" \
        'BEGIN { printf "| %s | %.0f | %.2f | %.0f | %.2f |\n", n, s, s / ns, b, b / nb }'
done
