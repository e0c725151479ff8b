"""Simulated APs in the device sandbox (sim/tarnsim.py), a protocol client and tarn in its
utility namespace; teardown deletes every namespace whatever the outcome, a failure reports
the APs' logs."""

import os
import pty
import select
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("TARN_SOURCE") or HERE.parents[1])
BUILD = Path(os.environ.get("TARN_BUILD") or SOURCE / "build")
sys.path.insert(0, str(SOURCE / "sim"))
sys.path.insert(0, str(HERE))
TARN = str(BUILD / "tarn" / "tarn")
PASSWORD = "tarnadmin"

import tarnclient  # noqa: E402
import tarnsim  # noqa: E402

_live_segments = []


def _sandbox_unavailable():
    if os.geteuid() != 0:
        return "the device sandbox needs root (network and mount namespaces)"
    if None in (shutil.which("ip"), shutil.which("nsenter")):
        return "iproute2 and util-linux (ip, nsenter) are needed for the device sandbox"
    probe = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True)
    if probe.returncode != 0:
        return f"`ip netns` is unavailable: {probe.stderr.strip()}"
    return None


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: waits a minute or more of real time "
                                       "(deselect with -m 'not slow')")


def pytest_collection_modifyitems(config, items):
    reason = _sandbox_unavailable()
    if reason is None:
        return
    for item in items:
        if HERE in Path(item.fspath).resolve().parents:
            item.add_marker(pytest.mark.skip(reason=reason))


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    rep = (yield).get_result()
    for seg in _live_segments if rep.failed else ():
        try:
            text = seg.report()
        except OSError as e:
            text = f"(unreadable: {e})"
        if text:
            rep.sections.append(("sandbox logs", text))


@pytest.fixture(autouse=True, scope="session")
def _cache_home(tmp_path_factory):  # tarn's device cache, out of root's home
    os.environ["XDG_CACHE_HOME"] = str(tmp_path_factory.mktemp("cache"))


@pytest.fixture
def segment():
    seg = tarnsim.Segment().start()
    _live_segments.append(seg)
    yield seg
    _live_segments.remove(seg)
    seg.stop()


@pytest.fixture
def client(segment):
    c = tarnclient.Client(segment.socket(tarnclient.PORT_REPLY),
                          segment.socket(tarnclient.PORT_REQUEST), tarnsim.UTIL_IPV4)
    yield c
    c.close()


@pytest.fixture
def ap_factory(segment):
    def make(count=1, seed=None, daemon_args=None, start=True):
        devices = segment.add_devices(count, seed=seed, daemon_args=daemon_args, start=start)
        return devices[0] if count == 1 else devices
    return make


@pytest.fixture
def ap(ap_factory):
    return ap_factory()


@pytest.fixture
def util_run(segment):
    return segment.util_run


@pytest.fixture
def tarn(util_run):
    def run(*args, password=PASSWORD, timeout=60, env=None, input=None):
        extra = [f"{k}={v}" for k, v in (env or {}).items()]
        return util_run(["env", f"TARN_PASSWORD={password}", *extra, TARN, *args], timeout=timeout,
                        input=input)
    return run


@pytest.fixture
def at(ap, tarn):
    return lambda *args, **kw: tarn("-d", ap.ip_text, *args, **kw)


def ran(res, status=0, stderr="", stdout=""):
    """`res` once its exit status is `status` and its stderr and stdout hold the given texts."""
    assert (res.returncode, stderr in res.stderr, stdout in res.stdout) == (status, True, True), res
    return res


def tarnd_writes(ap, after=0):
    return [(e.section, e.key, e.value) for e in ap.journal(after=after) if e.writer == "tarnd"]


def wait_restart(ap, old_pid, timeout=30):
    ap.wait_until(lambda: ap.daemon_pid() not in (None, old_pid), timeout=timeout,
                  what="tarnd restarted")


def _finish(proc, timeout, before_wait=None):
    try:
        if before_wait:
            before_wait()
        out, err = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=5)
    return proc.returncode, out, err


def run_seeing_requests(segment, argv, on_request, limit=150):
    """(status, stdout, stderr) of argv, each request it sends meanwhile handed to on_request."""
    sock = segment.socket(tarnclient.PORT_REQUEST)
    proc = segment.util_popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def watch():
        deadline = time.monotonic() + limit
        while proc.poll() is None and time.monotonic() < deadline:
            if select.select([sock], [], [], 0.2)[0]:
                data = sock.recv(65536)
                h = tarnclient.parse_header(data)
                if h.type == tarnclient.TYPE_REQUEST:
                    on_request(h, data)
    try:
        return _finish(proc, 30, watch)
    finally:
        sock.close()


def run_on_terminal(segment, argv, answer, timeout=60):
    """(status, stdout, stderr) of tarn `argv` answering `answer` on a terminal."""
    master, slave = pty.openpty()
    proc = segment.util_popen(["env", f"TARN_PASSWORD={PASSWORD}", TARN, *argv], stdin=slave,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    os.close(slave)
    try:
        # The terminal keeps the line until tarn reads it.
        os.write(master, answer.encode())
        return _finish(proc, timeout)
    finally:
        os.close(master)


def firmware_image(folder, version):
    payload, image = folder / f"payload-{version}", folder / f"fw-{version}.bin"
    payload.write_bytes(os.urandom(20000))
    subprocess.run([BUILD / "platform/device/mkfwimage", version, payload, image], check=True,
                   timeout=30)
    return image


# The file servers' fixtures, for every test.
from servers import http, tftp, tftp6  # noqa: E402,F401
