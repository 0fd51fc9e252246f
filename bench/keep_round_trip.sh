#!/bin/bash
# Strips a copy of each benchmark corpus with --keep-removed, restores it, and compares every
# file with the copy as it was: content (SHA-256), mode, owner, group and extended attributes.
# Each corpus copy also gets an M3U and a PLS playlist with metadata lines in every top folder,
# a few files with their own mode and an extended attribute. Prints one line per corpus and
# exits 1 if any file differs.
#   bench/keep_round_trip.sh [SET...]   (defaults: 300x1MiB 2000x20KB 60x8MiB 300x1MiB-ape)
# Environment: BENCH_DATA (default build-bench; the corpora bench/run.sh made), TAGSNIP_CLI
# (default: a Release build made in BENCH_DATA/build, as bench/run.sh makes it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data=${BENCH_DATA:-$root/build-bench}
cli=${TAGSNIP_CLI:-}
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(300x1MiB 2000x20KB 60x8MiB 300x1MiB-ape)

if [ -z "$cli" ]; then
    cmake -S "$root" -B "$data/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DBUILD_GUI=OFF >"$data/build.log" 2>&1
    cmake --build "$data/build" -j2 --target tagsnip-cli >>"$data/build.log" 2>&1 ||
        { tail -30 "$data/build.log"; exit 1; }
    cli=$data/build/src/cli/tagsnip-cli
fi

# Every file's path, mode, owner and group, content hash and extended attributes, in name order.
describe() {
    (cd "$1" && find . -type f -printf '%p %m %u %g\n' | sort &&
        find . -type f -print0 | sort -z | xargs -0 sha256sum &&
        find . -type f -print0 | sort -z | xargs -0 getfattr -d --absolute-names 2>/dev/null)
}

add_playlists_and_attributes() {
    local tree=$1 folder
    for folder in "$tree"/*/; do
        printf '#EXTM3U\n#EXTINF:123,Artist - Title\na.mp3\n#EXTINF:-1,Other\nb.mp3\n' \
            >"$folder/list.m3u"
        printf '[playlist]\nFile1=a.mp3\nTitle1=Artist - Title\nLength1=123\n' >"$folder/list.pls"
        printf 'NumberOfEntries=1\nVersion=2\n' >>"$folder/list.pls"
    done
    local files f
    mapfile -t files < <(find "$tree" -name '*.mp3')
    for f in "${files[@]:0:20}"; do
        chmod 0640 "$f"
        setfattr -n user.origin -v "round trip" "$f"
    done
}

status=0
for set in "${sets[@]}"; do
    work=$(mktemp -d "$data/round-trip.XXXXXX")
    cp -a "$data/$set" "$work/tree"
    add_playlists_and_attributes "$work/tree"
    describe "$work/tree" >"$work/before"
    switches=(-s -t1 -t2 -m -p)
    [[ $set == *ape* ]] && switches+=(-a)
    "$cli" "${switches[@]}" --keep-removed "$work/keep" "$work/tree" >"$work/strip.out" 2>&1 ||
        { echo "$set: the stripping run failed"; status=1; continue; }
    describe "$work/tree" >"$work/stripped"
    changed=$(grep -c '^[0-9a-f]\{64\} ' <(diff "$work/before" "$work/stripped" | sed -n 's/^> //p') || true)
    "$cli" --restore "$work/keep/$(ls "$work/keep")" >"$work/restore.out" 2>&1 ||
        { echo "$set: the restore failed"; status=1; continue; }
    describe "$work/tree" >"$work/after"
    files=$(find "$work/tree" -type f | wc -l)
    kept=$(du -sk "$work/keep" | cut -f1)
    if cmp -s "$work/before" "$work/after"; then
        echo "$set: $files files, $changed changed by the run and restored, all identical" \
            "(content, mode, owner, group, xattrs); kept ${kept} KiB"
        rm -rf "$work"
    else
        echo "$set: files differ after the restore, see $work (before, after)"
        status=1
    fi
done
exit $status
