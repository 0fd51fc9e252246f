#!/bin/bash
# Large playlists through the real tagsnip-cli: a PLS of 1,000,000 entries (about 48 MB) and two
# M3Us of about 200 MB (long lines, then short ones), each alone in a directory, cleaned with
# `tagsnip-cli -m -p DIR`. Prints the file size, the wall time and the peak resident memory of
# each run; it asserts nothing.
#   bench/playlist_scale.sh [PLS_ENTRIES] [M3U_ENTRIES]   (defaults 1000000 and 2500000)
# Environment: BENCH_DATA (default build-bench), TAGSNIP_CLI (default: a Release build made in
# BENCH_DATA/build, as bench/run.sh makes it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data=${BENCH_DATA:-$root/build-bench}
pls_entries=${1:-1000000}
m3u_entries=${2:-2500000}
work=$data/playlist-scale
cli=${TAGSNIP_CLI:-}
label=${TAGSNIP_CLI:-}

if [ -z "$cli" ]; then
    mkdir -p "$data"
    cmake -S "$root" -B "$data/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DBUILD_GUI=OFF >"$data/build.log" 2>&1
    cmake --build "$data/build" -j2 --target tagsnip-cli >>"$data/build.log" 2>&1 ||
        { tail -30 "$data/build.log"; exit 1; }
    cli=$data/build/src/cli/tagsnip-cli
    label="$cli (built from $(git -C "$root" describe --always --dirty))"
fi

make_pls() {
    awk -v n="$1" 'BEGIN {
        printf "[playlist]\nNumberOfEntries=%d\n", n
        for (i = 1; i <= n; i++) {
            printf "File%d=a%d\nTitle%d=T\nLength%d=%d\n", i, i, i, i, 60 + i % 300
        }
        printf "Version=2\n"
    }'
}

make_m3u() {
    awk -v n="$1" 'BEGIN {
        printf "#EXTM3U\r\n"
        for (i = 1; i <= n; i++) {
            printf "#EXTINF:%d,Artist %d - Title of song %d\nmusic/artist %d/album/%d.mp3\n",
                60 + i % 300, i % 997, i, i % 997, i
        }
    }'
}

# The same size in short lines, where a table of lines would weigh most.
make_short_m3u() {
    awk -v n="$1" 'BEGIN { for (i = 1; i <= n; i++) printf "#E\na/%d\n", i }'
}

# One cleaning run on a fresh copy of the playlist: size in MB, wall seconds, peak RSS in MB.
measure() {
    local kind=$1 source=$2
    rm -rf "$work/run"
    mkdir -p "$work/run"
    cp "$source" "$work/run/"
    local size
    size=$(stat -c %s "$source")
    /usr/bin/time -v -o "$work/time.txt" "$cli" -m -p "$work/run" >/dev/null
    local seconds peak
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' \
        "$work/time.txt")
    peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    awk -v kind="$kind" -v size="$size" -v after="$(stat -c %s "$work/run/$(basename "$source")")" \
        -v s="$seconds" -v kb="$peak" 'BEGIN {
        printf "%-4s %9.1f MB -> %8.1f MB  %7.2f s  peak RSS %8.1f MB  (%.2f x file)\n",
            kind, size / 1e6, after / 1e6, s, kb * 1024 / 1e6, kb * 1024 / size }'
}

mkdir -p "$work"
[ -f "$work/big-$pls_entries.pls" ] || make_pls "$pls_entries" >"$work/big-$pls_entries.pls"
[ -f "$work/big-$m3u_entries.m3u" ] || make_m3u "$m3u_entries" >"$work/big-$m3u_entries.m3u"
short_entries=$((m3u_entries * 6))
[ -f "$work/short-$short_entries.m3u" ] ||
    make_short_m3u "$short_entries" >"$work/short-$short_entries.m3u"
echo "tagsnip-cli: $label"
echo "command: /usr/bin/time -v tagsnip-cli -m -p DIR   (DIR holds one playlist)"
measure PLS "$work/big-$pls_entries.pls"
measure M3U "$work/big-$m3u_entries.m3u"
measure M3U "$work/short-$short_entries.m3u"
rm -rf "$work/run"
