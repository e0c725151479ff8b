"""The management utility tarn against simulated access points: discovery,
one test per group of operations with its output, retries of a lost
datagram, and the exit status of a refusal and of silence."""
import json
import os
import select
import subprocess
import time
from pathlib import Path

import pytest

import tarnclient
from servers import http, tftp, tftp6  # noqa: F401

BUILD = Path(os.environ.get("TARN_BUILD") or Path(__file__).resolve().parents[2] / "build")
TARN = str(BUILD / "tarn" / "tarn")
PASSWORD = "tarnadmin"
DEVICE_KEYS = {"mac", "ipv4", "name", "model", "firmware", "ipv6", "dhcp", "rtt_ms", "interface",
               "product", "device_type", "hw_version", "op_mode", "port", "mask", "gateway",
               "dns_mode", "dns1", "dns2", "ipv6_auto", "ipv6_gateway", "datetime"}


def mac_text(dev):
    return ":".join(f"{b:02x}" for b in dev.mac)


@pytest.fixture
def tarn(util_run):
    """tarn in the utility namespace with the administrator's password."""
    def run(*args, password=PASSWORD, timeout=60):
        env = ["env", f"TARN_PASSWORD={password}"] if password is not None else ["env"]
        return util_run(env + [TARN, *args], timeout=timeout)
    return run


@pytest.fixture
def three(ap_factory):
    return ap_factory(count=3)


# ---- discovery ---------------------------------------------------------------

def test_discover_lists_three_devices_in_a_table(three, tarn):
    res = tarn("discover")
    assert res.returncode == 0, res.stderr
    lines = res.stdout.splitlines()
    assert lines[0].split()[:8] == ["MAC", "IPv4", "NAME", "MODEL", "FIRMWARE", "IPv6", "DHCP",
                                    "RTT(ms)"]
    rows = [l.split() for l in lines[1:]]
    assert [(r[0], r[1], r[2]) for r in rows] == [
        (mac_text(d), d.ip_text, d.store_get("system", "system-name")) for d in three]


def test_discover_json_is_one_array_with_the_documented_keys(three, tarn):
    res = tarn("discover", "--json")
    assert res.returncode == 0, res.stderr
    devices = json.loads(res.stdout)
    assert [d["mac"] for d in devices] == [mac_text(d) for d in three]
    for entry, dev in zip(devices, three):
        assert set(entry) == DEVICE_KEYS
        assert entry["ipv4"] == dev.ip_text
        assert entry["firmware"] == dev.store_get("system", "version")
        assert entry["dhcp"] is (dev.store_get("management", "dhcp-status") == "up")
        assert isinstance(entry["rtt_ms"], float)


def test_json_shape_is_the_same_for_one_device(ap, tarn):
    devices = json.loads(tarn("discover", "--json").stdout)
    assert isinstance(devices, list) and len(devices) == 1
    assert set(devices[0]) == DEVICE_KEYS


def test_info_finds_the_device_by_ipv4_and_shows_its_mac(three, tarn):
    res = tarn("-d", three[1].ip_text, "info", "--json")
    assert res.returncode == 0, res.stderr
    info = json.loads(res.stdout)
    assert (info["mac"], info["ipv4"]) == (mac_text(three[1]), three[1].ip_text)


def test_neighbor_and_ops(ap, tarn):
    res = tarn("neighbor", "--json")
    assert [n["mac"] for n in json.loads(res.stdout)] == [mac_text(ap)]
    res = tarn("-d", mac_text(ap), "ops")
    assert res.returncode == 0, res.stderr
    codes = [l.split()[0] for l in res.stdout.splitlines()[1:]]
    assert codes[0] == "0x00A6" and codes[-1] == "0x0103" and len(codes) == 17
    assert "config restore" in res.stdout


class Background:
    """tarn running in the utility namespace, read line by line; stopped by
    PID whatever the test's outcome."""

    def __init__(self, segment, *args):
        self.proc = segment.util_popen([TARN, *args], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True)

    def line(self, timeout=10):
        if not select.select([self.proc.stdout], [], [], timeout)[0]:
            raise AssertionError(f"tarn printed nothing within {timeout} s")
        return json.loads(self.proc.stdout.readline())

    def finish(self, timeout=15):
        out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, out, err

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate(timeout=5)


@pytest.fixture
def background(segment):
    started = []

    def start(*args):
        started.append(Background(segment, *args))
        return started[-1]
    yield start
    for b in started:
        b.stop()


