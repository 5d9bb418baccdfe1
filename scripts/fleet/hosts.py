"""One host of the fleet: a network namespace with an agent and the
simulators that feed it. A plain host runs the built agent the way the
package's unit does (its ExecStart options, an options file, its own install
directory named by its own base-directory file through ZEP_ETC_DIR) under a
host name of its own; the systemd host installs the package and runs it
under its own systemd (scripts/fleet/systemd-box)."""

import os
import re
import secrets
import shlex
import signal
import time

from common import FleetError, Proc, http, http_json, run, wait_for
from net import host_ip

API_PORT = 1920
HISTORY_INTERVAL = 5        # seconds between two history writes of an agent
SERIES_TTL = 30             # seconds a silent per-service label set stays in /metrics
STEADY_SERVERS, STEADY_SERVICES = 2, 3   # ports OrderPort and InventoryPort
# A burst: 25 location-2 records from each of 7 servers at once; servers 6
# and 7 are the only ones offering PaymentPort, so the situation below sees
# 50 messages of its port within seconds, and none from the steady load.
BURST_SERVERS, BURST_COUNT, BURST_PORT, BURST_THRESHOLD = 7, 25, "PaymentPort", 40
SITUATION = "FleetBurst"
# Records leave the agent's memory one to two minutes after they were read,
# so its memory levels off early in the run.
SETTINGS = "zep.axo.minRetainMinutes=1\nzep.axo.maxRetainMinutes=2\n"


