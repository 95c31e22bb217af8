"""Delta packages: the tree of a release made from the tree of a release before it.

A delta package is a solid package (solid_package.py) whose first entry, ".kivo-delta", lists
every file of the new tree, in the order the entries after it follow:

    kivo-delta 1
    same x <size> <sha256> <path>                          the installed file, unchanged
    patch - <size> <sha256> <old size> <old sha256> <path>  the next entry: a zstd frame made
                                                           with the old file as its prefix
    whole - <size> <sha256> <path>                         the next entry: the file itself

(x: executable, -: not; sizes and hashes are the new file's). A patch is kept only where it
is smaller than the file compressed alone, and made only where both files are at most
MAX_PATCHED bytes, which the extractors hold in memory while they patch. The extractor makes
the tree from the installation's own files and checks every old file before use and every
new one after; the publish tool applies each delta it makes before it is signed (check).
"""

import hashlib
import io
import os
import subprocess
import tarfile
import tempfile
import zipfile

from . import package, solid_package
from .errors import PublishError
from .progress import Progress

LIST_NAME = ".kivo-delta"
MAX_PATCHED = 128 << 20
PATCH_WINDOW_LOG = 28  # the extractors refuse patches that ask for a wider window
MAX_SHARE = 0.5  # of the full package: a larger delta is not offered


def _zstd(args, data=None):
    done = subprocess.run(["zstd", "-q"] + args, input=data, capture_output=True, check=False)
    if done.returncode != 0:
        raise PublishError("zstd failed: %s" % done.stderr.decode("utf-8", "replace").strip())
    return done.stdout


def _patch(old_path, new_path):
    """The zstd patch making new_path from old_path."""
    return _zstd(["-19", "--single-thread", "--patch-from=" + old_path, "-c", new_path])


def _plan(files, old, old_listed, scratch, progress):
    """The list lines and the entries [(path, bytes)] for the scanned files against the old
    zip package (an open ZipFile) and its file list."""
    lines, entries = [], []
    for f in files:
        with open(f.path, "rb") as source:
            data = source.read()
        digest = hashlib.sha256(data).hexdigest()
        flag = "x" if f.executable else "-"
        before = old_listed.get(f.name)
        if before == (digest, len(data)):
            lines.append("same %s %d %s %s" % (flag, len(data), digest, f.name))
        elif before and before[1] <= MAX_PATCHED and len(data) <= MAX_PATCHED:
            old_path = os.path.join(scratch, "old")
            with open(old_path, "wb") as out:
                out.write(old.read(f.name))
            patch = _patch(old_path, f.path)
            if len(patch) < len(_zstd(["-19", "--single-thread", "-c"], data)):
                lines.append("patch %s %d %s %d %s %s" % (flag, len(data), digest, before[1],
                                                          before[0], f.name))
                entries.append((f.name, patch))
            else:
                lines.append("whole %s %d %s %s" % (flag, len(data), digest, f.name))
                entries.append((f.name, data))
        else:
            lines.append("whole %s %d %s %s" % (flag, len(data), digest, f.name))
            entries.append((f.name, data))
        progress.advance(f.size)
    return lines, entries


