"""stats: who asked for which package, from the reference server's JSON log.

Each line of the log is one JSON object with the fields the nginx configuration writes:
time (ISO 8601), addr, name (the package name, empty for the generic one), hardid, times,
status, bytes. Lines that are no such object are counted and skipped.
"""

import collections
import datetime
import json
import statistics

from .errors import PublishError


def read_log(path, since=None):
    """({(day, name): [records]}, number of skipped lines); since is a date or None."""
    groups, skipped = collections.defaultdict(list), 0
    try:
        log = open(path, "r", encoding="utf-8", errors="replace")
    except OSError as e:
        raise PublishError("cannot read %s: %s" % (path, e.strerror)) from None
    with log:
        for line in log:
            record = _record(line)
            if record is None:
                skipped += 1
            elif since is None or record["day"] >= since:
                groups[(record["day"], record["name"] or "-")].append(record)
    return groups, skipped


def _record(line):
    try:
        fields = json.loads(line)
        day = datetime.date.fromisoformat(fields["time"][:10])
        times = fields.get("times", "")
        return {"day": day, "name": str(fields.get("name", "")),
                "hardid": str(fields.get("hardid", "")),
                "times": int(times) if str(times).lstrip("-").isdigit() else None,
                "status": int(fields.get("status", 0))}
    except (ValueError, KeyError, TypeError, AttributeError):
        return None


def report(groups, skipped):
    """The table as text: one line per day and package name."""
    header = "%-10s %-8s %8s %6s %8s  %s" % ("day", "package", "requests", "ok", "machines",
                                             "use counter min/median/max")
    lines = [header]
    for (day, name), records in sorted(groups.items()):
        counters = [r["times"] for r in records if r["times"] is not None]
        spread = ("%d/%g/%d" % (min(counters), statistics.median(counters), max(counters))
                  if counters else "-")
        lines.append("%-10s %-8s %8d %6d %8d  %s" % (
            day.isoformat(), name, len(records), sum(r["status"] == 200 for r in records),
            len({r["hardid"] for r in records}), spread))
    if skipped:
        lines.append("(%d lines that are no log record were skipped)" % skipped)
    return "\n".join(lines) + "\n"
