"""The center of the fleet: the PostgreSQL warehouse, Prometheus, Alertmanager
and a webhook receiver that records every notification. Each runs in the
center namespace (where the run itself sits) and can be stopped and
started again on the same data, which is how the outages are made.

Configuration files are written as JSON, which both servers read as YAML."""

import glob
import json
import os
import pwd
import re
import signal
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from common import http_json, run, serve, wait_for, write_json
from net import CENTER_IP

PG_PORT, PROM_PORT, AM_PORT, HOOK_PORT = 5432, 9090, 9093, 5001
DATABASE = "zephistory"


class Postgres:
    """A fresh cluster under `dir`, run by the postgres user, listening on
    the center's address; trusted without password from the fleet's subnet.
    All its processes stay in one cpuacct cgroup, so its CPU time is known
    also for backends that have gone."""

    def __init__(self, dir, cgroup):
        self.dir, self.data = dir, dir + "/data"
        self.bin = max(glob.glob("/usr/lib/postgresql/*/bin"))
        self.cgroup = cgroup
        os.makedirs(dir)
        pw = pwd.getpwnam("postgres")
        os.chown(dir, pw.pw_uid, pw.pw_gid)
        self.uri = "postgresql://zep@%s:%d/%s" % (CENTER_IP, PG_PORT, DATABASE)
        self.pg_ctl("initdb", "-o", "-A trust --no-sync -U zep")
        with open(self.data + "/pg_hba.conf", "a") as f:
            f.write("host all all %s/24 trust\n" % CENTER_IP)

    def pg_ctl(self, *args):
        run("runuser", "-u", "postgres", "--", self.bin + "/pg_ctl", "-D", self.data, *args,
            preexec_fn=self._enter_cgroup)

    def _enter_cgroup(self):
        with open(self.cgroup + "/cgroup.procs", "w") as f:
            f.write(str(os.getpid()))

    def start(self):
        # Commit times give each stored row's arrival, hence the heal times.
        self.pg_ctl("-w", "-t", "60", "-l", self.dir + "/log", "-o",
                    "-p %d -k %s -c listen_addresses=%s -c track_commit_timestamp=on "
                    "-c max_connections=300" % (PG_PORT, self.dir, CENTER_IP), "start")
        wait_for("PostgreSQL to accept connections",
                 lambda: self.psql("SELECT 1", db="postgres", check=False) == "1", 60)

    def stop(self):
        self.pg_ctl("-m", "fast", "-w", "stop")

    def create_database(self):
        self.psql("CREATE DATABASE " + DATABASE, db="postgres")

    def psql(self, sql, db=DATABASE, check=True):
        """The unaligned answer of `sql`: rows on lines, fields split by '|'."""
        uri = self.uri.rsplit("/", 1)[0] + "/" + db
        return run(self.bin + "/psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", uri,
                   "-c", sql, check=check, timeout=600).strip()

    def rows(self, select):
        """The rows of `select` as lists of text fields (tab-separated copy)."""
        out = self.psql("COPY (%s) TO STDOUT" % select)
        return [line.split("\t") for line in out.splitlines()]

    def cpu_seconds(self):
        with open(self.cgroup + "/cpuacct.usage") as f:
            return int(f.read()) / 1e9


