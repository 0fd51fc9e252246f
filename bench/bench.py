#!/usr/bin/python3
"""Times tagsnip-cli against the tag strippers a user would pick instead, in one run.

For every corpus set and repetition, each tool gets a fresh copy of the corpus (made and flushed
untimed) and is timed until its results are durable: the figure includes a `sync` after the tool
ends, and the time without that `sync` is shown beside it. Tools take turns within each
repetition, so that noise from other work on the machine spreads over all of them. The first
repetition of every tool is checked against the manifest: every tag gone, the audio bytes
identical, the mode kept. With --cold every tool also runs on a copy whose page cache (and dentry
and inode caches) were dropped after the copy and its sync (as root; otherwise said and skipped).
A summary at the end gives, per set, tagsnip-cli's median durable time as a ratio to mid3v2's and
to each ideal baseline's, warm and cold, and the files/s of the scale series.

With --neighbour MB each set is timed instead with and without a noisy neighbour: a `dd` writing
MB of zeros to the same file system, never synced, started before each timed run and stopped and
removed after it. As a global `sync` would wait for the neighbour too, each tool here is timed
until its own files are durable: tagsnip-cli as it is, mid3v2 followed by an fsync of each file.
"""

import argparse
import hashlib
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# name: (files, audio bytes per file, tree depth, cover pictures)
SETS = {
    "300x1MiB": (300, 1_000_000, 1, True),
    "2000x20KB": (2000, 20_000, 2, False),
    "60x8MiB": (60, 8_000_000, 1, True),
    "1000x1MiB": (1000, 1_000_000, 1, True),
    "200x8MiB": (200, 8_000_000, 1, True),
    "5000x20KB": (5000, 20_000, 2, False),
    "scale-1000": (1000, 20_000, 4, False),
    "scale-10000": (10000, 20_000, 4, False),
    "scale-100000": (100000, 20_000, 5, False),
    # Every file also carries a Lyrics3v2 block and an APEv2 tag in front of where an ID3v1
    # trailer stands, as mp3gain and lyrics taggers leave them.
    "300x1MiB-ape": (300, 1_000_000, 1, True),
}
TRAILER_SETS = {"300x1MiB-ape"}
PEERS = ["mid3v2", "eyeD3", "id3v2", "ffmpeg"]
# ffmpeg remuxes one file per process (about 75 ms each here): one repetition, large files only.
SLOW = {"ffmpeg": ("1000x1MiB", "200x8MiB")}
BASELINES = ["cp -a", "ideal sync", "ideal sync-early", "ideal no-sync", "ideal batch",
             "ideal batch-fdatasync", "ideal in-place"]
DEFAULT_SETS = "300x1MiB,2000x20KB,60x8MiB,1000x1MiB,200x8MiB,5000x20KB,scale-1000,scale-10000"

FFMPEG_LOOP = r"""
find "$1" -name '*.mp3' -print0 | while IFS= read -r -d '' f; do
  ffmpeg -loglevel error -nostdin -y -i "$f" -map 0:a -c copy -map_metadata -1 \
    -id3v2_version 0 -write_id3v1 0 -write_xing 0 -f mp3 "$f.ffmpeg-tmp" && mv "$f.ffmpeg-tmp" "$f"
done
"""


# The in-place peer made durable by its own fsyncs (coreutils `sync FILE...`), not a global sync.
MID3V2_FSYNC = ("find \"$1\" -name '*.mp3' -print0 | xargs -0 mid3v2 --delete-all && "
                "find \"$1\" -name '*.mp3' -print0 | xargs -0 sync")
# The unsafe in-place rewrite, made durable the same way: the floor for the per-file cost.
IDEAL_IN_PLACE_FSYNC = ("\"$2\" --in-place \"$1\" && "
                        "find \"$1\" -name '*.mp3' -print0 | xargs -0 sync")
