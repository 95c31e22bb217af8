"""stats: what the reference server's JSON log says, per day: the package requests (all of
them and those answered with a package), the machines on each build (a signed agent's first
version check of the day says its build: no identifier is needed), the updates fetched
from each build to each build, and the packages sent by form (zip, solid or delta) with their bytes.

The log is streamed, and what it may hold is bounded whatever the clients send: the first
MAX_NAMES package names and MAX_BUILDS builds keep rows of their own, later ones are summed as
"(other)" and "other" (and counted); the last MAX_DAYS days are kept, earlier ones left out
(and counted). Memory and output are bounded by those, never by the log's lines. A line that is no record is skipped and counted by why: not UTF-8, not JSON,
a number out of range, a HEAD request (no download), or a record without a usable time. The
field table is in the README.
"""

import collections
import datetime
import json
import os
import re

from ..errors import PublishError

MAX_LINE = 64 * 1024  # nginx's own lines are a few hundred bytes
MAX_NUMBER = 2**31 - 1  # builds, versions and use counters are signed 32-bit numbers
MAX_NAMES = 64  # a release serves a few dozen languages
MAX_BUILDS = 24  # builds in the field at once, each update's from and to included
MAX_UPDATE_PAIRS = 64  # (from, to) pairs a day
MAX_DAYS = 366
MAX_BYTES = 2**63 - 1  # a body nginx sent; a larger figure is no record's
FORMS = ("zip", "solid", "delta")  # what a package request asked for
COUNTED = 100000  # how many folded values are told apart; beyond, "at least"
OTHER_NAME = "(other)"
OTHER_BUILD = MAX_NUMBER + 1  # no build has this number; shown as "other"
SKIP_REASONS = ("not UTF-8", "not JSON", "number out of range", "HEAD request", "no time",
                "line too long")


class Folding:
    """The first `limit` distinct values stay themselves, any later one becomes `other`;
    how many values were folded is told exactly up to COUNTED."""

    def __init__(self, limit, other):
        self.limit, self.other = limit, other
        self.kept, self.folded = set(), set()

    def __call__(self, value):
        if value in self.kept:
            return value
        if len(self.kept) < self.limit and value != self.other:
            self.kept.add(value)
            return value
        if len(self.folded) < COUNTED:
            self.folded.add(hash(value))  # a hash: a folded name may be long
        return self.other

    def told(self):
        """How many values were folded, as text ("0", "12", "at least 10000")."""
        n = len(self.folded)
        return "at least %d" % n if n >= COUNTED else str(n)


def build_text(build):
    return "other" if build == OTHER_BUILD else str(build)


