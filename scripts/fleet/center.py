"""The center of the fleet, on the engines operators run when one machine is
not enough, each server a node in a network namespace of its own (so that
its link can be cut) and a cgroup of its own (so that it can be killed
whole and its CPU time is known, also for processes that have gone):

- the warehouse: a pg_auto_failover formation, a monitor and two PostgreSQL
  nodes in synchronous replication; agents get the URI the monitor prints;
- Prometheus: two servers in agent mode, sharding the agents by `hashmod`,
  both writing to VictoriaMetrics, which answers every query of the run;
  `vmalert` evaluates the package's rules against it;
- Alertmanager: a cluster of two members (gossip), both notified by vmalert
  and by every agent, sending each notification once to the webhook
  receiver, which records it.

The run itself, the webhook and vmalert sit in the center namespace.
Configuration files are written as JSON, which every server reads as YAML."""

import json
import os
import re
import signal
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from common import FleetError, Proc, http_json, run, serve, wait_for, write_json
from net import CENTER_IP, center_ip

PG_BIN = "/usr/lib/postgresql/15/bin"
PG_PORT, VM_PORT, PROM_PORT, AM_PORT, GOSSIP_PORT, HOOK_PORT = 5432, 8428, 9090, 9093, 9094, 5001
VMALERT_PORT = 8880
DATABASE, USER = "zephistory", "zep"
# The monitor's view of a node that writes (alone, or with a standby).
WRITING = ("single", "wait_primary", "primary")


class Node:
    """A server's namespace, address and cgroup: `spawn` starts a process
    in both; `kill` ends every process of the node at once, as a machine
    that stops. Not thread-safe."""

    def __init__(self, fleet, name, index):
        self.name, self.ip = name, center_ip(index)
        self.ns = fleet.net.ns(name)
        self.cgroup = fleet.cgroup(name)
        fleet.net.add_host(name, self.ip)

    def spawn(self, argv, log, user=None, env=None):
        """Starts argv in the node (as `user`, with `env` added); returns its Proc."""
        prefix = ["ip", "netns", "exec", self.ns]
        if user:
            prefix += ["runuser", "-u", user, "--"]
        if env:
            prefix += ["env"] + ["%s=%s" % kv for kv in env.items()]
        return Proc(prefix + list(argv), log, preexec=self._enter)

    def _enter(self):
        with open(self.cgroup + "/cgroup.procs", "w") as f:
            f.write(str(os.getpid()))

    def pids(self):
        with open(self.cgroup + "/cgroup.procs") as f:
            return [int(p) for p in f.read().split()]

    def kill(self):
        """SIGKILL to every process of the node; returns once they are gone."""
        for _ in range(100):
            pids = self.pids()
            if not pids:
                return
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            time.sleep(0.1)
        raise FleetError("the processes of %s do not end" % self.name)

    def cpu_seconds(self):
        with open(self.cgroup + "/cpuacct.usage") as f:
            return int(f.read()) / 1e9


# --- the warehouse ------------------------------------------------------------


