#!/usr/bin/env bash
# The real program lists a media folder of many files for a phone ("mediaexplore"), against
# `ls -l` of the same folder in the same run, and its resident memory before and after.
#   bench/program/listing.sh [build dir] [files] [rounds]
# Binds 8888 and 6888: run it inside a network namespace of its own where others use them, e.g.
#   unshare -n bash -c 'ip link set lo up; bench/program/listing.sh build 100000 5'
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-100000}
rounds=${3:-5}
# shellcheck source=program.sh
source "$root/bench/program/program.sh"
command -v sqlite3 >/dev/null || { echo "listing.sh: sqlite3 is missing" >&2; exit 1; }

media=$work/media
mkdir -p "$media"
# Names of different lengths, half of them media files, a few folders.
python3 - "$media" "$count" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
exts = [".mkv", ".mp3", ".txt", ".flac", ".jpg", ".mp4"]
for i in range(count):
    with open(os.path.join(folder, f"track {i:06d} of the long playlist{exts[i % len(exts)]}"), "wb") as f:
        f.write(b"x" * (i % 4096))
for i in range(20):
    os.mkdir(os.path.join(folder, f"folder {i}"))
PY

# The first start installs the databases; the folder is registered while the program is down.
launch
finish
sqlite3 "$home/.local/share/velmora/Data/data.db" \
    "insert into MediaFolder (name, path, sortNum) values ('bench', '$media', 1);"
launch
sleep 3
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
idle=$(rss_kib)
ls -l "$media" >/dev/null # both start from a warm directory cache
for round in $(seq "$rounds"); do
    t0=$(date +%s%N)
    ls -l "$media" >/dev/null
    t1=$(date +%s%N)
    echo "ls $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')" >>"$work/times"
    read -r took bytes files < <(python3 "$root/bench/program/phone_listing.py" "$media")
    echo "velmora $took" >>"$work/times"
    sleep 1
    echo "rss $(rss_kib)" >>"$work/times"
done
ls_s=$(awk '$1 == "ls" { print $2 }' "$work/times" | median)
vm_s=$(awk '$1 == "velmora" { print $2 }' "$work/times" | median)
after=$(awk '$1 == "rss" { print $2 }' "$work/times" | sort -g | tail -1)
echo "$files media files of $count listed in a reply of $bytes bytes"
echo "ls -l: ${ls_s} s, velmora: ${vm_s} s (medians of $rounds), ratio $(awk -v a="$vm_s" -v b="$ls_s" 'BEGIN { printf "%.2f", a / b }')"
echo "resident: idle $((idle / 1024)) MiB, at most $((after / 1024)) MiB 1 s after each reply"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
