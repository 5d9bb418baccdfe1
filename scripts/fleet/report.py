"""The fleet's report: one table on standard output, the same as JSON, and an
HTML page with a timeline plot (rows stored per second per host, the fault
windows shaded) drawn as plain inline SVG."""

import html
import json

HOST_COLUMNS = [("host", "host"), ("kind", "kind"), ("written", "written"),
                ("in_warehouse", "stored"), ("missing", "missing"), ("duplicates", "dupl."),
                ("records_read", "read (Prom.)"), ("alerts_firing", "firing"),
                ("alerts_resolved", "resolved"), ("memory", "RSS MiB 1st->3rd"),
                ("fds", "fds 1st->3rd")]


def table(report):
    """The report as text: a row per host, then a row per check."""
    rows = [[title for _, title in HOST_COLUMNS]]
    for name, h in report["hosts"].items():
        rows.append([_cell(dict(h, host=name), key) for key, _ in HOST_COLUMNS])
    out = _columns(rows)
    out += "\n" + _columns([["check", "result", "detail"]] + [
        [c["check"], "ok" if c["ok"] else "FAILED", c["detail"]] for c in report["checks"]])
    return out


def _cell(h, key):
    if key == "memory":
        return _pair(h.get("memory_first"), h.get("memory_last"), 1 / 1048576, "%.1f")
    if key == "fds":
        return _pair(h.get("fds_first"), h.get("fds_last"), 1, "%.0f")
    value = h.get(key)
    return "-" if value is None else str(value)


def _pair(a, b, scale, fmt):
    if a is None or b is None:
        return "-"
    return (fmt + "->" + fmt) % (a * scale, b * scale)


def _columns(rows):
    """Rows of cells as aligned text; the last column is not padded."""
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]) - 1)] + [0]
    return "".join("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() + "\n"
                   for r in rows)


def write(report, plots, path_json, path_html):
    """Writes the JSON and the HTML page. plots: {title: {host: [value per
    bucket, None for no value]}}; report["plot"] gives the bucket length and
    the run's length."""
    with open(path_json, "w") as f:
        json.dump(report, f, indent=1, sort_keys=True)
    with open(path_html, "w") as f:
        f.write(_page(report, plots))


COLORS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2",
          "#7f7f7f", "#bcbd22", "#17becf"]


def _plot(report, series):
    w, h, left, top, bottom = 900, 300, 50, 10, 30
    step, length = report["plot"]["step"], report["plot"]["seconds"]
    peak = max([v for s in series.values() for v in s if v is not None] + [1])
    x = lambda t: left + (w - left - 10) * t / length
    y = lambda v: top + (h - top - bottom) * (1 - v / peak)
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
             'font-family="sans-serif" font-size="11">' % (w, h)]
    top += 12 * len(report["outages"])          # a line of label per fault
    for k, (name, o) in enumerate(report["outages"].items()):
        parts.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="#f4cccc" '
                     'opacity="0.6"><title>%s</title></rect><text x="%.1f" y="%d">%s</text>'
                     % (x(o["start"]), top, max(1, x(o["end"]) - x(o["start"])),
                        h - top - bottom, html.escape(name), x(o["start"]) + 2,
                        top - 4 - 12 * k, html.escape(name)))
    for i, (name, values) in enumerate(sorted(series.items())):
        points = " ".join("%.1f,%.1f" % (x(k * step), y(v))
                          for k, v in enumerate(values) if v is not None)
        parts.append('<polyline fill="none" stroke="%s" points="%s"><title>%s</title></polyline>'
                     % (COLORS[i % len(COLORS)], points, name))
    parts.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="black"/>'
                 % (left, h - bottom, w - 10, h - bottom))
    parts.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="black"/>'
                 % (left, top, left, h - bottom))
    for t in range(0, int(length) + 1, max(30, int(length / 10) // 30 * 30)):
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%d s</text>'
                     % (x(t), h - bottom + 14, t))
    parts.append('<text x="%d" y="%.1f" text-anchor="end">%.0f</text>' % (left - 4, y(peak) + 4, peak))
    parts.append('<text x="%d" y="%d" text-anchor="end">0</text>' % (left - 4, h - bottom))
    parts.append("</svg>")
    legend = " ".join('<span style="color:%s">&#9632; %s</span>' % (COLORS[i % len(COLORS)],
                                                                   html.escape(n))
                      for i, n in enumerate(sorted(series)))
    return "\n".join(parts) + "<p>" + legend + "</p>"


def _page(report, plots):
    e = html.escape
    checks = "".join("<tr><td>%s</td><td>%s</td><td>%s</td></tr>"
                     % (e(c["check"]), "ok" if c["ok"] else "<b>FAILED</b>", e(c["detail"]))
                     for c in report["checks"])
    return ("<!doctype html><html><head><meta charset=\"utf-8\"><title>make fleet</title>"
            "<style>body{font-family:sans-serif}td,th{padding:2px 8px;text-align:left}"
            "pre{font-size:12px}</style></head><body><h1>make fleet: %s</h1>"
            "<p>%s</p>%s"
            "<h2>Checks</h2><table><tr><th>check</th><th>result</th><th>detail</th></tr>%s</table>"
            "<h2>Report</h2><pre>%s</pre></body></html>"
            % ("passed" if report["ok"] else "FAILED", e(report["run"]["summary"]),
               "".join("<h2>%s</h2>%s" % (e(title), _plot(report, series))
                       for title, series in plots.items()), checks, e(table(report))))
