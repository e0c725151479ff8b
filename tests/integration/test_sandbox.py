"""The device sandbox itself: isolation from the host, clean-up, and the
device stand-ins (management daemon triggers, submit) that the daemon's
tests rely on."""

import json
import os
import re
import subprocess

import pytest

import tarnclient
import tarnsim

HOST_FIXED_PATHS = ["/etc/reserved_IP", "/var/run/dman.pid", "/system/cfg/debug",
                    "/Volume_1/probe", "/usr/sbin/probe", "/splashbin/probe", "/tmp/tarn-probe"]


def host_state(paths):
    out = {}
    for p in paths:
        try:
            with open(p, "rb") as f:
                out[p] = f.read()
        except OSError as e:
            out[p] = e.errno
    return out


@pytest.mark.parametrize("path", HOST_FIXED_PATHS)
def test_fixed_paths_in_an_ap_are_its_own(ap, path):
    before = host_state([path])
    res = ap.run(f"mkdir -p $(dirname {path}) && echo sandboxed > {path} && cat {path}")
    assert res.returncode == 0, res.stderr
    assert res.stdout == "sandboxed\n"
    assert host_state([path]) == before


def test_file_helpers_follow_links_inside_the_ap(ap):
    # /var/run is a link to /run, absolute: it must lead to the AP's /run.
    ap.write_file("/var/run/tarn-probe", "inside\n")
    assert not os.path.exists("/run/tarn-probe")
    assert ap.run(["cat", "/run/tarn-probe"]).stdout == "inside\n"
    assert ap.read_file("/var/run/tarn-probe") == "inside\n"


def test_volume_and_tmp_are_separate_mounts_in_the_ap(ap):
    table = ap.run(["cat", "/proc/mounts"]).stdout
    mounts = {line.split()[1]: line.split()[2] for line in table.splitlines()}
    assert mounts["/"] == "overlay"
    assert mounts["/Volume_1"] == "tmpfs"
    assert mounts["/tmp"] == "tmpfs"
    host_mounts = open("/proc/mounts").read()
    assert tarnsim.STATE_ROOT.as_posix() not in host_mounts


def test_ap_network_identity(ap_factory):
    aps = ap_factory(count=3)
    for i, dev in enumerate(aps, start=1):
        out = dev.run(["ip", "-o", "addr", "show", "dev", "brtrunk"]).stdout
        assert f"inet 192.0.2.{10 + i}/24" in out
        assert f"inet6 2001:db8::{10 + i}/64" in out
        link = dev.run(["ip", "-o", "link", "show", "dev", "brtrunk"]).stdout
        assert f"link/ether 02:00:00:00:00:{i:02x}" in link
        assert dev.run("hostname").stdout.strip() == f"tarn-ap{i}"
        assert dev.store_get("management", "mac") == f"02:00:00:00:00:{i:02x}"
        assert dev.store_get("management", "ip") == f"192.0.2.{10 + i}"
        assert dev.store_get("system", "system-name") == f"tarn-ap{i}"


def test_every_ap_answers_a_broadcast_discovery(ap_factory, client):
    aps = ap_factory(count=3)
    replies = client.exchange(tarnclient.request(0xA1, addressed=False), count=3)
    macs = sorted(tarnclient.parse_header(r).mac for r in replies)
    assert macs == sorted(d.mac for d in aps)


def test_util_side_reaches_every_ap(ap_factory, util_run):
    aps = ap_factory(count=2)
    for dev in aps:
        res = util_run(f"busybox ping -c1 -W2 {dev.ip_text}")
        assert res.returncode == 0, res.stdout + res.stderr


def test_stop_removes_namespaces_processes_and_state():
    seg = tarnsim.Segment().start()
    try:
        dev = seg.add_devices(1)[0]
        pids = [dev.holder, dev.dmand_pid(), dev.daemon_pid()]
        names = [seg.util_ns, dev.ns]
        assert set(names) <= set(tarnsim.netns_list())
    finally:
        seg.stop()
    assert not set(names) & set(tarnsim.netns_list())
    assert not any(tarnsim.alive(p) for p in pids)
    assert not seg.state_dir.exists()


def test_run_of_a_dead_owner_is_cleaned_up():
    seg = tarnsim.Segment().start()
    try:
        dev = seg.add_devices(1, start=False)[0]
        state_file = seg.state_dir / "state.json"
        state = json.loads(state_file.read_text())
        # A PID that cannot be a live process of ours.
        state["owner"], state["owner_start"] = 0x3FFFFFFF, 1
        state_file.write_text(json.dumps(state))
        tarnsim.cleanup_stale()
        assert dev.ns not in tarnsim.netns_list()
        assert seg.util_ns not in tarnsim.netns_list()
        assert not tarnsim.alive(dev.holder)
        assert not seg.state_dir.exists()
    finally:
        seg.stop()


