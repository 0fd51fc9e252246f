#!/usr/bin/env python3
"""Times -a --formats all on FLAC and Ogg files against -a on MP3 files of the same sizes.

Each corpus holds files with glued tags (a 4 KiB ID3v2 tag in front, an APEv2 tag and an ID3v1
trailer at the end): half FLAC and half Ogg Vorbis for the formats run, MP3 files of the same
sizes for the baseline, and mid3v2 --delete-all on the FLAC and Ogg corpus beside them. Every
tool gets a fresh copy, made and flushed untimed; the time runs until the result is durable (a
sync inside it). Prints the medians and the ratios.

    bench/formats_bench.py --cli build-bench/src/cli/tagsnip-cli [--reps 7] [--sets 200x1MiB,1000x20KB]
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

SIZES = {"1MiB": 1 << 20, "20KB": 20_000}


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   **kwargs)


def encoded(work, kind, seconds):
    wav = os.path.join(work, f"tone-{seconds}.wav")
    if not os.path.exists(wav):
        run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", str(seconds),
             "pinknoise", "vol", "0.3"])
    out = os.path.join(work, f"stream-{seconds}.{kind}")
    if not os.path.exists(out):
        if kind == "flac":
            run(["flac", "-s", "-f", "-o", out, wav])
        elif kind == "ogg":
            run(["oggenc", "-Q", "-q", "9", "-o", out, wav])
        else:
            run(["lame", "--quiet", "-b", "320", wav, out])
    with open(out, "rb") as stream:
        return stream.read()


def stream_near(work, kind, size):
    """A clean stream of the kind whose size is about size bytes."""
    seconds = 1.0
    data = encoded(work, kind, seconds)
    seconds = max(0.05, round(seconds * size / len(data), 2))
    return encoded(work, kind, seconds)


def syncsafe(n):
    return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])


def glued(stream, salt):
    frame = b"TIT2" + struct.pack(">I", 12) + b"\0\0\3" + f"Track {salt:05d}".encode()[:11]
    body = frame + b"\0" * (4096 - len(frame))
    id3v2 = b"ID3\3\0\0" + syncsafe(len(body)) + body
    item = b"\x05\0\0\0\0\0\0\0Title\0" + f"T{salt:04d}".encode()
    footer = lambda flags: b"APETAGEX" + struct.pack("<IIII", 2000, len(item) + 32, 1, flags) + b"\0" * 8
    ape = footer(0xA0000000) + item + footer(0x80000000)
    id3v1 = b"TAG" + f"Track {salt}".encode().ljust(30, b"\0") + b"\0" * 94 + b"\xff"
    return id3v2 + stream + ape + id3v1


def make_corpus(work, name, count, size):
    root = os.path.join(work, name)
    if os.path.isdir(root):
        return root
    formats_dir = os.path.join(root, "formats")
    mp3_dir = os.path.join(root, "mp3")
    os.makedirs(formats_dir)
    os.makedirs(mp3_dir)
    streams = {kind: stream_near(work, kind, size) for kind in ("flac", "ogg", "mp3")}
    for i in range(count):
        kind = "flac" if i % 2 == 0 else "ogg"
        data = glued(streams[kind], i)
        with open(os.path.join(formats_dir, f"{i:05d}.{kind}"), "wb") as out:
            out.write(data)
        mp3 = glued(streams["mp3"], i)
        with open(os.path.join(mp3_dir, f"{i:05d}.mp3"), "wb") as out:
            out.write(mp3)
    return root


def fresh_copy(source, scratch):
    target = os.path.join(scratch, "copy")
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target)
    os.sync()
    return target


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.sync()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--sets", default="200x1MiB,1000x20KB")
    parser.add_argument("--work", default="build-bench/formats")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    mid3v2 = shutil.which("mid3v2")
    for set_name in args.sets.split(","):
        count, size_name = set_name.split("x")
        corpus = make_corpus(args.work, set_name, int(count), SIZES[size_name])
        times = {"formats": [], "mp3": [], "mid3v2": []}
        with tempfile.TemporaryDirectory(dir=args.work) as scratch:
            for _ in range(args.reps):
                copy = fresh_copy(os.path.join(corpus, "formats"), scratch)
                times["formats"].append(timed([args.cli, "-a", "--formats", "all", copy]))
                copy = fresh_copy(os.path.join(corpus, "mp3"), scratch)
                times["mp3"].append(timed([args.cli, "-a", copy]))
                if mid3v2:
                    copy = fresh_copy(os.path.join(corpus, "formats"), scratch)
                    files = sorted(os.path.join(copy, f) for f in os.listdir(copy))
                    times["mid3v2"].append(timed([mid3v2, "--delete-all", *files]))
        medians = {tool: statistics.median(t) for tool, t in times.items() if t}
        sizes = {d: statistics.mean(os.path.getsize(os.path.join(corpus, d, f))
                                    for f in os.listdir(os.path.join(corpus, d)))
                 for d in ("formats", "mp3")}
        print(f"{set_name}: {args.reps} runs, median seconds until durable; mean file size "
              f"{sizes['formats'] / 1000:.0f} KB (FLAC + Ogg), {sizes['mp3'] / 1000:.0f} KB (MP3)")
        print(f"  tagsnip-cli -a --formats all (FLAC + Ogg) {medians['formats']:.3f}")
        print(f"  tagsnip-cli -a (MP3, same sizes)          {medians['mp3']:.3f}")
        if "mid3v2" in medians:
            print(f"  mid3v2 --delete-all (FLAC + Ogg)          {medians['mid3v2']:.3f}")
        print(f"  formats / mp3 = {medians['formats'] / medians['mp3']:.2f}"
              + (f", formats / mid3v2 = {medians['formats'] / medians['mid3v2']:.2f}"
                 if "mid3v2" in medians else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
