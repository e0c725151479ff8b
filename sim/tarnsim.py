"""The device sandbox: simulated access points on one network segment.

A segment is one run, named by a run id:

  * the utility side, network namespace tarn-util-<run>: a bridge "tarnbr0"
    with 192.0.2.1/24 and 2001:db8::1/64, where the management utility and
    the tests send and receive;
  * per access point i (1-based), network namespace tarn-ap<i>-<run>: the
    management interface, a veth named as the store's "management"
    "interface" ("brtrunk") whose peer is a port of the bridge, with MAC
    02:00:00:00:00:<i> (two hex digits), 192.0.2.(10+i)/24 and
    2001:db8::(10+i)/64 (ap1: 192.0.2.11, 2001:db8::11);
  * per access point private mount, UTS and PID namespaces with its own
    root, built and held by apinit.py (see there): an overlay over the
    host's / whose writable layer is a tmpfs, so the device's fixed paths
    (/etc/reserved_IP, /var/run/dman.pid, /system/cfg/debug, /usr/sbin,
    /splashbin, /tmp, /Volume_1) are its own and the host's are never
    written.

Programs run in an AP with `nsenter -t <holder> -m -u -n -p -r -w` (mount,
UTS, network and PID namespace, root and working directory of the AP's init);
the host reads and writes the AP's files through /proc/<holder>/root, which
resolves inside the AP's mount namespace. Each AP has its own PID namespace:
its PID files hold the AP's own numbers, which Device translates to the
host's, and nsenter stays the parent of the program it starts (entered_pid).

The state of a run is kept in /run/tarnsim/<run>/state.json, so that a
segment can be stopped from another process, also after a crash: every
process is stopped by PID, the namespaces are deleted, and the mounts go with
the mount namespaces. Runs whose owner process has died are cleaned up by
the next segment that starts.

Python 3.11 standard library only; needs root.
"""

import ctypes
import fcntl
import ipaddress
import json
import os
import re
import secrets
import select
import shutil
import signal
import socket
import subprocess
import threading
import time
from pathlib import Path
from typing import NamedTuple

import stage

STATE_ROOT = Path("/run/tarnsim")
SIM_DIR = Path(__file__).resolve().parent

NS_PATTERN = re.compile(r"^tarn-(util|ap\d+)-([0-9a-f]{6})$")
BRIDGE = "tarnbr0"
UTIL_IPV4 = "192.0.2.1"
UTIL_IPV6 = "2001:db8::1"
PREFIX_V4 = 24
PREFIX_V6 = 64
SEGMENT_NET = ipaddress.ip_network("192.0.2.0/24")
MAX_DEVICES = 200

PORT_REQUEST = 62976   # requests and announcements
PORT_REPLY = 62992     # replies

# Inside an AP.
AP_DB = "/var/lib/lsqlquery/settings.db"
AP_SIMDIR = "/etc/tarnsim"
AP_FACTORY = AP_SIMDIR + "/factory.dump"
AP_IDENTITY = AP_SIMDIR + "/identity.dump"
AP_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin:/splashbin"
AP_ENV = {
    "PATH": AP_PATH,
    "LSQLQUERY_DB": AP_DB,
    "HOME": "/root",
    "LANG": "C",
    "LC_ALL": "C",
}
TARND_OUT = "/var/log/tarnd.out"
TARND_ERR = "/var/log/tarnd.err"
TARND_PID = "/run/tarnd.pid"
TARND_EXIT = "/run/tarnd.exit"
DMAND_LOG = "/var/log/dmand.log"
SUBMIT_LOG = "/var/log/submit.log"
CONSOLE_LOG = "/var/log/console.log"
DMAN_PID = "/var/run/dman.pid"
STARTUP_DUMP = "/etc/config/startup.dump"

# Everything the build installs goes to the same path in an AP; the device
# also keeps these programs of it where its firmware looks for them.
DEVICE_PATHS = {
    "firmware-upgrade": "/splashbin/firmware-upgrade",
}
REQUIRED_PROGRAMS = ("tarnd", "lsql", "dmand", "submit")

DEFAULT_DAEMON_ARGS = ("-d",)
CMD_TIMEOUT = 60
STOP_GRACE = 3.0
MAX_PATH_STEPS = 256

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)


