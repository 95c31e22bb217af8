"""The server tree: where pages and packages lie, and writing them so that no reader ever
sees half a file.

    kivover/ver.htm  kivover/testver.htm     the primary server's pages
    d/ver.htm        d/testver.htm           the fallback server's pages (same bytes)
    d/<version>/u<name>.jpg                  each release's own packages, written once
    d/<version>/u<name>.tzst                 the same tree as a solid package, for signed
                                             agents that read it (never unnumbered)
    d/u<name>.jpg                            the normal release's packages, what agents
                                             without keys get (u.jpg: generic), replaced at
                                             promote before the pages
    d/normal -> <version>, d/<version>/ver.htm   kept by an earlier version of this tool (a
                                             link to the normal release's folder); the next
                                             promote or re-sign removes the link
    meta/<version>/                          SHA256SUMS, <name>.files.lst, the packages
    keys/slot<N>.pub.pem                     the public key each signing slot is held to
"""

import os
import shutil
import tempfile

from . import signed_page
from .errors import PublishError

PAGE_DIRS = ("kivover", "d")


def page_paths(root, chan):
    """The two copies of the chan ("ver" or "testver") page, primary first."""
    return [os.path.join(root, folder, chan + ".htm") for folder in PAGE_DIRS]


def normal_link(root):
    return os.path.join(root, "d", "normal")


def normal_version(root):
    """The release d/normal points to, or None when there is no such link (a tree last
    promoted before it existed). PublishError for a link that names no release."""
    try:
        target = os.readlink(normal_link(root))
    except FileNotFoundError:
        return None
    except OSError as e:
        raise PublishError("d/normal: %s; it must be a link to the normal release's folder "
                           "(copy server trees with their links: cp -a, rsync -a)"
                           % e.strerror) from None
    if not target.isdigit() or not os.path.isdir(os.path.join(root, "d", target)):
        raise PublishError("d/normal points to %r, not to a release's folder in d/" % target)
    return target


def normal_page_path(root, version):
    """The normal page an earlier version of this tool kept in its release's folder, which
    d/normal made the one served."""
    return os.path.join(root, "d", version, "ver.htm")


def package_name(name):
    """The file name of a package name's package ("-" is the generic one)."""
    return "u%s.jpg" % ("" if name == "-" else name)


def package_path(root, name):
    """The package the normal release serves under a package name."""
    return os.path.join(root, "d", package_name(name))


def release_package_path(root, version, name):
    """A release's own package, which a signed agent asks for by the release's number."""
    return os.path.join(root, "d", version, package_name(name))


def solid_name(name):
    """The file name of a package name's solid package."""
    return "u%s.tzst" % ("" if name == "-" else name)


def release_solid_path(root, version, name):
    """A release's solid package, which a signed agent that reads it asks for."""
    return os.path.join(root, "d", version, solid_name(name))


def delta_name(name, start):
    """The file name of a package name's delta package from release start."""
    return "u%s.%s.delta" % ("" if name == "-" else name, start)


def release_delta_path(root, version, name, start):
    """A release's delta package from release start, which a signed agent at start takes."""
    return os.path.join(root, "d", version, delta_name(name, start))


def meta_dir(root, version):
    return os.path.join(root, "meta", version)


def file_list_name(name):
    return "%s.files.lst" % name


def temp_beside(path):
    """A new, empty file in path's folder under a hidden temporary name; returns its path.
    Renaming it to path later replaces path in one step."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    fd, temp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".part",
                                dir=folder)
    os.close(fd)
    os.chmod(temp, 0o644)  # served files are readable by the web server's workers
    return temp


def write_temp(path, data):
    """Writes data to a temporary file beside path, flushed to disk; returns its path."""
    temp = temp_beside(path)
    with open(temp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    return temp


def served_page_paths(root, chan):
    """Every copy of the chan page that a server may serve: the normal release's own first
    when d/normal exists, then the two of page_paths."""
    version = normal_version(root) if chan == "ver" else None
    return ([normal_page_path(root, version)] if version else []) + page_paths(root, chan)


def is_server_tree(root):
    """Whether root holds a server tree: one of the folders a release writes."""
    return any(os.path.isdir(os.path.join(root, name)) for name in ("meta", "d", "kivover"))


def read_copies(paths):
    """The bytes of the file at each of paths; None for one that is missing."""
    copies = []
    for path in paths:
        try:
            with open(path, "rb") as f:
                copies.append(f.read())
        except FileNotFoundError:
            copies.append(None)
    return copies


def read_page(root, chan):
    """(page bytes, Block) of the chan page, or None when the page does not exist. Of
    copies that differ (a command stopped between them) the one with the higher seq counts.
    PublishError when no copy's block can be read."""
    copies = read_copies(served_page_paths(root, chan))
    if all(page is None for page in copies):
        return None
    read = []
    for page in filter(None, copies):
        try:
            read.append((page, signed_page.parse_block(signed_page.split_page(page)[0])))
        except PublishError:
            pass
    if not read:
        raise PublishError("no copy of %s.htm can be read; run verify" % chan)
    return max(read, key=lambda copy: copy[1].seq)


def current_pages(root):
    """{chan: Block} of the pages that exist."""
    pages = {}
    for chan in signed_page.CHANNELS:
        page = read_page(root, chan)
        if page is not None:
            pages[chan] = page[1]
    return pages


def next_seq(pages, now_seconds):
    """The seq for the next publish: the Unix time, but above every seq of pages (the
    tree's current_pages)."""
    seqs = [block.seq for block in pages.values()]
    return max([int(now_seconds)] + [s + 1 for s in seqs])


class Staged:
    """Files written under temporary names, renamed into place by commit() in the order
    they were staged, or removed by discard(). Used as a context manager: leaving it with an
    exception discards whatever was not yet renamed."""

    def __init__(self):
        self.moves = []

    def add(self, temp, final):
        self.moves.append((temp, final))

    def remove(self, final):
        """final goes at this point of the commit."""
        self.moves.append((None, final))

    def discard_last(self):
        """Removes the temporary file staged last and forgets it."""
        temp, _ = self.moves.pop()
        os.remove(temp)

    def commit(self):
        while self.moves:
            temp, final = self.moves[0]
            if temp is None:
                if os.path.lexists(final):
                    os.remove(final)
            elif os.path.isdir(temp) and not os.path.islink(temp) and os.path.isdir(final):
                # A folder cannot replace a folder in one step: the old one goes aside first.
                aside = tempfile.mkdtemp(prefix=".old.", dir=os.path.dirname(final))
                os.replace(final, os.path.join(aside, "old"))
                os.replace(temp, final)
                shutil.rmtree(aside, ignore_errors=True)
            else:
                os.replace(temp, final)
                if os.path.lexists(temp):
                    # Two links of one file: rename does nothing, the place holds it already.
                    os.remove(temp)
            self.moves.pop(0)

    def discard(self):
        for temp, _ in self.moves:
            if temp is None:
                continue
            if os.path.isdir(temp) and not os.path.islink(temp):
                shutil.rmtree(temp, ignore_errors=True)
            elif os.path.lexists(temp):
                os.remove(temp)
        self.moves = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.discard()
        return False
