"""report: one self-contained HTML file of what the statistics log says, for a person: a
summary, the share of the fleet on each build per day (a stacked area), the downloads per
package and day, both with the release events (promote, rollout, halt) marked on their day,
and the requests that got no package with the machines that made them. The pictures are
inline SVG drawn here; the file needs no network and no script to show them.
"""

import bisect
import html

from .stats import build_text

WIDTH, HEIGHT, MARGIN = 720, 260, 40
COLOURS = ("#3b6fb6", "#e0823d", "#4f9d5d", "#c44e52", "#8172b2", "#937860", "#da8bc3",
           "#8c8c8c", "#ccb974", "#64b5cd")


def _days(counts):
    return sorted({day for day, _ in counts.machines} | {day for day, _ in counts.packages})


def _x(index, total):
    return MARGIN + (WIDTH - 2 * MARGIN) * (index / max(total - 1, 1))


def _y(share):
    return HEIGHT - MARGIN - (HEIGHT - 2 * MARGIN) * share


def _axes(days, label, ticks):
    """The time axis with its days, the value axis with ticks ([(share of the height, text)])
    and the picture's label."""
    parts = ['<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#444"/>' % (
        MARGIN, HEIGHT - MARGIN, WIDTH - MARGIN, HEIGHT - MARGIN),
             '<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#444"/>' % (
        MARGIN, MARGIN, MARGIN, HEIGHT - MARGIN)]
    for share, text in ticks:
        parts.append('<text class="tick" x="%d" y="%.1f" font-size="10" text-anchor="end">%s'
                     '</text>' % (MARGIN - 4, _y(share) + 3, html.escape(text)))
    step = max(1, len(days) // 8)
    for i in range(0, len(days), step):
        parts.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%s</text>'
                     % (_x(i, len(days)), HEIGHT - MARGIN + 16, days[i].isoformat()[5:]))
    parts.append('<text x="%d" y="%d" font-size="11">%s</text>' % (MARGIN, MARGIN - 12,
                                                                     html.escape(label)))
    return parts


def _event_marks(days, events):
    """A dashed line with its label at each event's day ([(day, text)]); an event between
    the log's days stands at the next day, one after them is left out."""
    parts = []
    for day, text in events:
        index = bisect.bisect_left(days, day)
        if index == len(days) or (index == 0 and day < days[0]):
            continue
        x = _x(index, len(days)) if len(days) > 1 else WIDTH / 2
        parts.append('<line class="event" data-event="%s" x1="%.1f" y1="%d" x2="%.1f" y2="%d" '
                     'stroke="#c00" stroke-dasharray="4 3"/><text class="event-label" x="%.1f" '
                     'y="%d" font-size="10" fill="#c00">%s</text>' % (
                         html.escape(text), x, MARGIN, x, HEIGHT - MARGIN, x + 3,
                         MARGIN + 10 + 11 * (len(parts) % 3), html.escape(text)))
    return parts


def fleet_areas(counts, events=()):
    """The stacked area of the builds' shares per day as SVG, one <path> per build, and the
    release events ([(day, text)]) marked."""
    days = _days(counts)
    builds = sorted({build for _, build in counts.machines})
    totals = {day: sum(n for (d, _), n in counts.machines.items() if d == day) for day in days}
    parts = _axes(days, "share of the machines checking, by build",
                  [(0, "0%"), (0.5, "50%"), (1, "100%")])
    below = [0.0] * len(days)
    for index, build in enumerate(builds):
        shares = [counts.machines.get((day, build), 0) / totals[day] if totals[day] else 0
                  for day in days]
        top = [b + s for b, s in zip(below, shares)]
        if len(days) == 1:  # one day is a band of the whole width
            xs = [MARGIN, WIDTH - MARGIN]
            top, lower = top * 2, below * 2
        else:
            xs, lower = [_x(i, len(days)) for i in range(len(days))], below
        outline = ["%.1f,%.1f" % (x, _y(t)) for x, t in zip(xs, top)]
        outline += ["%.1f,%.1f" % (x, _y(b)) for x, b in reversed(list(zip(xs, lower)))]
        parts.append('<path class="area" data-build="%s" fill="%s" d="M%sZ"><title>build %s'
                     '</title></path>' % (build_text(build), COLOURS[index % len(COLOURS)],
                                          " L".join(outline), build_text(build)))
        below = top[:len(days)]
    legend = " ".join('<tspan fill="%s">&#9632; %s</tspan>' % (COLOURS[i % len(COLOURS)],
                                                              build_text(b))
                      for i, b in enumerate(builds))
    parts.append('<text x="%d" y="%d" font-size="12">%s</text>' % (WIDTH - MARGIN - 260,
                                                                   MARGIN - 12, legend))
    return _svg("fleet", parts + _event_marks(days, events))