class Prometheus:
    """Scrapes the agents listed in a file for service discovery and loads
    the package's rules; sends its alerts to the Alertmanager."""

    def __init__(self, dir, rules_file, scrape_seconds, hold_seconds):
        self.dir = dir
        self.url = "http://127.0.0.1:%d" % PROM_PORT
        self.targets = dir + "/targets.json"
        os.makedirs(dir)
        self.write_targets([])
        # The shipped rules, their `for:` holds shortened to fit the
        # timeline's outages (a 1-minute partition cannot outlast 2m).
        with open(rules_file) as f:
            rules = re.sub(r"(\n\s+for:\s*)\S+", r"\g<1>%ds" % hold_seconds, f.read())
        with open(dir + "/rules.yml", "w") as f:
            f.write(rules)
        config = {
            "global": {"scrape_interval": "%ds" % scrape_seconds,
                       "scrape_timeout": "%ds" % max(1, scrape_seconds - 1),
                       "evaluation_interval": "%ds" % scrape_seconds},
            "rule_files": [dir + "/rules.yml"],
            "alerting": {"alertmanagers": [
                {"static_configs": [{"targets": ["%s:%d" % (CENTER_IP, AM_PORT)]}]}]},
            "scrape_configs": [scrape_job(self.targets)],
        }
        write_json(dir + "/prometheus.yml", config)
        run("promtool", "check", "config", dir + "/prometheus.yml")

    def start(self):
        self.proc = serve("Prometheus", ["prometheus", "--config.file=" + self.dir + "/prometheus.yml",
                                         "--storage.tsdb.path=" + self.dir + "/tsdb",
                                         "--web.listen-address=127.0.0.1:%d" % PROM_PORT],
                          self.dir + "/log", self.url + "/-/ready")

    def write_targets(self, hosts):
        """Lists `hosts` (each with .name and .address) as the scrape targets."""
        write_json(self.targets, [{"targets": [h.address], "labels": {"host": h.name}}
                                  for h in hosts])

    def scraping(self, address):
        """True when Prometheus has `address` among its active targets."""
        answer = http_json("GET", self.url + "/api/v1/targets?state=active") or {}
        return any(t["labels"].get("instance") == address
                   for t in answer.get("data", {}).get("activeTargets", []))

    def query(self, expr, at):
        answer = http_json("GET", self.url + "/api/v1/query?" + _q(query=expr, time=at)) or {}
        return answer.get("data", {}).get("result", [])

    def query_range(self, expr, start, end, step):
        answer = http_json("GET", self.url + "/api/v1/query_range?" +
                           _q(query=expr, start=start, end=end, step=step), timeout=60) or {}
        return answer.get("data", {}).get("result", [])


def scrape_job(targets_file):
    """The scrape job for the agents. (TLS and basic auth go here: scheme,
    tls_config and basic_auth, the same files every agent's web-config names.)"""
    return {"job_name": "zepagent", "metrics_path": "/metrics",
            "file_sd_configs": [{"files": [targets_file], "refresh_interval": "2s"}]}


def _q(**params):
    return urllib.parse.urlencode(params)


class Alertmanager:
    """One Alertmanager on the center's address, every alert its own group,
    each notification (firing and resolved) sent to the webhook receiver."""

    def __init__(self, dir):
        self.dir = dir
        self.url = "http://%s:%d" % (CENTER_IP, AM_PORT)
        os.makedirs(dir)
        config = {
            "route": {"receiver": "hook", "group_by": ["..."], "group_wait": "1s",
                      "group_interval": "2s", "repeat_interval": "24h"},
            "receivers": [{"name": "hook", "webhook_configs": [
                {"url": "http://127.0.0.1:%d/" % HOOK_PORT, "send_resolved": True}]}],
        }
        write_json(dir + "/alertmanager.yml", config)
        self.proc = None

    def start(self):
        self.proc = serve("Alertmanager", [
            "prometheus-alertmanager", "--config.file=" + self.dir + "/alertmanager.yml",
            "--storage.path=" + self.dir + "/data", "--cluster.listen-address=",
            "--web.listen-address=%s:%d" % (CENTER_IP, AM_PORT)],
            self.dir + "/log", self.url + "/-/ready")

    def stop(self):
        if self.proc:
            self.proc.stop(signal.SIGTERM)


class Webhook:
    """Records every notification Alertmanager delivers: (arrival time, body)
    in `notes`, and one JSON line each in `path`. Thread-safe."""

    def __init__(self, path):
        self.notes, self.lock, self.path = [], threading.Lock(), path
        hook = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                hook.record(body)
                self.send_response(200)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", HOOK_PORT), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def record(self, body):
        note = {"received": time.time(), "body": json.loads(body)}
        with self.lock:
            self.notes.append(note)
            with open(self.path, "a") as f:
                f.write(json.dumps(note) + "\n")

    def alerts(self):
        """Every alert of every notification: dicts with the notification's
        arrival time added as "received"."""
        with self.lock:
            return [dict(a, received=n["received"]) for n in self.notes
                    for a in n["body"].get("alerts", [])]

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
