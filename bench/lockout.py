#!/usr/bin/env python3
"""The one-address lockout, measured: what a second client address gets
while one address holds the operator API's connection table.

Usage: bench/lockout.py [--seconds S] [--attackers N] ZEPAGENT [ZEPAGENT ...]

For each agent binary: starts it on a free loopback port in a temporary
directory (descriptor limit 4096, so the table holds its default 1000),
opens N connections from 127.0.0.1 that each send one byte ("G") and
reconnect as soon as they are closed (after their 408), and for S seconds
from 127.0.0.2: a new connection for /healthz every second (2 s timeout),
and a scraper that keeps one connection alive and scrapes /metrics every
3 s (below the 5 s idle timeout), reconnecting after a failure. Prints one
line per binary: health answers, scrapes answered, scrape failures.
"""
import argparse
import http.client
import os
import resource
import selectors
import socket
import subprocess
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_agent(binary, root, port):
    etc, install = os.path.join(root, "etc"), os.path.join(root, "install")
    os.makedirs(etc)
    os.makedirs(os.path.join(install, "ZEP", "config"))
    os.makedirs(os.path.join(install, "ZEP", "logs"))
    with open(os.path.join(etc, "ZEPBaseDirConfig.properties"), "w") as f:
        f.write("INSTALLDIR=" + install + "\n")
    open(os.path.join(install, "ZEP", "config", "ZEP.dc.properties"), "w").close()

    def limit():
        resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))

    agent = subprocess.Popen(
        [binary, "--listen", "127.0.0.1:%d" % port, "--trace-file", os.path.join(root, "trace")],
        env=dict(os.environ, ZEP_ETC_DIR=etc), stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, preexec_fn=limit)
    for _ in range(300):
        try:
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=1)
            c.request("GET", "/healthz")
            if c.getresponse().status == 200:
                return agent
        except OSError:
            time.sleep(0.1)
    agent.kill()
    raise SystemExit("the agent %s did not answer" % binary)


def attack(port, count, stop):
    """Keeps `count` connections from 127.0.0.1 each one byte into a request."""
    sel = selectors.DefaultSelector()

    def open_one():
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        sel.register(s, selectors.EVENT_WRITE)

    for _ in range(count):
        open_one()
    while not stop.is_set():
        for key, events in sel.select(0.2):
            s = key.fileobj
            if events & selectors.EVENT_WRITE:
                try:
                    s.send(b"G")
                    sel.modify(s, selectors.EVENT_READ)
                    continue
                except OSError:
                    pass
            else:
                try:
                    if s.recv(65536):
                        continue
                except BlockingIOError:
                    continue
                except OSError:
                    pass
            sel.unregister(s)
            s.close()
            open_one()
    for key in list(sel.get_map().values()):
        key.fileobj.close()


def probe(port, seconds, counts):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        counts["health_tried"] += 1
        try:
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=2,
                                           source_address=("127.0.0.2", 0))
            c.request("GET", "/healthz")
            if c.getresponse().status == 200:
                counts["health_ok"] += 1
            c.close()
        except OSError:
            pass
        time.sleep(1)


def scrape(port, seconds, counts):
    end = time.monotonic() + seconds
    c = None
    while time.monotonic() < end:
        try:
            if c is None:
                c = http.client.HTTPConnection("127.0.0.1", port, timeout=2,
                                               source_address=("127.0.0.2", 0))
            c.request("GET", "/metrics")
            r = c.getresponse()
            r.read()
            counts["scrape_ok" if r.status == 200 else "scrape_failed"] += 1
        except (OSError, http.client.HTTPException):
            counts["scrape_failed"] += 1
            c.close()
            c = None
        time.sleep(3)


def run(binary, seconds, attackers):
    with tempfile.TemporaryDirectory() as root:
        port = free_port()
        agent = start_agent(binary, root, port)
        counts = {"health_tried": 0, "health_ok": 0, "scrape_ok": 0, "scrape_failed": 0}
        stop = threading.Event()
        attacker = threading.Thread(target=attack, args=(port, attackers, stop))
        try:
            scraper = threading.Thread(target=scrape, args=(port, seconds + 1, counts))
            scraper.start()  # kept alive before the attack, as Prometheus's would be
            time.sleep(0.5)
            attacker.start()
            time.sleep(1)
            probe(port, seconds, counts)
            scraper.join()
        finally:
            stop.set()
            if attacker.is_alive():
                attacker.join()
            agent.kill()
            agent.wait()
        print("%s: /healthz from 127.0.0.2 answered %d of %d in %d s; scrapes %d answered, "
              "%d failed" % (binary, counts["health_ok"], counts["health_tried"], seconds,
                             counts["scrape_ok"], counts["scrape_failed"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=22)
    parser.add_argument("--attackers", type=int, default=1000)
    parser.add_argument("agents", nargs="+")
    args = parser.parse_args()
    resource.setrlimit(resource.RLIMIT_NOFILE, (8192, 8192))
    for binary in args.agents:
        run(binary, args.seconds, args.attackers)


if __name__ == "__main__":
    main()
