"""release, promote and resign: each writes everything under temporary names first and
renames it into place only when all of it is written, so a failure leaves the tree (and the
release it serves) as it was.

A release's packages are written once, under its number (d/<version>/), and the test pages
name them; signed agents ask for them by that number. The names without a number, which
agents without keys ask for, serve the normal release only (plain copies in d/, no link):
promote switches them, packages first and pages last, so a test release never reaches the
normal channel."""

import datetime
import hashlib
import os
import re
import shutil
import tempfile
import time

from . import (delta_package, key_record, keys, package, server_tree, signed_page, solid_package,
               tree_scan)
from .errors import PublishError

PACKAGE_NAME = re.compile(r"-|[a-z0-9]{1,32}")
SERVED_PACKAGE = re.compile(r"u[a-z0-9]*\.jpg")
DELTA_RELEASES = 3  # the releases before a release that its deltas start from
MAX_VERSION = signed_page.MAX_VERSION


def check_version(version):
    if not re.fullmatch(r"[1-9][0-9]{0,9}", version) or int(version) > MAX_VERSION:
        raise PublishError("version %r: want a decimal number from 1 to %d" % (version,
                                                                               MAX_VERSION))


def expiry(days, now):
    if not 1 <= days <= signed_page.LONGEST_EXPIRES_DAYS:
        raise PublishError("--expires-days %d: want 1 to %d (signed agents refuse a page that "
                           "holds for longer; keep pages fresh with a daily resign)"
                           % (days, signed_page.LONGEST_EXPIRES_DAYS))
    moment = datetime.datetime.fromtimestamp(int(now), datetime.timezone.utc)
    return moment + datetime.timedelta(days=days)


def parse_trees(texts):
    """[(name, dir)] of the --tree NAME=DIR texts; PublishError for a bad or repeated name."""
    trees = []
    for text in texts:
        name, equals, folder = text.partition("=")
        if not equals or not folder:
            raise PublishError("--tree %r: want NAME=DIR" % text)
        if not PACKAGE_NAME.fullmatch(name):
            raise PublishError("package name %r: want lower-case letters and digits, or -"
                               % name)
        if name in [n for n, _ in trees]:
            raise PublishError("package name %s given twice" % name)
        trees.append((name, folder))
    if not trees:
        raise PublishError("no --tree given")
    return trees


def _signer(key):
    return lambda data: keys.sign(key, data)


def _stage_page(staged, root, chan, page):
    for path in server_tree.page_paths(root, chan):
        staged.add(server_tree.write_temp(path, page), path)


def _stage_meta(staged, root, version, entries, solid, deltas=()):
    """Stages meta/<version>/ with the hashes (of the solid and delta packages too), the file
    lists and a link to each zip package."""
    parent = os.path.join(root, "meta")
    os.makedirs(parent, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="." + version + ".", suffix=".part", dir=parent)
    os.chmod(folder, 0o755)
    sums = []
    for name, temp, size, digest, file_list in entries:
        served = server_tree.package_name(name)
        sums.append("%s  %s\n" % (digest, served))
        with open(os.path.join(folder, server_tree.file_list_name(name)), "wb") as f:
            f.write(file_list)
        try:
            os.link(temp, os.path.join(folder, served))
        except OSError:
            shutil.copyfile(temp, os.path.join(folder, served))
    sums += ["%s  %s\n" % (digest, server_tree.solid_name(name)) for name, _, digest in solid]
    sums += ["%s  %s\n" % (digest, server_tree.delta_name(name, start))
             for name, start, _, digest, _ in deltas]
    with open(os.path.join(folder, "SHA256SUMS"), "w", encoding="ascii") as f:
        f.writelines(sorted(sums, key=lambda line: line[66:]))
    staged.add(folder, server_tree.meta_dir(root, version))


