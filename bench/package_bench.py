#!/usr/bin/env python3
"""Benchmark of the solid package against the zip package, and of the delta package from the
build before, on a large real tree; prints figures, asserts nothing.

    python3 bench/package_bench.py [--package libreoffice-core] [--version V]
                                   [--from-version V] [--runs 3]

Its set-up fetches one build of a Debian package from Debian's archive (apt-get download;
default: the installed candidate of libreoffice-core, an office suite's core of about
120 MB) and unpacks its files as a build tree. The publish tool's own code makes both
packages of it; then, --runs times each in turn into a fresh destination, the Linux
extractor (build/linux/bin/extractor) unpacks the zip package (the anchor) and the solid
package, and the Windows extractor under Wine (build/windows-x64/bin/extractor.exe) does the
same when built. With --from-version (a build of the same package before --version, such as
the security update before it), the old build's files are installed as an installation's
tree with the extractor in its Resource/, and the publish tool's code makes the delta package
from the old build's zip package to the new tree; each extractor then also applies the delta
against that installation. Figures: sizes as a ratio to the zip package (the delta's to the
solid package too), wall-clock medians with warm file caches as a ratio to the zip
package's unpack (the delta's to the solid package's too), and each run's peak memory
(GNU time's: apt-get install time).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(REPO, "tools", "publish"))
from kivopublish import delta_package, package, solid_package, tree_scan  # noqa: E402


def fetch_tree(name, version, work, folder="tree"):
    """The files of Debian package name (at version, or the candidate) below work/folder."""
    wanted = "%s=%s" % (name, version) if version else name
    debs = os.path.join(work, folder + ".deb.d")
    os.makedirs(debs)
    subprocess.run(["apt-get", "download", "-q", wanted], cwd=debs, check=True,
                   stdout=subprocess.DEVNULL)
    deb = os.path.join(debs, os.listdir(debs)[0])
    tree = os.path.join(work, folder)
    subprocess.run(["dpkg-deb", "-x", deb, tree], check=True)
    # A build tree holds files only: links the package carries are left out.
    for root, dirs, files in os.walk(tree):
        for entry in dirs + files:
            path = os.path.join(root, entry)
            if os.path.islink(path):
                os.remove(path)
    with open(os.path.join(tree, "Kivo9.exe"), "wb") as f:
        f.write(b"MZ browser")
    return os.path.basename(deb), tree


def timed(command, destination):
    """Seconds and peak memory (KiB) of one run of command. The memory is GNU time's figure:
    a child of this process would count the pages it shared with it before its exec."""
    shutil.rmtree(destination, ignore_errors=True)
    with tempfile.NamedTemporaryFile() as peak, tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name] + command,
                              stdout=subprocess.DEVNULL, stderr=errors, check=False)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            errors.seek(0)
            raise SystemExit("%s failed: %s" % (command, errors.read().decode()))
        return seconds, int(peak.read().split()[-1])


def extractor_commands(work):
    """{build: (extractor, command prefix)} for the builds that are there: the extractor is
    run by the prefix plus its path as it installs it (Resource/ of an installation)."""
    builds = {"Linux": (os.path.join(REPO, "build", "linux", "bin", "extractor"), [])}
    windows = os.path.join(REPO, "build", "windows-x64", "bin", "extractor.exe")
    wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
    if os.path.exists(windows) and os.path.exists(wine):
        os.environ.setdefault("WINEDEBUG", "-all")
        builds["Wine"] = (windows, [wine])
    return builds


def native(build, path):
    return "Z:" + path.replace("/", "\\") if build == "Wine" else path


def make_delta(args, work, zipped, files, file_list, version_bytes):
    """The installation of the old build (with each build's extractor in its Resource/) and
    the delta package to the new tree; prints the old tree and the delta's making."""
    old_deb, old_tree = fetch_tree(args.package, args.from_version, work, "old-tree")
    old_zip = os.path.join(work, "old.zip")
    package.build(tree_scan.scan(old_tree), old_zip, "1203", False, "old zip")
    installed = os.path.join(work, "installed")
    with zipfile.ZipFile(old_zip) as archive:
        archive.extractall(installed)
    delta = os.path.join(work, "package.delta")
    start = time.perf_counter()
    delta_package.build(files, delta, file_list, version_bytes, old_zip, "delta")
    print("old tree: %s" % old_deb)
    return installed, delta, time.perf_counter() - start


def run_all(commands, runs, dest):
    """{name: ([seconds], peak KiB)} of runs rounds of every command in turn."""
    figures = {name: ([], 0) for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            seconds, peak = timed(command, dest)
            figures[name][0].append(seconds)
            figures[name] = (figures[name][0], max(figures[name][1], peak))
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--package", default="libreoffice-core")
    parser.add_argument("--version", default="")
    parser.add_argument("--from-version", default="")
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
        installed = delta = None
        if args.from_version:
            installed, delta, delta_seconds = make_delta(args, work, zipped, files, file_list,
                                                         version_bytes)
            delta_size = os.path.getsize(delta)
            print("delta package  %8.3f MB  %.3f x the zip package, %.3f x the solid package "
                  "(made in %.1f s)" % (delta_size / 1e6, delta_size / zip_size,
                                        delta_size / solid_size, delta_seconds))
        dest = os.path.join(work, "update.partial")
        commands = {}
        for build, (extractor, prefix) in extractor_commands(work).items():
            if installed:
                # The installation's own extractor: a delta is made from the tree it is in.
                name = "UnPack.exe" if build == "Wine" else "UnPack"
                shutil.copy(extractor, os.path.join(installed, "Resource", name))
                extractor = os.path.join(installed, "Resource", name)
            run = prefix + [native(build, extractor), "x", "-o+", "-y"]
            target = native(build, dest) + ("\\" if build == "Wine" else "/")
            commands["zip, " + build] = run + [native(build, zipped), target]
            commands["solid, " + build] = run + [native(build, solid), target]
            if delta:
                commands["delta, " + build] = run + [native(build, delta), target]
        figures = run_all(commands, args.runs, dest)
        for name, (seconds, peak) in figures.items():
            build = name.split(", ")[1]
            median = statistics.median(seconds)
            ratios = "%.2f x zip" % (median / statistics.median(figures["zip, " + build][0]))
            if name.startswith("delta"):
                ratios += ", %.2f x solid" % (median /
                                              statistics.median(figures["solid, " + build][0]))
            print("unpack %-13s median %6.2f s (min %6.2f, max %6.2f)  %s; peak memory %d MiB"
                  % (name, median, min(seconds), max(seconds), ratios, peak // 1024))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
