#!/usr/bin/env python3
"""Benchmark of the extractor on a package the publish tool makes; prints figures, asserts
nothing.

    python3 bench/unpack_bench.py [--files 2000] [--mb 128] [--runs 5]

A build tree of --files files and --mb MiB in all (half of each file random bytes, half
repeated text) is packed by the publish tool's own package code. Then, --runs times each in
turn into a fresh destination: the Linux extractor (build/linux/bin/extractor, our zip reader
over zlib), libarchive alone (build/linux/bin/libarchive_unpack, how zip was unpacked
before), and the Windows extractor under Wine (build/windows-x64/bin/extractor.exe, when
built). Wall-clock medians with warm file caches.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(REPO, "tools", "publish"))
from kivopublish import package, tree_scan  # noqa: E402


def make_tree(root, files, total):
    rng = random.Random(1204)
    size = total // files
    text = b"the quick brown fox jumps over the lazy browser update " * (size // 50 + 1)
    for i in range(files):
        path = os.path.join(root, "lib", "d%02d" % (i % 40), "f%04d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(size // 2) + text[:size - size // 2])
    with open(os.path.join(root, "Kivo9.exe"), "wb") as f:
        f.write(b"MZ browser")


def timed(command, destination):
    shutil.rmtree(destination, ignore_errors=True)
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        raise SystemExit("%s failed: %s" % (command[0], result.stderr.decode()))
    return seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--mb", type=int, default=128)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="kivo-unpack-bench-")
    try:
        tree = os.path.join(work, "tree")
        make_tree(tree, args.files, args.mb << 20)
        archive = os.path.join(work, "package.zip")
        package.build(tree_scan.scan(tree), archive, "1204", False, "packing")
        dest = os.path.join(work, "update.partial")
        linux = os.path.join(REPO, "build", "linux", "bin")
        commands = {
            "extractor (zlib)": [os.path.join(linux, "extractor"), "x", "-o+", "-y", archive,
                                 dest + "/"],
            "libarchive": [os.path.join(linux, "libarchive_unpack"), archive, dest + "/"],
        }
        windows = os.path.join(REPO, "build", "windows-x64", "bin", "extractor.exe")
        wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
        if os.path.exists(windows) and os.path.exists(wine):
            commands["extractor.exe, Wine"] = [wine, windows, "x", "-o+", "-y",
                                               "Z:" + archive.replace("/", "\\"),
                                               "Z:" + dest.replace("/", "\\") + "\\"]
        os.environ.setdefault("WINEDEBUG", "-all")
        print("package: %d files, %.1f MiB unpacked, %.1f MiB packed; %d runs each" % (
            args.files + 3, args.mb, os.path.getsize(archive) / 2**20, args.runs))
        times = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                times[name].append(timed(command, dest))
        anchor = statistics.median(times["libarchive"])
        for name, seconds in times.items():
            median = statistics.median(seconds)
            print("%-22s median %6.3f s  (min %6.3f, max %6.3f)  %.2f x libarchive" % (
                name, median, min(seconds), max(seconds), median / anchor))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