class Counts:
    def __init__(self, full_size=None):
        self.skipped = collections.Counter()
        self.packages = {}  # (day, name): [requests, answered, lowest counter, highest]
        self.machines = collections.Counter()  # (day, build): first checks of the day
        self.updates = collections.Counter()  # (day, from build, to release): downloads
        self.sent = {}  # (day, form): [packages finished, body bytes of every answer]
        # With full_size(release, name) (bytes, or None when not known): day: [delta
        # downloads finished that were priced, what their full packages would have sent].
        self.full_size = full_size
        self.delta_full = {}
        self.names = Folding(MAX_NAMES, OTHER_NAME)
        self.builds = Folding(MAX_BUILDS, OTHER_BUILD)
        self.pairs = {}  # day: Folding of that day's (from, to) pairs
        self.days = set()
        self.days_left_out = set()
        # (day, name): the machines (hashed identifiers) whose request got no package, so
        # that a machine asking at every run counts once; COUNTED of them in all are told
        # apart, and a row that could add no more says "at least".
        self.unanswered = {}
        self.unanswered_full = set()
        self.unanswered_told = 0

    def folded(self):
        """What was summed or left out to keep the counts bounded, as lines; none usually."""
        lines = []
        if self.names.folded:
            lines.append("package names beyond the first %d summed as %s: %s"
                         % (MAX_NAMES, OTHER_NAME, self.names.told()))
        if self.builds.folded:
            lines.append("builds beyond the first %d summed as other: %s"
                         % (MAX_BUILDS, self.builds.told()))
        if any(pairs.folded for pairs in self.pairs.values()):
            lines.append("update pairs beyond %d a day summed as other to other"
                         % MAX_UPDATE_PAIRS)
        if self.days_left_out:
            lines.append("days before the last %d left out: %d (narrow with --since)"
                         % (MAX_DAYS, len(self.days_left_out)))
        return lines

    def _keep_day(self, day):
        """False when day is older than the MAX_DAYS days kept; a newer day beyond them
        drops the oldest."""
        if day in self.days:
            return True
        if len(self.days) == MAX_DAYS:
            oldest = min(self.days)
            if day < oldest:
                self.days_left_out.add(day)
                return False
            self.days.discard(oldest)
            self.days_left_out.add(oldest)
            self.pairs.pop(oldest, None)
            self.unanswered_told -= sum(len(known) for (d, _), known in self.unanswered.items()
                                        if d == oldest)
            for table in (self.packages, self.machines, self.updates, self.unanswered,
                          self.sent):
                for key in [key for key in table if key[0] == oldest]:
                    del table[key]
        self.days.add(day)
        return True

    def add(self, record):
        day = record["day"]
        if not self._keep_day(day):
            return
        if record["kind"] == "page":
            if record["d"] == 1 and record["b"] is not None:
                self.machines[(day, self.builds(record["b"]))] += 1
            return
        name = self.names(record["name"] or "-")
        counts = self.packages.setdefault((day, name), [0, 0, None, None])
        counts[0] += 1
        # Answered: the whole package, or the rest of one a cut left kept (206); a download
        # that broke off counts once it is finished by a later request.
        if record["status"] in (200, 206):
            # Every byte sent costs, whether or not the download was finished.
            self.sent.setdefault((day, record["form"]), [0, 0])[1] += record["bytes"]
        if record["status"] not in (200, 206) or not record["done"]:
            self._unanswered(day, name, record["hardid"])
            return
        counts[1] += 1
        self.sent[(day, record["form"])][0] += 1
        if record["form"] == "delta" and self.full_size and record["v"] is not None:
            full = self.full_size(record["v"], name)
            if full is not None:
                priced = self.delta_full.setdefault(day, [0, 0])
                priced[0] += 1
                priced[1] += full
        times = record["times"]
        if times is not None:
            counts[2] = times if counts[2] is None else min(counts[2], times)
            counts[3] = times if counts[3] is None else max(counts[3], times)
        if record["from"] is not None and record["v"] is not None:
            pair = (self.builds(record["from"]), self.builds(record["v"]))
            pairs = self.pairs.setdefault(day, Folding(MAX_UPDATE_PAIRS, (OTHER_BUILD, OTHER_BUILD)))
            self.updates[(day,) + pairs(pair)] += 1


    def _unanswered(self, day, name, hardid):
        machines = self.unanswered.setdefault((day, name), set())
        key = hash(hardid) & 0xFFFFFFFFFFFF  # 48 bits: a few collisions in millions
        if key in machines:
            return
        if self.unanswered_told >= COUNTED:
            self.unanswered_full.add((day, name))
            return
        machines.add(key)
        self.unanswered_told += 1

    def unanswered_machines(self, day, name):
        """How many machines got no package for name on day, as text ("3", "at least 7")."""
        n = len(self.unanswered.get((day, name), ()))
        return "at least %d" % n if (day, name) in self.unanswered_full else str(n)


class Skip(Exception):
    pass


