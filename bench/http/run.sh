#!/usr/bin/env bash
# Loads Velmora's HTTP server, nginx (one worker) and python3 -m http.server with wrk, all on
# loopback in one run, serving the same index.html and a 1 MiB file; prints medians and ratios,
# and the CPU time each server spent per request (which the machine's load disturbs less).
# Velmora runs twice alone (http_bench_server, debug log off and on) and once as the real
# program under a virtual display, which must agree with the first two.
#   bench/http/run.sh [build dir] [seconds per wrk run] [rounds]
# The program binds 6888: run this inside a network namespace of its own where others use it,
#   unshare -n bash -c 'ip link set lo up; bench/http/run.sh build'
# Installs the bench-only Debian packages wrk and nginx-light when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) # absolute: the program runs from another folder
seconds=${2:-5}
rounds=${3:-3}
connections=16

# shellcheck source=../../scripts/lib.sh
source "$root/scripts/lib.sh"
command -v wrk >/dev/null && command -v nginx >/dev/null || install_packages wrk nginx-light
for tool in wrk nginx curl; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done
if ss -Hltn 'sport = :6888' | grep -q .; then
    echo "run.sh: port 6888 is taken; run inside unshare -n (see above)" >&2
    exit 1
fi
start_virtual_display >/dev/null
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

cmake --build "$build" --target http_bench_server velmora -j2 >/dev/null
server="$build/bench/http_bench_server"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    stop_virtual_display
}
trap cleanup EXIT

mkdir -p "$work/mobile" "$work/home"
if [ -f "$root/mobile/index.html" ]; then
    cp "$root/mobile/index.html" "$work/mobile/index.html"
else
    head -c 10240 /dev/zero | tr '\0' 'x' >"$work/mobile/index.html"
fi
head -c 1048576 /dev/urandom >"$work/mobile/big.bin"
chmod -R a+rX "$work/mobile"

# Ports: Velmora quiet, Velmora with its per-request debug log (to /dev/null), nginx, python,
# and the program in the same folder with its debug log in a file, as a session log takes it.
QT_LOGGING_RULES='*.debug=false' "$server" 18781 "$work" >/dev/null &
pids+=($!)
QT_LOGGING_RULES='*.debug=true' "$server" 18782 "$work" >/dev/null 2>&1 &
pids+=($!)
# The program serves only the "mobile" folder beside itself: a copy of it runs from a folder
# whose "mobile" is the one the others serve, with the build's templates beside it.
mkdir -p "$work/program"
cp "$build/velmora" "$work/program/velmora"
ln -s "$build/Data" "$work/program/Data"
ln -s ../mobile "$work/program/mobile"
(cd "$work" && HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_CACHE_HOME="$work/home/.cache" exec "$work/program/velmora" >"$work/velmora.log" 2>&1) &
program=$!
pids+=($program)
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
    open_file_cache off;
    keepalive_requests 100000000;
    server { listen 127.0.0.1:18783; root $work/mobile; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
nginx_master=$!
pids+=($nginx_master)
"$python" -m http.server 18784 --bind 127.0.0.1 --directory "$work/mobile" >/dev/null 2>&1 &
pids+=($!)

for port in 18781 18782 18783 18784 6888; do
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/index.html" && break
        sleep 0.1
    done
done

names=("velmora (debug log off)" "velmora (debug log to /dev/null)" "nginx, 1 worker" "python3 -m http.server"
    "velmora program (debug log to a file)")
ports=(18781 18782 18783 18784 6888)
# The process doing the work behind each port: nginx's worker, not its master.
serving=("${pids[0]}" "${pids[1]}" "$(pgrep -P "$nginx_master" | head -n1)" "${pids[$((${#pids[@]} - 1))]}" "$program")
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
files=(index.html big.bin)
declare -A results cpu
for round in $(seq "$rounds"); do
    for f in "${files[@]}"; do
        for i in "${!ports[@]}"; do
            t0=$(ticks "${serving[$i]}")
            out=$(wrk -t1 -c"$connections" -d"${seconds}s" "http://127.0.0.1:${ports[$i]}/$f")
            t1=$(ticks "${serving[$i]}")
            rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
            count=$(awk '/ requests in / {print $1}' <<<"$out")
            cpu["$i,$f"]+="$(awk -v a="$t0" -v b="$t1" -v n="$count" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) * 1e6 / hz / n }') "
            if grep -qE 'Non-2xx|Socket errors' <<<"$out"; then
                echo "warning: ${names[$i]} $f round $round: $(grep -E 'Non-2xx|Socket errors' <<<"$out" | tr -s ' ')" >&2
            fi
            results["$i,$f"]+="$rps "
        done
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
index_bytes=$(stat -c %s "$work/mobile/index.html")
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wrk -t1 -c$connections -d${seconds}s, $rounds rounds, medians; index.html is $index_bytes bytes, big.bin 1 MiB"
echo
echo "| server | index.html req/s | vs nginx | CPU µs/req | 1 MiB file req/s (= MiB/s) | vs nginx | CPU µs/req |"
echo "|---|---:|---:|---:|---:|---:|---:|"
nginx_index=$(median <<<"${results[2,index.html]}")
nginx_big=$(median <<<"${results[2,big.bin]}")
for i in "${!ports[@]}"; do
    small=$(median <<<"${results[$i,index.html]}")
    big=$(median <<<"${results[$i,big.bin]}")
    small_cpu=$(median <<<"${cpu[$i,index.html]}")
    big_cpu=$(median <<<"${cpu[$i,big.bin]}")
    awk -v n="${names[$i]}" -v s="$small" -v b="$big" -v ns="$nginx_index" -v nb="$nginx_big" \
        -v sc="$small_cpu" -v bc="$big_cpu" \
        'BEGIN { printf "| %s | %.0f | %.2f | %.0f | %.0f | %.2f | %.0f |\n", n, s, s / ns, sc, b, b / nb, bc }'
done
