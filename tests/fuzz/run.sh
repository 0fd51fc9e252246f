#!/bin/bash
# Builds the libFuzzer targets with clang, apart from the gcc build, replays every kept
# regression input, then fuzzes each target for a bounded time.
#   tests/fuzz/run.sh [SECONDS_PER_TARGET]   (default 20; the long run: 3600)
# Environment: FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS (parallel fuzz workers, default 1),
# FUZZ_TARGETS (a space-separated subset of the targets).
set -euo pipefail

seconds=${1:-20}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
parallel=()
if [ "${FUZZ_JOBS:-1}" -gt 1 ]; then
    parallel=(-jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS")
fi
read -r -a targets <<<"${FUZZ_TARGETS:-fuzz_id3_work fuzz_tag_blocks fuzz_stream_bounds fuzz_m3u_cleaning fuzz_pls_cleaning fuzz_manifest}"
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS_PER_TARGET >= 1]" >&2
    exit 2
fi

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DENABLE_FUZZING=ON -DBUILD_TESTING=OFF -DBUILD_GUI=OFF \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target "${targets[@]}" >"$build/build.log" 2>&1 ||
    { tail -40 "$build/build.log"; exit 1; }

work=$(mktemp -d /dev/shm/tagsnip-fuzz-run-XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
export TAGSNIP_FUZZ_DIR=$work

seed_corpus() {
    local target=$1 dir=$2
    mkdir -p "$dir"
    case $target in
    fuzz_id3_work)
        # Control byte (switches, fault), short-copy limit, then the file.
        printf '\x03\x00ID3\x03\x00\x00\x00\x00\x02\x01abcdefghijklmnopqrstuvwxyz' >"$dir/v2"
        printf '\x03\x10ID3\x04\x00\x10\x00\x00\x00\x04body3DI\x04\x00\x10\x00\x00\x00\x04audio' >"$dir/footer"
        { printf '\x03\x00ID3\x03\x00\x00\x00\x00\x00\x02..'; head -c 300 /dev/zero | tr '\0' 'a';
          printf 'TAG'; head -c 125 /dev/zero; } >"$dir/both"
        { printf '\x07\x05'; head -c 200 /dev/zero | tr '\0' 'b'; printf 'TAG'; head -c 125 /dev/zero; } >"$dir/v1"
        printf '\x0b\x00ID3\x03\x00\x00\x7f\x7f\x7f\x7f' >"$dir/huge"
        printf '\x0f\x00TAG' >"$dir/tiny-tag" ;;
    fuzz_tag_blocks)
        # The file alone: stacked ID3v2, then trailing blocks in several orders.
        { printf 'ID3\x03\x00\x00\x00\x00\x00\x02..\x00\x00ID3\x04\x00\x10\x00\x00\x00\x01x3DI\x04\x00\x10\x00\x00\x00\x01';
          printf '\xff\xfbaudio'; } >"$dir/stacked"
        { printf '\xff\xfbaudioAPETAGEX\xe8\x03\x00\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00';
          printf '\x00\x00\x00\x00\x00\x00\x00\x00LYRICSBEGININD00002\x31\x30000021LYRICS200TAG';
          head -c 125 /dev/zero; } >"$dir/ape-lyrics2-v1"
        { printf '\xff\xfbaudioTAG+'; head -c 223 /dev/zero; printf 'TAG'; head -c 125 /dev/zero;
          printf 'LYRICSBEGINwordsLYRICSEND'; } >"$dir/extended-lyrics1"
        { printf '\xff\xfbaudioID3\x04\x00\x10\x00\x00\x00\x02ab3DI\x04\x00\x10\x00\x00\x00\x02'; } >"$dir/appended" ;;
    fuzz_stream_bounds)
        # Control bytes (flags, begin, end: the whole input), then a bare MPEG frame header and,
        # where the encoders are installed, a short real stream of each container, at offset 0
        # and right under 2^64.
        printf '\x00\x00\x00\x00\x00\xff\xfb\x90\x64' >"$dir/mpeg-header"
        if command -v sox flac oggenc opusenc ffmpeg >/dev/null; then
            local wav=$work/seed.wav stream
            sox -n -r 8000 -c 1 -b 16 "$wav" synth 0.3 sine 440
            flac -s -f -o "$work/seed.flac" "$wav"
            flac -s -f --ogg -o "$work/seed.oga" "$wav"
            oggenc -Q -o "$work/seed.ogg" "$wav"
            opusenc --quiet "$wav" "$work/seed.opus"
            ffmpeg -nostdin -v error -y -i "$wav" -c:a aac -f adts "$work/seed.aac"
            sox "$wav" "$work/seed.aiff"
            for stream in "$wav" "$work"/seed.{flac,oga,ogg,opus,aac,aiff}; do
                { printf '\x00\x00\x00\x00\x00'; cat "$stream"; } >"$dir/${stream##*/}"
                { printf '\x01\x00\x00\x00\x00'; cat "$stream"; } >"$dir/high-${stream##*/}"
            done
        fi ;;
    fuzz_m3u_cleaning)
        printf '#EXTM3U\r\n#EXTINF:123,Artist - Title\r\nmusic/a.mp3\r\n\r\nb#c.mp3\n' >"$dir/ext"
        printf '\xef\xbb\xbf#EXTM3U\ra.mp3\rb.mp3' >"$dir/bom-cr" ;;
    fuzz_pls_cleaning)
        printf '[playlist]\r\nFile1=a.mp3\r\nTitle1=A\r\nLength1=123\r\nTitle2=\r\nFile2=b.mp3\r\nNumberOfEntries=2\r\nVersion=2\r\n' >"$dir/basic"
        printf '[Other]\nTitle1=x\n[PLAYLIST]\n numberofentries = 0x2 \ntitle1 = y\nTitle1=z\nLENGTH2=5\n' >"$dir/case-hex" ;;
    fuzz_manifest)
        local h=0123456789abcdef0123456789abcdef
        { printf 'tagsnip-kept-bytes 1 hash=xxh3-128 data=kept.data start=/home/ann/My Music\n'
          printf 'mp3 size=5000 hash=%s left-size=3872 left-hash=%s cut=0+1000:%s@0 cut=4872+128:%s@1000 path=A/01 \\x01\\t.mp3\n' $h $h $h $h
          printf 'playlist size=300 hash=%s left-size=120 left-hash=%s cut=0+300:%s@1128 path=car.m3u\n' $h $h $h
          printf 'mp3 size=9 hash=%s' $h; } >"$dir/run" ;;
    esac
}

status=0
for target in "${targets[@]}"; do
    binary=$build/tests/fuzz/$target
    regressions=$here/regressions/$target
    if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
        echo "== $target: replaying kept regression inputs"
        "$binary" -runs=0 "$regressions"/* >"$work/$target.replay.log" 2>&1 ||
            { tail -40 "$work/$target.replay.log"; status=1; continue; }
    fi
    corpus=$build/corpus/$target
    seed_corpus "$target" "$corpus"
    echo "== $target: fuzzing for ${seconds}s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -dict="$here/id3_playlist.dict" "${parallel[@]}" \
        -artifact_prefix="$build/$target-" "$corpus" >"$work/$target.log" 2>&1; then
        tail -60 "$work/$target.log"
        echo "== $target: FAILED; the input is kept as $build/$target-*"
        status=1
        continue
    fi
    grep -E '^#[0-9]+.*DONE|Done [0-9]+ runs' "$work/$target.log" | tail -1 || tail -2 "$work/$target.log"
done
[ $status -eq 0 ] && echo "fuzzing: all targets clean"
exit $status
