#!/usr/bin/env bash
# A finger on the web client's Pad to X pointer motion, end to end: the real program on a virtual
# display, its web client in headless Chromium paired over the sealed channel, CDP touch events
# and an XInput2 recorder of X motion (bench/e2e/pad_latency.mjs says how it is split). Each
# build given runs in turn, alternating `rounds` times, so that before and after share one run.
#   bench/e2e/run.sh <rounds> <build dir> [another build dir ...]
# Binds 8888 and 6888: run it inside a network namespace of its own, e.g.
#   unshare -n bash -c 'ip link set lo up; bench/e2e/run.sh 2 build /work/before/build'
# Needs Chromium and tests/browser's node modules (`npm ci` there), and build/bench's recorder.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
rounds=$1
shift
builds=()
for dir in "$@"; do builds+=("$(cd "$dir" && pwd)"); done
build=${builds[0]}
recorder=$root/build/bench/bench_xmotion_recorder
[ -x "$recorder" ] || { echo "run.sh: build $recorder first (cmake --build build --target bench_xmotion_recorder)" >&2; exit 1; }
[ -d "$root/tests/browser/node_modules/playwright-core" ] || (cd "$root/tests/browser" && npm ci --no-audit --no-fund --loglevel=error)
# shellcheck source=../program/program.sh
source "$root/bench/program/program.sh"

for round in $(seq "$rounds"); do
    for build in "${builds[@]}"; do
        rm -rf "$home" && mkdir -p "$home"
        launch
        echo "round $round, $build ($(git -C "$build/.." log -1 --format=%h 2>/dev/null || echo '?')), load $(cut -d' ' -f1-3 /proc/loadavg)"
        node "$root/bench/e2e/pad_latency.mjs" http://127.0.0.1:6888/ "$(token)" "$recorder"
        finish
    done
done