class SimError(RuntimeError):
    pass


# ---------------------------------------------------------------- helpers

def run(argv, *, check=True, timeout=CMD_TIMEOUT, input=None, env=None, text=True):
    """Runs a host command (no shell) and returns its CompletedProcess."""
    res = subprocess.run(argv, input=input, capture_output=True, text=text,
                         timeout=timeout, env=env)
    if check and res.returncode != 0:
        raise SimError(f"{' '.join(map(str, argv))} failed ({res.returncode}): "
                       f"{res.stderr.strip() if text else res.stderr!r}")
    return res


def _stat_fields(pid):
    """Fields of /proc/<pid>/stat after the command name, or None."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return None


def process_start_time(pid):
    """The start time of `pid` in clock ticks, or None when it is gone; with
    the PID it names one process even after the PID is reused."""
    f = _stat_fields(pid)
    return int(f[19]) if f else None


def alive(pid, start_time=None):
    """Whether `pid` runs (a zombie has ended), and is the process that
    started at `start_time` when given."""
    f = _stat_fields(pid)
    return f is not None and f[0] != "Z" and (start_time is None or int(f[19]) == start_time)


def parent_pid(pid):
    f = _stat_fields(pid)
    return int(f[1]) if f else None


def ns_pids(pid):
    """The numbers of `pid` in its PID namespaces, the host's first (the
    NSpid line of /proc/<pid>/status); [] when it is gone."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("NSpid:"):
                return [int(p) for p in line.split()[1:]]
    except OSError:
        pass
    return []


def entered_pid(nsenter_pid, timeout=5.0):
    """The host's PID of the program that `nsenter -p` (process
    `nsenter_pid`) started in an AP: nsenter forks it and waits. None when
    nsenter has ended or no child appeared within `timeout`."""
    deadline = time.monotonic() + timeout
    while alive(nsenter_pid):
        try:
            children = Path(f"/proc/{nsenter_pid}/task/{nsenter_pid}/children").read_text().split()
        except OSError:
            return None
        if children:
            return int(children[0])
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.01)
    return None


def kill_and_wait(pids, grace=STOP_GRACE):
    """SIGTERM to each PID, SIGKILL to those still there after `grace`."""
    pids = [p for p in pids if p and p != os.getpid()]
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while pids and time.monotonic() < deadline:
            pids = [p for p in pids if alive(p)]
            time.sleep(0.02)
        if not pids:
            return


def netns_list():
    res = run(["ip", "netns", "list"], check=False)
    return [line.split()[0] for line in res.stdout.splitlines() if line.strip()]


def netns_pids(ns):
    res = run(["ip", "netns", "pids", ns], check=False)
    return [int(p) for p in res.stdout.split() if p.isdigit()]


def delete_netns(ns):
    """Stops every process in the namespace by PID, then deletes it."""
    kill_and_wait(netns_pids(ns))
    run(["ip", "netns", "del", ns], check=False)


def udp_socket_in_netns(ns, port, device):
    """A UDP socket created in network namespace `ns`, bound to `port` on
    `device`, with SO_REUSEADDR and SO_BROADCAST.

    The switch happens on a short-lived thread (a namespace is per thread),
    so the calling process stays where it is; the socket keeps the namespace
    it was created in."""
    box = {}

    def make():
        try:
            with open(f"/run/netns/{ns}", "rb") as f:
                if _libc.setns(f.fileno(), CLONE_NEWNET) != 0:
                    raise OSError(ctypes.get_errno(), f"setns {ns}")
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, device.encode())
            s.bind(("", port))
            box["sock"] = s
        except OSError as e:
            box["error"] = e

    t = threading.Thread(target=make, name=f"netns-{ns}")
    t.start()
    t.join(10)
    if "error" in box:
        raise SimError(f"socket in {ns}: {box['error']}")
    if "sock" not in box:
        raise SimError(f"socket in {ns}: no result")
    return box["sock"]


def drain(sock):
    sock.setblocking(False)
    try:
        for _ in range(10000):
            sock.recvfrom(65536)
    except BlockingIOError:
        pass
    finally:
        sock.setblocking(True)


def receive(sock, timeout):
    """One (datagram, address) arriving within `timeout` seconds, or None."""
    ready, _, _ = select.select([sock], [], [], max(timeout, 0))
    if not ready:
        return None
    return sock.recvfrom(65536)


