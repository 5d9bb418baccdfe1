"""The fleet's network: a center namespace holding a bridge, and a namespace
per host joined to the bridge by a veth pair, each host on its own address.
A partition is a host's bridge port taken down. Every namespace and cgroup
carries one name prefix (the links live inside those namespaces), so that
`sweep` finds whatever is left, also after a failure, and says what it
removed."""

import ctypes
import glob
import os
import signal
import time

from common import run

SUBNET = "10.250.0"
CENTER_IP = SUBNET + ".1"
CLONE_NEWNET = 0x40000000


def center_ip(index):
    """The address of the center's server number `index` (2 to 10)."""
    return "%s.%d" % (SUBNET, index)


def host_ip(index):
    return "%s.%d" % (SUBNET, 10 + index)


def _setns(fd):
    if ctypes.CDLL(None, use_errno=True).setns(fd, CLONE_NEWNET) != 0:
        raise OSError(ctypes.get_errno(), "setns")


def _mounted(path):
    with open("/proc/self/mountinfo") as f:
        return any(line.split()[4] == path for line in f)


class Net:
    """Owns the namespaces and links named `prefix`-*. Not thread-safe."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.center = prefix + "-c"
        self.netns_mounted_before = _mounted("/run/netns")
        self.home = os.open("/proc/self/ns/net", os.O_RDONLY)   # the machine's namespace

    def ns(self, host):
        return "%s-%s" % (self.prefix, host)

    def start(self):
        """Makes the center namespace and its bridge, and moves this process
        into it: the run talks to its servers and agents from the center."""
        run("ip", "netns", "add", self.center)
        c = ("ip", "-n", self.center)
        run(*c, "link", "set", "lo", "up")
        run(*c, "link", "add", "br0", "type", "bridge")
        run(*c, "addr", "add", CENTER_IP + "/24", "dev", "br0")
        run(*c, "link", "set", "br0", "up")
        fd = os.open("/run/netns/" + self.center, os.O_RDONLY)
        _setns(fd)
        os.close(fd)

    def add_host(self, host, ip, pid=None):
        """Makes host's namespace (or names that of process `pid`) and joins
        it to the bridge at `ip` as its eth0."""
        ns = self.ns(host)
        if pid is None:
            run("ip", "netns", "add", ns)
        else:
            run("ip", "netns", "attach", ns, pid)
        c = ("ip", "-n", self.center)
        run(*c, "link", "add", host, "type", "veth", "peer", "name", "eth0", "netns", ns)
        run(*c, "link", "set", host, "master", "br0", "up")
        run("ip", "-n", ns, "link", "set", "lo", "up")
        run("ip", "-n", ns, "addr", "add", ip + "/24", "dev", "eth0")
        run("ip", "-n", ns, "link", "set", "eth0", "up")

    def set_link(self, host, up):
        run("ip", "-n", self.center, "link", "set", host, "up" if up else "down")

    def remove_host(self, host):
        run("ip", "-n", self.center, "link", "del", host, check=False)
        run("ip", "netns", "del", self.ns(host), check=False)

    def sweep(self):
        """Returns this process to the machine's namespace, then removes every
        process, namespace, cgroup and mount of this prefix that is left.
        Returns (what it removed, what it could not), one text each."""
        _setns(self.home)
        removed, left = [], []
        for ns in self._namespaces():
            for pid in run("ip", "netns", "pids", ns, check=False).split():
                if int(pid) != os.getpid():
                    removed.append("process %s (%s) in %s" % (pid, _comm(pid), ns))
                    _kill(pid)
            run("ip", "netns", "del", ns, check=False)
            removed.append("namespace " + ns)
        for top in glob.glob("/sys/fs/cgroup/*/**/%s-*" % self.prefix, recursive=True):
            for d, _, _ in os.walk(top, topdown=False):
                for pid in open(d + "/cgroup.procs").read().split():
                    removed.append("process %s (%s) in cgroup %s" % (pid, _comm(pid), d))
                    _kill(pid)
                if _rmdir(d):
                    removed.append("cgroup " + d)
                else:
                    left.append("cgroup " + d)
        if not self.netns_mounted_before and os.path.isdir("/run/netns") \
                and not os.listdir("/run/netns"):
            run("umount", "/run/netns", check=False)      # ip made it a mount point
            os.rmdir("/run/netns")
        with open("/proc/self/mountinfo") as f:
            for m in [line.split()[4] for line in f if self.prefix in line.split()[4]]:
                run("umount", "-l", m, check=False)
                removed.append("mount " + m)
        left += ["namespace " + ns for ns in self._namespaces()]
        return removed, left

    def _namespaces(self):
        return [n.split()[0] for n in run("ip", "netns", "list", check=False).splitlines()
                if n.startswith(self.prefix + "-")]


def _rmdir(d, tries=50):
    """Removes an empty cgroup; its killed processes may take a moment to go."""
    for _ in range(tries):
        try:
            os.rmdir(d)
            return True
        except OSError:
            time.sleep(0.1)
    return False


def _comm(pid):
    try:
        return open("/proc/%s/comm" % pid).read().strip()
    except OSError:
        return "?"


def _kill(pid):
    try:
        os.kill(int(pid), signal.SIGKILL)
    except OSError:
        pass