class Host:
    def __init__(self, fleet, index, systemd=False):
        self.fleet, self.index, self.systemd = fleet, index, systemd
        self.name = "h%02d" % index
        self.ip = host_ip(index)
        self.address = "%s:%d" % (self.ip, API_PORT)
        self.dir = "%s/hosts/%s" % (fleet.tmp, self.name)
        self.share = self.dir + "/share" if systemd else self.dir
        self.token = secrets.token_hex(16)
        self.agent = self.box = self.pid1 = None
        self.sims, self.csvs, self.bursts, self.loading = [], [], 0, False
        self.started = self.restarted = self.left = None
        self.events = []          # the agent's situation events, gathered before it goes
        self.archived = 0         # records in archived files when the agent restarted
        self.archive_counted = 0  # archived files up to this time are in `archived`
        self.trace = "all=128"
        self._counts = {}         # CSV path -> (bytes read, records)
        os.makedirs(self.share)
        if systemd:
            os.makedirs(self.dir + "/box")

    # --- what the agent is told ---------------------------------------------

    def options_file(self):
        """The agent's options file, laid out as deploy/debian/zepagent.conf:
        TLS and Prometheus's user by the fleet's web configuration."""
        f = self.fleet
        inside = "/etc/zepagent" if self.systemd else self.dir
        options = [("listen", self.address), ("token-file", inside + "/token"),
                   ("web-config", inside + "/web-config.yml"),
                   ("history-db", f.warehouse(self).uri),
                   ("history-interval", HISTORY_INTERVAL),
                   ("trace", self.trace),
                   ("situations-file", ("/var/lib/zepagent" if self.systemd else self.dir) +
                    "/situations.json"),
                   ("metrics-series-ttl", "%ds" % SERIES_TTL)]
        options += [("alertmanager-url", url) for url in f.am.urls]
        if not self.systemd:
            options.append(("trace-file", self.dir + "/agent.trace"))
        return "# zepagent options of fleet host %s\n" % self.name + \
            "".join("%s = %s\n" % o for o in options)

    def _write_files(self):
        files = {"zepagent.conf": self.options_file(), "token": self.token + "\n",
                 "ZEP.dc.properties": SETTINGS}
        if not self.systemd:
            install = self.dir + "/install"
            os.makedirs(install + "/ZEP/config")
            os.makedirs(self.dir + "/etc")
            files["etc/ZEPBaseDirConfig.properties"] = "INSTALLDIR=%s\n" % install
            files["install/ZEP/config/ZEP.dc.properties"] = files.pop("ZEP.dc.properties")
        modes = {"token": 0o600}
        for name, (text, mode) in self.fleet.tls.files().items():
            files[name], modes[name] = text, mode
        for name, text in files.items():
            with open(os.path.join(self.share, name), "w") as out:
                out.write(text)
            os.chmod(os.path.join(self.share, name), modes.get(name, 0o644))

    def _exec_start(self):
        """The unit's ExecStart, with the built agent and this host's options."""
        with open(self.fleet.repo + "/deploy/systemd/zepagent.service") as unit:
            line = next(l for l in unit if l.startswith("ExecStart="))
        argv = shlex.split(line[len("ExecStart="):])
        return [self.fleet.build + "/zepagent" if a == "/usr/sbin/zepagent" else
                self.dir + "/zepagent.conf" if a == "/etc/zepagent/zepagent.conf" else a
                for a in argv]

    # --- life -----------------------------------------------------------------

    def start(self):
        """Brings the host up with its agent answering; no load yet."""
        self._write_files()
        net = self.fleet.net
        if self.systemd:
            self.box = Proc([self.fleet.repo + "/scripts/fleet/systemd-box", self.name,
                             "%s-box-%s" % (self.fleet.prefix, self.name), self.dir,
                             self.fleet.deb], self.dir + "/box.log")
            self.pid1 = wait_for("the systemd box of %s" % self.name, self._box_child, 30)
            net.add_host(self.name, self.ip, pid=self.pid1)
            open(self.share + "/net-ready", "w").close()
        else:
            net.add_host(self.name, self.ip)
            self._start_agent()
        wait_for("the agent of %s to answer" % self.name, self.up, 90)
        self.started = time.time()
        self.create_situation()

    def _box_child(self):
        """The box's PID 1 once it exists: the child of `unshare` that is
        process 1 of its own PID namespace (the script forks helpers first)."""
        if not self.box.alive():
            raise FleetError("the systemd box of %s ended: %s" % (self.name, self.box.tail()))
        try:
            with open("/proc/%d/task/%d/children" % (self.box.pid, self.box.pid)) as f:
                for child in f.read().split():
                    with open("/proc/%s/status" % child) as status:
                        if re.search(r"^NSpid:\s+\d+\s+1$", status.read(), re.M):
                            return int(child)
        except OSError:
            pass
        return None

    def _start_agent(self):
        env = dict(os.environ, ZEP_ETC_DIR=self.dir + "/etc")
        self.agent = Proc(["ip", "netns", "exec", self.fleet.net.ns(self.name), "unshare",
                           "--uts", "--", "sh", "-c", 'hostname "$0" && exec "$@"', self.name]
                          + self._exec_start(), self.dir + "/agent.out", env=env)

    def up_or_fail(self):
        """Raises FleetError when the agent (not in the box: systemd restarts
        it there), the box or the steady simulator has ended."""
        for proc, what in ((self.agent, "agent"), (self.box, "systemd box"),
                           (self.sims[0] if self.loading else None, "simulator")):
            if proc is not None and not proc.alive():
                raise FleetError("the %s of %s exited: %s" % (what, self.name, proc.tail()))

    def up(self):
        self.up_or_fail()
        return http("GET", self.url("/healthz"), auth=self.fleet.tls.basic)[0] == 200

    def start_load(self, rate, seed):
        self.loading = True
        self._simulate("steady", ["--rate", rate, "--servers", STEADY_SERVERS,
                                  "--services", STEADY_SERVICES, "--file-seconds", 2], seed)

    def burst(self, seed):
        """Writes a burst that raises this host's situation."""
        self.bursts += 1
        self._simulate("burst%d" % self.bursts,
                       ["--count", BURST_COUNT, "--servers", BURST_SERVERS, "--services", 1,
                        "--locations", "2", "--clients", 1], seed, prefix=self.name + "b")

    def _simulate(self, what, args, seed, prefix=None):
        csv = what + ".csv"
        if self.systemd:
            argv = self.box_command("-m", "-n", "-u") + [
                "/usr/bin/zepdcsim", "--dir", "/var/lib/zepagent/ZEP/logs",
                "--csv", "/srv/fleet/" + csv]
        else:
            argv = ["ip", "netns", "exec", self.fleet.net.ns(self.name),
                    self.fleet.build + "/zepdcsim", "--dir", self.dir + "/install/ZEP/logs",
                    "--csv", self.share + "/" + csv]
        argv += ["--seed", seed, "--server-prefix", prefix or self.name] + args
        self.csvs.append(self.share + "/" + csv)
        self.sims.append(Proc(argv, self.dir + "/" + what + ".log"))

    def stop_load(self):
        """Stops the simulators; they complete their open files first."""
        self.loading = False
        for sim in self.sims:
            if sim.stop(signal.SIGTERM, 30) not in (0, -signal.SIGTERM):
                raise FleetError("a simulator of %s failed: %s" % (self.name, sim.tail()))

    def written(self):
        """Records the simulators have written so far (their CSV lines)."""
        total = 0
        for path in self.csvs:
            done, n = self._counts.get(path, (0, 0))
            try:
                with open(path, "rb") as f:
                    f.seek(done)
                    chunk = f.read()
            except OSError:
                chunk = b""
            end = chunk.rfind(b"\n") + 1
            n += chunk[:end].count(b"\n") - (1 if done == 0 and end else 0)
            self._counts[path] = (done + end, n)
            total += n
        return total

    def stop(self):
        """Stops the agent (or the whole box) and the simulators."""
        for sim in self.sims:
            sim.stop(signal.SIGTERM, 10)
        if self.pid1 is not None:
            self.box_run("journalctl", "-u", "zepagent", "--no-pager", check=False,
                         out=self.dir + "/journal.txt")
            try:
                os.kill(self.pid1, signal.SIGKILL)
            except OSError:
                pass                  # the box is gone already
        if self.box is not None:
            self.box.stop(signal.SIGKILL, 10)
        elif self.agent is not None:
            status = self.agent.stop(signal.SIGTERM, 20)
            if status not in (0, None):
                self.fleet.status.say("the agent of %s exited with %s" % (self.name, status))

    # --- the operator API -------------------------------------------------------

    def url(self, path):
        """The address of the agent's `path` (TLS; `http` trusts the fleet's authority)."""
        return "https://%s%s" % (self.address, path)

    def api(self, method, path, body=None):
        return http_json(method, self.url(path), body, self.token)

    def create_situation(self):
        """Raised when 40 PaymentPort messages arrive within 60 seconds."""
        body = {"name": SITUATION, "table": "ZEPMATT", "interval": 30, "conditions": [
            {"attribute": "RMIPADDR", "op": "=", "value": "*"},
            {"attribute": "PORTNAME", "op": "=", "value": BURST_PORT},
            {"attribute": "TMINT", "op": "=", "value": 60},
            {"attribute": "MSGCNT", "op": ">=", "value": BURST_THRESHOLD}]}
        if self.api("POST", "/api/v1/situations", body) is None:
            raise FleetError("%s refused the situation" % self.name)

    def service_series(self):
        """The label sets of zep_messages_total in the agent's /metrics; -1
        when it did not answer."""
        code, text = http("GET", self.url("/metrics?name=zep_messages_total"),
                          auth=self.fleet.tls.basic)
        if code != 200:
            return -1
        return sum(1 for line in text.splitlines() if line.startswith("zep_messages_total{"))

    def situation_state(self):
        for s in (self.api("GET", "/api/v1/situations") or {}).get("situations", []):
            if s.get("name") == SITUATION:
                return s.get("state")
        return None

    def gather_events(self):
        """Keeps the agent's events (its log goes with the process)."""
        answer = self.api("GET", "/api/v1/events?since=0")
        if answer is not None:
            seen = {(e["id"], e["time"]) for e in self.events}
            self.events += [e for e in answer["events"] if (e["id"], e["time"]) not in seen]

    # --- the systemd host -----------------------------------------------------

    def box_command(self, *namespaces):
        return ["nsenter", "-t", str(self.pid1)] + list(namespaces)

    def box_run(self, *argv, check=True, out=None):
        text = run(*self.box_command("-m", "-p", "-n", "-C", "-u", "-i"), *argv, check=check)
        if out:
            with open(out, "w") as f:
                f.write(text)
        return text.strip()

    def starts(self):
        """How often systemd has started the agent's unit so far (its journal)."""
        return sum(1 for line in self.box_run("journalctl", "-u", "zepagent", "--no-pager",
                                              "-o", "cat", check=False).splitlines()
                   if line.startswith("Started "))

    def main_pid(self):
        return self.box_run("systemctl", "show", "-p", "MainPID", "--value", "zepagent")

    def kill_agent(self):
        """SIGKILL to the agent; returns its PID. Counts the records in files
        already archived: the restarted agent does not read those again."""
        pid = self.main_pid()
        self.box_run("kill", "-KILL", pid)
        self.count_archived(time.time())
        return pid

    def count_archived(self, before):
        """Adds the records of the files the agent archived since the last
        count and by `before` (a file's ctime is when it was moved to the
        archive): an agent started again does not read those."""
        archive = "/proc/%d/root/var/lib/zepagent/ZEP/logs/ZEP.DCA.CACHE/archive" % self.pid1
        since, self.archive_counted = self.archive_counted, before
        for name in os.listdir(archive) if os.path.isdir(archive) else []:
            path = os.path.join(archive, name)
            if not since <= os.stat(path).st_ctime < before:
                continue
            with open(path, errors="replace") as f:
                self.archived += sum(1 for line in f if line.strip() and line[0] != "#")

    def main_started(self):
        """When the running agent's process started (seconds since the epoch)."""
        return float(self.box_run("systemctl", "show", "-p", "ExecMainStartTimestamp", "--value",
                                  "--timestamp=unix", "zepagent").lstrip("@"))

    def reload(self, trace):
        """Changes the options file and has systemd reload the agent."""
        self.trace = trace
        with open(self.share + "/zepagent.conf", "w") as f:
            f.write(self.options_file())
        self.box_run("install", "-m", "0640", "-g", "zepagent", "/srv/fleet/zepagent.conf",
                     "/etc/zepagent/zepagent.conf")
        self.box_run("systemctl", "reload", "zepagent")