def ap_mac(index):
    return bytes([2, 0, 0, 0, 0, index])


def ap_ipv4(index):
    return f"192.0.2.{10 + index}"


def ap_ipv6(index):
    # Written like the IPv4 host part: AP 1 is 2001:db8::11.
    return f"2001:db8::{10 + index}"


def escape_field(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def dump_line(section, key, value, obj=None, where=None):
    """One line of the store's dump format."""
    return "\t".join([escape_field(section), escape_field(obj) if obj else "-",
                      where or "-", escape_field(key), escape_field(value)]) + "\n"


def seed_lines(seed):
    """Dump lines from a seed: dump text as it is, or tuples (section, key,
    value) and (section, object, key, value) and (section, object, where,
    key, value) with where as "QKEY=QVALUE"."""
    if seed is None:
        return ""
    if isinstance(seed, str):
        return seed if seed.endswith("\n") or not seed else seed + "\n"
    out = []
    for t in seed:
        match len(t):
            case 3:
                out.append(dump_line(t[0], t[1], t[2]))
            case 4:
                out.append(dump_line(t[0], t[2], t[3], obj=t[1]))
            case 5:
                out.append(dump_line(t[0], t[3], t[4], obj=t[1], where=t[2]))
            case _:
                raise SimError(f"bad seed entry {t!r}")
    return "".join(out)


def store_address_args(obj=None, where=None):
    args = []
    if obj is not None:
        args += ["--object", obj]
    if where is not None:
        if isinstance(where, tuple):
            where = f"{where[0]}={where[1]}"
        args += ["--where", where]
    return args


def _lock():
    STATE_ROOT.mkdir(parents=True, exist_ok=True)
    f = open(STATE_ROOT / ".lock", "w")
    fcntl.flock(f, fcntl.LOCK_EX)
    return f


# ---------------------------------------------------------------- device

class Device:
    """One simulated access point of a segment."""

    def __init__(self, segment, index, interface="brtrunk"):
        if not 1 <= index <= MAX_DEVICES:
            raise SimError(f"AP index {index} out of range")
        self.segment = segment
        self.index = index
        self.name = f"tarn-ap{index}"
        self.ns = f"tarn-ap{index}-{segment.run_id}"
        self.interface = interface
        self.mac = ap_mac(index)
        self.mac_text = ":".join(f"{b:02x}" for b in self.mac)
        self.ip_text = ap_ipv4(index)
        self.ip = socket.inet_aton(self.ip_text)
        self.ipv6_text = ap_ipv6(index)
        self.state_dir = segment.state_dir / f"ap{index}"
        self.holder = None          # PID of the AP's init
        self.holder_start = None
        self.daemon_args = list(DEFAULT_DAEMON_ARGS)
        self._holder_proc = None
        self._dmand_proc = None

    # -- life cycle

    def create(self, seed=None):
        """Network namespace, management interface, root file system, store."""
        self.state_dir.mkdir(parents=True, exist_ok=True)
        run(["ip", "netns", "add", self.ns])
        self.segment.save()
        peer = f"veth-ap{self.index}"
        run(["ip", "-n", self.segment.util_ns, "link", "add", peer, "type", "veth",
             "peer", "name", self.interface, "netns", self.ns])
        run(["ip", "-n", self.segment.util_ns, "link", "set", peer,
             "master", BRIDGE, "up"])
        batch = (f"link set lo up\n"
                 f"link set {self.interface} address {self.mac_text}\n"
                 f"addr add {self.ip_text}/{PREFIX_V4} dev {self.interface}\n"
                 f"addr add {self.ipv6_text}/{PREFIX_V6} dev {self.interface} nodad\n"
                 f"link set {self.interface} up\n")
        run(["ip", "-n", self.ns, "-batch", "-"], input=batch)
        self._start_holder()
        self.segment.save()
        self._install()
        self._seed_store(seed)

    def _start_holder(self):
        root = self.state_dir / "root"
        rw = self.state_dir / "rw"
        root.mkdir(exist_ok=True)
        rw.mkdir(exist_ok=True)
        log = open(self.state_dir / "init.log", "ab")
        # A session of its own: a terminal's Ctrl-C must not end the AP
        # before its owner stops it.
        self._holder_proc = subprocess.Popen(
            ["ip", "netns", "exec", self.ns, "unshare", "--mount", "--uts", "--pid",
             "--propagation", "private", "--fork", "/usr/bin/python3", str(SIM_DIR / "apinit.py"),
             "--root", str(root), "--rw", str(rw), "--hostname", self.name],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
            start_new_session=True, env={"PATH": os.environ.get("PATH", AP_PATH)})
        log.close()
        line = b""
        deadline = time.monotonic() + 20
        while not line.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([self._holder_proc.stdout], [], [], 0.5)
            if ready:
                chunk = os.read(self._holder_proc.stdout.fileno(), 64)
                if not chunk:
                    break
                line += chunk
        self._holder_proc.stdout.close()
        m = re.match(rb"ready (\d+)\n", line)
        if not m:
            raise SimError(f"{self.name}: init did not come up: "
                           f"{(self.state_dir / 'init.log').read_text(errors='replace')}")
        self.holder = int(m.group(1))
        self.holder_start = process_start_time(self.holder)

    def _install(self):
        """Installs what the build stages (sim/stage.py) at the same paths in
        the AP, then the device's own placement of its tools."""
        files = self.segment.staged()
        names = {Path(ap_path).name for _, ap_path in files}
        missing = [p for p in REQUIRED_PROGRAMS if p not in names]
        if missing:
            raise SimError(f"not installed by {self.segment.build}: {', '.join(missing)}")
        for host_path, ap_path in files:
            target = self.path(ap_path)
            if host_path.is_symlink():
                target.parent.mkdir(parents=True, exist_ok=True)
                target.unlink(missing_ok=True)
                target.symlink_to(os.readlink(host_path))
            else:
                self.install_file(host_path, ap_path, host_path.stat().st_mode & 0o7777)
        for host_path, ap_path in files:
            if Path(ap_path).name in DEVICE_PATHS:
                self.install_file(host_path, DEVICE_PATHS[Path(ap_path).name], 0o755)
        busybox = shutil.which("busybox")
        if busybox:
            tftp = self.path("/usr/local/bin/tftp")
            tftp.parent.mkdir(parents=True, exist_ok=True)
            tftp.unlink(missing_ok=True)
            tftp.symlink_to(os.path.realpath(busybox))
        self.install_file(self.segment.factory_dump(), AP_FACTORY, 0o644)
        self.write_file(AP_IDENTITY, self.identity_dump())

    def identity_dump(self):
        return "".join([
            dump_line("management", "mac", self.mac_text),
            dump_line("management", "ip", self.ip_text),
            dump_line("management", "mask", "255.255.255.0"),
            dump_line("management", "static-ip", self.ip_text),
            dump_line("management", "static-ipv6", self.ipv6_text),
            dump_line("system", "system-name", self.name),
        ])

    def _seed_store(self, seed):
        extra = seed_lines(seed)
        self.write_file(AP_SIMDIR + "/seed.dump", extra)
        for dump in (AP_FACTORY, AP_IDENTITY, AP_SIMDIR + "/seed.dump"):
            self.run(["lsql", "load", dump], check=True)

    def start_daemon(self, args=None, wait=True, pid_delay=0.0):
        """Starts the management daemon, which boots the device and starts
        tarnd with `args` (default: -d). With `wait`, returns once the
        first announcement of this AP has been seen. With `pid_delay`,
        tarnd is started first and the management daemon's PID file only
        that many seconds later."""
        if args is not None:
            self.daemon_args = list(args)
        if wait:
            drain(self.segment.watcher)
        lease = f"{self.ip_text}/{PREFIX_V4}"
        argv = self.exec_argv(["/usr/sbin/dmand", "--interface", self.interface,
                               "--lease", lease, "--allowed-net", str(SEGMENT_NET),
                               "--pid-delay", str(pid_delay), "--"] + self.daemon_args)
        self._dmand_proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL,
                                            start_new_session=True,
                                            env=self.segment.ap_env)
        self.segment.save()
        if wait:
            self.wait_announcement()

    def stop_daemon(self):
        """Stops the management daemon (which stops tarnd first)."""
        pid = self.dmand_pid()
        if pid:
            kill_and_wait([pid], grace=6.0)
        # Anything the daemon left behind: tarnd, background tools.
        kill_and_wait(self.ap_pids())
        if self._dmand_proc is not None:
            self._dmand_proc.wait(timeout=5)
            self._dmand_proc = None

    def restart_daemon(self, args=None, wait=True):
        self.stop_daemon()
        self.start_daemon(args, wait)

    def wait_announcement(self, timeout=15):
        """Waits for an announcement of this AP; returns it."""
        return self.segment.wait_announcements([self], timeout)[self.index]

    def stop(self):
        """Stops everything of the AP by PID and deletes its namespace."""
        if self.holder and alive(self.holder, self.holder_start):
            self.stop_daemon()
        if self.holder:
            kill_and_wait([self.holder])
        delete_netns(self.ns)
        if self._holder_proc is not None:
            self._holder_proc.wait(timeout=10)
            self._holder_proc = None
        self.holder = None
        shutil.rmtree(self.state_dir, ignore_errors=True)

    # -- running things

    def exec_argv(self, argv):
        if not self.holder:
            raise SimError(f"{self.name} is not running")
        return ["nsenter", "-t", str(self.holder), "-m", "-u", "-n", "-p", "-r", "-w",
                "--"] + list(argv)

    def run(self, cmd, *, check=False, timeout=CMD_TIMEOUT, input=None, text=True):
        """Runs a command in the AP: a string through /bin/sh -c, a list as
        it is. Returns the CompletedProcess (stdout/stderr captured)."""
        argv = ["/bin/sh", "-c", cmd] if isinstance(cmd, str) else list(cmd)
        return run(self.exec_argv(argv), check=check, timeout=timeout, input=input,
                   env=self.segment.ap_env, text=text)

    def ap_pids(self):
        """PIDs of the processes in the AP other than its init and the
        unshare that waits for the init."""
        keep = {self.holder, parent_pid(self.holder)}
        return [p for p in netns_pids(self.ns) if p not in keep]

    # -- files of the AP

    def path(self, ap_path):
        """The host path of `ap_path` inside the AP (through its init's
        root). Symbolic links are followed here, inside the AP: the kernel
        would resolve an absolute link target (/var/run -> /run) against
        the host's root."""
        if not self.holder:
            raise SimError(f"{self.name} is not running")
        root = Path(f"/proc/{self.holder}/root")
        parts = [p for p in ap_path.split("/") if p not in ("", ".")]
        done = []
        for _ in range(MAX_PATH_STEPS):
            if not parts:
                return root.joinpath(*done)
            part = parts.pop(0)
            if part == "..":
                done = done[:-1]
                continue
            here = root.joinpath(*done, part)
            if here.is_symlink():
                target = os.readlink(here)
                if target.startswith("/"):
                    done = []
                parts = [p for p in target.split("/") if p not in ("", ".")] + parts
                continue
            done.append(part)
        raise SimError(f"{self.name}: too many links in {ap_path}")

    def read_file(self, ap_path, default=None):
        try:
            return self.path(ap_path).read_text(errors="replace")
        except FileNotFoundError:
            return default

    def read_bytes(self, ap_path):
        return self.path(ap_path).read_bytes()

    def write_file(self, ap_path, content, mode=0o644):
        p = self.path(ap_path)
        p.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, bytes):
            p.write_bytes(content)
        else:
            p.write_text(content)
        p.chmod(mode)

    def install_file(self, host_path, ap_path, mode):
        p = self.path(ap_path)
        p.parent.mkdir(parents=True, exist_ok=True)
        p.unlink(missing_ok=True)
        shutil.copyfile(host_path, p)
        p.chmod(mode)

    def exists(self, ap_path):
        return self.path(ap_path).exists()

    # -- settings store

    def lsql(self, *args, check=True):
        """Runs lsql in the AP; its standard output."""
        return self.run(["lsql", *args], check=check).stdout

    def store_get(self, section, key, object=None, where=None):
        """The stored value, or None when the store has none."""
        res = self.run(["lsql", "get", section, key, *store_address_args(object, where)])
        if res.returncode != 0:
            return None
        return res.stdout[:-1] if res.stdout.endswith("\n") else res.stdout

    def store_set(self, section, key, value, object=None, where=None):
        self.run(["lsql", "set", section, key, value, *store_address_args(object, where)],
                 check=True)

    def store_unset(self, section, key, object=None, where=None):
        self.run(["lsql", "unset", section, key, *store_address_args(object, where)],
                 check=True)

    def journal(self, after=0):
        """Journal entries with a sequence number above `after`."""
        out = self.lsql("journal", "--after", str(after))
        return [JournalEntry.parse(line) for line in out.splitlines() if line]

    def journal_seq(self):
        """The sequence number of the newest journal entry (0 when empty)."""
        entries = self.journal()
        return entries[-1].seq if entries else 0

    # -- logs and daemon state

    def stdout_text(self):
        return self.read_file(TARND_OUT, "")

    def stderr_text(self):
        return self.read_file(TARND_ERR, "")

    def dmand_log(self):
        return self.read_file(DMAND_LOG, "")

    def submit_log(self):
        return self.read_file(SUBMIT_LOG, "")

    def console_text(self):
        return self.read_file(CONSOLE_LOG, "")

    def wait_output(self, pattern, timeout=5.0, stream="stdout"):
        """Waits until the daemon's `stream` ("stdout", "stderr", or "dmand"
        for the management daemon's log) matches the regular expression
        `pattern`; returns the match. Raises AssertionError after
        `timeout` seconds."""
        reader = {"stdout": self.stdout_text, "stderr": self.stderr_text,
                  "dmand": self.dmand_log}[stream]
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            text = reader()
            m = rx.search(text)
            if m:
                return m
            if time.monotonic() >= deadline:
                raise AssertionError(f"{self.name}: {pattern!r} not in {stream} "
                                     f"within {timeout} s:\n{text[-4000:]}")
            time.sleep(0.1)

    def wait_until(self, predicate, timeout=10.0, what="condition"):
        """Polls `predicate()` until it is true; AssertionError after
        `timeout`. Returns the predicate's value."""
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() >= deadline:
                raise AssertionError(f"{self.name}: {what} not reached within {timeout} s")
            time.sleep(0.1)

    def _pid_file(self, ap_path):
        text = self.read_file(ap_path)
        try:
            return int(text) if text else None
        except ValueError:
            return None

    def _ap_pid_file(self, ap_path):
        """The host's PID of a PID file's process, which the file names by
        its number in the AP's PID namespace; None when no process of the
        AP has that number, so a stale file never names a host process
        that a stop would then kill."""
        pid = self._pid_file(ap_path)
        if pid is None:
            return None
        for host_pid in self.ap_pids():
            inner = ns_pids(host_pid)
            if len(inner) > 1 and inner[-1] == pid:
                return host_pid
        return None

    def daemon_pid(self):
        """PID of the running tarnd, or None."""
        return self._ap_pid_file(TARND_PID)

    def daemon_exit_status(self):
        """Exit status of tarnd if it has ended by itself, else None."""
        return self._pid_file(TARND_EXIT)

    def dmand_pid(self):
        pid = self._ap_pid_file(DMAN_PID)
        if pid is None and self._dmand_proc is not None and self._dmand_proc.poll() is None:
            pid = entered_pid(self._dmand_proc.pid)
        return pid

    def report(self):
        """The AP's logs, for a failure report."""
        parts = []
        for title, path in (("tarnd stdout", TARND_OUT), ("tarnd stderr", TARND_ERR),
                            ("dmand log", DMAND_LOG), ("submit log", SUBMIT_LOG),
                            ("console", CONSOLE_LOG)):
            text = self.read_file(path, "") if self.holder else ""
            if text:
                parts.append(f"--- {self.name} {title} ---\n{text[-8000:]}")
        return "\n".join(parts)

    def to_state(self):
        return {"index": self.index, "ns": self.ns, "interface": self.interface,
                "holder": self.holder, "holder_start": self.holder_start,
                "dmand": self._dmand_proc.pid if self._dmand_proc else None}


