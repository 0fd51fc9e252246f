#!/usr/bin/python3
"""Writes a corpus of real MP3 files for the benchmark and a manifest of their audio bytes.

The audio is encoded once by lame from signals that sox generates; every file takes its own run
of whole MPEG frames from that pool, so no two files hold the same audio. Tags are written by
real tag writers: mutagen (ID3v2.3 and ID3v2.4 with text frames, a cover picture and padding,
ID3v1 trailers), and for a few files eyeD3 or id3v2. The manifest line of each file gives its
path, the exact byte range of its audio payload, the audio's SHA-256, the mode and the tags.

    make_corpus.py --out DIR --files N --size BYTES [--depth D] [--pictures] [--seed S]
"""

import argparse
import hashlib
import os
import random
import struct
import subprocess
import sys
import tempfile

from mutagen.id3 import (APIC, COMM, ID3, TALB, TCON, TDRC, TIT2, TPE1, TRCK, MakeID3v1)

POOL_SECONDS = 600
BITRATES = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
MODES = [0o644, 0o644, 0o600, 0o640, 0o664]
# Every 50th file is tagged by an external writer instead of mutagen.
EXTERNAL_EVERY = 50


def encode_pool(cache_dir):
    """The MPEG frames of one long lame encoding of mixed generated signals, cached."""
    pool = os.path.join(cache_dir, "pool-%d.mp3" % POOL_SECONDS)
    if not os.path.exists(pool):
        os.makedirs(cache_dir, exist_ok=True)
        with tempfile.TemporaryDirectory() as tmp:
            wav = os.path.join(tmp, "pool.wav")
            third = POOL_SECONDS / 3
            subprocess.run(
                ["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav,
                 "synth", str(third), "sine", "110-3520", "synth", str(third), "pinknoise", "mix",
                 ":", "synth", str(third), "square", "440", "synth", str(third), "brownnoise", "mix",
                 ":", "synth", str(third), "triangle", "880-220", "synth", str(third), "whitenoise",
                 "mix", "gain", "-6"],
                check=True)
            subprocess.run(["lame", "--quiet", "-b", "128", "-q", "7", wav, pool + ".part"],
                           check=True)
        os.rename(pool + ".part", pool)
    with open(pool, "rb") as f:
        data = f.read()
    return split_frames(data)


def split_frames(data):
    frames = []
    at = 0
    while at + 4 <= len(data):
        b1, b2, b3 = data[at + 1], data[at + 2], data[at + 3]
        if data[at] != 0xFF or (b1 & 0xFE) != 0xFA:
            at += 1
            continue
        bitrate = BITRATES[b2 >> 4] * 1000
        rate = [44100, 48000, 32000, 0][(b2 >> 2) & 3]
        if bitrate == 0 or rate == 0:
            at += 1
            continue
        length = 144 * bitrate // rate + ((b2 >> 1) & 1)
        frames.append(data[at:at + length])
        at += length
    # lame's first frame is its Info header, not audio.
    return frames[1:]


def audio_for(frames, index, size, rng):
    start = (index * 7919 + rng.randrange(len(frames))) % len(frames)
    out = []
    total = 0
    i = start
    while total < size:
        out.append(frames[i % len(frames)])
        total += len(frames[i % len(frames)])
        i += 1
    return b"".join(out)


def folder_for(index, files, depth):
    """A tree depth levels deep with about ten entries per folder."""
    parts = []
    n = index // 10
    for level in range(depth):
        parts.append("d%d" % (n % 10))
        n //= 10
    return os.path.join(*parts) if parts else ""


def text_frames(index, version):
    frames = [
        TIT2(encoding=3, text="Track %d — 测试" % index),
        TPE1(encoding=3, text="Artist %d" % (index % 97)),
        TALB(encoding=3, text="Album %d" % (index % 13)),
        TRCK(encoding=3, text=str(index % 20 + 1)),
        TCON(encoding=3, text="Electronic"),
        COMM(encoding=3, lang="eng", desc="", text="benchmark corpus file %d" % index),
    ]
    if version == 4:
        frames.append(TDRC(encoding=3, text="2024"))
    return frames


def picture(rng):
    size = rng.randrange(50_000, 200_001)
    # A JPEG's markers around random bytes: the tag writers only carry it.
    return b"\xff\xd8\xff\xe0" + rng.randbytes(size - 6) + b"\xff\xd9"


def tag_with_mutagen(path, index, kind, pictures, rng):
    version = 3 if index % 2 == 0 else 4
    tags = ID3()
    for frame in text_frames(index, version):
        tags.add(frame)
    if pictures:
        tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="cover", data=picture(rng)))
    padding = rng.randrange(0, 8193)
    if kind == "v1":
        trailer = MakeID3v1(tags)
        with open(path, "ab") as f:
            f.write(trailer)
        return
    tags.save(path, v1=2 if kind == "both" else 0, v2_version=version,
              padding=lambda info: padding)


