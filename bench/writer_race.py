#!/usr/bin/env python3
"""Races tagsnip-cli against programs writing to the files it strips, and counts lost writes.

Every file of a folder gets a writer that appends numbered 4 KiB records every 10 ms, as a
download or a recorder would; one `-t1 -t2` run starts in the middle of it. Afterwards every
record a writer wrote must be in the file its path names. Two kinds of writer:
  held    opens the file once and keeps it open (a download in progress)
  reopen  opens, appends and closes for every record (a logger), so that its opens fall into
          every moment of the run's work, the cut in place included
Prints, per kind and per tagsnip-cli given, the records written and lost and the run's exit
status and messages; several --cli are run side by side, round by round.

    bench/writer_race.py --cli build/src/cli/tagsnip-cli --cli /old/tagsnip-cli --rounds 5
"""
import argparse
import multiprocessing
import os
import re
import shutil
import subprocess
import tempfile
import time

RECORD = 4096
TAGGED_AUDIO = 64 * 1024


def record(writer, number):
    head = b"REC %04d %08d\n" % (writer, number)
    return head + b"." * (RECORD - len(head) - 1) + b"\n"


def tagged_file(path, trailer_only):
    tag = b"" if trailer_only else b"ID3\x03\x00\x00\x00\x00\x20\x00" + b"\0" * 4096
    with open(path, "wb") as out:
        out.write(tag + os.urandom(TAGGED_AUDIO) + b"TAG" + b"\0" * 125)


def write_records(path, writer, kind, stop, written):
    number = 0
    held = open(path, "ab", buffering=0) if kind == "held" else None
    while not stop.is_set():
        if held:
            held.write(record(writer, number))
        else:
            with open(path, "ab", buffering=0) as out:
                out.write(record(writer, number))
        number += 1
        time.sleep(0.01)
    if held:
        held.close()
    written.value = number


def one_round(cli, kind, files):
    folder = tempfile.mkdtemp(prefix="writer-race-")
    try:
        paths = [os.path.join(folder, "%02d.mp3" % i) for i in range(files)]
        for i, path in enumerate(paths):
            tagged_file(path, trailer_only=i % 2 == 0)
        stop = multiprocessing.Event()
        counts = [multiprocessing.Value("l", 0) for _ in paths]
        writers = [
            multiprocessing.Process(target=write_records, args=(path, i, kind, stop, counts[i]))
            for i, path in enumerate(paths)
        ]
        for writer in writers:
            writer.start()
        time.sleep(0.2)
        run = subprocess.run([cli, "-t1", "-t2", folder], capture_output=True, text=True)
        time.sleep(0.2)
        stop.set()
        for writer in writers:
            writer.join()
        written = sum(count.value for count in counts)
        found = 0
        for i, path in enumerate(paths):
            with open(path, "rb") as data:
                numbers = set(re.findall(rb"REC %04d (\d{8})\n" % i, data.read()))
            found += len(numbers)
        messages = [line.split(" - ", 1)[-1] for line in run.stderr.splitlines() if line]
        return written, written - found, run.returncode, messages
    finally:
        shutil.rmtree(folder)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", action="append", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--files", type=int, default=20)
    parser.add_argument("--kinds", default="held,reopen")
    args = parser.parse_args()
    print("| writer | tagsnip-cli | rounds | records written | records lost | exit statuses | messages |")
    print("|---|---|---|---|---|---|---|")
    for kind in args.kinds.split(","):
        totals = {cli: [0, 0, [], {}] for cli in args.cli}
        for _ in range(args.rounds):
            for cli in args.cli:
                written, lost, status, messages = one_round(cli, kind, args.files)
                total = totals[cli]
                total[0] += written
                total[1] += lost
                total[2].append(status)
                for message in messages:
                    total[3][message] = total[3].get(message, 0) + 1
        for cli, (written, lost, statuses, messages) in totals.items():
            said = ", ".join("%d× %s" % (n, m) for m, n in sorted(messages.items())) or "none"
            print("| %s | %s | %d | %d | %d | %s | %s |" % (
                kind, cli, args.rounds, written, lost, " ".join(map(str, statuses)), said))


if __name__ == "__main__":
    main()
