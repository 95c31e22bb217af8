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
"""

import datetime
import re

from .errors import PublishError

START_MARKER, END_MARKER = "Kivo9Version:", ":Kivo9VersionEnd"
BLOCK_START, SIG_PREFIX, BLOCK_END = "Kivo9Signed:1\n", "Kivo9Sig:k", ":Kivo9SignedEnd"
CHANNELS = ("ver", "testver")
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
PKG_LINE = re.compile(r"(-|[a-z0-9]+) ([0-9]+) ([0-9a-f]{64})")


# A page signed for two days and a day of clock skew hold a client that sees no newer page
# for at most 72 hours. Signed agents refuse a page that expires further ahead than the
# longest expiry and a day.
DEFAULT_EXPIRES_DAYS = 2
LONGEST_EXPIRES_DAYS = 7


class Block:
    """The fields of a signed block. packages: [(name or "-", size, sha256 hex)] in page
    order; extra: [(key, value)] lines this tool does not know, kept as they are."""

    def __init__(self, chan, version, seq, expires, packages, extra=()):
        self.chan, self.version, self.seq = chan, version, seq
        self.expires, self.packages, self.extra = expires, list(packages), list(extra)

    def signed_text(self):
        lines = ["chan=" + self.chan, "v=" + self.version, "seq=%d" % self.seq,
                 "exp=" + self.expires.strftime(TIME_FORMAT)]
        lines += ["%s=%s" % kv for kv in self.extra]
        lines += ["pkg=%s %d %s" % p for p in self.packages]
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
    fields, packages, extra = {}, [], []
    for line in text[len(BLOCK_START):].split("\n")[:-1]:
        key, equals, value = line.partition("=")
        if not equals:
            raise PublishError("signed block line without '=': %r" % line)
        if key == "pkg":
            match = PKG_LINE.fullmatch(value)
            if not match:
                raise PublishError("malformed pkg line: %r" % line)
            if match.group(1) in [name for name, _, _ in packages]:
                raise PublishError("pkg line given twice: %s" % match.group(1))
            packages.append((match.group(1), int(match.group(2)), match.group(3)))
        elif key in ("chan", "v", "seq", "exp"):
            if key in fields:
                raise PublishError("field %s appears twice" % key)
            fields[key] = value
        else:
            extra.append((key, value))
    missing = [k for k in ("chan", "v", "seq", "exp") if k not in fields]
    if missing:
        raise PublishError("signed block lacks " + ", ".join(missing))
    if fields["chan"] not in CHANNELS or not fields["seq"].isdigit():
        raise PublishError("bad chan or seq in signed block")
    return Block(fields["chan"], fields["v"], int(fields["seq"]), parse_time(fields["exp"]),
                 packages, extra)


def parse_time(text):
    """A UTC time in the block's format; PublishError otherwise."""
    try:
        value = datetime.datetime.strptime(text, TIME_FORMAT)
    except ValueError:
        raise PublishError("bad time %r (want YYYY-MM-DDTHH:MM:SSZ)" % text) from None
    return value.replace(tzinfo=datetime.timezone.utc)
