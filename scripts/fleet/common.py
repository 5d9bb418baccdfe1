"""What every part of the fleet run shares: child processes, bounded waits,
and the one status line that says where the run is."""

import base64
import json
import os
import secrets
import shutil
import ssl
import signal
import subprocess
import sys
import time
import urllib.request


class FleetError(Exception):
    """The fleet run cannot go on (a server did not start, a wait ran out)."""


class Status:
    """The status line: rewritten in place on a terminal, else printed once
    every ten seconds. `say` prints a line above it."""

    def __init__(self):
        self.tty = sys.stdout.isatty()
        self.start = time.time()
        self.line = lambda: ""      # set by the run: what the line shows
        self.watch = lambda: None   # set by the run: raises when it cannot go on
        self.last = 0.0

    def elapsed(self):
        return time.time() - self.start

    def say(self, text):
        if self.tty:
            sys.stdout.write("\r\033[K")
        print("fleet %s %s" % (clock(self.elapsed()), text), flush=True)

    def tick(self):
        self.watch()
        now = time.time()
        if self.tty:
            width = shutil.get_terminal_size((120, 24)).columns - 1
            sys.stdout.write("\r\033[K" + self.line()[:width])
            sys.stdout.flush()
        elif now - self.last >= 10 and self.line():
            print(self.line(), flush=True)
        else:
            return
        self.last = now

    def done(self):
        if self.tty:
            sys.stdout.write("\r\033[K")


status = Status()