def full_sizes(root):
    """full_size(release, name) for the server tree at root: the size of the release's solid
    package of the name, else of its zip package; None when it has neither."""
    known = {}

    def full_size(release, name):
        if not re.fullmatch(r"-|[a-z0-9]{1,32}", name):
            return None  # a name no package has (a folded one, or what a client made up)
        if (release, name) not in known:
            served = "" if name == "-" else name
            folder = os.path.join(root, "d", str(release))
            known[(release, name)] = next(
                (os.path.getsize(p) for p in (os.path.join(folder, "u%s.tzst" % served),
                                              os.path.join(folder, "u%s.jpg" % served))
                 if os.path.isfile(p)), None)
        return known[(release, name)]
    return full_size


def read_log(path, since=None, full_size=None):
    """The Counts of the log at path; since (a date) leaves out earlier days; full_size, when
    given, prices each delta download finished (Counts). PublishError when the log cannot be
    read."""
    counts = Counts(full_size)
    try:
        log = open(path, "rb")
    except OSError as e:
        raise PublishError("cannot read %s: %s" % (path, e.strerror)) from None
    with log:
        for raw in _lines(log, counts):
            try:
                record = _record(raw)
            except Skip as why:
                counts.skipped[str(why)] += 1
                continue
            if since is None or record["day"] >= since:
                counts.add(record)
    return counts


def _lines(log, counts):
    """The log's lines, each at most MAX_LINE bytes; a longer one is counted and skipped."""
    while True:
        line = log.readline(MAX_LINE + 1)
        if not line:
            return
        if len(line) > MAX_LINE:
            counts.skipped["line too long"] += 1
            while line and not line.endswith(b"\n"):
                line = log.readline(MAX_LINE)
            continue
        if line.strip():
            yield line


def _number(value, lowest=0):
    """A number field: None when empty or missing, Skip when out of range or no number."""
    if value is None or value == "" or value == "?":  # "?": nginx logged no usable value
        return None
    if type(value) is str and len(value) <= 10 and value.isascii() and value.isdigit():
        number = int(value)  # the usual case, quickly
    else:
        text = str(value)
        digits = text[1:] if text.startswith("-") and lowest < 0 else text
        if not digits.isascii() or not digits.isdigit() or len(digits) > 10:
            raise Skip("number out of range")
        number = int(text)
    if not lowest <= number <= MAX_NUMBER:
        raise Skip("number out of range")
    return number


_decode = json.JSONDecoder().raw_decode
_days = {}  # "YYYY-MM-DD": date, since a log holds few days and many lines


def _day(time):
    text = str(time)[:10]
    day = _days.get(text)
    if day is None:
        day = _days[text] = datetime.date.fromisoformat(text)
    return day


def _record(raw):
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise Skip("not UTF-8") from None
    try:
        fields, end = _decode(text)
    except ValueError:
        raise Skip("not JSON") from None
    if not isinstance(fields, dict) or text[end:].strip():
        raise Skip("not JSON")
    get = fields.get
    if get("method", "GET") == "HEAD":
        raise Skip("HEAD request")
    try:
        day = _day(fields["time"])
    except (KeyError, ValueError):
        raise Skip("no time") from None
    if get("kind") == "page":
        return {"day": day, "kind": "page", "b": _number(get("b")), "d": _number(get("d"))}
    status = _number(get("status"))
    # Logs written before the field knew only whole answers.
    done = get("done", "OK") == "OK"
    if status == 206 and "range" in fields:  # (older logs did not say the range)
        done = done and _reaches_the_end(fields["range"])
    return {"day": day, "kind": "package", "name": str(get("name", "")), "status": status,
            "hardid": str(get("hardid", ""))[:256],
            "times": _number(get("times"), -MAX_NUMBER - 1), "v": _number(get("v")),
            "from": _number(get("from")), "done": done,
            "form": get("form") if get("form") in FORMS else "zip", "bytes": _bytes(get("bytes"))}


def _bytes(value):
    """The body bytes of an answer; 0 when the log holds no usable figure (older lines)."""
    if type(value) is int and 0 <= value <= MAX_BYTES:
        return value
    text = str(value)
    return int(text) if text.isascii() and text.isdigit() and len(text) <= 18 else 0