def _refuse_other_bytes(root, version, entries):
    # A version names one set of packages for good: caches, agents and meta/ rely on it.
    # Publishing the same trees again is a rerun and allowed.
    sums = os.path.join(server_tree.meta_dir(root, version), "SHA256SUMS")
    if not os.path.exists(sums):
        return
    with open(sums, encoding="ascii") as f:  # the zip packages' lines: the solid ones follow
        before = sorted(line for line in f.read().splitlines() if line.endswith(".jpg"))
    now = sorted("%s  %s" % (digest, server_tree.package_name(name))
                 for name, _, _, digest, _ in entries)
    if before != now:
        raise PublishError("version %s was published before with other packages (meta/%s/): "
                           "give this build a new version number" % (version, version))


def release(root, version, key_path, slot, tree_texts, combine_filter, expires_days,
            solid_packages=True, delta_releases=DELTA_RELEASES):
    """Publishes the trees as the test release version, with a solid package of each unless
    solid_packages is False, and delta packages from up to delta_releases releases before it;
    returns the pkg lines, the solid lines and the delta lines written."""
    check_version(version)
    trees = parse_trees(tree_texts)
    key = keys.load_private(key_path)
    record = key_record.check_signer(root, key, slot)
    now = time.time()
    expires = expiry(expires_days, now)
    pages = server_tree.current_pages(root)
    for chan, block in pages.items():
        if block.version.isdigit() and int(block.version) > int(version):
            raise PublishError("%s.htm serves %s, above %s: publish a higher version"
                               % (chan, block.version, version))
    scanned = [(name, tree_scan.scan(folder)) for name, folder in trees]
    with server_tree.Staged() as staged:
        for block in pages.values():
            _stage_release_packages(root, staged, block.version)
        entries, solid, deltas = [], [], []
        starts = _delta_starts(root, version, delta_releases)
        for name, files in scanned:
            final = server_tree.release_package_path(root, version, name)
            temp = server_tree.temp_beside(final)
            staged.add(temp, final)
            try:
                file_list, version_bytes = package.build(files, temp, version, combine_filter,
                                                         "packing " + name)
            except OSError as e:
                raise PublishError("packing %s: %s" % (name, e)) from None
            entries.append((name, temp) + package.sha256_of(temp, "hashing " + name) +
                           (file_list,))
            if os.path.exists(final):  # a rerun: the same bytes, checked below, stay as they are
                staged.discard_last()
                entries[-1] = (name, final) + entries[-1][2:]
            if solid_packages:
                solid.append(_stage_solid(staged, root, version, name, files, file_list,
                                          version_bytes))
            full = solid[-1][1] if solid_packages else entries[-1][2]
            for start in starts:
                delta = _stage_delta(staged, root, version, name, start, (files, file_list,
                                                                          version_bytes), full)
                deltas += [delta] if delta else []
        _refuse_other_bytes(root, version, entries)
        _stage_meta(staged, root, version, entries, solid, deltas)
        key_record.stage_record(staged, record)
        lines = [(name, size, digest) for name, _, size, digest, _ in entries]
        block = signed_page.Block("testver", version, server_tree.next_seq(pages, now),
                                  expires, lines, solid=solid, deltas=deltas)
        _stage_page(staged, root, "testver",
                    signed_page.render_page(block, slot, _signer(key)))
        staged.commit()
    return lines, solid, deltas


def _delta_starts(root, version, count):
    """The releases deltas are made from: the count highest below version."""
    meta = os.path.join(root, "meta")
    before = [int(v) for v in (os.listdir(meta) if os.path.isdir(meta) else [])
              if signed_page.RELEASE_NUMBER.fullmatch(v) and int(v) < int(version)]
    return [str(v) for v in sorted(before, reverse=True)[:count]]


