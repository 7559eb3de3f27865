# Shared by the benchmarks of the real program (sourced): a work folder with a fresh home, the
# program started there on a virtual display, and what is read of it while it runs. The caller
# sets `root` and `build` first. Binds 8888 and 6888.
# shellcheck source=../../scripts/lib.sh
source "$root/scripts/lib.sh"
start_virtual_display >/dev/null

work=$(mktemp -d)
home=$work/home
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
    stop_virtual_display
}
trap cleanup EXIT
mkdir -p "$home"

listening() { ss -Hltn "sport = :$1" | grep -q .; }
# Starts the program in the work home (its debug log to a file, as a desktop session's log
# would take it); sets `took` to the seconds until both ports listen.
launch() {
    local t0 t1
    t0=$(date +%s%N)
    (cd "$home" && HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$home/.cache" exec "$build/velmora" >>"$work/velmora.log" 2>&1) &
    pid=$!
    until listening 8888 && listening 6888; do
        kill -0 "$pid" 2>/dev/null || { echo "velmora ended early:" >&2; tail "$work/velmora.log" >&2; exit 1; }
        sleep 0.005
    done
    t1=$(date +%s%N)
    took=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
}
finish() { kill "$pid"; wait "$pid" || true; pid=; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }
# The pairing token of the running program's home.
token() { sed -n 's/^token=\([0-9a-f]\{32\}\)\s*$/\1/p' "$home/.config/Orvane/Velmora.conf"; }
# A phone sending "mousemove" at `rate` a second for `seconds` over `channel`: the command port
# ("tcp") or the browser's sealed channel ("web"); prints how many it sent.
phone_moves() {
    local channel=$1 seconds=$2 rate=$3
    case $channel in
    tcp) python3 "$root/bench/program/phone_moves.py" "$seconds" "$rate" ;;
    web) node "$root/bench/program/web_moves.mjs" "$(token)" "$seconds" "$rate" ;;
    *) echo "tcp or web, not $channel" >&2; return 2 ;;
    esac
}
