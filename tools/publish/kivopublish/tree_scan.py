"""Reading a build tree to pack: which files, under which names, and which trees to refuse.

Names are relative, '/'-separated UTF-8 text. A tree is refused (PublishError, nothing
written) when it holds a link that leaves it, a link to a directory (packages carry files,
and such a link can loop), something that is neither file nor directory, or a name that the
Windows builds cannot create. File links that stay inside the tree are packed as the file
they point to.
"""

import os
import re
import stat

from .errors import PublishError

# The browser, which the launcher requires at the top of every tree it installs, and the
# places of the installation folder it keeps for itself, which no package may name (first
# part, any case). tree/update_paths.txt holds the launcher's rule and this one to each other.
BROWSER = "Kivo9.exe"
LAUNCHER_PLACES = ("user", "update", "update.partial", "update.old", "install.journal",
                   "install.journal.new", "install.old", "install.trash", "install.partial",
                   "install.log", "install.log.new", "release.seen", "release.seen.new",
                   "install.id", "install.id.new", "check.day", "check.day.new",
                   "package.part", "package.part.info", "package.part.info.new",
                   "agent.lock", "delta.refused", "delta.refused.new")

# Characters Windows refuses in a file name, and the device names it reserves in any folder.
WINDOWS_RESERVED_CHARS = re.compile(r'[<>:"\\|?*\x00-\x1f]')
# COM and LPT with a superscript 1, 2 or 3 are devices too: Windows reads them as digits.
WINDOWS_DEVICE_NAMES = re.compile(r"(con|prn|aux|nul|com[0-9\u00b9\u00b2\u00b3]|"
                                  r"lpt[0-9\u00b9\u00b2\u00b3])(\..*)?", re.I)


class TreeFile:
    """One file to pack: its name in the package, its path on disk, size and mode bits."""

    def __init__(self, name, path, size, executable):
        self.name, self.path, self.size, self.executable = name, path, size, executable


def check_name(name):
    """None when the Windows builds can create name (a relative '/'-separated path), else
    the reason as text."""
    if not name or name.startswith("/") or re.match(r"[A-Za-z]:", name):
        return "an absolute or empty name"
    for part in name.split("/"):
        if part in ("", ".", ".."):
            return "a name with an empty, '.' or '..' part"
        if WINDOWS_RESERVED_CHARS.search(part):
            return "a character Windows refuses in file names"
        if len(part.encode("utf-16-le")) > 2 * 255:
            return "a name part longer than the 255 characters Windows allows"
        if part[-1] in ". ":
            return "a name part ending in a dot or a blank, which Windows drops"
        if WINDOWS_DEVICE_NAMES.fullmatch(part):
            return "a device name Windows reserves (CON, NUL, COM1, ...)"
    return None


def launcher_refusal(name):
    """None when the launcher would install a file of that name, else the reason."""
    top = name.split("/", 1)[0]
    if top.casefold() in LAUNCHER_PLACES:
        return "%s is a place the installation keeps for itself; the launcher refuses such a " \
               "tree" % top
    return None


def scan(root):
    """The files of the tree at root, sorted by name; PublishError for a refused tree."""
    if not os.path.isdir(root):
        raise PublishError("tree %s is not a directory" % root)
    real_root = os.path.realpath(root)
    files, folded = [], {}
    for dirpath, dirnames, filenames in os.walk(root, onerror=_refuse_unreadable):
        dirnames.sort()
        for entry in sorted(dirnames + filenames):
            path = os.path.join(dirpath, entry)
            name = _name_of(os.path.relpath(path, root), path)
            _refuse_case_twin(folded, name, path)
            info = _checked_stat(path, real_root)
            if info is not None:
                files.append(TreeFile(name, path, info.st_size, bool(info.st_mode & 0o111)))
    files.sort(key=lambda f: f.name.encode("utf-8"))
    if not any(f.name == BROWSER for f in files):
        raise PublishError("tree %s has no %s at its top: the launcher installs no tree without "
                           "the browser" % (root, BROWSER))
    return files


def _refuse_unreadable(error):
    # A folder that cannot be listed would silently go missing from the package.
    raise PublishError("%s: %s" % (error.filename, error.strerror))


def _name_of(relative, path):
    try:
        name = os.fsdecode(relative).replace(os.sep, "/")
        name.encode("utf-8")
    except UnicodeError:
        raise PublishError("%r: a file name that is not UTF-8" % path) from None
    reason = check_name(name) or launcher_refusal(name)
    if reason:
        raise PublishError("%s: %s" % (path, reason))
    return name


def name_key(name):
    """The form under which Windows finds name: each character in its simple upper case, one
    for one, as the file system compares names ("\u00e4" gives "\u00c4", "\u00df" stays, so
    "stra\u00dfe" and "strasse" are two files). Two names with the same key are one file."""
    return "".join(c if len(c.upper()) != 1 else c.upper() for c in name)


def _refuse_case_twin(folded, name, path):
    # Windows file names ignore case: two names that differ only in case would be one file.
    key = name_key(name)
    if key in folded:
        raise PublishError("%s and %s differ only in case, which Windows cannot hold apart"
                           % (folded[key], path))
    folded[key] = path


def _checked_stat(path, real_root):
    """os.stat of a regular file to pack, None for a directory; PublishError otherwise."""
    link = os.path.islink(path)
    if link:
        target = os.path.realpath(path)
        if os.path.commonpath([target, real_root]) != real_root:
            raise PublishError("%s: a link that leaves the tree (to %s)" % (path, target))
    try:
        info = os.stat(path)
    except OSError as e:
        raise PublishError("%s: %s" % (path, e.strerror)) from None
    if stat.S_ISDIR(info.st_mode):
        if link:
            raise PublishError("%s: a link to a directory; packages hold files only" % path)
        return None
    if not stat.S_ISREG(info.st_mode):
        raise PublishError("%s: neither a file nor a directory" % path)
    if not os.access(path, os.R_OK):
        raise PublishError("%s: not readable" % path)
    return info