NEIGHBOUR_TOOLS = ["tagsnip-cli", "mid3v2 + fsync", "ideal in-place + fsync"]
KID3_EACH_FOLDER = ("find \"$1\" -name '*.mp3' -printf '%h\\0' | sort -zu | xargs -0 -I{} "
                    "kid3-cli -c 'select all' -c 'remove 1' -c 'remove 2' -c 'remove 3' -c save {}")


def xargs(*command):
    return ["sh", "-c", "find \"$1\" -name '*.mp3' -print0 | xargs -0 " + " ".join(command),
            "sh"]


def command_for(tool, work, args):
    if tool == "tagsnip-cli":
        return [args.cli, "-s", "-t1", "-t2", work]
    if tool == "tagsnip-cli -a":
        return [args.cli, "-s", "-a", work]
    if tool == "kid3-cli":
        # Tag 1 is ID3v1, 2 ID3v2, 3 the third tag kind (APE for MP3). kid3-cli works on one
        # folder and does not descend: it is run once in each folder that holds MP3 files.
        return ["sh", "-c", KID3_EACH_FOLDER, "sh", work]
    if tool == "tagsnip-cli keep":
        return [args.cli, "-s", "-t1", "-t2", "--keep-removed", work + ".kept", work]
    if tool == "tagsnip-cli (other build)":
        return [args.other_cli, "-s", "-t1", "-t2", work]
    if tool == "mid3v2":
        return xargs("mid3v2", "--delete-all") + [work]
    if tool == "mid3v2 + fsync":
        return ["sh", "-c", MID3V2_FSYNC, "sh", work]
    if tool == "ideal in-place + fsync":
        return ["sh", "-c", IDEAL_IN_PLACE_FSYNC, "sh", work, args.ideal]
    if tool == "eyeD3":
        return xargs("eyeD3", "--quiet", "--no-color", "--remove-all") + [work]
    if tool == "id3v2":
        return xargs("id3v2", "-D") + [work]
    if tool == "ffmpeg":
        return ["bash", "-c", FFMPEG_LOOP, "bash", work]
    if tool == "cp -a":
        return ["cp", "-a", work, work + ".copy"]
    if tool.startswith("ideal"):
        # "ideal batch --files 256": options after the mode go to ideal_strip as they are.
        return [args.ideal, "--" + tool.split()[1]] + tool.split()[2:] + [work]
    raise ValueError(tool)


def run(command, **kwargs):
    subprocess.run(command, check=True, **kwargs)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def make_corpus(name, data):
    files, size, depth, pictures = SETS[name]
    master = os.path.join(data, name)
    manifest = master + ".manifest"
    if os.path.exists(manifest):
        return master, manifest
    shutil.rmtree(master, ignore_errors=True)
    print("making corpus %s ..." % name, file=sys.stderr, flush=True)
    command = [sys.executable, os.path.join(HERE, "make_corpus.py"), "--out", master,
               "--files", str(files), "--size", str(size), "--depth", str(depth),
               "--cache", os.path.join(data, "cache")]
    run(command + (["--pictures"] if pictures else []) +
        (["--trailers"] if name in TRAILER_SETS else []))
    return master, manifest


def read_manifest(manifest):
    entries = []
    with open(manifest) as f:
        for line in f:
            if not line.startswith("#"):
                path, offset, length, digest, mode, tags = line.rstrip("\n").split("\t")
                entries.append((path, int(length), digest, int(mode, 8)))
    return entries


def check(work, entries):
    """The problems found, by kind, against the manifest."""
    problems = {}
    for path, length, digest, mode in entries:
        full = os.path.join(work, path)
        try:
            st = os.lstat(full)
        except FileNotFoundError:
            problems["missing"] = problems.get("missing", 0) + 1
            continue
        if st.st_mode & 0o7777 != mode:
            problems["mode changed"] = problems.get("mode changed", 0) + 1
        with open(full, "rb") as f:
            data = f.read()
        if len(data) != length:
            problems["tag bytes left"] = problems.get("tag bytes left", 0) + 1
        elif hashlib.sha256(data).hexdigest() != digest:
            problems["audio differs"] = problems.get("audio differs", 0) + 1
    return problems


