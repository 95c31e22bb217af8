"""Packages: a deterministic zip of a build tree with its file list and version file.

The same tree gives the same bytes: entries in byte order of their names, one fixed time,
Unix mode bits 0644 or 0755, deflate at level 6, no extra fields. The tree's own
Resource/files.lst and Resource/version.ini are replaced by generated ones, which are the
last two entries: an extractor that writes entries in order then writes the marker file
Resource/version.ini only after the rest of the tree.
"""

import hashlib
import os
import zipfile

from . import tree_scan
from .errors import PublishError
from .progress import Progress

FILE_LIST, VERSION_FILE = "Resource/files.lst", "Resource/version.ini"
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
CHUNK = 1 << 20


def version_ini(original, version, combine_filter):
    """The version file text: original (bytes or None) with "update" in section Version set
    to version and "combineFilter" set to 1 when asked, removed otherwise. Other lines stay."""
    try:
        lines = original.decode("utf-8-sig").splitlines(keepends=True) if original else []
    except UnicodeDecodeError:
        raise PublishError("%s of the tree is not UTF-8 text" % VERSION_FILE) from None
    ours = ["update=%s\n" % version] + (["combineFilter=1\n"] if combine_filter else [])
    out, section, placed = [], None, False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("[") and "]" in stripped:
            section = stripped[1:stripped.index("]")].strip().lower()
            out.append(line if line.endswith("\n") else line + "\n")
            if section == "version" and not placed:
                out += ours
                placed = True
            continue
        key = stripped.partition("=")[0].strip().lower()
        if section == "version" and "=" in stripped and key in ("update", "combinefilter"):
            continue
        out.append(line)
    if not placed:
        out = ["[Version]\n"] + ours + out
    return "".join(out).encode("utf-8")


def file_list_line(sha256, size, name):
    return "%s %d %s\n" % (sha256, size, name)


def _entry(name, size, executable):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.create_system = 3
    info.external_attr = (0o100755 if executable else 0o100644) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    info.file_size = size
    return info


def build(tree, target, version, combine_filter, label):
    """Writes the package of the scanned tree (a list of tree_scan.TreeFile) to the path
    target; returns the bytes of the file list and the version file it generated. Raises
    OSError when a file cannot be read."""
    files = [f for f in tree if f.name not in (FILE_LIST, VERSION_FILE)]
    original = next((f for f in tree if f.name == VERSION_FILE), None)
    original_bytes = open(original.path, "rb").read() if original else None
    version_bytes = version_ini(original_bytes, version, combine_filter)
    listed = []
    progress = Progress(label, sum(f.size for f in files))
    with zipfile.ZipFile(target, "w", compresslevel=6) as archive:
        for f in files:
            digest = hashlib.sha256()
            with open(f.path, "rb") as source, \
                    archive.open(_entry(f.name, f.size, f.executable), "w") as sink:
                for chunk in iter(lambda: source.read(CHUNK), b""):
                    digest.update(chunk)
                    sink.write(chunk)
                    progress.advance(len(chunk))
            listed.append((f.name, file_list_line(digest.hexdigest(), f.size, f.name)))
        listed.append((VERSION_FILE, file_list_line(hashlib.sha256(version_bytes).hexdigest(),
                                                    len(version_bytes), VERSION_FILE)))
        listed.sort(key=lambda item: item[0].encode("utf-8"))
        file_list = "".join(line for _, line in listed).encode("utf-8")
        archive.writestr(_entry(FILE_LIST, len(file_list), False), file_list)
        archive.writestr(_entry(VERSION_FILE, len(version_bytes), False), version_bytes)
    progress.finish()
    return file_list, version_bytes


def sha256_of(path, label=None):
    """(size, sha256 hex) of the file at path; with a label, progress on a terminal."""
    digest, size = hashlib.sha256(), 0
    progress = Progress(label, os.path.getsize(path)) if label else None
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(CHUNK), b""):
            digest.update(chunk)
            size += len(chunk)
            if progress:
                progress.advance(len(chunk))
    if progress:
        progress.finish()
    return size, digest.hexdigest()


def check(path, expected_version):
    """The faults of the package at path as a list of texts (empty when it is sound): its
    entries against its file list, names the Windows builds cannot create, the version."""
    faults = []
    try:
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
            names = [i.filename for i in infos]
            if FILE_LIST not in names:
                return ["no %s" % FILE_LIST]
            listed = parse_file_list(archive.read(FILE_LIST), faults)
            for info in infos:
                faults += _check_entry(archive, info, listed)
            faults += ["%s listed but not in the package" % n for n in listed if n not in names]
            if VERSION_FILE in names and VERSION_FILE in listed:
                faults += check_version(archive.read(VERSION_FILE), expected_version)
    except (zipfile.BadZipFile, OSError, EOFError) as e:
        faults.append("not a readable zip archive: %s" % e)
    return faults


def _check_entry(archive, info, listed):
    if info.filename == FILE_LIST or info.is_dir():
        return []
    reason = tree_scan.check_name(info.filename)
    if reason:
        return ["entry %r: %s" % (info.filename, reason)]
    if info.filename not in listed:
        return ["entry %s is not in the file list" % info.filename]
    digest, size = hashlib.sha256(), 0
    try:
        with archive.open(info) as entry:
            for chunk in iter(lambda: entry.read(CHUNK), b""):
                digest.update(chunk)
                size += len(chunk)
    except (zipfile.BadZipFile, OSError, EOFError, ValueError) as e:
        return ["entry %s cannot be read: %s" % (info.filename, e)]
    if (digest.hexdigest(), size) != listed[info.filename]:
        return ["entry %s does not match its file list line" % info.filename]
    return []


def check_version(data, expected):
    text = data.decode("utf-8", "replace")
    section, value = None, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and "]" in line:
            section = line[1:line.index("]")].strip().lower()
        elif section == "version" and line.partition("=")[0].strip().lower() == "update":
            value = line.partition("=")[2].strip()
    return [] if value == expected else ["%s says update=%s, the page %s" % (VERSION_FILE, value,
                                                                             expected)]


def parse_file_list(data, faults):
    """{name: (sha256, size)} of a file list; malformed lines are added to faults."""
    listed = {}
    for number, line in enumerate(data.decode("utf-8", "replace").split("\n")[:-1], 1):
        parts = line.split(" ", 2)
        if len(parts) != 3 or len(parts[0]) != 64 or not parts[1].isdigit():
            faults.append("%s line %d is malformed" % (FILE_LIST, number))
            continue
        listed[parts[2]] = (parts[0], int(parts[1]))
    return listed
