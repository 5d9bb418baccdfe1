#!/usr/bin/env python3
"""Clients that never read, against the real agent: starts BUILD/zepagent on
a private install directory and a free loopback port, fills ZEPSMT with
ROWS rows through zepdcsim, then opens CLIENTS connections from one address
that each ask for the whole table and never read, asks /healthz beside them
from another address (one address's further requests wait their turn, by
design: the neighbour is another client) and follows the agent's resident memory until every answer has ended.

    slow_readers.py BUILD WORK [--rows 30000] [--clients 16]

Prints name=value figures: rss_base_kib (after one full read of the table),
rss_growth_kib (peak VmRSS during the attack minus the base), healthz_ms,
rss_after_kib (when the attack ended), drain_s (until the agent served
another table answer).
"""
import argparse
import http.client
import os
import re
import socket
import subprocess
import sys
import time


def rss_kib(pid, field="VmRSS"):
    for line in open("/proc/%d/status" % pid):
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return -1


def sockets(pid):
    """The sockets the process holds open."""
    n = 0
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            n += os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith("socket:")
        except OSError:
            pass
    return n


def get(port, target, timeout=60.0, source="127.0.0.1"):
    """(status, bytes, seconds) of one GET read in full, sent from `source`."""
    t0 = time.monotonic()
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                   source_address=(source, 0))
    c.request("GET", target)
    r = c.getresponse()
    body = r.read()
    c.close()
    return r.status, len(body), time.monotonic() - t0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("work")
    p.add_argument("--rows", type=int, default=30000)
    p.add_argument("--clients", type=int, default=16)
    a = p.parse_args()
    root = os.path.abspath(a.work)
    etc, install = root + "/etc", root + "/install"
    logs = install + "/ZEP/logs"
    for d in (etc, logs, install + "/ZEP/config"):
        os.makedirs(d, exist_ok=True)
    open(etc + "/ZEPBaseDirConfig.properties", "w").write("INSTALLDIR=%s\n" % install)
    open(install + "/ZEP/config/ZEP.dc.properties", "w").write(
        "zep.axo.logReadSleepTimeSeconds=1\n")
    servers = 10
    subprocess.run([a.build + "/zepdcsim", "--dir", logs, "--servers", str(servers),
                    "--count", str(a.rows // servers), "--per-file", str(a.rows // servers),
                    "--step-ms", "5"], check=True, stdout=subprocess.DEVNULL)
    trace = root + "/trace.log"
    env = dict(os.environ, ZEP_ETC_DIR=etc)
    agent = subprocess.Popen([a.build + "/zepagent", "--listen", "127.0.0.1:0",
                              "--trace-file", trace], env=env,
                             stdout=subprocess.DEVNULL, stderr=open(root + "/agent.err", "w"))
    try:
        port = 0
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and port == 0:
            time.sleep(0.2)
            text = open(trace).read() if os.path.exists(trace) else ""
            m = re.search(r"listening on http://127\.0\.0\.1:([0-9]+)", text)
            port = int(m.group(1)) if m else 0
        if port == 0:
            sys.exit("slow_readers: the agent did not listen")
        count = 0
        while time.monotonic() < deadline and count < a.rows:
            time.sleep(0.5)
            body = get(port, "/api/v1/tables/ZEPSMT")
            count = a.rows if body[1] > a.rows * 300 else 0
        if count < a.rows:
            sys.exit("slow_readers: ZEPSMT never reached %d rows" % a.rows)
        _, size, secs = get(port, "/api/v1/tables/ZEPSMT")
        base = rss_kib(agent.pid)
        idle = sockets(agent.pid)
        clients = []
        for _ in range(a.clients):
            c = socket.create_connection(("127.0.0.1", port))
            c.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            c.sendall(("GET /api/v1/tables/ZEPSMT HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port).encode())
            clients.append(c)
        time.sleep(1.0)
        peak = rss_kib(agent.pid)
        status, _, health = get(port, "/healthz", timeout=120, source="127.0.0.2")
        t0 = time.monotonic()
        # The attack ends when another table answer is served again.
        end = time.monotonic() + 600
        while time.monotonic() < end:
            peak = max(peak, rss_kib(agent.pid))
            # An answer ended when the agent closed its connection (the
            # client sees no end: its window stays shut).
            open_ = sockets(agent.pid) - idle
            if open_ == 0:
                break
            time.sleep(0.2)
        drain = time.monotonic() - t0
        after = rss_kib(agent.pid)
        for c in clients:
            c.close()
        print("table_bytes=%d table_seconds=%.3f rss_base_kib=%d rss_growth_kib=%d "
              "healthz_status=%d healthz_ms=%.0f rss_after_kib=%d drain_s=%.1f"
              % (size, secs, base, peak - base, status, health * 1e3, after, drain))
    finally:
        agent.terminate()
        agent.wait(30)


if __name__ == "__main__":
    main()
