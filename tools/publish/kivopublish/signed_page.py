"""Version pages: the marker pair the agent reads and the signed block after it.

A page is ASCII with LF line ends. The block is an HTML comment after the markers:

    Kivo9Signed:1             <- the signed bytes start at this K
    chan=testver
    v=1204
    seq=1765238400
    exp=2027-01-31T00:00:00Z
    pkg=zhcn 7340032 <sha256 in lower-case hex>
    Kivo9Sig:k1:<base64 of r||s>    <- ... and end with the line feed before this line
    :Kivo9SignedEnd

A staged release adds share=<basis points, 0 halts> and salt=<hex>, and may name the
release before it for the installations outside the stage: prev=<version> and a
prevpkg=<name> <size> <sha256> line per package. Agents without these rules ignore them.
A solid=<name> <size> <sha256> line per package names the release's solid package of that
name, which agents that read the format take instead of the zip (others ignore the line).
A delta=<name> <start> <size> <sha256> <file list sha256> line names the release's delta
package of that name from release start, and the SHA-256 of the file list of the tree it makes.
"""

import datetime
import re

from .errors import PublishError

START_MARKER, END_MARKER = "Kivo9Version:", ":Kivo9VersionEnd"
BLOCK_START, SIG_PREFIX, BLOCK_END = "Kivo9Signed:1\n", "Kivo9Sig:k", ":Kivo9SignedEnd"
CHANNELS = ("ver", "testver")
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
TIME = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")
MAX_NUMBER = 2**64 - 1  # sizes and seq: the agents read them as 64-bit numbers
PAGE_LIMIT = 64 * 1024  # the agents read no longer page
PKG_LINE = re.compile(r"(-|[a-z0-9]+) ([0-9]+) ([0-9a-f]{64})")
DELTA_LINE = re.compile(r"(-|[a-z0-9]+) ([0-9]{1,10}) ([0-9]+) ([0-9a-f]{64}) ([0-9a-f]{64})")


# A page signed for two days and a day of clock skew hold a client that sees no newer page
# for at most 72 hours. Signed agents refuse a page that expires further ahead than the
# longest expiry and a day.
DEFAULT_EXPIRES_DAYS = 2
LONGEST_EXPIRES_DAYS = 7


WHOLE_FLEET = 10000  # basis points
SALT = re.compile(r"[0-9a-f]{16,64}")
RELEASE_NUMBER = re.compile(r"[0-9]{1,10}")
MAX_VERSION = 2**31 - 1  # the agent reads versions as signed 32-bit numbers


class Rollout:
    """A release's stage: share in basis points (None: no share line, every installation),
    its salt, and the release before it as (version, [package lines]) or None."""

    def __init__(self, share=None, salt=None, before=None):
        self.share, self.salt, self.before = share, salt, before

    def lines(self):
        lines = []
        if self.share is not None:
            lines.append("share=%d" % self.share)
        if self.salt is not None:
            lines.append("salt=" + self.salt)
        if self.before is not None:
            lines.append("prev=" + self.before[0])
            lines += ["prevpkg=%s %d %s" % p for p in self.before[1]]
        return lines


class Block:
    """The fields of a signed block. packages and solid: [(name or "-", size, sha256 hex)]
    in page order; deltas: [(name, start release, size, sha256, file list sha256)]; extra:
    [(key, value)] lines this tool does not know, kept as they are."""

    def __init__(self, chan, version, seq, expires, packages, extra=(), rollout=None, solid=(),
                 deltas=()):
        self.chan, self.version, self.seq = chan, version, seq
        self.expires, self.packages, self.extra = expires, list(packages), list(extra)
        self.rollout = rollout or Rollout()
        self.solid = list(solid)
        self.deltas = list(deltas)

    def signed_text(self):
        lines = ["chan=" + self.chan, "v=" + self.version, "seq=%d" % self.seq,
                 "exp=" + self.expires.strftime(TIME_FORMAT)]
        lines += ["%s=%s" % kv for kv in self.extra]
        lines += ["pkg=%s %d %s" % p for p in self.packages]
        lines += ["solid=%s %d %s" % p for p in self.solid]
        lines += ["delta=%s %s %d %s %s" % d for d in self.deltas]
        lines += self.rollout.lines()
        return BLOCK_START + "".join(line + "\n" for line in lines)


def render_page(block, slot, sign):
    """The whole page for block, signed with sign(bytes) -> base64 text under key slot."""
    signed = block.signed_text()
    signature = sign(signed.encode("ascii"))
    return ("<html><head><title>Kivo9 %s</title></head><body>\n"
            "<p>%s%s%s</p>\n<!--\n%s%s%d:%s\n%s\n-->\n</body></html>\n"
            % (block.version, START_MARKER, block.version, END_MARKER, signed, SIG_PREFIX,
               slot, signature, BLOCK_END)).encode("ascii")


def marker_version(text):
    """The text between the markers as the agent reads it, or None without a start marker."""
    start = text.find(START_MARKER)
    if start < 0:
        return None
    start += len(START_MARKER)
    end = text.find(END_MARKER, start)
    return text[start:] if end < 0 else text[start:end]


