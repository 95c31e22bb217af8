"""stats: what the reference server's JSON log says, per day: the package requests (all of
them and those answered with a package), the machines on each build (a signed agent's first
version check of the day says its build: no identifier is needed) and the updates fetched
from each build to each build.

The log is streamed: memory grows with the days, builds and package names it holds, never
with its lines. A line that is no record is skipped and counted by why: not UTF-8, not JSON,
a number out of range, a HEAD request (no download), or a record without a usable time. The
field table is in the README.
"""

import collections
import datetime
import json

from .errors import PublishError

MAX_LINE = 64 * 1024  # nginx's own lines are a few hundred bytes
MAX_NUMBER = 2**31 - 1  # builds, versions and use counters are signed 32-bit numbers
SKIP_REASONS = ("not UTF-8", "not JSON", "number out of range", "HEAD request", "no time",
                "line too long")


class Counts:
    def __init__(self):
        self.skipped = collections.Counter()
        self.packages = {}  # (day, name): [requests, answered, lowest counter, highest]
        self.machines = collections.Counter()  # (day, build): first checks of the day
        self.updates = collections.Counter()  # (day, from build, to release): downloads

    def add(self, record):
        day = record["day"]
        if record["kind"] == "page":
            if record["d"] == 1 and record["b"] is not None:
                self.machines[(day, record["b"])] += 1
            return
        counts = self.packages.setdefault((day, record["name"] or "-"), [0, 0, None, None])
        counts[0] += 1
        # Answered: the whole package, or the rest of one a cut left kept (206); a download
        # that broke off counts once it is finished by a later request.
        if record["status"] not in (200, 206) or not record["done"]:
            return
        counts[1] += 1
        times = record["times"]
        if times is not None:
            counts[2] = times if counts[2] is None else min(counts[2], times)
            counts[3] = times if counts[3] is None else max(counts[3], times)
        if record["from"] is not None and record["v"] is not None:
            self.updates[(day, record["from"], record["v"])] += 1


class Skip(Exception):
    pass


def read_log(path, since=None):
    """The Counts of the log at path; since (a date) leaves out earlier days. PublishError
    when the log cannot be read."""
    counts = Counts()
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
    return {"day": day, "kind": "package", "name": str(get("name", "")),
            "status": _number(get("status")), "times": _number(get("times"), -MAX_NUMBER - 1),
            "v": _number(get("v")), "from": _number(get("from")),
            # Logs written before the field knew only whole answers.
            "done": get("done", "OK") == "OK"}


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
            lines.append("%-10s %-10d %8d" % (day.isoformat(), build, machines))
    if counts.updates:
        lines.append("")
        lines.append("%-10s %-10s %-10s %8s" % ("day", "from", "to", "updates"))
        for (day, before, after), updates in sorted(counts.updates.items()):
            lines.append("%-10s %-10d %-10d %8d" % (day.isoformat(), before, after, updates))
    if counts.skipped:
        lines.append("")
        lines.append("skipped: " + ", ".join("%d %s" % (counts.skipped[why], why)
                                             for why in SKIP_REASONS if counts.skipped[why]))
    return "\n".join(lines) + "\n"


def as_json(counts):
    """The counts as one JSON object: {"days": {day: {...}}, "skipped": {reason: lines}}."""
    days = collections.defaultdict(lambda: {"packages": {}, "machines": {}, "updates": []})
    for (day, name), (requests, ok, low, high) in sorted(counts.packages.items()):
        days[day.isoformat()]["packages"][name] = {"requests": requests, "ok": ok,
                                                   "use_counter_min": low,
                                                   "use_counter_max": high}
    for (day, build), machines in sorted(counts.machines.items()):
        days[day.isoformat()]["machines"][str(build)] = machines
    for (day, before, after), updates in sorted(counts.updates.items()):
        days[day.isoformat()]["updates"].append({"from": before, "to": after,
                                                 "downloads": updates})
    return json.dumps({"days": days, "skipped": dict(counts.skipped)}, indent=2,
                      sort_keys=True) + "\n"
