"""verify: every page's signed block, every package against its pkg line and its file list.

Between release and promote the normal pages describe the previous release while d/ serves
the test release (both channels download the same URLs); the normal pages' packages are
then checked in meta/<version>/, where each release keeps its own, and a note says so.
"""

import datetime
import os
import zipfile

from . import key_record, keys, package, server_tree, signed_page
from .errors import PublishError


class Report:
    def __init__(self):
        self.faults, self.notes = [], []

    def fault(self, where, what):
        self.faults.append("%s: %s" % (where, what))


def verify(root, pubkey_path=None, now=None, expiry=True, signer=None):
    """A Report of everything wrong in the server tree at root. Each page is checked against
    the recorded key of the slot it names; a slot without a record (a tree published before
    keys were recorded) against pubkey_path, or signer's key when signer is (slot, public
    key). expiry=False leaves out the pages' expiry, which re-signing renews."""
    slot_keys = {slot: keys.load_public(pubkey_path) for slot in key_record.SLOTS} \
        if pubkey_path else {}
    if signer is not None:
        slot_keys[signer[0]] = signer[1]
    slot_keys.update(key_record.recorded(root))
    now = now or datetime.datetime.now(datetime.timezone.utc)
    report = Report()
    blocks = {chan: _check_page(root, chan, slot_keys, now if expiry else None, report)
              for chan in signed_page.CHANNELS}
    test = blocks.get("testver")
    if test is None:
        report.fault("testver.htm", "no valid test page")
    if not os.path.exists(server_tree.page_paths(root, "ver")[0]):
        report.notes.append("no ver.htm yet: the test release has not been promoted")
    checked = set()
    for chan, block in blocks.items():
        if block is None:
            continue
        served = test is not None and block.version == test.version
        if not served and test is not None:
            report.notes.append("%s.htm (%s) is checked against meta/%s/: d/ serves the test "
                                "release %s until it is promoted" % (chan, block.version,
                                                                     block.version, test.version))
        for line in block.packages:
            if (served, line) not in checked:
                checked.add((served, line))
                _check_package(root, block.version, line, served, report)
    if test is not None:
        _check_served_set(root, test, report)
    return report


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def _check_page(root, chan, slot_keys, now, report):
    """The page's Block when it is sound, else None (with its faults reported)."""
    paths = server_tree.page_paths(root, chan)
    copies = [_read(p) for p in paths]
    name = chan + ".htm"
    if copies == [None, None]:
        return None
    if copies[0] != copies[1]:
        report.fault(name, "the copies in kivover/ and d/ differ")
    for path, page in zip(paths, copies):
        block = _check_copy(os.path.relpath(path, root), chan, page, slot_keys, now, report)
    return block if copies[0] == copies[1] else None


def _check_copy(where, chan, page, slot_keys, now, report):
    if page is None:
        report.fault(where, "missing")
        return None
    try:
        signed, slot, signature = signed_page.split_page(page)
        if slot not in slot_keys:
            raise PublishError("signed with slot %d, which has no recorded key" % slot)
        if not keys.verify(slot_keys[slot], signed, signature):
            raise PublishError("bad signature")
        block = signed_page.parse_block(signed)
    except PublishError as e:
        report.fault(where, str(e))
        return None
    text = page.decode("ascii", "replace")
    faults = []
    if block.chan != chan:
        faults.append("chan=%s on the %s page" % (block.chan, chan))
    if signed_page.marker_version(text) != block.version:
        faults.append("marker version %r, block v=%s" % (signed_page.marker_version(text),
                                                         block.version))
    if text.count(signed_page.START_MARKER) != 1:
        faults.append("the version marker appears %d times" % text.count(signed_page.START_MARKER))
    longest = datetime.timedelta(days=signed_page.LONGEST_EXPIRES_DAYS + 1)
    if now is None:
        pass
    elif block.expires <= now:
        faults.append("expired at %s" % block.expires.strftime(signed_page.TIME_FORMAT))
    elif block.expires - now > longest:
        faults.append("expires at %s, further ahead than signed agents accept" %
                      block.expires.strftime(signed_page.TIME_FORMAT))
    elif block.expires - now < datetime.timedelta(days=1):
        report.notes.append("%s expires at %s: run resign" % (
            where, block.expires.strftime(signed_page.TIME_FORMAT)))
    for fault in faults:
        report.fault(where, fault)
    return None if faults else block


def _check_package(root, version, line, served, report):
    name, size, digest = line
    meta = server_tree.meta_dir(root, version)
    served_path = server_tree.package_path(root, name)
    path = served_path if served else os.path.join(meta, os.path.basename(served_path))
    where = os.path.relpath(path, root)
    if not os.path.isfile(path):
        report.fault(where, "missing")
        return
    if package.sha256_of(path, "hashing " + where) != (size, digest):
        report.fault(where, "size or hash differs from the pkg=%s line" % name)
        return
    for fault in package.check(path, version):
        report.fault(where, fault)
    list_path = os.path.join(meta, server_tree.file_list_name(name))
    try:
        with zipfile.ZipFile(path) as archive:
            inside = archive.read(package.FILE_LIST)
    except (zipfile.BadZipFile, KeyError, OSError):
        return  # already reported by package.check
    if _read(list_path) != inside:
        report.fault(os.path.relpath(list_path, root), "differs from the package's file list")
    sums = _read(os.path.join(meta, "SHA256SUMS")) or b""
    if ("%s  %s\n" % (digest, os.path.basename(served_path))).encode() not in sums:
        report.fault("meta/%s/SHA256SUMS" % version, "lacks the line of pkg=%s" % name)


def _check_served_set(root, test, report):
    listed = {os.path.basename(server_tree.package_path(root, n)) for n, _, _ in test.packages}
    folder = os.path.join(root, "d")
    for entry in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if entry.startswith("u") and entry.endswith(".jpg") and entry not in listed:
            report.fault("d/" + entry, "served but on no page")