def clock(seconds):
    seconds = max(0, int(seconds))
    return "%02d:%02d" % (seconds // 60, seconds % 60)


def sleep(seconds):
    """Sleeps, keeping the status line up to date."""
    end = time.time() + seconds
    while True:
        status.tick()
        left = end - time.time()
        if left <= 0:
            return
        time.sleep(min(1.0, left))


def wait_for(what, ready, timeout, interval=0.5):
    """Calls `ready` until it returns something true and returns that; says
    how long it waited when that was more than a few seconds. Raises
    FleetError naming `what` when `timeout` seconds pass first."""
    start = time.time()
    while True:
        value = ready()
        if value:
            if time.time() - start > 5:
                status.say("waited %.0f s for %s" % (time.time() - start, what))
            return value
        if time.time() - start > timeout:
            raise FleetError("gave up after %d s waiting for %s" % (timeout, what))
        status.tick()
        time.sleep(interval)


def run(*argv, check=True, timeout=120, **kw):
    """Runs a short command; returns its standard output. Raises FleetError
    with its standard error when it fails and `check` is set."""
    p = subprocess.run([str(a) for a in argv], capture_output=True, text=True,
                       timeout=timeout, **kw)
    if check and p.returncode != 0:
        raise FleetError("%s failed (%d): %s" % (" ".join(map(str, argv[:4])), p.returncode,
                                                p.stderr.strip()[-800:]))
    return p.stdout


class Proc:
    """A long-running child in its own session (Ctrl-C reaches the run, not
    the child), its output in `log`. The owner stops it; `stop` is safe to
    call twice."""

    def __init__(self, argv, log, env=None, preexec=None):
        self.argv = [str(a) for a in argv]
        self.log = log
        with open(log, "ab") as out:
            self.p = subprocess.Popen(self.argv, stdout=out, stderr=subprocess.STDOUT,
                                      stdin=subprocess.DEVNULL, env=env,
                                      start_new_session=True, preexec_fn=preexec)
        self.pid = self.p.pid

    def alive(self):
        return self.p.poll() is None

    def send(self, sig):
        if self.alive():
            os.kill(self.pid, sig)

    def stop(self, sig=signal.SIGTERM, timeout=15):
        """Sends `sig`, then SIGKILL after `timeout` seconds. Returns the exit
        status, or None when it had to be killed."""
        if not self.alive():
            return self.p.returncode
        self.send(sig)
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
            return None

    def tail(self, n=2000):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()[-n:]
        except OSError:
            return ""


def serve(what, argv, log, ready_url, tries=3, node=None):
    """Starts a server (in `node`, else here) and waits until `ready_url`
    answers 200. A server that exits at once (its address still held by its
    previous run) is started again, at most `tries` times. Returns its Proc;
    raises FleetError."""
    for attempt in range(1, tries + 1):
        proc = node.spawn(argv, log) if node else Proc(argv, log)
        ready = lambda: http("GET", ready_url)[0] == 200 or not proc.alive()
        wait_for(what + " to be ready", ready, 60)
        if proc.alive():
            return proc
        status.say("%s exited at start (attempt %d): %s" % (what, attempt, proc.tail(300)))
        time.sleep(2 * attempt)
    raise FleetError("%s does not start: %s" % (what, proc.tail()))


def write_json(path, value):
    """Writes `value` as JSON through a temporary file, so no reader sees half."""
    with open(path + ".tmp", "w") as f:
        json.dump(value, f, indent=1)
    os.rename(path + ".tmp", path)


_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class FleetTls:
    """What the agents' web configuration and Prometheus's scrape job share:
    a private authority and the agents' certificate for every host address
    (made by the README's deploy/examples/network/make-certs.sh), and
    Prometheus's user with a random password. Makes https requests of
    `http` trust the authority."""

    USER = "prometheus"

    def __init__(self, repo, dir, addresses):
        global _opener
        self.dir = dir
        os.makedirs(dir)
        run("sh", repo + "/deploy/examples/network/make-certs.sh", *addresses, cwd=dir)
        self.ca = dir + "/ca.crt"
        self.password = secrets.token_hex(12)
        self.password_file = dir + "/prometheus.password"
        with open(os.open(self.password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write(self.password)
        hashed = run("perl", "-le", 'print crypt($ARGV[0], "\\$2b\\$10\\$" . join "", map '
                     '{ ("a".."z", "A".."Z", 0..9, ".", "/")[rand 64] } 1..22)',
                     self.password).strip()
        self.web_config = ("tls_server_config:\n  cert_file: agent.crt\n  key_file: agent.key\n"
                           "basic_auth_users:\n  %s: %s\n" % (self.USER, hashed))
        self.basic = "Basic " + base64.b64encode(
            ("%s:%s" % (self.USER, self.password)).encode()).decode()
        _opener = urllib.request.build_opener(
            urllib.request.ProxyHandler({}),
            urllib.request.HTTPSHandler(context=ssl.create_default_context(cafile=self.ca)))

    def files(self):
        """The files each agent gets beside its options file: name -> (text, mode)."""
        read = lambda name: open(os.path.join(self.dir, name)).read()
        return {"web-config.yml": (self.web_config, 0o644),
                "agent.crt": (read("agent.crt"), 0o644), "agent.key": (read("agent.key"), 0o600)}


def http(method, url, body=None, token=None, timeout=5, auth=None):
    """One HTTP request; returns (status, text), status 0 when no answer came.
    `token` goes as a bearer token, else `auth` as the Authorization header."""
    data = None if body is None else (body if isinstance(body, str) else json.dumps(body)).encode()
    req = urllib.request.Request(url, data=data, method=method)
    if data is not None:
        req.add_header("Content-Type", "application/json")
    if token:
        req.add_header("Authorization", "Bearer " + token)
    elif auth:
        req.add_header("Authorization", auth)
    try:
        with _opener.open(req, timeout=timeout) as r:
            return r.status, r.read().decode(errors="replace")
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode(errors="replace")
    except (OSError, ValueError):
        return 0, ""


def http_json(method, url, body=None, token=None, timeout=5):
    """Like http, the answer parsed; None when there was none or not JSON."""
    code, text = http(method, url, body, token, timeout)
    try:
        return json.loads(text) if 200 <= code < 300 else None
    except ValueError:
        return None