def tag_with_tool(path, index, kind, pictures, rng):
    if index // EXTERNAL_EVERY % 2 == 0:
        # id3v2 writes ID3v2.3 (-2) and ID3v1 (-1).
        flags = {"v1": ["-1"], "v2": ["-2"], "both": []}[kind]
        subprocess.run(["id3v2"] + flags + ["-t", "Track %d" % index, "-a", "Artist",
                                            "-A", "Album", "-T", str(index % 20 + 1), path],
                       check=True, stdout=subprocess.DEVNULL)
        return
    versions = {"v1": ["--to-v1.1"], "v2": ["--to-v2.4"], "both": ["--to-v2.3"]}[kind]
    command = ["eyeD3", "--quiet", "--no-color"] + versions + [
        "-t", "Track %d" % index, "-a", "Artist", "-A", "Album", "-n", str(index % 20 + 1)]
    if pictures and kind != "v1":
        with tempfile.NamedTemporaryFile(suffix=".jpg", delete=False) as jpeg:
            jpeg.write(picture(rng))
        command += ["--add-image", jpeg.name + ":FRONT_COVER"]
    subprocess.run(command + [path], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    if pictures and kind != "v1":
        os.unlink(jpeg.name)
    if kind == "both":
        # eyeD3 writes one version per call.
        subprocess.run(["eyeD3", "--quiet", "--no-color", "--to-v1.1", "-t", "Track %d" % index,
                        path], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def lyrics3v2(index):
    title = b"Track %d" % index
    body = b"LYRICSBEGIN" + b"IND0000210" + b"LYR%05d" % len(title) + title
    return body + b"%06d" % len(body) + b"LYRICS200"


def apev2(index):
    items = [(b"Title", b"Track %d" % index), (b"REPLAYGAIN_TRACK_GAIN", b"-6.50 dB")]
    body = b"".join(struct.pack("<II", len(v), 0) + k + b"\0" + v for k, v in items)

    def frame(flags):
        return (b"APETAGEX" + struct.pack("<IIII", 2000, len(body) + 32, len(items), flags) +
                b"\0" * 8)
    return frame(0xA0000000) + body + frame(0x80000000)


def add_trailers(path, index):
    """Lyrics3v2 and APEv2 go in front of an ID3v1 trailer, where taggers that keep it put them."""
    with open(path, "rb") as f:
        data = f.read()
    cut = len(data) - 128 if len(data) >= 128 and data[-128:-125] == b"TAG" else len(data)
    with open(path, "wb") as f:
        f.write(data[:cut] + lyrics3v2(index) + apev2(index) + data[cut:])


def locate_audio(path, audio):
    """Where the audio sits in the tagged file; the writers may not touch it."""
    with open(path, "rb") as f:
        data = f.read()
    offset = data.find(audio[:4096])
    if offset < 0 or data[offset:offset + len(audio)] != audio:
        sys.exit("%s: the tag writer changed the audio" % path)
    return offset, len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True)
    parser.add_argument("--files", type=int, required=True)
    parser.add_argument("--size", type=int, required=True, help="audio bytes per file")
    parser.add_argument("--depth", type=int, default=1)
    parser.add_argument("--pictures", action="store_true", help="add a 50-200 KB cover")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--trailers", action="store_true",
                        help="add a Lyrics3v2 block and an APEv2 tag to every file")
    parser.add_argument("--cache", default=os.path.join(os.path.dirname(__file__), "..",
                                                        "build-bench", "cache"))
    args = parser.parse_args()

    rng = random.Random(args.seed)
    frames = encode_pool(args.cache)
    os.makedirs(args.out, exist_ok=True)
    kinds = ["none", "v1", "v2", "both"]
    with open(os.path.join(args.out, "..", os.path.basename(args.out) + ".manifest"), "w") as m:
        m.write("# path\taudio_offset\taudio_length\taudio_sha256\tmode\ttags\n")
        for index in range(args.files):
            relative = os.path.join(folder_for(index, args.files, args.depth),
                                    "%06d.mp3" % index)
            path = os.path.join(args.out, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            audio = audio_for(frames, index, args.size, rng)
            with open(path, "wb") as f:
                f.write(audio)
            kind = kinds[index % 4]
            if kind != "none":
                if index % EXTERNAL_EVERY == EXTERNAL_EVERY - 1 or index % EXTERNAL_EVERY == 2:
                    tag_with_tool(path, index, kind, args.pictures, rng)
                else:
                    tag_with_mutagen(path, index, kind, args.pictures, rng)
            if args.trailers:
                add_trailers(path, index)
            offset, _ = locate_audio(path, audio)
            mode = MODES[index % len(MODES)]
            os.chmod(path, mode)
            m.write("%s\t%d\t%d\t%s\t%o\t%s\n" % (relative, offset, len(audio),
                                                 hashlib.sha256(audio).hexdigest(), mode, kind))


if __name__ == "__main__":
    main()