def _stage_delta(staged, root, version, name, start, tree, full_size):
    """Stages the delta package of name's tree (files, file list, version file) from release
    start, applied and checked before it is signed; returns its line, or None when start has
    no package of the name or the delta is larger than MAX_SHARE of full_size, the size of
    the full package agents take. A rerun keeps the one published before."""
    old = os.path.join(server_tree.meta_dir(root, start), server_tree.package_name(name))
    if not os.path.isfile(old):
        return None
    files, file_list, version_bytes = tree
    final = server_tree.release_delta_path(root, version, name, start)
    if not os.path.exists(final):
        temp = server_tree.temp_beside(final)
        staged.add(temp, final)
        try:
            delta_package.build(files, temp, file_list, version_bytes, old,
                                "delta %s from %s" % (name, start))
        except OSError as e:
            raise PublishError("making the delta of %s from %s: %s" % (name, start, e)) from None
        faults = delta_package.check(temp, old, file_list)
        if faults:
            raise PublishError("the delta of %s from %s does not make its tree: %s"
                               % (name, start, "; ".join(faults)))
        if os.path.getsize(temp) > delta_package.MAX_SHARE * full_size:
            staged.discard_last()
            return None
        final = temp
    size, digest = package.sha256_of(final)
    return (name, start, size, digest, hashlib.sha256(file_list).hexdigest())


def _stage_solid(staged, root, version, name, files, file_list, version_bytes):
    """Stages the solid package of name's tree, checked by the extractors' rules before it is
    signed; returns its line (name, size, sha256). A rerun keeps the one published before."""
    final = server_tree.release_solid_path(root, version, name)
    if not os.path.exists(final):
        temp = server_tree.temp_beside(final)
        staged.add(temp, final)
        try:
            solid_package.build(files, temp, file_list, version_bytes, "packing solid " + name)
        except OSError as e:
            raise PublishError("packing the solid package of %s: %s" % (name, e)) from None
        faults = solid_package.check(temp, version, file_list)
        if faults:
            raise PublishError("the solid package of %s does not hold its tree: %s"
                               % (name, "; ".join(faults)))
        final = temp
    return (name,) + package.sha256_of(final, "hashing solid " + name)


def _stage_release_packages(root, staged, version):
    """Stages any of version's own packages that a tree published before releases kept
    their own lacks, from its copy in meta/ (the same bytes)."""
    for name in _meta_names(root, version):
        final = server_tree.release_package_path(root, version, name)
        if not os.path.exists(final):
            temp = server_tree.temp_beside(final)
            _link_or_copy(os.path.join(server_tree.meta_dir(root, version),
                                       server_tree.package_name(name)), temp)
            staged.add(temp, final)


def _meta_names(root, version):
    sums = os.path.join(server_tree.meta_dir(root, version), "SHA256SUMS")
    if not os.path.exists(sums):
        return []
    with open(sums, encoding="ascii") as f:
        files = [line.split("  ", 1)[1] for line in f.read().splitlines() if "  " in line]
    return [f[1:-4] or "-" for f in files if SERVED_PACKAGE.fullmatch(f)]


def _link_or_copy(source, temp):
    os.remove(temp)
    try:
        os.link(source, temp)
    except OSError:
        shutil.copyfile(source, temp)
    os.chmod(temp, 0o644)


def _stage_stale_removal(staged, root, names):
    # A package name the normal release lacks must not go on serving an older build: a
    # client would install it, still see the newer version, and download it again at every
    # run. The release's own copies stay.
    keep = {server_tree.package_name(n) for n in names}
    for entry in sorted(os.listdir(os.path.join(root, "d"))):
        if SERVED_PACKAGE.fullmatch(entry) and entry not in keep:
            staged.remove(os.path.join(root, "d", entry))


def _stage_normal_page(staged, root, block, page):
    """Stages the normal release as nginx serves it, plain files only (an object store holds
    them): its packages under the names without a number first and a name it dropped
    removed (the old page's machines of that name get nothing for a moment, never an older
    build under the new page), then the page copies; last a d/normal link an earlier
    version of this tool kept (servers configured for that link then read the same plain
    copies)."""
    for name, _, _ in block.packages:
        temp = server_tree.temp_beside(server_tree.package_path(root, name))
        _link_or_copy(server_tree.release_package_path(root, block.version, name), temp)
        staged.add(temp, server_tree.package_path(root, name))
    _stage_stale_removal(staged, root, [name for name, _, _ in block.packages])
    _stage_page(staged, root, "ver", page)
    if os.path.lexists(server_tree.normal_link(root)):
        staged.remove(server_tree.normal_link(root))


