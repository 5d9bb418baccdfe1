#!/usr/bin/env python3
"""The end-to-end figures of `make bench` (scripts/run-bench): runs the
zepbench commands and their yardsticks, prints one table and writes it, with
the micro-benchmarks, to bench/REPORT.md. Exits 1 when a figure misses its
goal, 2 when a benchmark cannot run.

Adding a figure: write (or extend) a section function below that measures
it and calls

    table.add(figure, value, unit, baseline=(name, value), ratio=None,
              goal=("ratio", "<=", 1.3))

`baseline` is the yardstick measured in the same run (another program, the
same program with a feature off, the smallest configuration); the ratio is
value / baseline unless given (a pairwise median, say). `goal` names what
it bounds ("value" or "ratio"), the comparison and the limit; a row without
a goal is shown for information. Register the section in SECTIONS, and
name it in scripts/run-bench's help.
"""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time

OPS = {"<": lambda a, b: a < b, "<=": lambda a, b: a <= b,
       ">": lambda a, b: a > b, ">=": lambda a, b: a >= b}


class Failure(Exception):
    """A benchmark that could not run (exit status 2)."""


class Table:
    """The figures of one run: each with its baseline, ratio and goal."""

    def __init__(self):
        self.rows = []

    def add(self, figure, value, unit, baseline=None, ratio=None, goal=None, why=None):
        """`why` says, in the baseline's column, why a figure has no baseline."""
        if ratio is None and baseline is not None and baseline[1]:
            ratio = value / baseline[1]
        met = None
        if goal is not None:
            what, op, limit = goal
            met = OPS[op](ratio if what == "ratio" else value, limit)
        self.rows.append(dict(figure=figure, value=value, unit=unit, baseline=baseline,
                              ratio=ratio, goal=goal, met=met, why=why))

    def missed(self):
        return [r for r in self.rows if r["met"] is False]

    def lines(self):
        """The table as Markdown rows."""
        out = ["| figure | measured | baseline (same run) | ratio | goal | met |",
               "|---|---:|---|---:|---|---|"]
        for r in self.rows:
            base = "none: " + r["why"] if r["why"] else ""
            if r["baseline"] is not None:
                base = "%s: %s %s" % (r["baseline"][0], number(r["baseline"][1]), r["unit"])
            goal, met = "", ""
            if r["goal"] is not None:
                what, op, limit = r["goal"]
                goal = "%s %s %s" % (what, op, number(limit))
                met = "yes" if r["met"] else "**NO**"
            ratio = "%.2f" % r["ratio"] if r["ratio"] is not None else ""
            out.append("| %s | %s %s | %s | %s | %s | %s |" % (
                r["figure"], number(r["value"]), r["unit"], base, ratio, goal, met))
        return out


def number(v):
    if isinstance(v, int) or (isinstance(v, float) and v >= 1000):
        return format(int(round(v)), ",")
    return "%.3g" % v if v < 10 else "%.1f" % v


def fields(text):
    """The name=value pairs of a zepbench output, numbers as floats."""
    out = {}
    for tok in text.split():
        if "=" in tok:
            k, v = tok.split("=", 1)
            try:
                out[k] = float(v)
            except ValueError:
                out[k] = v
    return out


