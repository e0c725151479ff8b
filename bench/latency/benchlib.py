"""Shared pieces of the benchmarks and the soak test: the device sandbox
with one access point, tarnd started by hand inside it, the load client in
the utility namespace, and the daemon's memory and descriptor figures.

Everything that talks to a daemon runs inside the sandbox of
sim/tarnsim.py: the load client in the utility namespace, the daemon and
the programs measured on the device in the AP's namespaces. Files of the
AP are written only through the sandbox (Device.install_file), which
resolves paths inside the AP.
"""

import functools
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "sim"))

import tarnsim  # noqa: E402

TARND = "/usr/sbin/tarnd"
AP_BIN = "/usr/local/bin"
SO_TIMESTAMPNS = 35
ANNOUNCE_TYPE = b"\xff\xff"


def build_dir(arg=None):
    return Path(arg or os.environ.get("TARN_BUILD") or SOURCE / "build").resolve()


@functools.lru_cache(maxsize=None)
def program(build, name):
    """The built program `name` (bench programs live under bench/)."""
    for p in sorted(build.rglob(name)):
        if p.is_file() and os.access(p, os.X_OK) and "CMakeFiles" not in p.parts:
            return p
    raise SystemExit(f"{name} is not built in {build}: cmake --build {build} --target {name}")


def require_root():
    if os.geteuid() != 0:
        raise SystemExit("needs root (network and mount namespaces)")


# ---------------------------------------------------------------- the AP

