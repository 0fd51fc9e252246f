#!/bin/bash
# The benchmark in one command: installs the peers and corpus tools (as root, when missing),
# builds tagsnip-cli and the ideal baseline, makes the corpora once, and prints the tables.
#   bench/run.sh [--full] [--sets A,B,...] [bench.py options...]
#     --full   adds the 100,000-file step of the scale series (about 2 GB more, much longer)
#     --sets   only these sets, e.g. the three target corpora:
#              bench/run.sh --sets 300x1MiB,2000x20KB,60x8MiB --reps 3 --cold
# Corpora and results live in build-bench/ (BENCH_DATA overrides); results.md holds the tables.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data=${BENCH_DATA:-$root/build-bench}
packages=(lame sox python3-mutagen eyed3 id3v2 ffmpeg cmake ninja-build g++ gcc pkg-config liburing-dev)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

sets=300x1MiB,2000x20KB,60x8MiB,1000x1MiB,200x8MiB,5000x20KB,scale-1000,scale-10000
full=
while [ $# -gt 0 ]; do
    case "$1" in
    --full) full=,scale-100000 ;;
    --sets) sets=$2; shift ;;
    --sets=*) sets=${1#--sets=} ;;
    *) break ;;
    esac
    shift
done
sets=$sets$full

mkdir -p "$data"
cmake -S "$root" -B "$data/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DBUILD_GUI=OFF >"$data/build.log" 2>&1
cmake --build "$data/build" -j2 --target tagsnip-cli >>"$data/build.log" 2>&1 ||
    { tail -30 "$data/build.log"; exit 1; }
gcc -O2 -Wall -Wextra -Werror -o "$data/ideal_strip" "$here/ideal_strip.c"

{
    echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo) RAM," \
        "$(stat -f -c %T "$data") on $(df --output=source "$data" | tail -1), kernel $(uname -r)"
    echo "Load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$data/machine.txt"
/usr/bin/python3 "$here/bench.py" --cli "$data/build/src/cli/tagsnip-cli" \
    --ideal "$data/ideal_strip" --data "$data" --sets "$sets" --out "$data/results.md" "$@"
echo "Load at end: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$data/machine.txt"