class JournalEntry(NamedTuple):
    """One line of `lsql journal`; object and qualifier None when absent."""
    seq: int
    writer: str
    section: str
    object: str | None
    qualifier: str | None
    key: str
    value: str
    result: str

    @classmethod
    def parse(cls, line):
        f = [_unescape(x) for x in line.split("\t")]
        if len(f) != 8:
            raise SimError(f"bad journal line {line!r}")
        return cls(int(f[0]), f[1], f[2], None if f[3] == "-" else f[3],
                   None if f[4] == "-" else f[4], f[5], f[6], f[7])


def _unescape(field):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n"}.get(m.group(1), m.group(1)), field)


# ---------------------------------------------------------------- segment

class Segment:
    """The utility side and the APs of one run."""

    def __init__(self, build=None, source=None, run_id=None, detached=False):
        self.source = Path(source or os.environ.get("TARN_SOURCE") or SIM_DIR.parent)
        self.build = Path(build or os.environ.get("TARN_BUILD") or self.source / "build")
        self.run_id = run_id or secrets.token_hex(3)
        self.util_ns = f"tarn-util-{self.run_id}"
        self.state_dir = STATE_ROOT / self.run_id
        self.detached = detached
        self.devices = []
        self.watcher = None
        self._staged = None

    # -- life cycle

    def start(self):
        cleanup_stale()
        self.state_dir.mkdir(parents=True, exist_ok=False)
        self.save()
        try:
            run(["ip", "netns", "add", self.util_ns])
            batch = (f"link set lo up\n"
                     f"link add {BRIDGE} type bridge stp_state 0 forward_delay 0\n"
                     f"addr add {UTIL_IPV4}/{PREFIX_V4} dev {BRIDGE}\n"
                     f"addr add {UTIL_IPV6}/{PREFIX_V6} dev {BRIDGE} nodad\n"
                     f"link set {BRIDGE} up\n")
            run(["ip", "-n", self.util_ns, "-batch", "-"], input=batch)
            self.watcher = self.socket(PORT_REQUEST)
        except BaseException:
            self.stop()
            raise
        return self

    def add_devices(self, count=1, seed=None, daemon_args=None, start=True):
        """Creates `count` more APs (numbered on from the last one), seeds
        their stores, and with `start` starts their daemons and waits for
        each one's first announcement."""
        new = []
        for _ in range(count):
            index = (self.devices[-1].index if self.devices else 0) + 1
            dev = Device(self, index, interface=self.interface_name(seed))
            self.devices.append(dev)
            new.append(dev)
            dev.create(seed)
        for dev in new:
            if daemon_args is not None:
                dev.daemon_args = list(daemon_args)
            if start:
                dev.start_daemon(wait=False)
        if start:
            self.wait_announcements(new)
        return new

    def wait_announcements(self, devices, timeout=15):
        """Waits until each of `devices` has announced itself (type 0xFFFF,
        its MAC); returns their announcements by AP index."""
        seen = {}
        deadline = time.monotonic() + timeout
        while len(seen) < len(devices):
            got = receive(self.watcher, deadline - time.monotonic())
            if got is None:
                missing = [d for d in devices if d.index not in seen]
                raise SimError(f"no announcement within {timeout} s from "
                               f"{', '.join(d.name for d in missing)}\n"
                               + "\n".join(d.report() for d in missing))
            data = got[0]
            for d in devices:
                if len(data) >= 12 and data[0:2] == b"\xff\xff" and data[6:12] == d.mac:
                    seen[d.index] = data
        return seen

    def stop(self):
        for dev in reversed(self.devices):
            try:
                dev.stop()
            except Exception:  # noqa: BLE001 - stop the others regardless
                delete_netns(dev.ns)
        if self.watcher is not None:
            self.watcher.close()
            self.watcher = None
        delete_netns(self.util_ns)
        shutil.rmtree(self.state_dir, ignore_errors=True)
        self.devices = []

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- state on disk

    def save(self):
        state = {"run": self.run_id, "owner": None if self.detached else os.getpid(),
                 "owner_start": None if self.detached else process_start_time(os.getpid()),
                 "util_ns": self.util_ns, "build": str(self.build),
                 "devices": [d.to_state() for d in self.devices]}
        tmp = self.state_dir / "state.json.tmp"
        tmp.write_text(json.dumps(state, indent=1))
        tmp.replace(self.state_dir / "state.json")

    @classmethod
    def load(cls, run_id):
        """A segment rebuilt from its state file, for stop/exec from another
        process."""
        state = json.loads((STATE_ROOT / run_id / "state.json").read_text())
        seg = cls(build=state["build"], run_id=run_id, detached=state["owner"] is None)
        for d in state["devices"]:
            dev = Device(seg, d["index"], d["interface"])
            dev.holder, dev.holder_start = d["holder"], d["holder_start"]
            seg.devices.append(dev)
        return seg

    # -- things of the segment

    def socket(self, port):
        """A UDP socket of the utility side bound to `port` on the bridge."""
        return udp_socket_in_netns(self.util_ns, port, BRIDGE)

    def util_run(self, cmd, *, check=False, timeout=CMD_TIMEOUT, input=None, text=True):
        """Runs a command in the utility namespace (a string through sh -c)."""
        argv = ["/bin/sh", "-c", cmd] if isinstance(cmd, str) else list(cmd)
        return run(["ip", "netns", "exec", self.util_ns] + argv, check=check,
                   timeout=timeout, input=input, text=text,
                   env={**os.environ, **stage.target_env(self.build)})

    def util_popen(self, argv, **kw):
        """Starts a long-running program in the utility namespace; the
        caller stops it (by the Popen's PID)."""
        kw.setdefault("env", {**os.environ, **stage.target_env(self.build)})
        return subprocess.Popen(["ip", "netns", "exec", self.util_ns] + list(argv), **kw)

    def device(self, name):
        for d in self.devices:
            if name in (d.name, f"ap{d.index}", str(d.index)):
                return d
        raise SimError(f"no AP {name!r} in run {self.run_id}")

    def staged(self):
        """(stage path, AP path) of every file that the build installs, each
        ELF file checked to be built for the expected target."""
        if self._staged is None:
            try:
                files = stage.staged_files(stage.stage(self.build))
                arch = stage.expected_arch(self.build)
                for host_path, _ in files:
                    if host_path.is_file() and not host_path.is_symlink():
                        stage.check_elf(host_path, arch)
                files += stage.host_store_files(self.build, self.source)
            except stage.StageError as e:
                raise SimError(str(e)) from None
            self._staged = files
        return self._staged

    @property
    def ap_env(self):
        """The environment of programs in an AP: AP_ENV, and what the
        build's programs need under emulation."""
        return {**AP_ENV, **stage.target_env(self.build)}

    def factory_dump(self):
        return self.source / "platform" / "defaults" / "factory.dump"

    def interface_name(self, seed):
        """The management interface's name as the store will hold it."""
        name = "brtrunk"
        text = self.factory_dump().read_text() + seed_lines(seed)
        for line in text.splitlines():
            f = line.split("\t")
            if len(f) == 5 and f[0] == "management" and f[1] == "-" and f[3] == "interface" \
                    and f[4]:
                name = f[4]
        return name

    def report(self):
        return "\n".join(d.report() for d in self.devices)