class Formation:
    """A pg_auto_failover formation: monitor `mon`, data nodes `pg1` and
    `pg2` (pg1 starts as the primary), every PostgreSQL with commit times on
    (they give each stored row's arrival). pg_autoctl runs as the postgres
    user with configuration, state and sockets under the node's directory.
    The monitor keeps its default timeouts: they are what operators get."""

    def __init__(self, fleet, dir):
        self.dir = dir
        os.makedirs(dir)
        run("chown", "postgres", dir)
        self.mon = Node(fleet, "mon", 2)
        self.data = [Node(fleet, "pg1", 3), Node(fleet, "pg2", 4)]
        self.nodes = {n.name: n for n in [self.mon] + self.data}
        self.procs = {}
        self.monitor_uri = "postgres://autoctl_node@%s:%d/pg_auto_failover?sslmode=disable" % (
            self.mon.ip, PG_PORT)
        self.uri = None          # what the agents get, once the formation is up
        self.admin_uri = None    # the same as the superuser, for the run's own queries

    def _env(self, node):
        d = "%s/%s" % (self.dir, node.name)
        return {"PATH": PG_BIN + ":/usr/bin:/bin", "XDG_CONFIG_HOME": d + "/config",
                "XDG_DATA_HOME": d + "/share", "XDG_RUNTIME_DIR": d + "/run",
                "PG_REGRESS_SOCK_DIR": d, "PGHOST": d}

    def _pgdata(self, node):
        return "%s/%s/data" % (self.dir, node.name)

    def _autoctl(self, node, *args, log=None):
        """Starts `pg_autoctl args` in the node as a server process."""
        os.makedirs("%s/%s" % (self.dir, node.name), exist_ok=True)
        run("chown", "postgres", "%s/%s" % (self.dir, node.name))
        self.procs[node.name] = node.spawn(["pg_autoctl"] + list(args),
                                           log or "%s/%s.log" % (self.dir, node.name),
                                           user="postgres", env=self._env(node))

    def autoctl(self, *args, node=None, timeout=120):
        """Runs a pg_autoctl command to its end in `node` (the monitor by
        default); returns its standard output."""
        node = node or self.mon
        env = ["%s=%s" % kv for kv in self._env(node).items()]
        return run("ip", "netns", "exec", node.ns, "runuser", "-u", "postgres", "--", "env",
                   *env, "pg_autoctl", *args, timeout=timeout)

    def start(self):
        """Creates the monitor, then pg1 (primary), then pg2 (its standby),
        and returns once the formation is primary + secondary."""
        self._autoctl(self.mon, "create", "monitor", "--pgdata", self._pgdata(self.mon),
                      "--pgport", PG_PORT, "--hostname", self.mon.ip, "--listen",
                      self.mon.ip, "--auth", "trust", "--no-ssl", "--run")
        wait_for("the pg_auto_failover monitor", lambda: self.states() is not None, 90)
        for node in self.data:
            self._create(node)
            goal = "single" if node is self.data[0] else "secondary"

            def ready():
                if goal == "secondary":      # the base backup waits on a spread checkpoint
                    self._primary_psql("CHECKPOINT", check=False)
                return (self.states() or {}).get(node.name) == (goal, goal)
            wait_for("%s to be %s" % (node.name, goal), ready, 180, interval=2)
            if node is self.data[0]:
                self._prepare_database(node)
        self.wait_healthy(120)
        uri = self.autoctl("show", "uri", "--formation", "default",
                           "--pgdata", self._pgdata(self.mon)).strip()
        # What the monitor prints, with the agents' user, a bound on each
        # connection attempt and keepalives that notice a silent peer.
        self.admin_uri = uri.replace("postgres://", "postgres://postgres@", 1)
        self.uri = uri.replace("postgres://", "postgres://%s@" % USER, 1) + \
            "&connect_timeout=5&keepalives_idle=10&keepalives_interval=5&keepalives_count=3"

    def _create(self, node):
        pgdata = self._pgdata(node)
        if node is self.data[0]:
            # Initialised here so that the standby's base backup copies its
            # settings: commit times, and connections for a large fleet.
            run("runuser", "-u", "postgres", "--", PG_BIN + "/initdb", "-D", pgdata,
                "-A", "trust", "--data-checksums", "--no-sync", "-U", "postgres")
            with open(pgdata + "/postgresql.conf", "a") as f:
                f.write("track_commit_timestamp = on\nmax_connections = 300\n")
        self._autoctl(node, "create", "postgres", "--pgdata", pgdata, "--pgport", PG_PORT,
                      "--hostname", node.ip, "--listen", node.ip, "--name", node.name,
                      "--dbname", DATABASE, "--auth", "trust", "--no-ssl", "--pg-hba-lan",
                      "--monitor", self.monitor_uri, "--run")

    def _prepare_database(self, node):
        """The agents' role owns the database's schema; the fleet's subnet
        may connect as any role (trust: the namespaces are the fence)."""
        self._primary_psql("CREATE ROLE %s LOGIN; ALTER SCHEMA public OWNER TO %s"
                           % (USER, USER))
        with open(self._pgdata(node) + "/pg_hba.conf", "a") as f:
            f.write("host all all %s/24 trust\n" % CENTER_IP)
        self._primary_psql("SELECT pg_reload_conf()")

    def _primary_psql(self, sql, check=True):
        """`sql` on pg1 during set-up, through its socket as the superuser."""
        d = "%s/%s" % (self.dir, self.data[0].name)
        return run("runuser", "-u", "postgres", "--", PG_BIN + "/psql", "-X", "-q", "-At",
                   "-h", d, "-p", PG_PORT, "-d", DATABASE, "-c", sql, check=check)

    def states(self):
        """{node: (reported state, goal state)} as the monitor has them, or
        None when it does not answer."""
        try:
            out = psql(self.monitor_uri, "SELECT nodename, reportedstate, goalstate "
                       "FROM pgautofailover.node", timeout=10)
        except FleetError:
            return None
        return {n: (r, g) for n, r, g in (l.split("|") for l in out.splitlines())}

    def primary(self):
        """The node the monitor has writing (reported and goal), or None."""
        for name, (reported, goal) in (self.states() or {}).items():
            if reported == goal and reported in WRITING:
                return name
        return None

    def healthy(self):
        states = self.states() or {}
        return sorted(states.get(n.name, ("", ""))[0] for n in self.data) == \
            ["primary", "secondary"] and all(r == g for r, g in states.values())

    def wait_healthy(self, timeout):
        return wait_for("the formation to be primary + secondary", self.healthy, timeout,
                        interval=1)

    def writing(self, within):
        """True when the node taking writes committed a transaction in the
        last `within` seconds (the agents' writes flow)."""
        return self.psql("SELECT now() - timestamp < interval '%d s' FROM "
                         "pg_last_committed_xact()" % within, check=False) == "t"

    def synchronous(self):
        """The primary's synchronous_standby_names ('' while it writes alone)."""
        return self.psql("SHOW synchronous_standby_names", db=DATABASE, check=False)

    # The faults. Each leaves the formation's own repair to pg_auto_failover.

    def kill(self, name):
        """Stops node `name` immediately: pg_autoctl and PostgreSQL SIGKILLed."""
        self.nodes[name].kill()

    def stop(self, name):
        """Stops node `name` as its service would: pg_autoctl stops PostgreSQL."""
        proc = self.procs.get(name)
        if proc:
            proc.stop(signal.SIGTERM, 60)
        self.nodes[name].kill()       # whatever the stop left behind

    def resume(self, name):
        """Starts node `name` again on its data; it rejoins by itself."""
        self._autoctl(self.nodes[name], "run", "--pgdata", self._pgdata(self.nodes[name]))

    def switchover(self):
        return self.autoctl("perform", "switchover", "--formation", "default",
                            "--pgdata", self._pgdata(self.mon), "--wait", "120", timeout=180)

    def psql(self, sql, db=DATABASE, check=True):
        """The unaligned answer of `sql` on the node that takes writes."""
        uri = re.sub(r"/[^/?]*\?", "/%s?" % db, self.admin_uri, count=1) + "&connect_timeout=5"
        return psql(uri, sql, check=check)

    def rows(self, select):
        """The rows of `select` as lists of text fields (tab-separated copy)."""
        out = self.psql("COPY (%s) TO STDOUT" % select)
        return [line.split("\t") for line in out.splitlines()]

    def cpu_seconds(self):
        """CPU time of the data nodes: {node: seconds}."""
        return {n.name: n.cpu_seconds() for n in self.data}

    def teardown(self):
        for node in self.nodes.values():
            node.kill()