def split_page(page):
    """(signed bytes, key slot, signature text) of a page; PublishError when the block is
    missing or malformed. Nothing is trimmed: the bytes are the bytes a verifier hashes."""
    start = page.find(BLOCK_START.encode())
    if start < 0:
        raise PublishError("no signed block")
    sig = page.find(b"\n" + SIG_PREFIX.encode(), start)
    if sig < 0:
        raise PublishError("signed block without a signature line")
    line_end = page.find(b"\n", sig + 1)
    if line_end < 0 or page[line_end + 1:line_end + 1 + len(BLOCK_END)] != BLOCK_END.encode():
        raise PublishError("signature line not followed by " + BLOCK_END)
    match = re.fullmatch(rb"Kivo9Sig:k([12]):([A-Za-z0-9+/=]+)", page[sig + 1:line_end])
    if not match:
        raise PublishError("malformed signature line")
    return page[start:sig + 1], int(match.group(1)), match.group(2).decode("ascii")


def parse_block(signed):
    """The Block of signed bytes (as split_page returns them); PublishError on a bad field."""
    try:
        text = signed.decode("ascii")
    except UnicodeDecodeError:
        raise PublishError("signed block is not ASCII") from None
    fields, lists, extra, deltas = {}, {"pkg": [], "prevpkg": [], "solid": []}, [], []
    for line in text[len(BLOCK_START):].split("\n")[:-1]:
        key, equals, value = line.partition("=")
        if not equals:
            raise PublishError("signed block line without '=': %r" % line)
        if key in lists:
            match = PKG_LINE.fullmatch(value)
            if not match or int(match.group(2)) > MAX_NUMBER:
                raise PublishError("malformed %s line: %r" % (key, line))
            if match.group(1) in [name for name, _, _ in lists[key]]:
                raise PublishError("%s line given twice: %s" % (key, match.group(1)))
            lists[key].append((match.group(1), int(match.group(2)), match.group(3)))
        elif key == "delta":
            match = DELTA_LINE.fullmatch(value)
            if not match or int(match.group(3)) > MAX_NUMBER:
                raise PublishError("malformed delta line: %r" % line)
            if match.group(1, 2) in [d[:2] for d in deltas]:
                raise PublishError("delta line given twice: %s from %s" % match.group(1, 2))
            deltas.append((match.group(1), match.group(2), int(match.group(3)), match.group(4),
                           match.group(5)))
        elif key in ("chan", "v", "seq", "exp", "share", "salt", "prev"):
            if key in fields:
                raise PublishError("field %s appears twice" % key)
            fields[key] = value
        else:
            extra.append((key, value))
    missing = [k for k in ("chan", "v", "seq", "exp") if k not in fields]
    if missing:
        raise PublishError("signed block lacks " + ", ".join(missing))
    if (fields["chan"] not in CHANNELS or not fields["seq"].isascii() or
            not fields["seq"].isdigit() or int(fields["seq"]) > MAX_NUMBER):
        raise PublishError("bad chan or seq in signed block")
    return Block(fields["chan"], fields["v"], int(fields["seq"]), parse_time(fields["exp"]),
                 lists["pkg"], extra, _parse_rollout(fields, lists["prevpkg"]), lists["solid"],
                 deltas)


def _parse_rollout(fields, previous_packages):
    """The Rollout of a block's fields, by the rules signed agents hold it to."""
    share = fields.get("share")
    if share is not None:
        if not share.isdigit() or int(share) > WHOLE_FLEET:
            raise PublishError("malformed share %r (want 0 to %d basis points)"
                               % (share, WHOLE_FLEET))
        share = int(share)
    salt = fields.get("salt")
    if salt is not None and not SALT.fullmatch(salt):
        raise PublishError("malformed salt")
    if salt is None and share not in (None, 0, WHOLE_FLEET):
        raise PublishError("a share without a salt")
    previous = fields.get("prev")
    if previous is not None and (not RELEASE_NUMBER.fullmatch(previous)
                                 or int(previous) > MAX_VERSION):
        raise PublishError("malformed prev")
    if previous is None and previous_packages:
        raise PublishError("prevpkg without prev")
    if previous is not None and (not RELEASE_NUMBER.fullmatch(fields["v"])
                                 or int(previous) >= int(fields["v"])):
        raise PublishError("prev %s is not older than the release %s" % (previous, fields["v"]))
    before = (previous, previous_packages) if previous is not None else None
    return Rollout(share, salt, before)


def parse_time(text):
    """A UTC time in the block's format; PublishError otherwise."""
    if not TIME.fullmatch(text):  # strptime would take a lower-case z and missing zeros
        raise PublishError("bad time %r (want YYYY-MM-DDTHH:MM:SSZ)" % text)
    try:
        value = datetime.datetime.strptime(text, TIME_FORMAT)
    except ValueError:
        raise PublishError("bad time %r (want YYYY-MM-DDTHH:MM:SSZ)" % text) from None
    return value.replace(tzinfo=datetime.timezone.utc)