# ---------------------------------------------------------------- runs

def list_runs():
    if not STATE_ROOT.is_dir():
        return []
    return sorted(p.name for p in STATE_ROOT.iterdir()
                  if p.is_dir() and (p / "state.json").is_file())


def stop_run(run_id):
    """Stops a run from its state file: its processes by PID, its namespaces."""
    try:
        seg = Segment.load(run_id)
    except (OSError, ValueError, KeyError):
        shutil.rmtree(STATE_ROOT / run_id, ignore_errors=True)
        return
    seg.stop()
    # Namespaces created before the state was last saved.
    for ns in netns_list():
        m = NS_PATTERN.match(ns)
        if m and m.group(2) == run_id:
            delete_netns(ns)


def cleanup_stale():
    """Stops runs whose owner process has ended, and deletes namespaces of
    ours that no run knows (left by a crash in the middle of a stop)."""
    with _lock():
        for run_id in list_runs():
            try:
                state = json.loads((STATE_ROOT / run_id / "state.json").read_text())
            except (OSError, ValueError):
                continue
            owner = state.get("owner")
            if owner is not None and not alive(owner, state.get("owner_start")):
                stop_run(run_id)
        known = set(list_runs()) | {p.name for p in STATE_ROOT.iterdir() if p.is_dir()}
        for ns in netns_list():
            m = NS_PATTERN.match(ns)
            if m and m.group(2) not in known:
                delete_netns(ns)