class Single:
    """One PostgreSQL server without replication, in node `solo`: the
    warehouse of a group of agents beside the formation (a fleet-wide view
    on the formation reads it through postgres_fdw), and the single-server
    figure of the same run."""

    def __init__(self, fleet, dir):
        self.dir, self.data = dir, dir + "/data"
        self.node = Node(fleet, "solo", 10)
        os.makedirs(dir)
        run("chown", "postgres", dir)
        run("runuser", "-u", "postgres", "--", PG_BIN + "/initdb", "-D", self.data, "-A",
            "trust", "--no-sync", "-U", "postgres")
        with open(self.data + "/pg_hba.conf", "a") as f:
            f.write("host all all %s/24 trust\n" % CENTER_IP)
        self.admin_uri = "postgres://postgres@%s:%d/%s" % (self.node.ip, PG_PORT, DATABASE)
        self.uri = "postgres://%s@%s:%d/%s?connect_timeout=5" % (
            USER, self.node.ip, PG_PORT, DATABASE)

    def start(self):
        self.proc = self.node.spawn([PG_BIN + "/postgres", "-D", self.data, "-p", PG_PORT,
                                     "-k", self.dir, "-c", "listen_addresses=" + self.node.ip,
                                     "-c", "track_commit_timestamp=on",
                                     "-c", "max_connections=300"],
                                    self.dir + "/log", user="postgres")
        postgres = self.admin_uri.rsplit("/", 1)[0] + "/postgres"
        wait_for("the single PostgreSQL server", lambda: psql(
            postgres, "SELECT 1", check=False, timeout=10) == "1", 60)
        psql(postgres, "CREATE ROLE %s LOGIN" % USER)
        psql(postgres, "CREATE DATABASE %s OWNER %s" % (DATABASE, USER))

    def psql(self, sql, check=True):
        return psql(self.admin_uri, sql, check=check)

    def rows(self, select):
        return [line.split("\t") for line in
                self.psql("COPY (%s) TO STDOUT" % select).splitlines()]

    def cpu_seconds(self):
        return self.node.cpu_seconds()

    def teardown(self):
        self.node.kill()


