"""The fleet's checks against ground truth: pure functions over what the run
gathered (the simulators' records, the warehouse's rows, the webhook's
notifications, Prometheus's series), so that they can be tested alone."""

import collections
import re
import statistics
from datetime import datetime


def records(written, stored):
    """Compares each host's records with the warehouse.

    written: {host: set of record keys}; stored: iterable of the keys of the
    warehouse's rows (a key names a record: its server and correlator).
    Returns ({host: {written, in_warehouse, missing, duplicates}}, number of
    rows that no simulator wrote)."""
    count = collections.Counter(stored)
    hosts = {}
    for host, keys in written.items():
        found = [count[k] for k in keys if count[k] > 0]
        hosts[host] = {"written": len(keys), "in_warehouse": len(found),
                       "missing": len(keys) - len(found),
                       "duplicates": sum(n - 1 for n in found)}
    mine = set().union(*written.values()) if written else set()
    return hosts, sum(n for k, n in count.items() if k not in mine)


def parse_time(text):
    """Seconds since 1970 of an RFC 3339 time (any number of fraction digits),
    or of a number of seconds."""
    if isinstance(text, (int, float)):
        return float(text)
    text = re.sub(r"(\.\d{6})\d+", r"\1", text.replace("Z", "+00:00"))
    return datetime.fromisoformat(text).timestamp()


def alerts(raised, notes, alertname, tolerance=5.0, rejoins=()):
    """Each raised situation must reach the receiver firing, then resolved,
    each exactly once, but where an Alertmanager left or rejoined its
    cluster: a member that dies before its notification log reached the
    others, or comes back without it, notifies again (the cluster delivers
    at least once), so a repeat received inside one of the `rejoins`
    windows [(start, end)] is no problem. The last notification of a raise
    must be its resolution.

    raised: [(host, subnode, time raised)]; notes: the receiver's alerts
    (Alertmanager's webhook form plus "received"), only those named
    `alertname` count. Returns ({host: {alerts_firing, alerts_resolved}},
    problems as texts)."""
    notes = [n for n in notes if n["labels"].get("alertname") == alertname]
    used, problems = set(), []
    hosts = collections.defaultdict(lambda: {"alerts_firing": 0, "alerts_resolved": 0})
    rejoining = lambda t: any(a <= t <= b for a, b in rejoins)
    for host, subnode, when in raised:
        mine = [i for i, n in enumerate(notes) if n["labels"].get("subnode") == subnode
                and abs(parse_time(n["startsAt"]) - when) <= tolerance]
        used.update(mine)
        got = {s: sorted(notes[i]["received"] for i in mine if notes[i]["status"] == s)
               for s in ("firing", "resolved")}
        hosts[host]["alerts_firing"] += len(got["firing"])
        hosts[host]["alerts_resolved"] += len(got["resolved"])
        what = "%s %s raised at %s" % (host, subnode, _hms(when))
        once = {s: len([t for t in got[s][1:] if not rejoining(t)]) == 0 for s in got}
        if not got["firing"] or not got["resolved"] or not all(once.values()):
            problems.append("%s: %d firing and %d resolved notifications, not 1 and 1"
                            % (what, len(got["firing"]), len(got["resolved"])))
        elif got["resolved"][0] < got["firing"][0] or got["resolved"][-1] < got["firing"][-1]:
            problems.append("%s: resolved before firing" % what)
    for i, n in enumerate(notes):
        if i not in used:
            problems.append("a %s notification of %s no agent raised (starts %s)"
                            % (n["status"], n["labels"].get("subnode"), n["startsAt"]))
    return dict(hosts), problems


def down_outside(samples, windows):
    """Times at which `up` was 0 outside the windows the timeline made.
    samples: [(time, value)]; windows: [(start, end)]."""
    return [t for t, v in samples if v == 0 and not any(a <= t <= b for a, b in windows)]


def steady(samples, start, end, tolerance, least=0.0):
    """The level of a series (the median) in the second half of the first
    third of [start, end] and in the last third, and whether they differ by
    at most `tolerance` (a fraction) of the first, or by `least`. The first
    half of the first third is start-up. Returns (first, last, ok); ok is
    None when a window has no sample."""
    third = (end - start) / 3
    first = [v for t, v in samples if start + third / 2 <= t <= start + third]
    last = [v for t, v in samples if end - third <= t <= end]
    if not first or not last:
        return None, None, None
    a, b = statistics.median(first), statistics.median(last)
    return a, b, abs(b - a) <= max(tolerance * a, least)


def heal(arrivals, start, end):
    """Seconds from the end of a fault to the arrival of the last item it
    delayed. arrivals: [(item time, arrival time)]; an item is delayed when
    its own time lies in [start, end). 0 when nothing was delayed past end."""
    late = [arrived for t, arrived in arrivals if start <= t < end]
    return round(max(0.0, max(late) - end), 1) if late else 0.0


def write_gap(times, start, ref):
    """How writes went through a fault that began at `start`: the longest
    time without an arrival from the last one before `start` to the first at
    or after `ref` (the fault's end, or the promotion of a standby), and
    how long after `ref` that first one came. times: sorted arrival times.
    Returns (gap, first after ref), both None when nothing arrived after ref."""
    before = [t for t in times if t < start]
    after = [t for t in times if t >= ref]
    if not after:
        return None, None
    points = before[-1:] + [t for t in times if start <= t < after[0]] + after[:1]
    gap = max((b - a for a, b in zip(points, points[1:])), default=0.0)
    return round(gap, 1), round(after[0] - ref, 1)


def rates(times, start, end, step):
    """Items per second in consecutive `step`-second buckets of [start, end)."""
    n = max(1, int((end - start) // step))
    buckets = [0] * n
    for t in times:
        i = int((t - start) // step)
        if 0 <= i < n:
            buckets[i] += 1
    return [b / step for b in buckets]


def resample(samples, start, end, step, scale=1.0):
    """A series as the last value in each `step`-second bucket of [start,
    end), scaled; None where a bucket has none."""
    out = [None] * max(1, int((end - start) // step))
    for t, v in samples:
        i = int((t - start) // step)
        if 0 <= i < len(out):
            out[i] = v * scale
    return out


def capacity(cpu_seconds, rows, per_agent_rates, cores=8, busy=0.7):
    """Agents one warehouse of `cores` cores takes at `busy` load, for each
    rate of records per second per agent, from the CPU time the warehouse
    spent per stored row. Returns [(rate, agents)]."""
    per_row = cpu_seconds / rows if rows else 0
    return [(r, int(cores * busy / (r * per_row)) if per_row else None)
            for r in per_agent_rates]


def _hms(t):
    return datetime.fromtimestamp(t).strftime("%H:%M:%S")
