#!/bin/bash
# Strips a copy of each benchmark corpus with --keep-removed, restores it, and compares every
# file with the copy as it was: content (SHA-256), mode, owner, group and extended attributes.
# Each corpus copy also gets an M3U and a PLS playlist with metadata lines in every top folder,
# a few files with their own mode and an extended attribute. Prints one line per corpus and
# exits 1 if any file differs.
#   bench/keep_round_trip.sh [--large-covers] [SET...]
#     (defaults: 300x1MiB 2000x20KB 60x8MiB 300x1MiB-ape)
#     --large-covers  gives every tenth MP3 of each copy a cover picture of 1 to 16 MiB first
# Missing corpora are made as bench/run.sh makes them (lame and python3-mutagen needed).
# Environment: BENCH_DATA (default build-bench; the corpora bench/run.sh made), TAGSNIP_CLI
# (default: a Release build made in BENCH_DATA/build, as bench/run.sh makes it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
data=${BENCH_DATA:-$root/build-bench}
cli=${TAGSNIP_CLI:-}
large_covers=
if [ "${1:-}" = --large-covers ]; then
    large_covers=1
    shift
fi
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(300x1MiB 2000x20KB 60x8MiB 300x1MiB-ape)

mkdir -p "$data"
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

# Every tenth MP3 gets a cover of 1 to 16 MiB in its ID3v2 tag, as a scan at print resolution
# makes: a tag that is written out in many parts beside the small ones.
add_large_covers() {
    /usr/bin/python3 - "$1" <<'PYTHON'
import os, random, sys
from mutagen.id3 import APIC, ID3, ID3NoHeaderError
rng = random.Random(7)
paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(sys.argv[1]) for f in fs
               if f.endswith(".mp3"))
for path in paths[::10]:
    try:
        tags = ID3(path)
    except ID3NoHeaderError:
        tags = ID3()
    size = rng.randrange(1 << 20, (16 << 20) + 1)
    tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="scan",
                  data=b"\xff\xd8" + rng.randbytes(size - 4) + b"\xff\xd9"))
    tags.save(path, v1=1)
PYTHON
}

status=0
for set in "${sets[@]}"; do
    [ -e "$data/$set.manifest" ] ||
        (cd "$here" && /usr/bin/python3 -c "import bench; bench.make_corpus('$set', '$data')")
    work=$(mktemp -d "$data/round-trip.XXXXXX")
    cp -a "$data/$set" "$work/tree"
    [ -z "$large_covers" ] || add_large_covers "$work/tree"
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