def psql(uri, sql, check=True, timeout=600):
    """The unaligned answer of `sql` at `uri`: rows on lines, fields split by '|'."""
    return run(PG_BIN + "/psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", uri, "-c", sql,
               check=check, timeout=timeout).strip()


# --- metrics and alerts -------------------------------------------------------------


class Metrics:
    """Two Prometheus servers in agent mode, each scraping the agents its
    `hashmod` shard keeps and writing them to VictoriaMetrics; `vmalert`
    evaluating the package's rules there and notifying every Alertmanager.
    Queries go to VictoriaMetrics."""

    SHARDS = 2

    def __init__(self, fleet, dir, rules_file, scrape_seconds, hold_seconds, tls, alertmanagers):
        self.dir, self.fleet = dir, fleet
        os.makedirs(dir)
        self.vm = Node(fleet, "vm", 5)
        self.url = "http://%s:%d" % (self.vm.ip, VM_PORT)
        self.shards = [Node(fleet, "prom%d" % k, 6 + k) for k in range(self.SHARDS)]
        self.procs = {}
        self.targets = dir + "/targets.json"
        self.scrape = scrape_seconds
        self.write_targets([])
        # The shipped rules, their `for:` holds shortened to fit the
        # timeline's outages (a 1-minute partition cannot outlast 2m).
        with open(rules_file) as f:
            rules = re.sub(r"(\n\s+for:\s*)\S+", r"\g<1>%ds" % hold_seconds, f.read())
        with open(dir + "/rules.yml", "w") as f:
            f.write(rules)
        for k in range(self.SHARDS):
            config = {
                "global": {"scrape_interval": "%ds" % scrape_seconds,
                           "scrape_timeout": "%ds" % max(1, scrape_seconds - 1),
                           "external_labels": {"shard": str(k)}},
                "scrape_configs": [dict(scrape_job(self.targets, tls), relabel_configs=[
                    {"source_labels": ["__address__"], "modulus": self.SHARDS,
                     "target_label": "__tmp_hash", "action": "hashmod"},
                    {"source_labels": ["__tmp_hash"], "regex": str(k), "action": "keep"}])],
                "remote_write": [{"url": self.url + "/api/v1/write",
                                  "queue_config": {"batch_send_deadline": "1s"}}],
            }
            write_json("%s/prom%d.yml" % (dir, k), config)
            run("promtool", "check", "config", "--agent", "%s/prom%d.yml" % (dir, k))
        self.alertmanagers = alertmanagers

    def start(self):
        self.procs["vm"] = serve("VictoriaMetrics", [
            "victoria-metrics", "-storageDataPath=" + self.dir + "/vm",
            "-httpListenAddr=%s:%d" % (self.vm.ip, VM_PORT),
            "-dedup.minScrapeInterval=%ds" % self.scrape, "-search.latencyOffset=1s",
            "-retentionPeriod=1d"], self.dir + "/vm.log", self.url + "/health", node=self.vm)
        for k in range(self.SHARDS):
            self.start_shard(k)
        self.procs["vmalert"] = serve("vmalert", [
            "vmalert", "-rule=" + self.dir + "/rules.yml", "-datasource.url=" + self.url,
            "-remoteWrite.url=" + self.url, "-remoteRead.url=" + self.url,
            # Rules see the samples of the last scrape: remote writes arrive
            # within a second, and the query looks a scrape interval back.
            "-evaluationInterval=%ds" % self.scrape, "-datasource.lookback=%ds" % self.scrape,
            "-httpListenAddr=127.0.0.1:%d" % VMALERT_PORT] +
            ["-notifier.url=" + u for u in self.alertmanagers],
            self.dir + "/vmalert.log", "http://127.0.0.1:%d/health" % VMALERT_PORT)

    def start_shard(self, k):
        node = self.shards[k]
        self.procs[node.name] = serve("Prometheus shard %d" % k, [
            "prometheus", "--enable-feature=agent", "--config.file=%s/prom%d.yml" % (self.dir, k),
            "--storage.agent.path=%s/prom%d" % (self.dir, k),
            "--web.listen-address=%s:%d" % (node.ip, PROM_PORT)],
            "%s/prom%d.log" % (self.dir, k), "http://%s:%d/-/ready" % (node.ip, PROM_PORT),
            node=node)

    def kill_shard(self, k):
        self.shards[k].kill()

    def shard_of(self, address):
        """The shard whose active targets hold `address`, or None."""
        for k, node in enumerate(self.shards):
            answer = http_json("GET", "http://%s:%d/api/v1/targets?state=active"
                               % (node.ip, PROM_PORT)) or {}
            if any(t["labels"].get("instance") == address
                   for t in answer.get("data", {}).get("activeTargets", [])):
                return k
        return None

    def write_targets(self, hosts):
        """Lists `hosts` (each with .name and .address) as the scrape targets."""
        write_json(self.targets, [{"targets": [h.address], "labels": {"host": h.name}}
                                  for h in hosts])

    def scraping(self, address):
        """True when a shard has `address` among its active targets."""
        return self.shard_of(address) is not None

    def query(self, expr, at):
        answer = http_json("GET", self.url + "/api/v1/query?" + _q(query=expr, time=at)) or {}
        return answer.get("data", {}).get("result", [])

    def query_range(self, expr, start, end, step):
        answer = http_json("GET", self.url + "/api/v1/query_range?" +
                           _q(query=expr, start=start, end=end, step=step), timeout=60) or {}
        return answer.get("data", {}).get("result", [])

    def teardown(self):
        for name in ["vmalert"] + [n.name for n in self.shards] + ["vm"]:
            if name in self.procs:
                self.procs[name].stop(signal.SIGTERM, 15)
        for node in self.shards + [self.vm]:
            node.kill()


