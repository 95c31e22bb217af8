"""One command at a time on a server tree: a lock file in it (.kivo-publish.lock, which
nginx never serves). Writing commands hold it exclusively, verify shares it, so that no
command sees another's half-made state. A writing command first removes the temporary
files a killed command left."""

import contextlib
import fcntl
import os
import re
import shutil

from .errors import BusyError, PublishError

LOCK_NAME = ".kivo-publish.lock"
LEFTOVER = re.compile(r"\..+\.part|\.old\..+")
FOLDERS = ("kivover", "d", "meta", "keys")


@contextlib.contextmanager
def held(root, exclusive=True):
    if not os.path.isdir(root):
        raise PublishError("no such folder: %s (give the server tree, --out)" % root)
    fd = os.open(os.path.join(root, LOCK_NAME), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
    try:
        try:
            fcntl.flock(fd, (fcntl.LOCK_EX if exclusive else fcntl.LOCK_SH) | fcntl.LOCK_NB)
        except BlockingIOError:
            raise BusyError("another kivo-publish command is working on %s; nothing was done: "
                            "run this once it has ended" % root) from None
        if exclusive:
            remove_leftovers(root)
        yield
    finally:
        os.close(fd)


def remove_leftovers(root):
    """Removes what a killed command left under temporary names: nothing else may write
    the tree while the lock is held."""
    for folder in FOLDERS:
        top = os.path.join(root, folder)
        for parent in [top] + _subfolders(top):
            for entry in _entries(parent):
                if LEFTOVER.fullmatch(entry):
                    path = os.path.join(parent, entry)
                    if os.path.isdir(path) and not os.path.islink(path):
                        shutil.rmtree(path)
                    else:
                        os.remove(path)


def _entries(folder):
    try:
        return os.listdir(folder)
    except FileNotFoundError:
        return []


def _subfolders(top):
    return [os.path.join(top, e) for e in _entries(top)
            if not LEFTOVER.fullmatch(e) and os.path.isdir(os.path.join(top, e))]
