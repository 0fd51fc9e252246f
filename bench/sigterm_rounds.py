#!/usr/bin/env python3
"""Sends SIGTERM to tagsnip-cli at random moments and counts the runs that do not end as a stop
by signal should: the total line printed and status 143, or 0 when the run was over before the
signal was sent or its total line was written before (the program ending, the stop signals
blocked).

A small tree of tagged files is copied afresh for every round; the delay is drawn between 0 and
the length of an undisturbed run. A run that ends otherwise is listed with its status and the
last bytes of its output.

    bench/sigterm_rounds.py --cli build/src/cli/tagsnip-cli --rounds 200 [--keep] [--seed S]
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import tempfile
import time


def tagged_file(path, index):
    v2 = b"ID3\x03\x00\x00\x00\x00\x20\x00" + b"\0" * 4096 if index % 3 != 2 else b""
    v1 = b"TAG" + b"\0" * 125 if index % 3 != 0 else b""
    with open(path, "wb") as out:
        out.write(v2 + os.urandom(32 * 1024 + index) + v1)


def make_tree(root, files):
    for index in range(files):
        folder = os.path.join(root, "d%02d" % (index % 8))
        os.makedirs(folder, exist_ok=True)
        tagged_file(os.path.join(folder, "t%03d.mp3" % index), index)
    with open(os.path.join(root, "list.m3u"), "wb") as out:
        out.write(b"d00/t000.mp3\r\nmissing.mp3\r\n")


def run(cli, tree, arguments, delay, work):
    out_path = os.path.join(work, "out")
    err_path = os.path.join(work, "err")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        process = subprocess.Popen([cli] + arguments + [tree], stdout=out, stderr=err,
                                   stdin=subprocess.DEVNULL)
        signalled = None
        if delay is not None:
            time.sleep(delay)
            # Only a process still running is sent the signal; one that is over waits unreaped.
            over = os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT)
            if over is None:
                with open(out_path, "rb") as written:
                    complete = b"total mp3=" in written.read()
                os.kill(process.pid, signal.SIGTERM)
                signalled = "after the total" if complete else "before the total"
        status = process.wait()
    with open(out_path, "rb") as out:
        output = out.read()
    return status, output, signalled


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--files", type=int, default=40)
    parser.add_argument("--keep", action="store_true", help="add --keep-removed")
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    random.seed(options.seed)
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "source")
        make_tree(source, options.files)
        tree = os.path.join(work, "tree")
        keep = os.path.join(work, "keep")

        def fresh():
            shutil.rmtree(tree, ignore_errors=True)
            shutil.rmtree(keep, ignore_errors=True)
            shutil.copytree(source, tree)
            arguments = ["-s", "-t1", "-t2"]
            if options.keep:
                os.mkdir(keep)
                arguments += ["--keep-removed", keep]
            return arguments

        lengths = []
        for _ in range(3):
            arguments = fresh()
            start = time.monotonic()
            status, _, _ = run(options.cli, tree, arguments, None, work)
            lengths.append(time.monotonic() - start)
            assert status == 0, "an undisturbed run gave status %d" % status
        length = min(lengths)
        bad = []
        counts = {"stopped": 0, "over": 0, "ending": 0}
        for round_number in range(options.rounds):
            arguments = fresh()
            delay = random.uniform(0, length)
            status, output, signalled = run(options.cli, tree, arguments, delay, work)
            has_total = b"total mp3=" in output
            if has_total and status == 143:
                counts["stopped"] += 1
            elif has_total and status == 0 and not signalled:
                counts["over"] += 1
            elif has_total and status == 0 and signalled == "after the total":
                # The stop signals are blocked once the output is complete: a signal sent while
                # the program ends finds the run over.
                counts["ending"] += 1
            else:
                bad.append((round_number, delay, status, has_total, signalled, output[-80:]))
        print("%d rounds over a %.1f ms run: %d stopped by the signal, %d over before it, "
              "%d signalled after the total line, %d wrong"
              % (options.rounds, length * 1000, counts["stopped"], counts["over"],
                 counts["ending"], len(bad)))
        for round_number, delay, status, has_total, signalled, tail in bad:
            print("  round %d at %.2f ms: status %d, total line %s, signalled %s, output ends %r"
                  % (round_number, delay * 1000, status, "present" if has_total else "missing",
                     signalled, tail))
        return 1 if bad else 0


if __name__ == "__main__":
    raise SystemExit(main())