def _signing_key(root, key_path, slot):
    """The private key, once it has proved to be slot's and the tree it is to re-sign holds
    (pages against their keys, fields, packages against their lines; expiry aside), and the
    key record to write when the tree has none. The copies under the names without a number
    are left out: the command writes them again from the release's own packages (an
    interrupted promote may have left some)."""
    key = keys.load_private(key_path)
    record = key_record.check_signer(root, key, slot)
    with server_tree.Staged() as staged:
        for block in server_tree.current_pages(root).values():
            _stage_release_packages(root, staged, block.version)
        staged.commit()
    from . import verifying
    report = verifying.verify(root, expiry=False, signer=(slot, key.public_key()),
                              unnumbered=False)
    if report.faults:
        shown = report.faults[:3] + (["..."] if len(report.faults) > 3 else [])
        raise PublishError("the tree does not hold, so nothing is signed: %s (run verify "
                           "for all of it)" % "; ".join(shown))
    return key, record


def parse_share(text):
    """Basis points of a share given as a percentage ("5%", "0.5%", "100"); PublishError
    for anything else or a share outside (0, 100]."""
    match = re.fullmatch(r"([0-9]{1,3})(?:\.([0-9]{1,2}))?%?", text)
    if not match:
        raise PublishError("--share %r: want a percentage such as 5%% or 0.5%%" % text)
    points = int(match.group(1)) * 100 + int((match.group(2) or "0").ljust(2, "0"))
    if not 0 < points <= signed_page.WHOLE_FLEET:
        raise PublishError("--share %s: want more than 0%% and at most 100%% (halt stops a "
                           "release)" % text)
    return points


def _release_before(current, version):
    """What installations outside the stage of version take: the normal release now served
    when it is out to all of them, else the one it was staged over (never a halted one)."""
    if current is None:
        return None
    older = current.version.isdigit() and int(current.version) < int(version)
    if older and current.rollout.share in (None, signed_page.WHOLE_FLEET):
        return (current.version, current.packages)
    return current.rollout.before


def promote(root, key_path, slot, expires_days, share=None):
    """Makes the test release the release (the ver pages), to share basis points of the
    installations (None: all of them); returns its version."""
    key, record = _signing_key(root, key_path, slot)
    test = server_tree.read_page(root, "testver")
    if test is None:
        raise PublishError("no test release to promote (kivover/testver.htm is missing)")
    block = test[1]
    lines = [(server_tree.release_package_path(root, block.version, name), size, digest)
             for name, size, digest in block.packages]
    lines += [(server_tree.release_solid_path(root, block.version, name), size, digest)
              for name, size, digest in block.solid]
    lines += [(server_tree.release_delta_path(root, block.version, name, start), size, digest)
              for name, start, size, digest, _ in block.deltas]
    for path, size, digest in lines:
        if not os.path.isfile(path) or package.sha256_of(path) != (size, digest):
            raise PublishError("%s does not match the test page; not promoted" % path)
    now = time.time()
    pages = server_tree.current_pages(root)
    current = pages.get("ver")
    staged = current.rollout.share if current is not None else None
    if (current is not None and current.version == block.version and staged is not None and
            staged < signed_page.WHOLE_FLEET and (share is None or share < staged)):
        # Promoting again would widen a stage to everyone, or narrow it, unasked.
        held = "halted" if staged == 0 else "out to %s" % percent(staged)
        raise PublishError("release %s is %s already; nothing changed (rollout --share N%% "
                           "widens or resumes it)" % (block.version, held))
    rollout = signed_page.Rollout(before=_release_before(current, block.version))
    if share is not None:
        # A rerun keeps the release's salt, and with it the installations already in.
        same = current is not None and current.version == block.version
        rollout.share = share
        rollout.salt = current.rollout.salt if same and current.rollout.salt else os.urandom(16).hex()
    promoted = signed_page.Block("ver", block.version, server_tree.next_seq(pages, now),
                                 expiry(expires_days, now), block.packages, block.extra, rollout,
                                 block.solid, block.deltas)
    with server_tree.Staged() as staged:
        key_record.stage_record(staged, record)
        _stage_normal_page(staged, root, promoted,
                           signed_page.render_page(promoted, slot, _signer(key)))
        staged.commit()
    return block.version


