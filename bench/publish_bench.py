#!/usr/bin/env python3
"""Benchmark of publishing and serving a release; prints figures, asserts nothing.

    python3 bench/publish_bench.py [--tree-mb 200] [--files N] [--requests 5000] [--concurrency 4]

1. Three build trees of --tree-mb MB each (files from 4 KB to 16 MB, half of each file
   random bytes and half repeated text, so that deflate has about as much to do as with
   programs) are published with `kivo-publish release`, and the same trees are packed with
   `zip -r -X -q` one after the other. Both times are wall-clock time with warm file caches.
2. nginx (deploy/nginx/serve) answers the statistics URL of a 64 KB package --requests
   times, --concurrency at once, measured with ab (apache2-utils) on loopback; the JSON
   statistics log is counted afterwards.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import release_fixture as rf  # noqa: E402

NAMES = ("zhcn", "zh", "-")


def make_tree(folder, total_bytes, seed, files=None):
    rng = random.Random(seed)
    text = b"Kivo9 build 1204: the quick brown fox jumps over the lazy dog.\n" * 64
    written, index = 0, 0
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Kivo9.exe"), "wb") as f:  # the launcher requires it
        f.write(rng.randbytes(4096))
    while written < total_bytes:
        mix = int(rng.choices((4e3, 6e4, 4e5, 2e6, 1.6e7), (40, 30, 20, 8, 2))[0])
        size = min(total_bytes // files if files else mix, total_bytes - written)
        path = os.path.join(folder, "dir%02d" % (index % 23), "file%04d.bin" % index)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        half = size // 2
        with open(path, "wb") as f:
            f.write(rng.randbytes(half))
            f.write((text * (half // len(text) + 1))[:size - half])
        written, index = written + size, index + 1
    return index


def timed(command, cwd=None):
    start = time.monotonic()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def bench_release(work, release, tree_mb, files):
    trees = {}
    for i, name in enumerate(NAMES):
        trees[name] = os.path.join(work, "tree%d" % i)
        count = make_tree(trees[name], tree_mb * 1000 * 1000, seed=i, files=files)
    print("trees: 3 x %d MB, about %d files each" % (tree_mb, count))
    for folder in trees.values():  # warm the file cache for both contenders
        subprocess.run("find . -type f -exec cat {} + >/dev/null", shell=True, cwd=folder)
    args = [sys.executable, rf.TOOL, "release", "--out", release.server_dir, "--version", "1204",
            "--key", release.key]
    for name, folder in trees.items():
        args += ["--tree", "%s=%s" % (name, folder)]
    publish = timed(args)
    zipped = 0.0
    for i, folder in enumerate(trees.values()):
        zipped += timed(["zip", "-r", "-X", "-q", os.path.join(work, "z%d.zip" % i), "."],
                        cwd=folder)
    packages = os.path.join(release.server_dir, "d", "1204")
    size = sum(os.path.getsize(os.path.join(packages, f)) for f in os.listdir(packages))
    zsize = sum(os.path.getsize(os.path.join(work, "z%d.zip" % i)) for i in range(3))
    print("kivo-publish release (3 trees):  %6.2f s   packages %d MB" % (publish, size // 10**6))
    print("zip -r -X, one tree after another: %6.2f s   archives %d MB" % (zipped, zsize // 10**6))
    print("ratio release / zip:             %6.2f" % (publish / zipped))


def bench_statistics(work, requests, concurrency):
    with rf.ReleaseServer() as release:
        tree = os.path.join(work, "small")
        os.makedirs(tree)
        with open(os.path.join(tree, "Kivo9.exe"), "wb") as f:
            f.write(random.Random(9).randbytes(64 * 1024))
        release.publish("1204", {"enus": tree})
        release.tool("promote")
        release.start()
        url = "http://127.0.0.1:%d/tg/kivopatch/enus/?hardid=001A2B3C4D5E&times=5" % release.port
        out = subprocess.run(["ab", "-q", "-n", str(requests), "-c", str(concurrency), url],
                             capture_output=True, text=True, check=True).stdout
        release.stop()
        logged = len(release.stats_records())
    figures = {key: re.search(r"^%s:\s+(.*)$" % key, out, re.M).group(1).strip()
               for key in ("Complete requests", "Failed requests", "Requests per second",
                           "Time per request", "Transfer rate")}
    print("ab -n %d -c %d on the statistics URL (64 KB package):" % (requests, concurrency))
    for key, value in figures.items():
        print("  %-20s %s" % (key + ":", value))
    print("  %-20s %d" % ("JSON log lines:", logged))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tree-mb", type=int, default=200)
    parser.add_argument("--files", type=int, help="files per tree, all of one size "
                        "(default: sizes from 4 KB to 16 MB)")
    parser.add_argument("--requests", type=int, default=5000)
    parser.add_argument("--concurrency", type=int, default=4)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="kivo-publish-bench-") as work, \
            rf.ReleaseServer() as release:
        bench_release(work, release, options.tree_mb, options.files)
    with tempfile.TemporaryDirectory(prefix="kivo-publish-bench-") as work:
        bench_statistics(work, options.requests, options.concurrency)


if __name__ == "__main__":
    main()
