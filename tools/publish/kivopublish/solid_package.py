"""Solid packages: the same tree as the zip package, as a tar stream in one zstd frame.

Smaller than the zip (one stream compresses across files) and read by the extractors of
agents that understand it; agents without keys and older agents keep getting the zip. The
bytes are deterministic: entries in the zip's order (the generated file list and version
file last), POSIX tar with pax headers only where a name needs one, time 0, owner 0, mode
0644 or 0755; zstd at level 19 on one thread with a window of at most 2^27 bytes (the
extractors refuse wider ones), with its content checksum.
"""

import hashlib
import io
import subprocess
import tarfile
import tempfile

from . import package, tree_scan
from .errors import PublishError
from .progress import Progress

WINDOW_LOG = 27
LEVEL = 19
MAX_TRAILER = 1 << 20  # zeros after the archive's end that the extractors read as padding


def _info(name, size, executable):
    info = tarfile.TarInfo(name)
    info.size, info.mtime, info.mode = size, 0, 0o755 if executable else 0o644
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    return info


def build(tree, target, file_list, version_bytes, label):
    """Writes the solid package of the scanned tree to the path target, with the file list
    and version file the zip package got. Raises OSError when a file cannot be read or
    written, PublishError when zstd fails."""
    files = [f for f in tree if f.name not in (package.FILE_LIST, package.VERSION_FILE)]
    progress = Progress(label, sum(f.size for f in files))
    # The tar stream lies outside the server tree: a kill leaves nothing there to serve.
    with tempfile.NamedTemporaryFile(prefix="kivo-publish-tar.", delete=True) as tar_file:
        with tarfile.open(fileobj=tar_file, mode="w", format=tarfile.PAX_FORMAT) as tar:
            for f in files:
                with open(f.path, "rb") as source:
                    tar.addfile(_info(f.name, f.size, f.executable), source)
                progress.advance(f.size)
            for name, data in ((package.FILE_LIST, file_list),
                               (package.VERSION_FILE, version_bytes)):
                tar.addfile(_info(name, len(data), False), io.BytesIO(data))
        tar_file.flush()
        done = subprocess.run(["zstd", "-q", "-f", "-%d" % LEVEL, "--single-thread",
                               "--long=%d" % WINDOW_LOG, "-o", target, tar_file.name],
                              stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    progress.finish()
    if done.returncode != 0:
        raise PublishError("zstd could not compress the solid package: %s"
                           % done.stderr.decode("utf-8", "replace").strip())


def check(path, expected_version, expected_list=None):
    """The faults of the solid package at path as a list of texts (empty when it is sound),
    by the rules of package.check: its entries against its file list, names, the version;
    with expected_list (bytes), its file list must be that one."""
    faults, found, generated = [], {}, {}
    decoder = subprocess.Popen(["zstd", "-q", "-d", "-c", "--long=%d" % WINDOW_LOG, path],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    try:
        with tarfile.open(fileobj=decoder.stdout, mode="r|") as tar:
            for info in tar:
                fault = _entry_fault(info)
                if fault:
                    faults.append(fault)
                    continue
                data, digest, size = tar.extractfile(info), hashlib.sha256(), 0
                for chunk in iter(lambda: data.read(package.CHUNK), b""):
                    digest.update(chunk)
                    size += len(chunk)
                    if info.name in (package.FILE_LIST, package.VERSION_FILE):
                        generated[info.name] = generated.get(info.name, b"") + chunk
                found[info.name] = (digest.hexdigest(), size)
        # Past the archive's end the frame holds the tar's padding to a whole record only.
        if decoder.stdout.read(MAX_TRAILER + 1).strip(b"\0"):
            faults.append("data follows the archive's end")
    except (tarfile.TarError, OSError, EOFError) as e:
        faults.append("not a readable tar stream: %s" % e)
    finally:
        decoder.stdout.close()
        error = decoder.stderr.read().decode("utf-8", "replace").strip()
        if decoder.wait() != 0:
            faults.append("not a readable zstd frame: %s" % error)
    if faults:
        return faults
    if package.FILE_LIST not in generated:
        return ["no %s" % package.FILE_LIST]
    if expected_list is not None and generated[package.FILE_LIST] != expected_list:
        faults.append("its file list differs from the zip package's")
    listed = package.parse_file_list(generated[package.FILE_LIST], faults)
    del found[package.FILE_LIST]
    for name, entry in sorted(found.items()):
        if name not in listed:
            faults.append("entry %s is not in the file list" % name)
        elif entry != listed[name]:
            faults.append("entry %s does not match its file list line" % name)
    faults += ["%s listed but not in the package" % n for n in listed if n not in found]
    if package.VERSION_FILE in listed:
        faults += package.check_version(generated.get(package.VERSION_FILE, b""),
                                        expected_version)
    return faults


def _entry_fault(info):
    if not info.isfile():
        return "entry %r is not a regular file" % info.name
    reason = tree_scan.check_name(info.name)
    return "entry %r: %s" % (info.name, reason) if reason else None