def test_listen_prints_announcements_as_json_lines(ap, background):
    listen = background("listen", "--json", "--count", "1", "--timeout", "20")
    time.sleep(0.5)  # the socket is bound before the daemon starts over
    ap.restart_daemon()  # a starting daemon announces itself at once
    event = listen.line(timeout=15)
    assert (event["event"], event["mac"], event["ipv4"]) == ("announce", mac_text(ap), ap.ip_text)
    assert listen.finish()[0] == 0


def test_watch_reports_a_device_that_falls_silent_as_lost(ap, background):
    watch = background("watch", "--json", "-t", "1", "--lost-after", "2", "--timeout", "8")
    new = watch.line()
    assert (new["event"], new["mac"]) == ("new", mac_text(ap))
    # A discovered device has the keys of an announced one.
    assert set(new) == {"event", "mac", "ipv4", "name", "firmware", "mask", "ipv6",
                        "device_type", "op_mode", "hw_version", "port", "interface"}
    ap.stop_daemon()
    lost = watch.line(timeout=10)
    assert (lost["event"], lost["mac"]) == ("lost", mac_text(ap))
    code, rest, _ = watch.finish()
    assert code == 0 and rest == ""


# ---- identity, account -----------------------------------------------------------

def test_set_name_changes_only_the_name(three, tarn):
    target = three[0]
    before = {k: target.store_get(*k) for k in [("management", "dhcp-status"),
                                                ("management", "static-ip"),
                                                ("host", "dns-via-dhcp")]}
    res = tarn("-d", mac_text(target), "set", "--name", "lobby")
    assert res.returncode == 0, res.stderr
    assert "name:      lobby" in res.stdout
    assert target.store_get("system", "system-name") == "lobby"
    assert {k: target.store_get(*k) for k in before} == before
    assert three[1].store_get("system", "system-name") != "lobby"


def test_set_static_dns(ap, tarn):
    res = tarn("-d", ap.ip_text, "set", "--dns", "192.0.2.77,192.0.2.78")
    assert res.returncode == 0, res.stderr
    assert (ap.store_get("host", "static-dns-1"), ap.store_get("host", "static-dns-2"),
            ap.store_get("host", "dns-via-dhcp")) == ("192.0.2.77", "192.0.2.78", "down")


def test_verify_reports_a_user_other_than_admin(ap, tarn):
    assert tarn("-d", ap.ip_text, "verify").returncode == 0
    res = tarn("-d", ap.ip_text, "-u", "operator", "verify")
    assert res.returncode == 1
    assert "operator is not the administrator" in res.stderr


@pytest.mark.parametrize("password,code,sentence", [
    ("bad:pass", 2, "contains \":\", which the device refuses"),
    ("x" * 49, 2, "longer than 48 bytes"),
    ("pa$$word", 2, "would keep a backslash"),
])
def test_passwd_refuses_locally(ap, tarn, util_run, password, code, sentence):
    util_run(["sh", "-c", f"printf '%s\\n' '{password}' > /tmp/tarn-newpw"])
    res = tarn("-d", ap.ip_text, "passwd", "--new-password-file", "/tmp/tarn-newpw")
    assert (res.returncode, sentence in res.stderr) == (code, True), res.stderr
    assert "SET_PASSWD" not in ap.submit_log()


def test_passwd_changes_the_password_and_explains_1001(ap, tarn, util_run):
    util_run(["sh", "-c", "printf 'n3wSecret9\\n' > /tmp/tarn-newpw"])
    res = tarn("-d", ap.ip_text, "-u", "root", "passwd", "--new-password-file", "/tmp/tarn-newpw")
    assert res.returncode == 1
    assert "changes only the password of user admin" in res.stderr and "1001" in res.stderr
    res = tarn("-d", ap.ip_text, "passwd", "--new-password-file", "/tmp/tarn-newpw")
    assert res.returncode == 0, res.stderr
    ap.wait_until(lambda: tarn("-d", ap.ip_text, "verify", password="n3wSecret9").returncode == 0,
                  timeout=10, what="the new password accepted")


# ---- network and maintenance ----------------------------------------------------------