def _restage(root, key_path, slot, expires_days, change):
    """Re-signs the pages change(chan, block) alters (it returns True for those), with a
    new seq and exp; returns the channels re-signed."""
    key, record = _signing_key(root, key_path, slot)
    pages = server_tree.current_pages(root)
    now = time.time()
    seq, expires = server_tree.next_seq(pages, now), expiry(expires_days, now)
    changed = sorted(chan for chan, block in pages.items() if change(chan, block))
    with server_tree.Staged() as staged:
        key_record.stage_record(staged, record)
        for chan in changed:
            block = pages[chan]
            block.seq, block.expires = seq, expires
            page = signed_page.render_page(block, slot, _signer(key))
            if chan == "ver":
                _stage_normal_page(staged, root, block, page)
            else:
                _stage_page(staged, root, chan, page)
        staged.commit()
    return changed


def _normal_release(root):
    normal = server_tree.current_pages(root).get("ver")
    if normal is None:
        raise PublishError("no normal release (kivover/ver.htm is missing): promote one first")
    return normal


def rollout(root, key_path, slot, expires_days, share):
    """Widens the normal release's stage to share basis points; returns its version."""
    normal = _normal_release(root)
    now = normal.rollout.share
    if now is None or now == signed_page.WHOLE_FLEET:
        raise PublishError("release %s is out to every installation already" % normal.version)
    if share < now:
        raise PublishError("release %s is out to %s; a stage only grows (halt stops it)"
                           % (normal.version, percent(now)))
    salt = normal.rollout.salt or os.urandom(16).hex()  # a halt of a whole release had none

    def widen(chan, block):
        if block.version != normal.version:
            return False
        if chan == "ver":
            block.rollout.share, block.rollout.salt = share, salt
            return True
        if block.rollout.share == 0:  # a halt lifted: for people, whom no stage holds, too
            block.rollout.share = None
            return True
        return False
    _restage(root, key_path, slot, expires_days, widen)
    return normal.version


def halt(root, key_path, slot, expires_days):
    """Halts the normal release (share 0), and the test page's when it is the same
    release; returns its version."""
    normal = _normal_release(root)

    def stop(chan, block):
        if block.version != normal.version or block.rollout.share == 0:
            return False
        block.rollout.share = 0
        return True
    if not _restage(root, key_path, slot, expires_days, stop):
        raise PublishError("release %s is halted already; nothing changed (rollout --share N%% "
                           "resumes it, promote a newer release to replace it)" % normal.version)
    return normal.version


def percent(points):
    """Basis points as the tool prints them: 5%, 0.5%, 100%."""
    if points is None:
        points = signed_page.WHOLE_FLEET
    return ("%d.%02d" % divmod(points, 100)).rstrip("0").rstrip(".") + "%"


def status(root):
    """{chan: {...}} of the pages as nginx serves them: release, share, release before, seq,
    expiry and key slot of the copy served (the newest, where two copies are), and "broken":
    what is wrong with any copy served (missing, unreadable, a bad signature by the recorded
    keys, expired), [] when nothing is."""
    from . import verifying
    recorded = key_record.recorded(root)
    now = datetime.datetime.now(datetime.timezone.utc)
    found = {}
    for chan in signed_page.CHANNELS:
        paths = server_tree.page_paths(root, chan)  # as kivo9-site.conf serves them
        copies = server_tree.read_copies(paths)
        if all(page is None for page in copies):
            continue
        report = verifying.Report()
        sound = [(verifying.check_copy(os.path.relpath(path, root), chan, page,
                                       recorded or None, now, report), page)
                 for path, page in zip(paths, copies)]
        sound = [(block, page) for block, page in sound if block is not None]
        entry = dict.fromkeys(("release", "share_basis_points", "halted", "release_before",
                               "seq", "expires", "key_slot"))
        if sound:
            block, page = max(sound, key=lambda found_copy: found_copy[0].seq)
            share = block.rollout.share
            entry.update({
                "release": block.version,
                "share_basis_points": signed_page.WHOLE_FLEET if share is None else share,
                "halted": share == 0,
                "release_before": block.rollout.before[0] if block.rollout.before else None,
                "seq": block.seq,
                "expires": block.expires.strftime(signed_page.TIME_FORMAT),
                "key_slot": signed_page.split_page(page)[1],
            })
        entry["broken"] = report.faults
        found[chan] = entry
    return found


