"""Delta packages: the tree of a release made from the tree of a release before it.

A delta package is a solid package (solid_package.py) whose first entry, ".kivo-delta", lists
every file of the new tree, in the order the entries after it follow:

    kivo-delta 1
    same x <size> <sha256> <path>                          the installed file, unchanged
    patch - <size> <sha256> <old size> <old sha256> <path>  the next entry: a zstd frame made
                                                           with the old file as its prefix
    bsdiff - <size> <sha256> <old size> <old sha256> <path> the next entry: a bsdiff patch
                                                           with its blocks interleaved
    whole - <size> <sha256> <path>                         the next entry: the file itself

(x: executable, -: not; sizes and hashes are the new file's). A changed file gets both
patches where both files are at most MAX_PATCHED bytes (the extractors hold them in memory
while they patch), and the smallest of the zstd patch, the bsdiff patch compressed and the
file compressed alone is kept. The bsdiff patch is bsdiff 4's (Debian's bsdiff) with its
three blocks unpacked and interleaved, each control triple followed by its diff and extra
bytes, after the magic "KBSDIFF1" (x and y as u64, z as i64, little-endian), so that an
extractor applies it as it streams; the package's frame compresses it. The extractor makes
the tree from the installation's own files and checks every old file before use and every
new one after; the publish tool applies each delta it makes before it is signed (check).
"""

import bz2
import hashlib
import io
import os
import struct
import subprocess
import tarfile
import tempfile
import zipfile

from . import package, solid_package
from .errors import PublishError
from .progress import Progress

LIST_NAME = ".kivo-delta"
BSDIFF_MAGIC = b"KBSDIFF1"
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


def _offtin(raw):
    """bsdiff's sign-magnitude 64-bit number."""
    value = int.from_bytes(raw[:7] + bytes([raw[7] & 0x7F]), "little")
    return -value if raw[7] & 0x80 else value


def _offtout(value):
    raw = bytearray(abs(value).to_bytes(8, "little"))
    if value < 0:
        raw[7] |= 0x80
    return bytes(raw)


def _bsdiff(old_path, new_path, scratch):
    """The interleaved bsdiff patch making new_path from old_path."""
    out = os.path.join(scratch, "patch.bsdiff")
    done = subprocess.run(["bsdiff", old_path, new_path, out], capture_output=True, check=False)
    if done.returncode != 0:
        raise PublishError("bsdiff failed: %s" % done.stderr.decode("utf-8", "replace").strip())
    with open(out, "rb") as f:
        patch = f.read()
    if patch[:8] != b"BSDIFF40":
        raise PublishError("bsdiff wrote no BSDIFF40 patch")
    control_size, diff_size = _offtin(patch[8:16]), _offtin(patch[16:24])
    control = bz2.decompress(patch[32:32 + control_size])
    diff = bz2.decompress(patch[32 + control_size:32 + control_size + diff_size])
    extra = bz2.decompress(patch[32 + control_size + diff_size:])
    parts, at_diff, at_extra = [BSDIFF_MAGIC], 0, 0
    for at in range(0, len(control), 24):
        x, y, z = (_offtin(control[at + i:at + i + 8]) for i in (0, 8, 16))
        parts += [struct.pack("<QQq", x, y, z), diff[at_diff:at_diff + x],
                  extra[at_extra:at_extra + y]]
        at_diff, at_extra = at_diff + x, at_extra + y
    return b"".join(parts)


def _unbsdiff(patch, new_size):
    """The BSDIFF40 patch of an interleaved one, for bspatch."""
    if patch[:8] != BSDIFF_MAGIC:
        raise ValueError("no bsdiff patch")
    control, diff, extra, at = [], [], [], 8
    while at < len(patch):
        x, y, z = struct.unpack_from("<QQq", patch, at)
        control += [_offtout(x), _offtout(y), _offtout(z)]
        diff.append(patch[at + 24:at + 24 + x])
        extra.append(patch[at + 24 + x:at + 24 + x + y])
        at += 24 + x + y
    blocks = [bz2.compress(b"".join(part)) for part in (control, diff, extra)]
    return (b"BSDIFF40" + _offtout(len(blocks[0])) + _offtout(len(blocks[1])) +
            _offtout(new_size) + b"".join(blocks))


def _smallest_patch(old_path, f, data, scratch):
    """(kind, entry bytes) of the smallest way to send the changed file f (data): "patch",
    "bsdiff" or "whole"."""
    whole = len(_zstd(["-19", "--single-thread", "-c"], data))
    patch = _patch(old_path, f.path)
    bsdiff = _bsdiff(old_path, f.path, scratch)
    packed = len(_zstd(["-19", "--single-thread", "--long=27", "-c"], bsdiff))
    return min((len(patch), "patch", patch), (packed, "bsdiff", bsdiff),
               (whole, "whole", data))[1:]


def _bspatch(old_path, patch, scratch):
    """The file bspatch makes of the old file and a BSDIFF40 patch."""
    patch_path, new_path = os.path.join(scratch, "check.bsdiff"), os.path.join(scratch, "new")
    with open(patch_path, "wb") as f:
        f.write(patch)
    done = subprocess.run(["bspatch", old_path, new_path, patch_path], capture_output=True,
                          check=False)
    if done.returncode != 0:
        raise ValueError("bspatch refuses it: %s" % done.stderr.decode("utf-8", "replace"))
    with open(new_path, "rb") as f:
        return f.read()


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
            kind, entry = _smallest_patch(old_path, f, data, scratch)
            if kind == "whole":
                lines.append("whole %s %d %s %s" % (flag, len(data), digest, f.name))
            else:
                lines.append("%s %s %d %s %d %s %s" % (kind, flag, len(data), digest, before[1],
                                                       before[0], f.name))
            entries.append((f.name, entry))
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
            if kind in ("patch", "bsdiff"):
                old_size, old_digest, rest = rest.split(" ", 2)
            entry = next(entries)
            if entry.name != rest:
                raise ValueError("entry %s is not the list's next" % entry.name)
            data = tar.extractfile(entry).read()
            if kind in ("patch", "bsdiff"):
                old_path = os.path.join(scratch, "old")
                old_data = old.read(rest)
                with open(old_path, "wb") as out:
                    out.write(old_data)
                if hashlib.sha256(old_data).hexdigest() != old_digest:
                    raise ValueError("the old %s is not the one patched" % rest)
            if kind == "patch":
                data = _zstd(["-d", "--long=%d" % PATCH_WINDOW_LOG, "--patch-from=" + old_path,
                              "-c"], data)
            elif kind == "bsdiff":
                data = _bspatch(old_path, _unbsdiff(data, int(size)), scratch)
        if (hashlib.sha256(data).hexdigest(), len(data)) != (digest, int(size)):
            raise ValueError("%s is not the file its line says" % rest)
        made[rest] = (digest, len(data))
    if next(entries, None) is not None:
        raise ValueError("entries follow the list's last")
    return made