def test_snmp_sends_its_body_without_credentials(ap, tarn):
    res = tarn("-d", ap.ip_text, "snmp", "on", "--ro", "watchers", "--rw", "keepers")
    assert res.returncode == 0, res.stderr
    assert (ap.store_get("snmp", "status"), ap.store_get("snmp", "ro-community"),
            ap.store_get("snmp", "rw-community")) == ("up", "watchers", "keepers")


def test_time_get_and_set_keep_what_is_not_given(ap, tarn):
    got = json.loads(tarn("-d", ap.ip_text, "time", "get", "--json").stdout)
    assert set(got) == {"datetime", "time_zone", "daylight_saving", "ntp", "ntp_server"}
    assert got["ntp"] is (ap.store_get("ntp", "status") == "up")
    res = tarn("-d", ap.ip_text, "time", "set", "--timezone", "5", "--json")
    assert res.returncode == 0, res.stderr
    sent = json.loads(res.stdout)
    assert (sent["time_zone"], sent["ntp"], sent["ntp_server"]) == (5, got["ntp"], got["ntp_server"])
    ap.wait_output("Time-zone = 5", timeout=5)


def test_ddns_netstatus_commit_vlan(ap, tarn):
    res = tarn("-d", ap.ip_text, "ddns", "get", "--json")
    assert set(json.loads(res.stdout)) == {"enabled", "connected", "user", "password", "domain"}
    assert tarn("-d", ap.ip_text, "ddns", "set", "--domain", "ap.example.net").returncode == 0
    status = json.loads(tarn("-d", ap.ip_text, "netstatus", "--json").stdout)
    assert status == {"ipv4": ap.ip_text, "link_local": False}
    seq = ap.journal_seq()
    assert tarn("-d", ap.ip_text, "commit").returncode == 0
    assert any((e.section, e.key, e.value) == ("config", "startup", "running")
               for e in ap.journal(after=seq))
    assert tarn("-d", ap.ip_text, "vlan", "42").returncode == 0
    assert "SET_IPADDRESS" in ap.submit_log()


def test_wlan_set_changes_one_network_and_keeps_the_others(ap, tarn):
    def networks():
        res = tarn("-d", ap.ip_text, "wlan", "get", "--radio", "5", "--show-keys", "--json")
        assert res.returncode == 0, res.stderr
        return json.loads(res.stdout)

    before = networks()
    res = tarn("-d", ap.ip_text, "wlan", "set", "--radio", "5", "--vap", "3", "--ssid", "staff",
               "--vlan", "30", "--security", "wpa-personal", "--key", "letmein99")
    assert res.returncode == 0, res.stderr
    after = networks()
    assert after[3] == {"radio": "5", "vap": 3, "ssid": "staff", "vlan": "30",
                        "security": "wpa-personal (WPA)", "key": "letmein99"}
    assert after[:3] + after[4:] == before[:3] + before[4:]
    assert ap.store_get("interface", "ssid", object="wlan0vap3") == "staff"
    table = tarn("-d", ap.ip_text, "wlan", "get", "--radio", "5").stdout
    assert "letmein99" not in table and "staff" in table


# ---- transfers and reboot --------------------------------------------------------

def test_firmware_upgrade_over_http_follows_the_device_until_it_is_back(ap, tarn, http):
    payload = http.root.parent / "payload"
    payload.write_bytes(os.urandom(20000))
    image = http.root.parent / "image"
    subprocess.run([BUILD / "platform/device/mkfwimage", "8.0.0-tarn", payload, image],
                   check=True, timeout=30)
    http.put("fw.bin", image.read_bytes())
    res = tarn("-d", ap.ip_text, "firmware", "upgrade", "--http", "192.0.2.1", "fw.bin",
               "--wait-timeout", "60", timeout=90)
    assert res.returncode == 0, res.stderr
    assert "with firmware 8.0.0-tarn" in res.stdout
    assert json.loads(tarn("discover", "--json").stdout)[0]["firmware"] == "8.0.0-tarn"


def test_config_backup_then_restore_over_tftp(ap, tarn, tftp):
    res = tarn("-d", ap.ip_text, "config", "backup", "--tftp", "192.0.2.1", "ap.cfg")
    assert res.returncode == 0, res.stderr
    assert tftp.wait_file("ap.cfg")
    res = tarn("-d", ap.ip_text, "config", "restore", "--tftp", "192.0.2.1", "ap.cfg",
               "--wait-timeout", "30")
    assert res.returncode == 0, res.stderr
    assert "restored its configuration" in res.stdout


