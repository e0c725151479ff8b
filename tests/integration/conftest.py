"""Fixtures of the integration suite: simulated access points in the device
sandbox (sim/tarnsim.py) and a management-side UDP endpoint.

    ap            a fresh AP (tarn-ap1, a tarnsim.Device): store seeded
                  from the factory defaults plus its identity, tarnd (with
                  -d) started by the management daemon, first announcement
                  seen.
    ap_factory    ap_factory(count=1, seed=None, daemon_args=None,
                  start=True): more APs on the same segment, numbered on
                  (ap1, ap2, ...). Returns the Device for count=1, else a
                  list. seed: loaded after the identity (tarnsim.seed_lines).
                  daemon_args: tarnd's arguments (default ["-d"]).
                  start=False: store seeded, nothing running; call
                  dev.start_daemon(args).
    client        a tarnclient.Client in the utility namespace.
    util_run      util_run(cmd): a command in the utility namespace
                  (CompletedProcess, text).
    segment       the tarnsim.Segment behind all of them.

Everything is stopped and every namespace deleted in teardown, whatever the
test's outcome. A failing test's report carries the APs' logs.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("TARN_SOURCE") or HERE.parents[1])
BUILD = Path(os.environ.get("TARN_BUILD") or SOURCE / "build")
sys.path.insert(0, str(SOURCE / "sim"))
sys.path.insert(0, str(HERE))

import tarnclient  # noqa: E402
import tarnsim  # noqa: E402

_live_segments = []


def _sandbox_unavailable():
    if os.geteuid() != 0:
        return "the device sandbox needs root (network and mount namespaces)"
    if shutil.which("ip") is None or shutil.which("nsenter") is None:
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
def _cache_home(tmp_path_factory):
    """tarn keeps the devices it discovers in the user's cache folder: the
    suite's runs keep theirs in the session's folder, not in root's home."""
    os.environ["XDG_CACHE_HOME"] = str(tmp_path_factory.mktemp("cache"))


@pytest.fixture
def segment():
    seg = tarnsim.Segment()
    seg.start()
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