class Bench:
    """One segment with one AP whose tarnd runs without -d (as on a
    device), plus the helpers the measurements need."""

    def __init__(self, build):
        self.build = build
        self.seg = tarnsim.Segment(build=build, source=SOURCE)
        self.dev = None
        self.own = None          # a tarnd started here (Popen), not by dmand

    def __enter__(self):
        self.seg.start()
        try:
            self.dev, = self.seg.add_devices(1, daemon_args=[])
        except BaseException:
            self.seg.stop()
            raise
        return self

    def start_plain(self, prefix=()):
        """Replaces dmand's tarnd by one started here as a device starts
        it: no -d, and without the sandbox's stdbuf wrapper, whose
        preloaded library would count in the footprint. `prefix` runs it
        under a tool (valgrind). Returns once it has announced itself."""
        tarnsim.drain(self.seg.watcher)
        self.start_own(list(prefix) + [TARND])
        self.seg.wait_announcements([self.dev], timeout=60)

    def __exit__(self, *exc):
        self.stop_own()
        self.seg.stop()

    # -- programs

    def install(self, name):
        """Copies the built program `name` into the AP; its path there."""
        dest = f"{AP_BIN}/{name}"
        self.dev.install_file(program(self.build, name), dest, 0o755)
        return dest

    def ap_popen(self, argv, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        return subprocess.Popen(self.dev.exec_argv(argv), env=self.seg.ap_env,
                                start_new_session=True, **kw)

    def load(self, args, timeout=900):
        """Runs the load client in the utility namespace; its JSON figures."""
        argv = [str(program(self.build, "tarn_load")), "--device", tarnsim.BRIDGE,
                "--mac", self.dev.mac_text, "--ip", self.dev.ip_text] + [str(a) for a in args]
        res = self.seg.util_run(argv, timeout=timeout)
        line = res.stdout.strip().splitlines()[-1] if res.stdout.strip() else ""
        if not line.startswith("{"):
            raise RuntimeError(f"tarn_load {' '.join(map(str, args))} failed "
                               f"({res.returncode}): {res.stderr.strip()}")
        return json.loads(line)

    # -- the daemon

    def daemon_pid(self):
        if self.own is not None and self.own.poll() is None:
            return tarnsim.entered_pid(self.own.pid)
        return self.dev.daemon_pid()

    def stop_daemon(self):
        """Stops whichever tarnd runs (dmand's or ours); dmand does not
        start it again, and its PID file stays."""
        self.stop_own()
        pid = self.dev.daemon_pid()
        if pid:
            tarnsim.kill_and_wait([pid])
            deadline = time.monotonic() + 5
            while self.dev.daemon_pid() and time.monotonic() < deadline:
                time.sleep(0.05)

    def start_own(self, argv):
        """Starts `argv` (tarnd, possibly under a tool) in the AP."""
        self.stop_daemon()
        self.own = self.ap_popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return self.own

    def stop_own(self, sig=signal.SIGTERM, grace=30):
        """Stops our tarnd; its standard error."""
        if self.own is None:
            return ""
        # Its own process group: a tool's tracee and the daemon's shell
        # commands end with it.
        group = self.own.pid
        signal_group(group, sig)
        try:
            _, err = self.own.communicate(timeout=grace)
        except subprocess.TimeoutExpired:
            signal_group(group, signal.SIGKILL)
            _, err = self.own.communicate(timeout=10)
        signal_group(group, signal.SIGKILL)
        self.own = None
        return err.decode(errors="replace") if err else ""

    # -- store

    def store(self, section, key, obj=None):
        return self.dev.store_get(section, key, object=obj) or ""


def signal_group(group, sig):
    try:
        os.killpg(group, sig)
    except ProcessLookupError:
        pass


# ---------------------------------------------------------------- announcements

class AnnouncementWatch:
    """Records the kernel receive time (CLOCK_REALTIME, ns) of every
    announcement of `dev` on the utility side, in a thread; the load's own
    requests arrive on the same port and are skipped."""

    def __init__(self, seg, dev):
        self.sock = seg.socket(tarnsim.PORT_REQUEST)
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.sock.settimeout(0.2)
        self.mac = dev.mac
        self.source = dev.ip_text
        self.times = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(5)
        self.sock.close()

    def _run(self):
        while not self._stop.is_set():
            try:
                data, anc, _, source = self.sock.recvmsg(65536, 64)
            except (socket.timeout, BlockingIOError):
                continue
            except OSError:
                return
            # The load's own datagrams come from the utility side, also
            # those that look like announcements.
            if source[0] != self.source or data[0:2] != ANNOUNCE_TYPE or data[6:12] != self.mac:
                continue
            stamp = time.time_ns()
            for level, kind, value in anc:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    sec, nsec = struct.unpack("qq", value[:16])
                    stamp = sec * 1_000_000_000 + nsec
            self.times.append(stamp)

    def wait_count(self, n, timeout):
        deadline = time.monotonic() + timeout
        while len(self.times) < n and time.monotonic() < deadline:
            time.sleep(0.01)
        return len(self.times) >= n


# ---------------------------------------------------------------- process figures

def smaps_rollup(pid):
    """kB figures of /proc/<pid>/smaps_rollup by field name."""
    figures = {}
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines()[1:]:
        name, _, rest = line.partition(":")
        parts = rest.split()
        if parts and parts[0].isdigit():
            figures[name.strip()] = int(parts[0])
    return figures


def mapped_libraries(pid):
    """Shared objects mapped by `pid`, in map order, without repeats."""
    seen = []
    for line in Path(f"/proc/{pid}/maps").read_text().splitlines():
        parts = line.split(None, 5)
        if len(parts) == 6 and ".so" in parts[5] and parts[5] not in seen:
            seen.append(parts[5])
    return seen


def open_fds(pid):
    """{fd: target} of /proc/<pid>/fd."""
    fds = {}
    for p in Path(f"/proc/{pid}/fd").iterdir():
        try:
            fds[int(p.name)] = os.readlink(p)
        except OSError:
            continue
    return fds


def private_dirty_by_mapping(pid, top=6):
    """The mappings of `pid` with the most Private_Dirty: [(kB, name)]."""
    totals, name = {}, None
    for line in Path(f"/proc/{pid}/smaps").read_text().splitlines():
        f = line.split()
        if f and ":" not in f[0]:
            path = Path(f[5]).name if len(f) > 5 else "[anon]"
            name = f"{path} {f[1]}"
        elif f and f[0] == "Private_Dirty:" and name:
            totals[name] = totals.get(name, 0) + int(f[1])
    return sorted(((kb, n) for n, kb in totals.items() if kb), reverse=True)[:top]