def test_config_backup_to_an_ipv6_server(ap, tarn, tftp6):
    res = tarn("-d", ap.ip_text, "config", "backup", "--tftp", "2001:db8::1", "v6.cfg", "--json")
    assert res.returncode == 0, res.stderr
    assert json.loads(res.stdout)["server"] == "2001:db8::1"
    assert tftp6.wait_file("v6.cfg")


def test_config_restore_of_a_bad_file_prints_the_device_message(ap, tarn, tftp):
    tftp.put("junk.cfg", b"not a configuration\n")
    res = tarn("-d", ap.ip_text, "config", "restore", "--tftp", "192.0.2.1", "junk.cfg",
               "--wait-timeout", "30")
    assert res.returncode == 1
    assert "Verify failed" in res.stderr


def test_reboot_wait_returns_once_the_device_announces_again(ap, tarn):
    old = ap.daemon_pid()
    res = tarn("-d", ap.ip_text, "reboot", "--wait", "--wait-timeout", "30", "--json")
    assert res.returncode == 0, res.stderr
    assert json.loads(res.stdout)["back"] is True
    assert ap.daemon_pid() not in (None, old)


# ---- failures -----------------------------------------------------------------------

def test_wrong_password_exits_1_with_the_sentence(ap, tarn):
    res = tarn("-d", mac_text(ap), "commit", password="wrong")
    assert res.returncode == 1
    assert res.stderr.strip() == f"tarn: authentication failed for {mac_text(ap)}."


def test_no_device_exits_3(ap, tarn):
    res = tarn("-t", "0.5", "-r", "1", "-d", "02:00:00:00:00:99", "info")
    assert res.returncode == 3
    assert "no device 02:00:00:00:00:99 answered on tarnbr0 within 0.5 s" in res.stderr


def test_silent_device_exits_3(segment, tarn):
    res = tarn("-t", "0.5", "discover")
    assert res.returncode == 3
    assert res.stderr.strip() == "tarn: no device answered on tarnbr0 within 0.5 s."


def test_usage_errors_exit_2_before_anything_is_sent(tarn):
    for args in (["bogus"], ["-d", "nonsense", "info"], ["wlan", "get", "--radio", "3"],
                 ["snmp", "on", "--ro", "a"], ["set"]):
        assert tarn(*args).returncode == 2, args


def _requests(sock, op, timeout, count=None):
    """Tags of the requests with `op` seen on the segment within `timeout`
    seconds, or as soon as `count` of them have been seen."""
    seen = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and (count is None or len(seen) < count):
        if not select.select([sock], [], [], max(deadline - time.monotonic(), 0))[0]:
            break
        data, _ = sock.recvfrom(65536)
        h = tarnclient.parse_header(data)
        if h.type == 0xFDFD and h.op == op:
            seen.append(h.tag)
    return seen


def test_a_lost_request_is_sent_again_with_the_same_tag(ap, segment, util_run):
    """The AP's link goes down after tarn has found it and before it sends the
    commit (tarn reads the password file, a FIFO, only then); it comes back
    once the first commit request has been seen on the segment."""
    util_run(["sh", "-c", "rm -f /tmp/tarn-pw && mkfifo /tmp/tarn-pw"])
    watch = segment.socket(tarnclient.PORT_REQUEST)
    proc = segment.util_popen([TARN, "-t", "1", "-r", "3", "-d", ap.ip_text,
                               "--password-file", "/tmp/tarn-pw", "commit"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert _requests(watch, 0xA1, 5, count=1), "tarn sent no discovery"
        time.sleep(0.5)  # the discovery reply reaches tarn on the running link
        ap.run("ip link set brtrunk down", check=True)
        util_run(["sh", "-c", f"printf '{PASSWORD}\\n' > /tmp/tarn-pw"], timeout=10)
        first = _requests(watch, 0xC0, 5, count=1)
        assert first, "tarn sent no commit request"
        seq = ap.journal_seq()
        ap.run("ip link set brtrunk up", check=True)
        again = _requests(watch, 0xC0, 3, count=1)
        out, err = proc.communicate(timeout=15)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=5)
        ap.run("ip link set brtrunk up")
        watch.close()
    assert proc.returncode == 0, err
    assert "saved its running settings" in out
    assert again and set(again) == {first[0]}
    assert any((e.section, e.key) == ("config", "startup") for e in ap.journal(after=seq))