def scrape_job(targets_file, tls):
    """The scrape job for the agents: over TLS, trusting the fleet's
    authority, as the user every agent's web configuration names."""
    return {"job_name": "zepagent", "metrics_path": "/metrics", "scheme": "https",
            "tls_config": {"ca_file": tls.ca},
            "basic_auth": {"username": tls.USER, "password_file": tls.password_file},
            "file_sd_configs": [{"files": [targets_file], "refresh_interval": "2s"}]}


def _q(**params):
    return urllib.parse.urlencode(params)


class Alertmanagers:
    """A cluster of two Alertmanagers gossiping with each other; every alert
    its own group, each notification (firing and resolved) sent to the
    webhook receiver. Whoever alerts is given both members' addresses.

    The second member sends a group's notification PEER_TIMEOUT after the
    first unless the first's, gossiped, says it was sent. It checks what it
    saw at its last flush: were a flush of the firing alert within
    PEER_TIMEOUT before the first member's resolved notification, it would
    send that firing again after it. A group interval longer than the peer
    timeout plus the gossip's delay rules that out."""

    PEER_TIMEOUT, GROUP_INTERVAL = 2, 10     # seconds

    MEMBERS = 2

    def __init__(self, fleet, dir):
        self.dir = dir
        os.makedirs(dir)
        self.nodes = [Node(fleet, "am%d" % k, 8 + k) for k in range(self.MEMBERS)]
        self.urls = ["http://%s:%d" % (n.ip, AM_PORT) for n in self.nodes]
        self.procs = [None] * self.MEMBERS
        config = {
            "route": {"receiver": "hook", "group_by": ["..."], "group_wait": "1s",
                      "group_interval": "%ds" % self.GROUP_INTERVAL, "repeat_interval": "24h"},
            "receivers": [{"name": "hook", "webhook_configs": [
                {"url": "http://%s:%d/" % (CENTER_IP, HOOK_PORT), "send_resolved": True}]}],
        }
        write_json(dir + "/alertmanager.yml", config)

    def start(self, members=None):
        """Starts the members (all by default) together: they come back at once."""
        members = range(self.MEMBERS) if members is None else members
        threads = [threading.Thread(target=self._serve, args=(k,)) for k in members]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if not all(self.procs[k] and self.procs[k].alive() for k in members):
            raise FleetError("an Alertmanager did not start (see %s)" % self.dir)

    def _serve(self, k):
        node = self.nodes[k]
        peers = ["--cluster.peer=%s:%d" % (n.ip, GOSSIP_PORT) for n in self.nodes
                 if n is not node]
        try:
            self.procs[k] = serve("Alertmanager %d" % k, [
                "prometheus-alertmanager", "--config.file=" + self.dir + "/alertmanager.yml",
                "--storage.path=%s/data%d" % (self.dir, k),
                "--cluster.listen-address=%s:%d" % (node.ip, GOSSIP_PORT),
                "--cluster.advertise-address=%s:%d" % (node.ip, GOSSIP_PORT),
                "--cluster.peer-timeout=%ds" % self.PEER_TIMEOUT,
                "--web.listen-address=%s:%d" % (node.ip, AM_PORT)] + peers,
                "%s/am%d.log" % (self.dir, k), self.urls[k] + "/-/ready", node=node)
        except FleetError:
            self.procs[k] = None

    def stop(self, members=None):
        for k in (range(self.MEMBERS) if members is None else members):
            if self.procs[k]:
                self.procs[k].stop(signal.SIGTERM)
            self.nodes[k].kill()

    def kill(self, k):
        self.nodes[k].kill()


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

        self.server = ThreadingHTTPServer((CENTER_IP, HOOK_PORT), Handler)
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

