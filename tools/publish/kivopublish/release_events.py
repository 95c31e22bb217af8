"""The release events of a server tree (promote, rollout, halt) for the report's timeline,
kept in meta/events.log (never served): one line each, "<UTC time> <command> <version>
<share>", such as "2026-11-04T09:12:00Z promote 1205 5%". The file is written whole under a
temporary name like every file of the tree and holds the last MAX_EVENTS events; it is read
bounded, and a line that is no event is skipped."""

import datetime
import os
import re

from . import server_tree

MAX_EVENTS = 1000
MAX_BYTES = 128 * 1024  # a thousand lines of under a hundred bytes
EVENT = re.compile(r"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ) (promote|rollout|halt) (\d{1,10}) "
                   r"(\d{1,3}(?:\.\d{1,2})?%|halted)")


def events_path(root):
    return os.path.join(root, "meta", "events.log")


def _lines(root):
    """The file's lines, its last MAX_BYTES only (a longer file was not written here);
    [] when there is none."""
    try:
        with open(events_path(root), "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - MAX_BYTES))
            data = f.read(MAX_BYTES)
    except (FileNotFoundError, NotADirectoryError):
        return []
    lines = data.decode("ascii", "replace").split("\n")
    return lines[1:] if size > MAX_BYTES else lines


def record(root, command, version, share, now=None):
    """Adds an event (share as promote, rollout and halt print it) and keeps the last
    MAX_EVENTS. Called while the command holds the tree; a kill leaves the old file."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    kept = [line for line in _lines(root) if EVENT.fullmatch(line)]
    kept.append("%s %s %s %s" % (now.strftime("%Y-%m-%dT%H:%M:%SZ"), command, version, share))
    data = "".join(line + "\n" for line in kept[-MAX_EVENTS:]).encode("ascii")
    path = events_path(root)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with server_tree.Staged() as staged:
        staged.add(server_tree.write_temp(path, data), path)
        staged.commit()


def read(root):
    """[(day, "promote 1205 5%")] of the tree's events, oldest first; [] for a tree without
    any (or root None)."""
    if root is None:
        return []
    found = []
    for line in _lines(root):
        match = EVENT.fullmatch(line)
        if match:
            day = datetime.date.fromisoformat(match.group(1)[:10])
            found.append((day, " ".join(match.group(2, 3, 4))))
    return found
