#!/usr/bin/env python3
"""Benchmark of `kivo-publish stats` over a large statistics log; prints figures, asserts
nothing.

    python3 bench/stats_bench.py [--lines 10000000] [--keep LOG]

Writes a log of --lines lines as nginx writes them (kivo9-log.conf): per day, page requests
of a fleet on four builds (a first check of the day and a later one each) and package
requests, with one hostile line in a thousand. Then runs `kivo-publish stats` on it and
prints its wall-clock time and peak memory (the child's maximum resident set).
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "tools", "publish", "kivo-publish")

PAGE = ('{"time":"2026-11-%02dT08:%02d:00+00:00","addr":"10.0.%d.%d","method":"GET",'
        '"kind":"page","chan":"ver","name":"","hardid":"","times":"","v":"","from":"",'
        '"b":"%d","d":"%d","status":200,"bytes":1830}\n')
PACKAGE = ('{"time":"2026-11-%02dT09:%02d:00+00:00","addr":"10.0.%d.%d","method":"GET",'
           '"kind":"package","chan":"","name":"zh","hardid":"001A2B3C4D5E","times":"%d",'
           '"v":"1205","from":"%d","b":"","d":"","status":200,"bytes":73400320}\n')
HOSTILE = '{"time":"2026-11-01T00:00:00+00:00","times":"%s","status":200}\n' % ("9" * 400)


def write_log(path, lines):
    with open(path, "w") as f:
        written = 0
        while written < lines:
            n = written
            day = 1 + (n // 400000) % 30
            minute, a, b = n % 60, (n >> 8) % 256, n % 256
            if n % 1000 == 999:
                f.write(HOSTILE)
            elif n % 10 == 9:
                f.write(PACKAGE % (day, minute, a, b, n % 500, 1202 + n % 3))
            else:
                f.write(PAGE % (day, minute, a, b, 1202 + n % 4, n % 2))
            written += 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=10_000_000)
    parser.add_argument("--keep", metavar="LOG", help="write the log here and keep it")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        log = args.keep or os.path.join(folder, "stats.log")
        start = time.monotonic()
        write_log(log, args.lines)
        size = os.path.getsize(log)
        print("log: %d lines, %.0f MB, written in %.1f s" % (args.lines, size / 1e6,
                                                             time.monotonic() - start))
        start = time.monotonic()
        result = subprocess.run([sys.executable, TOOL, "stats", log], capture_output=True,
                                text=True)
        elapsed = time.monotonic() - start
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        print("kivo-publish stats: %.1f s (%.0f lines/s), peak memory %.0f MB, exit %d"
              % (elapsed, args.lines / elapsed, peak, result.returncode))
        print("its last lines: " + " | ".join(result.stdout.strip().splitlines()[-2:]))


if __name__ == "__main__":
    main()