def _reaches_the_end(content_range):
    """Whether a 206's Content-Range ("bytes 100-199/200") ends where the file ends: only such
    an answer finishes a download; "bytes 0-99/200" is a piece."""
    match = re.fullmatch(r"bytes (\d{1,20})-(\d{1,20})/(\d{1,20})", str(content_range))
    return match is not None and int(match[2]) + 1 == int(match[3])


def report(counts):
    """The counts as text: three tables, then what was skipped."""
    lines = ["%-10s %-8s %8s %6s  %s" % ("day", "package", "requests", "ok",
                                           "use counter min/max")]
    for (day, name), (requests, ok, low, high) in sorted(counts.packages.items()):
        spread = "%d/%d" % (low, high) if low is not None else "-"
        lines.append("%-10s %-8s %8d %6d  %s" % (day.isoformat(), name, requests, ok, spread))
    if counts.machines:
        lines.append("")
        lines.append("%-10s %-10s %8s" % ("day", "build", "machines"))
        for (day, build), machines in sorted(counts.machines.items()):
            lines.append("%-10s %-10s %8d" % (day.isoformat(), build_text(build), machines))
    if counts.updates:
        lines.append("")
        lines.append("%-10s %-10s %-10s %8s" % ("day", "from", "to", "updates"))
        for (day, before, after), updates in sorted(counts.updates.items()):
            lines.append("%-10s %-10s %-10s %8d" % (day.isoformat(), build_text(before),
                                                    build_text(after), updates))
    if counts.sent:
        lines.append("")
        lines.append("%-10s %-8s %8s %12s" % ("day", "form", "packages", "MB sent"))
        for (day, form), (finished, sent) in sorted(counts.sent.items()):
            lines.append("%-10s %-8s %8d %12.1f" % (day.isoformat(), form, finished, sent / 1e6))
        for day, (priced, full) in sorted(counts.delta_full.items()):
            lines.append("%-10s delta: %d finished would have sent %.1f MB as full packages"
                         % (day.isoformat(), priced, full / 1e6))
    if counts.skipped:
        lines.append("")
        lines.append("skipped: " + ", ".join("%d %s" % (counts.skipped[why], why)
                                             for why in SKIP_REASONS if counts.skipped[why]))
    folded = counts.folded()
    if folded:
        lines.append("")
        lines += folded
    return "\n".join(lines) + "\n"


def _json_build(build):
    return "other" if build == OTHER_BUILD else build


def as_json(counts):
    """The counts as one JSON object: {"days": {day: {...}}, "skipped": {reason: lines}}."""
    days = collections.defaultdict(lambda: {"packages": {}, "machines": {}, "updates": [],
                                            "sent": {}})
    for (day, name), (requests, ok, low, high) in sorted(counts.packages.items()):
        days[day.isoformat()]["packages"][name] = {"requests": requests, "ok": ok,
                                                   "use_counter_min": low,
                                                   "use_counter_max": high}
    for (day, build), machines in sorted(counts.machines.items()):
        days[day.isoformat()]["machines"][build_text(build)] = machines
    for (day, before, after), updates in sorted(counts.updates.items()):
        days[day.isoformat()]["updates"].append({"from": _json_build(before),
                                                 "to": _json_build(after),
                                                 "downloads": updates})
    for (day, form), (finished, sent) in sorted(counts.sent.items()):
        days[day.isoformat()]["sent"][form] = {"packages": finished, "bytes": sent}
    for day, (priced, full) in sorted(counts.delta_full.items()):
        days[day.isoformat()]["sent"]["delta"].update(priced=priced, full_bytes=full)
    return json.dumps({"days": days, "skipped": dict(counts.skipped),
                       "folded": counts.folded()}, indent=2,
                      sort_keys=True) + "\n"