def build(files, target, file_list, version_bytes, old_package, label):
    """Writes to target the delta package that makes the scanned tree (with the generated
    file list and version file) from the tree of the zip package old_package. Raises OSError
    when a file cannot be read or written, PublishError when zstd fails or the old package
    has no file list."""
    ours = [f for f in files if f.name not in (package.FILE_LIST, package.VERSION_FILE)]
    progress = Progress(label, sum(f.size for f in ours))
    with zipfile.ZipFile(old_package) as old, tempfile.TemporaryDirectory(
            prefix="kivo-publish-delta.") as scratch:
        faults = []
        try:
            old_listed = package.parse_file_list(old.read(package.FILE_LIST), faults)
        except KeyError:
            raise PublishError("%s has no file list" % old_package) from None
        if faults:
            raise PublishError("%s: %s" % (old_package, "; ".join(faults)))
        lines, entries = _plan(ours, old, old_listed, scratch, progress)
        for name, data in ((package.FILE_LIST, file_list), (package.VERSION_FILE, version_bytes)):
            lines.append("whole - %d %s %s" % (len(data), hashlib.sha256(data).hexdigest(), name))
            entries.append((name, data))
        listing = ("kivo-delta 1\n" + "".join(line + "\n" for line in lines)).encode("utf-8")
        tar_path = os.path.join(scratch, "delta.tar")
        with tarfile.open(tar_path, mode="w", format=tarfile.PAX_FORMAT) as tar:
            for name, data in [(LIST_NAME, listing)] + entries:
                tar.addfile(solid_package._info(name, len(data), False), io.BytesIO(data))
        _zstd(["-f", "-%d" % solid_package.LEVEL, "--single-thread",
               "--long=%d" % solid_package.WINDOW_LOG, "-o", target, tar_path])
    progress.finish()


def check(path, old_package, expected_list):
    """Applies the delta package at path to the tree of the zip package old_package as an
    extractor would; returns its faults as texts (empty when it makes exactly the tree of
    the file list expected_list, bytes)."""
    try:
        tar_bytes = _zstd(["-d", "-c", "--long=%d" % solid_package.WINDOW_LOG, path])
        with tarfile.open(fileobj=io.BytesIO(tar_bytes), mode="r:") as tar, \
                zipfile.ZipFile(old_package) as old, \
                tempfile.TemporaryDirectory(prefix="kivo-publish-delta.") as scratch:
            members = tar.getmembers()
            if not members or members[0].name != LIST_NAME:
                return ["no delta list at its head"]
            listing = tar.extractfile(members[0]).read().decode("utf-8").split("\n")
            made = _apply(listing, members[1:], tar, old, scratch)
    except (PublishError, tarfile.TarError, zipfile.BadZipFile, OSError, KeyError,
            UnicodeDecodeError, ValueError) as e:
        return ["the delta does not apply: %s" % e]
    faults = []
    listed = package.parse_file_list(expected_list, faults)
    if made.get(package.FILE_LIST) != (hashlib.sha256(expected_list).hexdigest(),
                                       len(expected_list)):
        faults.append("it makes another file list")
    del made[package.FILE_LIST]
    if made != listed:
        faults.append("it makes another tree than its file list")
    return faults


def _apply(listing, members, tar, old, scratch):
    """{path: (sha256, size)} of the files the list's lines make."""
    if listing[0] != "kivo-delta 1" or listing[-1] != "":
        raise ValueError("malformed delta list")
    made, entries = {}, iter(members)
    for line in listing[1:-1]:
        kind, _, size, digest, rest = line.split(" ", 4)
        if kind == "same":
            data = old.read(rest)
        else:
            if kind == "patch":
                old_size, old_digest, rest = rest.split(" ", 2)
            entry = next(entries)
            if entry.name != rest:
                raise ValueError("entry %s is not the list's next" % entry.name)
            data = tar.extractfile(entry).read()
            if kind == "patch":
                old_path = os.path.join(scratch, "old")
                with open(old_path, "wb") as out:
                    out.write(old.read(rest))
                if hashlib.sha256(old.read(rest)).hexdigest() != old_digest:
                    raise ValueError("the old %s is not the one patched" % rest)
                data = _zstd(["-d", "--long=%d" % PATCH_WINDOW_LOG, "--patch-from=" + old_path,
                              "-c"], data)
        if (hashlib.sha256(data).hexdigest(), len(data)) != (digest, int(size)):
            raise ValueError("%s is not the file its line says" % rest)
        made[rest] = (digest, len(data))
    if next(entries, None) is not None:
        raise ValueError("entries follow the list's last")
    return made