def list_releases(root):
    """Every release in the tree, oldest first: {"version", "published" (the UTC day its
    meta/ folder was written), "pages" (the channels whose page is this release), "share"
    (basis points, on the normal page), "release_before_of" (the channels whose page names it
    as the release before), "packages" ({name: size}), "solid" ({name: size} of its solid
    packages)}."""
    meta = os.path.join(root, "meta")
    versions = sorted((v for v in (os.listdir(meta) if os.path.isdir(meta) else [])
                       if signed_page.RELEASE_NUMBER.fullmatch(v)), key=int)
    pages = server_tree.current_pages(root)
    found = []
    for version in versions:
        sums = os.path.join(server_tree.meta_dir(root, version), "SHA256SUMS")
        packages, solid = {}, {}
        with open(sums, encoding="ascii") as f:
            for line in f.read().splitlines():
                served = line[66:]
                name, kind = os.path.splitext(served)
                name = name[1:] or "-"
                path, sizes = ((server_tree.release_solid_path(root, version, name), solid)
                               if kind == ".tzst" else
                               (server_tree.release_package_path(root, version, name), packages))
                sizes[name] = os.path.getsize(path) if os.path.exists(path) else None
        published = datetime.datetime.fromtimestamp(os.path.getmtime(sums),
                                                    datetime.timezone.utc)
        on = [chan for chan, block in pages.items() if block.version == version]
        share = pages["ver"].rollout.share if "ver" in on else None
        found.append({
            "version": version,
            "published": published.strftime("%Y-%m-%d"),
            "pages": on,
            "share_basis_points": (signed_page.WHOLE_FLEET if share is None else share)
            if "ver" in on else None,
            "release_before_of": [chan for chan, block in pages.items()
                                  if block.rollout.before and block.rollout.before[0] == version],
            "packages": packages,
            "solid": solid,
        })
    return found


PRUNED_SUFFIX = ".pruned.part"


def prune(root, keep):
    """Removes the releases beyond the newest keep that no page serves or names as the
    release before (nor d/normal leads to); returns their versions, oldest first. Each goes
    whole: its folders are renamed to hidden names nginx does not serve, then deleted, so a
    kill leaves a release there or gone; a rerun deletes what a killed one left."""
    if keep < 1:
        raise PublishError("--keep %d: keep at least the newest release" % keep)
    for folder in (os.path.join(root, "d"), os.path.join(root, "meta")):
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            if name.startswith(".") and name.endswith(PRUNED_SUFFIX):
                shutil.rmtree(os.path.join(folder, name))
    releases = list_releases(root)
    needed = {r["version"] for r in releases if r["pages"] or r["release_before_of"]}
    needed |= {r["version"] for r in releases[-keep:]}
    normal = server_tree.normal_version(root)
    if normal:
        needed.add(normal)
    pruned = []
    for release in releases:
        version = release["version"]
        if version in needed:
            continue
        # Packages and pages first (d/), the record of the release last (meta/).
        for folder in (os.path.join(root, "d", version), server_tree.meta_dir(root, version)):
            if os.path.isdir(folder):
                hidden = os.path.join(os.path.dirname(folder), "." + version + PRUNED_SUFFIX)
                os.rename(folder, hidden)
                shutil.rmtree(hidden)
        pruned.append(version)
    return pruned


def resign(root, key_path, slot, expires_days):
    """New seq and exp on every page, the rest unchanged; returns the channels re-signed."""
    if not server_tree.current_pages(root):
        raise PublishError("no pages to re-sign in %s" % root)
    return _restage(root, key_path, slot, expires_days, lambda chan, block: True)