class Runner:
    """Runs commands one at a time and reports each child's own usage."""

    def __init__(self, work):
        self.out = os.path.join(work, "child.out")
        self.err = os.path.join(work, "child.err")

    def run(self, cmd, label):
        """Runs cmd once; returns (processor s, wall s, peak RSS MiB, stdout).
        Raises Failure when it does not exit 0."""
        t0 = time.monotonic()
        pid = os.fork()
        if pid == 0:
            try:
                os.dup2(os.open(self.out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 1)
                os.dup2(os.open(self.err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 2)
                os.execvp(cmd[0], cmd)
            finally:
                os._exit(127)
        _, status, usage = os.wait4(pid, 0)
        wall = time.monotonic() - t0
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            raise Failure("%s failed (%d): %s" % (label, code, open(self.err).read().strip()))
        return (usage.ru_utime + usage.ru_stime, wall, usage.ru_maxrss / 1024.0,
                open(self.out).read())


def median_of(values):
    return statistics.median(values)


# --- sections ----------------------------------------------------------------

def held_line(table, f):
    """Heap bytes per held metric line at the record limit. A line holds its
    ready ZEPSMT row (1,004 bytes) and, with a fault, its ZEPFLCT row: the
    bound is the line's allocation (1,072 bytes) and its share of fault rows,
    so that anything held besides shows."""
    table.add("bytes per held line (default retention, 30,000-line limit)",
              f["bytes_per_kept_line"], "B", baseline=("a ZEPSMT row", 1004),
              goal=("value", "<=", 1100))


def ingest(args, table, details):
    """The peers' file through `zepbench ingest`, in alternating pairs with the
    C++ reference: records per processor second, peak RSS, bytes per held
    line."""
    n = args.n
    log = os.path.join(args.work, "metric.log")
    if not args.peers:
        out = RUN.run([args.bench, "ingest", "--generate", str(n), "--services", "50"],
                        "zepbench ingest --generate")
        f = fields(out[3])
        table.add("ingest %s generated records, records per processor second" % format(n, ","),
                  n / f["cpu_seconds"], "/s",
                  why="the peers' kit (C++ reference) is absent: set PEERS_DIR")
        held_line(table, f)
        return
    subprocess.run(["python3", os.path.join(args.peers, "gen_metric_log.py"), "-n", str(n),
                    "--seed", "42", "-o", log], check=True)
    agg = os.path.join(args.work, "peer_agg")
    subprocess.run(["g++", "-O2", "-std=c++17", "-o", agg,
                    os.path.join(args.peers, "peer_agg.cpp")], check=True)
    zep = [args.bench, "ingest", log]
    ref = [agg, log]
    RUN.run(ref, "warm-up")  # the file into the page cache
    RUN.run(zep, "warm-up")
    a, b = [], []  # (cpu, wall, rss, stdout)
    for _ in range(max(args.runs, 5)):
        a.append(RUN.run(zep, "zepbench ingest"))
        b.append(RUN.run(ref, "C++ reference"))
    cpu_a, cpu_b = median_of([x[0] for x in a]), median_of([x[0] for x in b])
    wall_a, wall_b = median_of([x[1] for x in a]), median_of([x[1] for x in b])
    print("   %-44s cpu %.3f s  wall %.3f s (median of %d)" % ("zepbench ingest", cpu_a, wall_a,
                                                              len(a)))
    print("   %-44s cpu %.3f s  wall %.3f s" % ("C++ reference (peer_agg)", cpu_b, wall_b))
    pairs = [y[0] / x[0] for x, y in zip(a, b)]
    walls = [y[1] / x[1] for x, y in zip(a, b)]
    details.append("ingest pairs, C++ s / zepbench s (processor): %s"
                   % " ".join("%.2f" % r for r in pairs))
    table.add("ingest %s records (peers' file), records per processor second" % format(n, ","),
              n / cpu_a, "/s", baseline=("C++ reference", n / cpu_b),
              ratio=median_of(pairs), goal=("ratio", ">=", 0.5))
    table.add("the same, records per wall second", n / wall_a, "/s",
              baseline=("C++ reference", n / wall_b), ratio=median_of(walls))
    rss = median_of([x[2] for x in a])
    table.add("ingest peak RSS (whole process)", rss, "MiB",
              baseline=("C++ reference", median_of([x[2] for x in b])), goal=("value", "<", 64))
    f = fields(a[-1][3])
    held_line(table, f)
    if args.mtail == "1":
        cmd = ["mtail", "--one_shot", "--one_shot_format", "json", "--logtostderr", "--port", "0",
               "--logs", log, "--progs", os.path.join(args.peers, "mtail", "peers.mtail")]
        mt = RUN.run(cmd, "mtail")[0]
        table.add("ingest, records per processor second against mtail", n / cpu_a, "/s",
                  baseline=("mtail", n / mt), goal=("ratio", ">=", 50))


def per_record(args, table, details):
    """Processor ns per record against servers, operations and situations.
    The configurations take turns, round after round, so that a machine whose
    speed drifts during the run weighs on all of them alike; each figure is
    the median over the rounds of the timed part's processor seconds."""
    m = args.per_record_n
    configs = [
        ("small", ["--servers", "1", "--services", "10"], "1 server x 10 operations"),
        ("wide", ["--servers", "1", "--services", "1000"], "1 server x 1,000 operations"),
        ("spread", ["--servers", "100", "--services", "10"],
         "100 servers x 10 operations (1,000 in all)"),
        ("none", ["--servers", "1", "--services", "50", "--times", "new"],
         "new records, 0 situations"),
        ("many", ["--servers", "1", "--services", "50", "--times", "new", "--situations", "1000"],
         "new records, 1,000 situations"),
    ]
    samples = {name: [] for name, _, _ in configs}
    for _ in range(args.rounds):
        for name, extra, label in configs:
            out = RUN.run([args.bench, "ingest", "--generate", str(m)] + extra, label)[3]
            samples[name].append(fields(out)["cpu_seconds"] / m * 1e9)
    cost = {name: median_of(v) for name, v in samples.items()}
    for name, _, label in configs:
        print("   %-44s %.0f ns per record (median of %d)" % (label, cost[name], args.rounds))
    per = "ns per record (%s records), " % format(m, ",")
    table.add(per + configs[0][2], cost["small"], "ns")
    # A run's ratio is the median of its rounds' ratios (each round times
    # the cases back to back): one round slowed by another process on the
    # machine does not decide it. Every round is listed below the table.
    for name, _, label in configs[1:3]:
        rounds = [w / s for w, s in zip(samples[name], samples["small"])]
        details.append("%s / 1 x 10 per round: %s" % (label, " ".join("%.2f" % r for r in rounds)))
        table.add(per + label + " (median of %d rounds)" % len(rounds), cost[name], "ns",
                  baseline=("1 x 10", cost["small"]), ratio=median_of(rounds),
                  goal=("ratio", "<=", 1.3))
    table.add(per + "new records, 1,000 situations", cost["many"], "ns",
              baseline=("0 situations", cost["none"]), goal=("ratio", "<=", 1.5))


def metrics(args, table, details):
    """Ingestion with the registry's updates on and off, taking turns."""
    m = 300000
    runs = {"on": [], "off": []}
    for _ in range(args.rounds):
        for state in ("on", "off"):
            out = RUN.run([args.bench, "ingest", "--generate", str(m), "--servers", "100",
                             "--services", "20", "--metrics", state],
                            "ingest --metrics " + state)[3]
            runs[state].append(fields(out)["cpu_seconds"] / m * 1e9)
    table.add("ns per record with the metrics registry's updates (100 x 20)",
              median_of(runs["on"]), "ns", baseline=("updates off", median_of(runs["off"])),
              goal=("ratio", "<=", 1.1))


def scrape(args, table, details):
    s = fields(RUN.run([args.bench, "scrape"], "zepbench scrape")[3])
    table.add("/metrics of %d service label sets" % s["label_sets"], s["registry_ms"], "ms",
              baseline=("Prometheus C++ client", s["client_ms"]), ratio=s["ratio"],
              goal=("ratio", "<=", 1.0))


def series(args, table, details):
    """The bounded per-service series at fleet size: 100 servers x 1,000
    operations of names of their own, fed through the agent with the default
    labels and cap; ingestion with the registry's updates on and off (taking
    turns), then what GET /metrics answers. The series' memory is the heap of
    registering every operation less that of a run capped at one label set
    per family."""
    m = 300000
    fleet = [args.bench, "ingest", "--generate", str(m), "--servers", "100", "--services", "1000",
             "--unique-operations"]
    runs = {"on": [], "off": []}
    for _ in range(args.rounds):
        for state in ("on", "off"):
            out = RUN.run(fleet + ["--metrics", state], "fleet ingest --metrics " + state)[3]
            runs[state].append(fields(out)["cpu_seconds"] / m * 1e9)
    fs = fields(RUN.run(fleet + ["--scrape"], "fleet ingest --scrape")[3])
    capped = fields(RUN.run(fleet + ["--scrape", "--max-series", "1"],
                            "fleet ingest --max-series 1")[3])
    table.add("ns per record with the metrics registry's updates (100 x 1,000, default labels)",
              median_of(runs["on"]), "ns", baseline=("updates off", median_of(runs["off"])),
              goal=("ratio", "<=", 1.1))
    table.add("/metrics of 100 x 1,000 with the default labels and cap (%s bytes, %s gzip)"
              % (format(int(fs["scrape_bytes"]), ","), format(int(fs["scrape_gzip_bytes"]), ",")),
              fs["scrape_ms"], "ms", baseline=("Prometheus C++ client", fs["client_ms"]),
              ratio=fs["scrape_ratio"], goal=("ratio", "<=", 1.0))
    table.add("memory of those series", (fs["warm_heap_bytes"] - capped["warm_heap_bytes"])
              / 1048576, "MiB")
    details.append("100 x 1,000 with the defaults: %d label sets per counter family, %d per "
                   "histogram family; %s records into __overflow__; %s sample lines"
                   % (fs["label_sets_zep_messages_total"], fs["label_sets_zep_elapsed_seconds"],
                      format(int(fs["overflowed_records"]), ","),
                      format(int(fs["sample_lines"]), ",")))


def tls(args, table, details):
    """GET /metrics kept alive in plain HTTP and over TLS, and the first
    scrape of a new TLS connection, with its handshake."""
    t = fields(RUN.run([args.bench, "tls"], "zepbench tls")[3])
    table.add("/metrics (%s bytes) kept alive over TLS" % format(int(t["page_bytes"]), ","),
              t["tls_ms"], "ms", baseline=("plain HTTP", t["plain_ms"]))
    details.append("first TLS scrape of a new connection, with its handshake: %.2f ms"
                   % t["tls_first_ms"])


def sample(args, table, details):
    s = fields(RUN.run([args.bench, "sample"], "zepbench sample")[3])
    table.add("ZEPSMT real-time sample of %d rows" % s["zepsmt_realtime_rows"],
              s["zepsmt_realtime_seconds"] * 1e3, "ms",
              baseline=("memcpy of the rows", s["memcpy_seconds"] * 1e3), goal=("ratio", "<", 3))
    for t in ("zepsmt", "zepflct", "zepinv"):
        for kind in ("realtime", "history"):
            details.append("%s %s sample: %d rows, %.2f ms" % (
                t.upper(), kind, s["%s_%s_rows" % (t, kind)], s["%s_%s_seconds" % (t, kind)] * 1e3))
    if "api_json_mb_per_second" in s:
        table.add("ZEPSMT as JSON over the operator API (%s bytes)"
                  % format(int(s["api_json_bytes"]), ","), s["api_json_mb_per_second"], "MB/s",
                  goal=("value", ">=", 50))


def slow_readers(args, table, details):
    """16 clients that ask for a 30,000-row ZEPSMT and never read, against
    the real agent (bench/slow_readers.py): the agent's memory and another
    client's /healthz meanwhile."""
    work = os.path.join(args.work, "slow-readers")
    os.makedirs(work, exist_ok=True)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "slow_readers.py")
    s = fields(RUN.run([sys.executable, script, os.path.dirname(args.bench), work],
                       "slow readers")[3])
    table.add("RSS growth, 16 clients never reading ZEPSMT (%s bytes each)"
              % format(int(s["table_bytes"]), ","), s["rss_growth_kib"] / 1024.0, "MiB",
              goal=("value", "<", 64))
    table.add("/healthz beside them", s["healthz_ms"], "ms", goal=("value", "<", 1000))
    details.append("slow readers: RSS %.1f MiB after one whole answer, %.1f MiB when all "
                   "were cut off (%.1f s)" % (s["rss_base_kib"] / 1024.0,
                                              s["rss_after_kib"] / 1024.0, s["drain_s"]))


def dashboard(args, table, details):
    ui = fields(open(os.path.join(args.work, "dashboard.txt")).read())
    table.add("dashboard first view, 100 servers x 20 operations (median of %d loads)"
              % ui["runs"], ui["first_view_ms"], "ms", goal=("value", "<", 1000))
    for view in ("overview", "subnode", "situations", "config"):
        details.append("dashboard refresh of %s asks %s" % (
            view, ui["refresh_" + view].replace(",", ", ")))


def history(args, table, details):
    """Wall-clock figures: the database servers do most of the work. The
    writers' goals hold in every run: the ratio shown is the worst run's."""
    runs = [fields(RUN.run([args.bench, "history", "100000"], "zepbench history")[3])
            for _ in range(max(args.history_runs, 1))]
    for back, tool, writer, load, bound in (
            ("PostgreSQL", "psql \\copy", "pg_writer", "pg_copy", 0.5),
            ("SQLite", "sqlite3 .import", "sqlite_writer", "sqlite_import", 1.0)):
        rates = [h[writer + "_rows_per_second"] for h in runs]
        loads = [h[load + "_rows_per_second"] for h in runs]
        ratios = [w / l for w, l in zip(rates, loads)]
        details.append("%s writer / %s per run: %s" % (back, tool, " ".join(
            "%.2f" % r for r in ratios)))
        table.add("history writes into %s, 100,000 ZEPSMT rows (worst of %d runs)"
                  % (back, len(runs)), median_of(rates), "rows/s",
                  baseline=(tool, median_of(loads)), ratio=min(ratios),
                  goal=("ratio", ">=", bound))
    for back, key in (("PostgreSQL", "pg"), ("SQLite", "sqlite")):
        table.add("one-day history query of 100,000 ZEPSMT rows from %s" % back,
                  median_of([h[key + "_query_mb_per_second"] for h in runs]), "MB/s",
                  goal=("value", ">=", 50))


SECTIONS = [("ingest", ingest), ("per-record", per_record), ("metrics", metrics),
            ("scrape", scrape), ("series", series), ("tls", tls), ("sample", sample),
            ("slow-readers", slow_readers), ("dashboard", dashboard),
            ("history", history)]


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "?"


def main():
    global RUN
    p = argparse.ArgumentParser()
    for name in ("bench", "work", "peers", "sections", "report", "mtail"):
        p.add_argument("--" + name, default="")
    for name in ("runs", "n", "per-record-n", "rounds", "history-runs"):
        p.add_argument("--" + name, type=int)
    args = p.parse_args()
    RUN = Runner(args.work)
    wanted = args.sections.split(",")
    load = " ".join(open("/proc/loadavg").read().split()[:3])
    table, details = Table(), []
    try:
        for name, section in SECTIONS:
            if name in wanted:
                section(args, table, details)
    except (Failure, subprocess.CalledProcessError) as e:
        print("run-bench: %s" % e, file=sys.stderr)
        sys.exit(2)

    print("\n" + "\n".join(table.lines()))
    for d in details:
        print("   " + d)
    with open(args.report, "w") as f:
        f.write("# Benchmark report (generated by scripts/run-bench; not committed)\n\n")
        f.write("Machine: %s, %s, %d CPUs (%s), load average %s at the start. %s.\n\n"
                % (platform.node(), platform.machine(), os.cpu_count(), cpu_model(), load,
                   time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())))
        f.write("Every baseline and ratio comes from this run; times are processor seconds "
                "(user + system) of the timed processes.\n\n")
        f.write("\n".join(table.lines()) + "\n\n")
        for d in details:
            f.write("- %s\n" % d)
        micro = os.path.join(args.work, "micro.json")
        if os.path.exists(micro):
            f.write("\n## Micro-benchmarks\n\n| benchmark | cpu ns | items/s |\n|---|---:|---:|\n")
            for b in json.load(open(micro))["benchmarks"]:
                ips = b.get("items_per_second")
                f.write("| %s | %.1f | %s |\n" % (b["name"], b["cpu_time"],
                                                 format(int(ips), ",") if ips else ""))
    print("== wrote %s" % args.report)
    missed = table.missed()
    if missed:
        print("run-bench: %d goal(s) missed: %s" % (len(missed), "; ".join(
            r["figure"] for r in missed)))
        sys.exit(1)


if __name__ == "__main__":
    main()