def download_bars(counts, events=()):
    """Downloads (answered package requests) per package and day as SVG bars, and the
    release events ([(day, text)]) marked."""
    days = _days(counts)
    names = sorted({name for _, name in counts.packages})
    peak = max([ok for _, ok, _, _ in counts.packages.values()] + [1])
    parts = _axes(days, "downloads per package and day (highest: %d)" % peak,
                  [(0, "0")] + ([(peak // 2 / peak, str(peak // 2))] if peak >= 2 else []) +
                  [(1, str(peak))])
    slot = (WIDTH - 2 * MARGIN) / max(len(days), 1)
    width = slot * 0.8 / max(len(names), 1)
    for d, day in enumerate(days):
        for n, name in enumerate(names):
            ok = counts.packages.get((day, name), [0, 0])[1]
            height = (HEIGHT - 2 * MARGIN) * ok / peak
            parts.append('<rect class="bar" data-package="%s" x="%.1f" y="%.1f" width="%.1f" '
                         'height="%.1f" fill="%s"><title>%s %s: %d</title></rect>' % (
                             html.escape(name), MARGIN + d * slot + slot * 0.1 + n * width,
                             HEIGHT - MARGIN - height, width, height,
                             COLOURS[n % len(COLOURS)], day.isoformat(), html.escape(name), ok))
    legend = " ".join('<tspan fill="%s">&#9632; %s</tspan>' % (COLOURS[i % len(COLOURS)],
                                                              html.escape(name))
                      for i, name in enumerate(names))
    parts.append('<text x="%d" y="%d" font-size="12">%s</text>' % (WIDTH - MARGIN - 260,
                                                                   MARGIN - 12, legend))
    return _svg("downloads", parts + _event_marks(days, events))


def _svg(name, parts):
    return ('<svg id="%s" xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
            'viewBox="0 0 %d %d">%s</svg>' % (name, WIDTH, HEIGHT, WIDTH, HEIGHT,
                                               "".join(parts)))


def _sent(counts):
    """The summary's lines on the bytes sent by form, and what the priced deltas would have
    cost as full packages."""
    forms = {}
    for (_, form), (finished, sent) in counts.sent.items():
        forms.setdefault(form, [0, 0])
        forms[form][0] += finished
        forms[form][1] += sent
    lines = ["sent as %s packages: %d finished, %.1f MB" % (form, finished, sent / 1e6)
             for form, (finished, sent) in sorted(forms.items())]
    priced = [sum(p[i] for p in counts.delta_full.values()) for i in (0, 1)]
    if priced[0]:
        lines.append("the %d delta packages priced would have sent %.1f MB as full packages"
                     % (priced[0], priced[1] / 1e6))
    return lines


def render(counts, title="Kivo9 releases", events=()):
    """The whole report page; events ([(day, text)], oldest first) are the tree's release
    events."""
    days = _days(counts)
    last = days[-1] if days else None
    on_last = {b: n for (d, b), n in counts.machines.items() if d == last}
    total = sum(on_last.values())
    leading = max(on_last, key=on_last.get) if on_last else None
    refused = sum(requests - ok for requests, ok, _, _ in counts.packages.values())
    summary = ["days in the log: %d" % len(days)]
    if leading is not None:
        summary.append("on %s, %d machines checked; %.1f %% run build %s" % (
            last.isoformat(), total, 100.0 * on_last[leading] / total, build_text(leading)))
    summary.append("downloads: %d; package requests without a package: %d"
                   % (sum(ok for _, ok, _, _ in counts.packages.values()), refused))
    summary += _sent(counts)
    summary += ["%s: %s" % (day.isoformat(), text) for day, text in events
                if days and days[0] <= day <= days[-1]]
    if counts.skipped:
        summary.append("log lines skipped: %d" % sum(counts.skipped.values()))
    summary += counts.folded()
    failures = "".join("<tr><td>%s</td><td>%s</td><td>%d</td><td>%s</td></tr>" % (
        day.isoformat(), html.escape(name), requests - ok,
        counts.unanswered_machines(day, name))
        for (day, name), (requests, ok, _, _) in sorted(counts.packages.items()) if requests > ok)
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title>"
            "<style>body{font:14px sans-serif;margin:2em;color:#222}h2{font-size:16px}"
            "td{padding:0 1em 0 0}</style></head><body><h1>%s</h1><ul id=\"summary\">%s</ul>"
            "<h2>The fleet by build</h2>%s<h2>Downloads</h2>%s<h2>Requests without a package"
            "</h2><table id=\"failures\"><tr><th>day</th><th>package</th><th>requests</th>"
            "<th>machines</th></tr>"
            "%s</table></body></html>\n" % (
                html.escape(title), html.escape(title),
                "".join("<li>%s</li>" % html.escape(s) for s in summary),
                fleet_areas(counts, events) if counts.machines else
                "<p>No signed agent's version check in the log: agents without keys do not "
                "say their build.</p>", download_bars(counts, events), failures or
                "<tr><td colspan=\"4\">none</td></tr>"))
