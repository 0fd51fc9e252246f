#!/usr/bin/python3
"""Looks for the cause of the per-file slowdown between scale-1000 and scale-10000.

Every experiment starts like bench.py: a fresh `cp -a` of the corpus and a `sync`, untimed. Then
it times the tool on the whole copy or on one or more of its top folders (each holds a tenth of
the files), and prints beside each time what the disk did meanwhile (from /sys/block/DEV/stat:
write requests, flushes, discards, MB written, busy time) and the peak Dirty and Writeback of
/proc/meminfo, sampled every 50 ms.

    scale_probe.py --data build-bench --tool "build-bench/ideal_strip --sync" [--pause S]
    scale_probe.py --data build-bench --latency 10   # fdatasync latency after the copy, per second
"""

import argparse
import os
import shlex
import shutil
import statistics
import subprocess
import threading
import time


def device_of(path):
    source = subprocess.run(["df", "--output=source", path], capture_output=True,
                            text=True).stdout.split()[-1]
    return os.path.basename(source)


def disk(dev):
    with open("/sys/block/%s/stat" % dev) as f:
        v = [int(x) for x in f.read().split()]
    # writes, sectors written, busy ms, discards, flushes
    return {"writes": v[4], "mb": v[6] * 512 / 1e6, "busy ms": v[9],
            "discards": v[11] if len(v) > 11 else 0, "flushes": v[15] if len(v) > 15 else 0}


def meminfo():
    out = {}
    with open("/proc/meminfo") as f:
        for line in f:
            key, value = line.split(":")
            if key in ("Dirty", "Writeback"):
                out[key] = int(value.split()[0]) / 1024
    return out


class Sampler:
    """The peak Dirty and Writeback (MiB) while it runs."""

    def __init__(self):
        self.peak = {"Dirty": 0.0, "Writeback": 0.0}
        self.running = True
        self.thread = threading.Thread(target=self.loop)
        self.thread.start()

    def loop(self):
        while self.running:
            for key, value in meminfo().items():
                self.peak[key] = max(self.peak[key], value)
            time.sleep(0.05)

    def stop(self):
        self.running = False
        self.thread.join()
        return self.peak


def fresh_copy(master, work):
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run(["cp", "-a", master, work], check=True)
    subprocess.run(["sync"], check=True)


def timed(command, dev):
    before = disk(dev)
    sampler = Sampler()
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["sync"], check=True)
    seconds = time.perf_counter() - start
    peak = sampler.stop()
    after = disk(dev)
    delta = {k: after[k] - before[k] for k in after}
    return seconds, delta, peak


def line(label, files, seconds, delta, peak):
    print("%-34s %6d files %7.3f s %6.0f files/s | writes %6d flushes %6d discards %5d "
          "%7.1f MB busy %6d ms | peak Dirty %6.1f Writeback %6.1f MiB" % (
              label, files, seconds, files / seconds, delta["writes"], delta["flushes"],
              delta["discards"], delta["mb"], delta["busy ms"], peak["Dirty"],
              peak["Writeback"]), flush=True)


def count(path):
    return sum(len([n for n in names if n.endswith(".mp3")]) for _, _, names in os.walk(path))


def latency(work, dev, seconds):
    """fdatasync of a 4 KiB write, again and again: its median per second after the copy."""
    probe = os.path.join(work, "probe")
    fd = os.open(probe, os.O_WRONLY | os.O_CREAT, 0o644)
    start = time.perf_counter()
    second, samples = 0, []
    before = disk(dev)
    while time.perf_counter() - start < seconds:
        t = time.perf_counter()
        os.pwrite(fd, os.urandom(4096), 0)
        os.fdatasync(fd)
        samples.append((time.perf_counter() - t) * 1000)
        if time.perf_counter() - start >= second + 1:
            after = disk(dev)
            print("  second %2d: %5d fdatasyncs, median %.2f ms, max %.2f ms, disk writes %d, "
                  "flushes %d, MB %.1f" % (second + 1, len(samples), statistics.median(samples),
                                           max(samples), after["writes"] - before["writes"],
                                           after["flushes"] - before["flushes"],
                                           after["mb"] - before["mb"]), flush=True)
            second, samples, before = second + 1, [], after
    os.close(fd)
    os.unlink(probe)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", required=True)
    parser.add_argument("--tool", default="build-bench/ideal_strip --sync")
    parser.add_argument("--pause", type=float, default=0, help="seconds between sync and run")
    parser.add_argument("--latency", type=float, help="only probe fdatasync latency this long")
    args = parser.parse_args()
    tool = shlex.split(args.tool)
    work = os.path.join(args.data, "work")
    dev = device_of(args.data)

    if args.latency:
        for name in ("scale-1000", "scale-10000"):
            fresh_copy(os.path.join(args.data, name), work)
            print("fdatasync latency after the copy of %s and its sync:" % name)
            latency(work, dev, args.latency)
        shutil.rmtree(work, ignore_errors=True)
        return

    print("tool: %s; pause after the copy's sync: %.1f s" % (args.tool, args.pause))
    for name in ("scale-1000", "scale-10000"):
        master = os.path.join(args.data, name)
        fresh_copy(master, work)
        time.sleep(args.pause)
        line("%s, whole tree" % name, count(work), *timed(tool + [work], dev))
    # A tenth of the 10,000-file copy: the same number of files as scale-1000.
    master = os.path.join(args.data, "scale-10000")
    fresh_copy(master, work)
    time.sleep(args.pause)
    line("scale-10000, folder d0 only", count(os.path.join(work, "d0")),
         *timed(tool + [os.path.join(work, "d0")], dev))
    # The whole 10,000-file copy, one tenth after the other: the rate over the run.
    fresh_copy(master, work)
    time.sleep(args.pause)
    for top in sorted(os.listdir(work)):
        line("scale-10000, folders in turn: %s" % top, count(os.path.join(work, top)),
             *timed(tool + [os.path.join(work, top)], dev))
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
