#!/usr/bin/env python3
"""Benchmark of the solid package against the zip package on a large real tree; prints
figures, asserts nothing.

    python3 bench/package_bench.py [--package libreoffice-core] [--version V] [--runs 3]

Its set-up fetches one build of a Debian package from Debian's archive (apt-get download;
default: the installed candidate of libreoffice-core, an office suite's core of about
120 MB) and unpacks its files as a build tree. The publish tool's own code makes both
packages of it; then, --runs times each in turn into a fresh destination, the Linux
extractor (build/linux/bin/extractor) unpacks the zip package (the anchor) and the solid
package, and the Windows extractor under Wine (build/windows-x64/bin/extractor.exe) does the
same when built. Figures: sizes as a ratio to the zip package, wall-clock medians with warm
file caches as a ratio to the zip package's, and each unpack's peak memory.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(REPO, "tools", "publish"))
from kivopublish import package, solid_package, tree_scan  # noqa: E402


def fetch_tree(name, version, work):
    """The files of Debian package name (at version, or the candidate) below work/tree."""
    wanted = "%s=%s" % (name, version) if version else name
    subprocess.run(["apt-get", "download", "-q", wanted], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    deb = [f for f in os.listdir(work) if f.endswith(".deb")][0]
    tree = os.path.join(work, "tree")
    subprocess.run(["dpkg-deb", "-x", os.path.join(work, deb), tree], check=True)
    # A build tree holds files only: links the package carries are left out.
    for root, dirs, files in os.walk(tree):
        for entry in dirs + files:
            path = os.path.join(root, entry)
            if os.path.islink(path):
                os.remove(path)
    with open(os.path.join(tree, "Kivo9.exe"), "wb") as f:
        f.write(b"MZ browser")
    return deb, tree


def timed(command, destination):
    """Seconds and peak memory (KiB) of one run of command."""
    shutil.rmtree(destination, ignore_errors=True)
    with tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            errors.seek(0)
            raise SystemExit("%s failed: %s" % (command, errors.read().decode()))
    return seconds, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--package", default="libreoffice-core")
    parser.add_argument("--version", default="")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="kivo-package-bench-")
    try:
        deb, tree = fetch_tree(args.package, args.version, work)
        files = tree_scan.scan(tree)
        zipped, solid = os.path.join(work, "package.zip"), os.path.join(work, "package.tzst")
        start = time.perf_counter()
        file_list, version_bytes = package.build(files, zipped, "1204", False, "zip")
        zip_seconds = time.perf_counter() - start
        start = time.perf_counter()
        solid_package.build(files, solid, file_list, version_bytes, "solid")
        solid_seconds = time.perf_counter() - start
        unpacked = sum(f.size for f in files)
        zip_size, solid_size = os.path.getsize(zipped), os.path.getsize(solid)
        print("tree: %s, %d files, %.1f MB" % (deb, len(files), unpacked / 1e6))
        print("zip package    %8.1f MB  1.00 (made in %.1f s)" % (zip_size / 1e6, zip_seconds))
        print("solid package  %8.1f MB  %.2f x the zip package (made in %.1f s)"
              % (solid_size / 1e6, solid_size / zip_size, solid_seconds))
        dest = os.path.join(work, "update.partial")
        linux = os.path.join(REPO, "build", "linux", "bin", "extractor")
        commands = {"zip, Linux": [linux, "x", "-o+", "-y", zipped, dest + "/"],
                    "solid, Linux": [linux, "x", "-o+", "-y", solid, dest + "/"]}
        windows = os.path.join(REPO, "build", "windows-x64", "bin", "extractor.exe")
        wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
        if os.path.exists(windows) and os.path.exists(wine):
            os.environ.setdefault("WINEDEBUG", "-all")
            for kind, path in (("zip", zipped), ("solid", solid)):
                commands[kind + ", Wine"] = [wine, windows, "x", "-o+", "-y",
                                             "Z:" + path.replace("/", "\\"),
                                             "Z:" + dest.replace("/", "\\") + "\\"]
        figures = {name: [] for name in commands}
        peaks = {name: 0 for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                seconds, peak = timed(command, dest)
                figures[name].append(seconds)
                peaks[name] = max(peaks[name], peak)
        for name, seconds in figures.items():
            anchor = statistics.median(figures["zip, " + name.split(", ")[1]])
            median = statistics.median(seconds)
            print("unpack %-13s median %6.2f s (min %6.2f, max %6.2f)  %.2f x zip; "
                  "peak memory %d MiB" % (
                      name, median, min(seconds), max(seconds), median / anchor,
                      peaks[name] // 1024))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
