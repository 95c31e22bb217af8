"""verify: every page's signed block, every package against its pkg line and its file list.

Each page's packages are checked where signed agents fetch them, d/<version>/; the normal
page's also under the names without a number (d/u<name>.jpg), which serve the normal
release to agents without keys, and nothing else may be served there.
"""

import datetime
import os
import zipfile

from . import key_record, keys, package, server_tree, signed_page, solid_package
from .errors import PublishError


class Report:
    def __init__(self):
        self.faults, self.notes = [], []

    def fault(self, where, what):
        self.faults.append("%s: %s" % (where, what))


def verify(root, pubkey_paths=(), now=None, expiry=True, signer=None, unnumbered=True):
    """A Report of everything wrong in the server tree at root. With pubkey_paths (the keys
    the agents are built with, slot 1 first) each page is checked against the given key of
    the slot it names, whatever the tree records, and a recorded key that differs is a fault;
    without, against the slot's recorded key, or signer's key when signer is (slot, public
    key). expiry=False leaves out the pages' expiry, which re-signing renews; unnumbered=False
    the packages under the names without a number, which promote replaces."""
    report = Report()
    recorded = key_record.recorded(root)
    if pubkey_paths:
        slot_keys = {slot: keys.load_public(path)
                     for slot, path in zip(key_record.SLOTS, pubkey_paths)}
        for slot, key in recorded.items():
            if slot in slot_keys and (key_record.public_pem(key) !=
                                      key_record.public_pem(slot_keys[slot])):
                report.fault("keys/slot%d.pub.pem" % slot, "not the given key: the tree signs "
                             "with a key the agents do not hold")
    else:
        slot_keys = dict(recorded)
        if signer is not None:
            slot_keys[signer[0]] = signer[1]
    now = now or datetime.datetime.now(datetime.timezone.utc)
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
        for line in block.packages:
            places = [server_tree.release_package_path(root, block.version, line[0])]
            if chan == "ver" and unnumbered:
                places.append(server_tree.package_path(root, line[0]))
            for path in places:
                if path not in checked:
                    checked.add(path)
                    _check_package(root, block.version, line, path, report)
        for line in block.solid:
            path = server_tree.release_solid_path(root, block.version, line[0])
            if path not in checked:
                checked.add(path)
                _check_solid(root, block.version, line, path, report)
        # The release before a stage is what the installations outside it fetch.
        before = block.rollout.before
        if before is not None:
            if not block.version.isdigit() or int(before[0]) >= int(block.version):
                report.fault(chan + ".htm", "prev=%s is not below v=%s" % (before[0],
                                                                            block.version))
            for line in before[1]:
                path = server_tree.release_package_path(root, before[0], line[0])
                if path not in checked:
                    checked.add(path)
                    _check_package(root, before[0], line, path, report)
        if block.rollout.share == 0:
            report.notes.append("%s.htm: release %s is halted" % (chan, block.version))
    if unnumbered:
        _check_served_set(root, blocks.get("ver"), report)
    return report


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def _check_page(root, chan, slot_keys, now, report):
    """The page's Block when it is sound, else None (with its faults reported)."""
    try:
        paths = server_tree.served_page_paths(root, chan)
    except PublishError as e:
        report.fault("d/normal", str(e))
        return None
    copies = server_tree.read_copies(paths)
    name = chan + ".htm"
    if all(page is None for page in copies):
        return None
    blocks = [check_copy(os.path.relpath(path, root), chan, page, slot_keys, now, report)
              for path, page in zip(paths, copies)]
    if None in blocks:
        return None
    linked = server_tree.normal_version(root) if chan == "ver" else None
    if linked is not None and blocks[0].version != linked:
        report.fault(os.path.relpath(paths[0], root), "v=%s in the folder of %s"
                     % (blocks[0].version, linked))
        return None
    if len(set(copies)) > 1:
        # Each copy holds on its own: a command stopped between them, and the next one that
        # writes pages makes them one again.
        report.notes.append("the copies of %s differ (an interrupted command); the next "
                            "release, promote or resign makes them one" % name)
    return max(blocks, key=lambda block: block.seq)


def check_copy(where, chan, page, slot_keys, now, report):
    """The Block of one copy of the chan page when it is sound, else None (with its faults
    in report). slot_keys None leaves out the signature (a tree with no recorded key); now
    None the expiry."""
    if page is None:
        report.fault(where, "missing")
        return None
    if len(page) > signed_page.PAGE_LIMIT:
        report.fault(where, "longer than the %d bytes agents read" % signed_page.PAGE_LIMIT)
        return None
    try:
        signed, slot, signature = signed_page.split_page(page)
        if slot_keys is not None and slot not in slot_keys:
            raise PublishError("signed with slot %d, for which no key is recorded or given"
                               % slot)
        if slot_keys is not None and not keys.verify(slot_keys[slot], signed, signature):
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


def _check_package(root, version, line, path, report):
    name, size, digest = line
    meta = server_tree.meta_dir(root, version)
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
    if ("%s  %s\n" % (digest, server_tree.package_name(name))).encode() not in sums:
        report.fault("meta/%s/SHA256SUMS" % version, "lacks the line of pkg=%s" % name)


def _check_solid(root, version, line, path, report):
    name, size, digest = line
    where = os.path.relpath(path, root)
    if not os.path.isfile(path):
        report.fault(where, "missing")
    elif package.sha256_of(path, "hashing " + where) != (size, digest):
        report.fault(where, "size or hash differs from the solid=%s line" % name)
    else:
        listed = _read(os.path.join(server_tree.meta_dir(root, version),
                                    server_tree.file_list_name(name)))
        for fault in solid_package.check(path, version, listed):
            report.fault(where, fault)


def _check_served_set(root, normal, report):
    listed = {server_tree.package_name(n) for n, _, _ in (normal.packages if normal else [])}
    try:
        linked = server_tree.normal_version(root)
    except PublishError:
        linked = None  # reported with the page
    for folder in ["d"] + (["d/normal"] if linked else []):
        path = os.path.join(root, folder)
        for entry in sorted(os.listdir(path)) if os.path.isdir(path) else []:
            if entry.startswith("u") and entry.endswith(".jpg") and entry not in listed:
                if normal is None:  # a tree published before releases kept their own packages
                    report.notes.append("%s/%s is served with no normal page: promote "
                                        "replaces it" % (folder, entry))
                else:
                    report.fault("%s/%s" % (folder, entry),
                                 "served under its name but not on the normal page")