def test_dmand_writes_its_pid_file_before_starting_tarnd(ap_factory):
    dev = ap_factory(start=False)
    dev.start_daemon(wait=False)
    dev.segment.wait_announcements([dev])
    log = dev.dmand_log()
    # The management daemon writes its PID file before tarnd runs.
    assert log.index("boot") < log.index("started tarnd")
    assert dev.read_file("/var/run/dman.pid").strip() == str(dev.dmand_pid())


def udp_ports(dev):
    out = dev.run(["ss", "-H", "-u", "-a", "-n"]).stdout
    return {line.split()[3].rsplit(":", 1)[1] for line in out.splitlines()}


def test_tarnd_opens_no_socket_before_the_pid_file(ap_factory):
    dev = ap_factory(start=False)
    dev.start_daemon(wait=False, pid_delay=30)
    dev.wait_until(dev.daemon_pid, what="tarnd started")
    dev.wait_output(r"little endian", stream="stderr")
    assert not dev.exists("/var/run/dman.pid")
    assert "62976" not in udp_ports(dev)
    dev.stop_daemon()
    dev.start_daemon(pid_delay=0.5)
    assert "62976" in udp_ports(dev)


def test_stopping_dmand_stops_tarnd(ap):
    pid = ap.daemon_pid()
    ap.stop_daemon()
    assert not tarnsim.alive(pid)
    assert not ap.exists("/var/run/dman.pid")
    assert "stopping" in ap.dmand_log()


def new_pid(dev, old):
    pid = dev.daemon_pid()
    return pid if pid not in (None, old) else None


def test_reboot_trigger_restarts_tarnd(ap, client):
    old = ap.daemon_pid()
    ap.store_set("system", "reboot", "yes")
    new = ap.wait_until(lambda: new_pid(ap, old), what="new tarnd")
    assert ap.store_get("system", "reboot") is None
    assert not tarnsim.alive(old)
    assert tarnsim.alive(new)
    assert client.announcements(timeout=10, count=1)
    assert "reboot" in ap.dmand_log()


def test_boot_clears_the_upgrade_progress(ap):
    ap.store_set("firmware-upgrade", "progress", "80")
    ap.store_set("system", "reboot", "yes")
    ap.wait_until(lambda: ap.store_get("firmware-upgrade", "progress") is None,
                  what="progress cleared")


def test_factory_reset_restores_defaults_and_identity(ap):
    old = ap.daemon_pid()
    ap.store_set("system", "system-name", "renamed")
    ap.store_set("snmp", "status", "up")
    ap.store_set("system", "factory-reset", "yes")
    ap.wait_until(lambda: new_pid(ap, old), what="new tarnd")
    assert ap.store_get("system", "factory-reset") is None
    assert ap.store_get("system", "system-name") == "tarn-ap1"
    assert ap.store_get("snmp", "status") == "down"
    assert ap.store_get("management", "mac") == "02:00:00:00:00:01"


def test_startup_trigger_saves_the_running_settings(ap):
    ap.store_set("system", "system-name", "saved-name")
    ap.store_set("config", "startup", "running")
    ap.wait_until(lambda: ap.store_get("config", "startup") is None, what="trigger cleared")
    saved = ap.read_file(tarnsim.STARTUP_DUMP)
    assert "system\t-\t-\tsystem-name\tsaved-name\n" in saved


def addresses(dev):
    out = dev.run(["ip", "-4", "-o", "addr", "show", "dev", dev.interface]).stdout
    return re.findall(r"inet (\S+)", out)


@pytest.mark.parametrize("static_ip, mask, on_interface", [
    ("192.0.2.77", "255.255.255.0", "192.0.2.77/24"),
    ("192.0.2.78", "255.255.255.128", "192.0.2.78/25"),
    # Outside the segment's range: stored, but kept off the interface.
    ("10.0.0.2", "255.0.0.0", "192.0.2.11/24"),
])
def test_static_address_is_applied(ap, static_ip, mask, on_interface):
    ap.store_set("management", "static-mask", mask)
    ap.store_set("management", "static-ip", static_ip)
    ap.wait_until(lambda: ap.store_get("management", "ip") == static_ip, what="ip setting")
    assert ap.store_get("management", "mask") == mask
    assert ap.wait_until(lambda: addresses(ap) == [on_interface], what="interface address")