def fresh_copy(master, work, cold):
    for path in (work, work + ".copy", work + ".kept"):
        shutil.rmtree(path, ignore_errors=True)
    run(["cp", "-a", master, work])
    run(["sync"])
    if cold:
        # 3: the page cache and the dentry and inode caches, so that the walk reads the disk too.
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")


def time_tool(tool, master, work, args, cold=False):
    fresh_copy(master, work, cold)
    command = command_for(tool, work, args)
    cpu = children_cpu()
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    done = time.perf_counter()
    run(["sync"])
    durable = time.perf_counter()
    if result.returncode != 0:
        print("%s exited %d: %s" % (tool, result.returncode, result.stderr[-500:]),
              file=sys.stderr)
    return durable - start, done - start, children_cpu() - cpu


def meminfo_mb(field):
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0


def time_beside_neighbour(tool, master, work, args, megabytes):
    """Seconds until the tool's own files are durable, and the dirty MB when it started; with
    megabytes > 0 a writer fills the page cache of the same file system meanwhile."""
    fresh_copy(master, work, False)
    big = os.path.join(args.data, "neighbour.bin")
    writer = None
    if megabytes:
        writer = subprocess.Popen(["dd", "if=/dev/zero", "of=" + big, "bs=1M",
                                   "count=%d" % megabytes], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        time.sleep(args.neighbour_lead)
    try:
        dirty = meminfo_mb("Dirty") + meminfo_mb("Writeback")
        start = time.perf_counter()
        result = subprocess.run(command_for(tool, work, args), stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
    finally:
        if writer:
            writer.terminate()
            writer.wait()
            os.remove(big)
    if result.returncode != 0:
        print("%s exited %d: %s" % (tool, result.returncode, result.stderr[-500:]),
              file=sys.stderr)
    return elapsed, dirty


def neighbour_set(name, args):
    """One table: each tool's median time until durable without and with the neighbour."""
    master, manifest = make_corpus(name, args.data)
    entries = read_manifest(manifest)
    work = os.path.join(args.data, "work")
    tools = NEIGHBOUR_TOOLS + (["tagsnip-cli (other build)"] if args.other_cli else [])
    runs = {(tool, mb): [] for tool in tools for mb in (0, args.neighbour)}
    for rep in range(args.reps):
        for tool in tools:
            for mb in (0, args.neighbour):
                runs[(tool, mb)].append(time_beside_neighbour(tool, master, work, args, mb))
                print("  %-12s %-16s neighbour %5d MB rep %d: %.3f s, %.0f MB dirty at start"
                      % (name, tool, mb, rep + 1, *runs[(tool, mb)][-1]), file=sys.stderr,
                      flush=True)
    shutil.rmtree(work, ignore_errors=True)
    median = {key: statistics.median(t[0] for t in times) for key, times in runs.items()}
    lines = ["### %s: %d files, neighbour %d MB, %d repetitions" % (
                 name, len(entries), args.neighbour, args.reps), "",
             "| tool | without s (median) | with s (median) | with / without | with min–max s "
             "| dirty+writeback MB at start (median) |", "|---|---|---|---|---|---|"]
    for tool in tools:
        off, on = median[(tool, 0)], median[(tool, args.neighbour)]
        loud = [t[0] for t in runs[(tool, args.neighbour)]]
        lines.append("| %s | %.3f | %.3f | %.2f | %.3f–%.3f | %.0f |" % (
            tool, off, on, on / off, min(loud), max(loud),
            statistics.median(t[1] for t in runs[(tool, args.neighbour)])))
    ours, theirs = median[("tagsnip-cli", args.neighbour)], median[
        ("mid3v2 + fsync", args.neighbour)]
    floor = median[("ideal in-place + fsync", args.neighbour)]
    lines.append("\nWith the neighbour, tagsnip-cli / mid3v2 + fsync: %.2f, / ideal in-place + "
                 "fsync: %.2f\n" % (ours / theirs, ours / floor))
    return "\n".join(lines)


def corpus_bytes(master):
    total = 0
    for root, _, names in os.walk(master):
        total += sum(os.lstat(os.path.join(root, n)).st_size for n in names)
    return total


def bench_set(name, tools, args):
    """The tables of one set (warm, then cold with --cold) and its medians for the summary."""
    master, manifest = make_corpus(name, args.data)
    entries = read_manifest(manifest)
    megabytes = corpus_bytes(master) / 1e6
    work = os.path.join(args.data, "work")
    caches = ["warm", "cold"] if args.cold else ["warm"]
    times = {(tool, cache): [] for tool in tools for cache in caches}
    verdicts = {}
    load = [os.getloadavg()[0]]
    for rep in range(args.reps):
        for tool in tools:
            reps = 1 if tool in SLOW else args.peer_reps if tool in PEERS else args.reps
            if rep >= reps:
                continue
            for cache in caches:
                runs = times[(tool, cache)]
                runs.append(time_tool(tool, master, work, args, cache == "cold"))
                print("  %-12s %-21s %s rep %d: %.3f s durable, %.3f s without sync, %.2f CPU s"
                      % (name, tool, cache, rep + 1, *runs[-1]), file=sys.stderr, flush=True)
                if rep == 0 and cache == "warm" and tool != "cp -a":
                    problems = check(work, entries)
                    verdicts[tool] = "ok" if not problems else ", ".join(
                        "%d %s" % (n, kind) for kind, n in sorted(problems.items()))
    load.append(os.getloadavg()[0])
    shutil.rmtree(work, ignore_errors=True)
    shutil.rmtree(work + ".copy", ignore_errors=True)
    shutil.rmtree(work + ".kept", ignore_errors=True)
    tables = []
    medians = {}
    for cache in caches:
        by_tool = {tool: times[(tool, cache)] for tool in tools}
        title = name if cache == "warm" else name + " (cold cache)"
        tables.append(report(title, len(entries), megabytes, tools, by_tool, verdicts))
        for tool in tools:
            medians[(tool, cache)] = (statistics.median(t[0] for t in by_tool[tool]),
                                      statistics.median(t[2] for t in by_tool[tool]))
    note = "Load average (1 min) at start and end of the set: %.2f, %.2f\n" % tuple(load)
    return "\n".join(tables) + "\n" + note, (name, len(entries), caches, medians)


def summary(results, reference="tagsnip-cli"):
    """tagsnip-cli's median durable time over mid3v2's and each ideal baseline's, per set."""
    lines = ["### Summary: %s median durable time as a ratio to each (below 1: faster)" % reference,
             "", "| set | cache | %s s | × mid3v2 | CPU × mid3v2 | × ideal baselines |" % reference,
             "|---|---|---|---|---|---|"]
    scale = []
    for name, files, caches, medians in results:
        for cache in caches:
            if (reference, cache) not in medians:
                continue
            own, own_cpu = medians[(reference, cache)]
            mid = medians.get(("mid3v2", cache))
            ideals = ", ".join("%s %.2f" % (tool.split(" ", 1)[1], own / m[0])
                               for (tool, c), m in medians.items()
                               if c == cache and tool.startswith("ideal") and m[0] > 0)
            lines.append("| %s | %s | %.3f | %s | %s | %s |" % (
                name, cache, own, "%.2f" % (own / mid[0]) if mid else "-",
                "%.2f" % (own_cpu / mid[1]) if mid and mid[1] > 0 else "-", ideals or "-"))
            if name.startswith("scale-"):
                scale.append((name, files, cache, medians))
    if len(lines) == 4 and not scale:
        return ""
    if scale:
        lines += ["", "### Scale series: files/s from the median durable time",
                  "", "| set | cache | tool | files/s | × files/s at the smallest step |",
                  "|---|---|---|---|---|"]
        first = {}
        for name, files, cache, medians in scale:
            for (tool, c), m in medians.items():
                if c != cache:
                    continue
                rate = files / m[0]
                first.setdefault((tool, cache), rate)
                lines.append("| %s | %s | %s | %.0f | %.2f |" % (
                    name, cache, tool, rate, rate / first[(tool, cache)]))
    return "\n".join(lines) + "\n"


def report(name, files, megabytes, tools, times, verdicts):
    best = {tool: min(t[0] for t in times[tool]) for tool in tools}
    cpu = {tool: statistics.median(t[2] for t in times[tool]) for tool in tools}
    reference = best.get("tagsnip-cli")
    lines = ["### %s: %d files, %.0f MB" % (name, files, megabytes), "",
             "| tool | durable min s | durable median s | no sync min s | files/s | MB/s "
             "| CPU s | × tagsnip (durable) | × tagsnip (CPU) | reps | check |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    for tool in tools:
        runs = times[tool]
        ratio = "%.2f" % (best[tool] / reference) if reference else "-"
        cpu_ratio = "%.2f" % (cpu[tool] / cpu["tagsnip-cli"]) if reference and cpu[
            "tagsnip-cli"] > 0 else "-"
        lines.append("| %s | %.3f | %.3f | %.3f | %.0f | %.0f | %.2f | %s | %s | %d | %s |" % (
            tool, best[tool], statistics.median(t[0] for t in runs), min(t[1] for t in runs),
            files / best[tool], megabytes / best[tool], cpu[tool], ratio, cpu_ratio, len(runs),
            verdicts.get(tool, "n/a")))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--other-cli", help="a second tagsnip-cli build timed beside the first")
    parser.add_argument("--ideal", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--sets", default=DEFAULT_SETS)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--peer-reps", type=int, default=3)
    parser.add_argument("--scale-tools", default="tagsnip-cli,ideal sync,ideal batch,cp -a",
                        help="tools timed on the scale series")
    parser.add_argument("--tools", default=",".join(["tagsnip-cli"] + PEERS + BASELINES))
    parser.add_argument("--cold", action="store_true",
                        help="also time every tool with the caches dropped after the copy (root)")
    parser.add_argument("--out", help="also write the tables here")
    parser.add_argument("--all-tags", action="store_true",
                        help="time tagsnip-cli -a beside tagsnip-cli -t1 -t2")
    parser.add_argument("--neighbour", type=int, default=0, metavar="MB",
                        help="time with and without a writer of MB un-synced data instead")
    parser.add_argument("--neighbour-lead", type=float, default=1.5, metavar="S",
                        help="seconds the neighbour writes before each timed run")
    args = parser.parse_args()
    if args.cold and os.geteuid() != 0:
        print("--cold needs root to drop the page cache: cold runs skipped, warm only",
              flush=True)
        args.cold = False

    if args.other_cli:
        args.tools = args.tools.replace("tagsnip-cli", "tagsnip-cli,tagsnip-cli (other build)", 1)
        args.scale_tools += ",tagsnip-cli (other build)"
    available = [t for t in args.tools.split(",")
                 if t.split()[0] in ("tagsnip-cli", "ideal", "cp") or shutil.which(t)]
    if args.all_tags:
        available.insert(available.index("tagsnip-cli") + 1, "tagsnip-cli -a")
    tables = []
    results = []
    if args.neighbour:
        tables = [neighbour_set(name, args) for name in args.sets.split(",")]
        print("\n".join(tables), flush=True)
        if args.out:
            with open(args.out, "w") as f:
                f.write("\n".join(tables))
        return
    for name in args.sets.split(","):
        tools = available
        if name.startswith("scale-"):
            tools = [t for t in available if t in args.scale_tools.split(",")]
        tools = [t for t in tools if t not in SLOW or name in SLOW[t]]
        table, medians = bench_set(name, tools, args)
        tables.append(table)
        results.append(medians)
        print(tables[-1], flush=True)
    summaries = [summary(results)]
    if args.other_cli:
        summaries.append(summary(results, "tagsnip-cli (other build)"))
    summaries = [text for text in summaries if text]
    tables += summaries
    print("\n".join(summaries), flush=True)
    if args.out:
        with open(args.out, "w") as f:
            f.write("\n".join(tables))


if __name__ == "__main__":
    main()