def test_dhcp_up_returns_to_the_lease(ap):
    ap.store_set("management", "static-ip", "192.0.2.90")
    ap.wait_until(lambda: addresses(ap) == ["192.0.2.90/24"], what="static address")
    ap.store_set("management", "dhcp-status", "up")
    ap.wait_until(lambda: addresses(ap) == ["192.0.2.11/24"], what="lease address")
    assert ap.store_get("management", "ip") == "192.0.2.11"


def password_matches(stored, password):
    salt = stored.split("$")[2]
    made = subprocess.run(["openssl", "passwd", "-5", "-salt", salt, "--", password],
                          capture_output=True, text=True, check=True).stdout.strip()
    return made == stored


@pytest.mark.parametrize("password", ["n3w-secret", "with space", "-dash", "quote'\"$x"])
def test_submit_set_passwd_stores_a_matching_hash(ap, password):
    before = ap.store_get("system", "encrypted-password")
    res = ap.run(["submit", "SET_PASSWD", "admin", password])
    assert res.returncode == 0, res.stderr
    stored = ap.store_get("system", "encrypted-password")
    assert stored != before and stored.startswith("$5$")
    assert password_matches(stored, password)
    assert not password_matches(stored, password + "x")
    assert f"submit 'SET_PASSWD' 'admin' {password!r}" in ap.submit_log()


@pytest.mark.parametrize("args, status", [
    (["SET_PASSWD", "nobody", "pw"], 1),
    (["SET_PASSWD", "admin"], 2),
    (["BOGUS"], 2),
    ([], 2),
])
def test_submit_refuses_and_still_logs(ap, args, status):
    before = ap.store_get("system", "encrypted-password")
    res = ap.run(["submit", *args])
    assert res.returncode == status
    assert res.stderr
    assert ap.store_get("system", "encrypted-password") == before
    logged = " ".join(["submit"] + [repr(a) for a in args])
    assert ap.submit_log().splitlines()[-1].rstrip().endswith(logged)


def test_submit_commit_saves_the_startup_configuration(ap):
    ap.store_set("system", "system-name", "committed")
    assert ap.run(["submit", "COMMIT"]).returncode == 0
    assert "system\t-\t-\tsystem-name\tcommitted\n" in ap.read_file(tarnsim.STARTUP_DUMP)


def test_submit_set_ipaddress_applies_the_address(ap):
    ap.store_set("management", "static-ip", "192.0.2.91")
    assert ap.run(["submit", "SET_IPADDRESS"]).returncode == 0
    ap.wait_until(lambda: addresses(ap) == ["192.0.2.91/24"], what="static address")


def test_submit_shutdown_stops_tarnd(ap):
    pid = ap.daemon_pid()
    assert ap.run(["submit", "SHUTDOWN"]).returncode == 0
    ap.wait_until(lambda: not tarnsim.alive(pid), what="tarnd stopped")
    ap.wait_until(lambda: not ap.exists("/var/run/dman.pid"), what="pid file removed")


def tarnd_argv(pid):
    with open(f"/proc/{pid}/cmdline", "rb") as f:
        return f.read().split(b"\0")[:-1]


def test_restart_daemon_passes_new_arguments(ap):
    assert tarnd_argv(ap.daemon_pid()) == [b"/usr/sbin/tarnd", b"-d"]
    ap.restart_daemon(args=["--folder", "/Volume_1/cap"])
    assert tarnd_argv(ap.daemon_pid()) == [b"/usr/sbin/tarnd", b"--folder", b"/Volume_1/cap"]


def test_tarnd_output_reaches_the_log_while_running(ap):
    ap.wait_output(r"little endian", stream="stderr")
    assert tarnsim.alive(ap.daemon_pid())


def test_request_encoding():
    got = tarnclient.request(0xA3, b"\x01\x02", tag=0xBEEF, mac=bytes.fromhex("020000000001"),
                             ip="192.0.2.11")
    want = (bytes.fromhex("fdfd efbe a300 020000000001 c000020b 7777 0000 0200".replace(" ", ""))
            + b"YWRtaW4=".ljust(64, b"\0") + b"dGFybmFkbWlu".ljust(64, b"\0") + b"\x01\x02")
    assert got == want
    bcast = tarnclient.request(0xA1, addressed=False, tag=1)
    assert bcast == bytes.fromhex("fdfd 0100 a100 ffffffffffff 00000000 0000 0000 0000"
                                  .replace(" ", ""))
    assert tarnclient.mask(b"\x01\x02\x03\x04", [(1, 2), (3, 9)]) == b"\x01\0\0\0"
