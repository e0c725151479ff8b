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
from servers import http, tftp  # noqa: F401

BUILD = Path(os.environ.get("TARN_BUILD") or Path(__file__).resolve().parents[2] / "build")
TARN = str(BUILD / "tarn" / "tarn")
PASSWORD = "tarnadmin"


def mac_text(dev):
    return ":".join(f"{b:02x}" for b in dev.mac)


@pytest.fixture
def tarn(util_run):
    """tarn in the utility namespace with the administrator's password."""
    def run(*args, password=PASSWORD, timeout=60):
        return util_run(["env", f"TARN_PASSWORD={password}", TARN, *args], timeout=timeout)
    return run


@pytest.fixture
def at(ap, tarn):
    """tarn with -d and the AP's IPv4 address."""
    return lambda *args, **kw: tarn("-d", ap.ip_text, *args, **kw)


def test_discovery_of_three_devices(ap_factory, tarn):
    three = ap_factory(count=3)
    lines = tarn("discover").stdout.splitlines()
    assert lines[0].split()[:8] == ["MAC", "IPv4", "NAME", "MODEL", "FIRMWARE", "IPv6", "DHCP",
                                    "RTT(ms)"]
    assert [tuple(line.split()[:3]) for line in lines[1:]] == [
        (mac_text(d), d.ip_text, d.store_get("system", "system-name")) for d in three]
    devices = json.loads(tarn("discover", "--json").stdout)
    assert [d["mac"] for d in devices] == [mac_text(d) for d in three]
    for entry, dev in zip(devices, three):
        assert set(entry) == {"mac", "ipv4", "name", "model", "firmware", "ipv6", "dhcp", "rtt_ms",
                              "interface", "product", "device_type", "hw_version", "op_mode",
                              "port", "mask", "gateway", "dns_mode", "dns1", "dns2", "ipv6_auto",
                              "ipv6_gateway", "datetime"}
        assert entry["ipv4"] == dev.ip_text
        assert entry["firmware"] == dev.store_get("system", "version")
        assert entry["dhcp"] is (dev.store_get("management", "dhcp-status") == "up")
        assert isinstance(entry["rtt_ms"], float)
    info = json.loads(tarn("-d", three[1].ip_text, "info", "--json").stdout)
    assert (info["mac"], info["ipv4"]) == (mac_text(three[1]), three[1].ip_text)
    neighbors = json.loads(tarn("neighbor", "--json").stdout)
    assert sorted(n["mac"] for n in neighbors) == sorted(mac_text(d) for d in three)
    res = tarn("-d", mac_text(three[2]), "ops")
    codes = [line.split()[0] for line in res.stdout.splitlines()[1:]]
    assert codes[0] == "0x00A6" and codes[-1] == "0x0103" and len(codes) == 17
    assert "config restore" in res.stdout


def test_identity_and_account(ap, tarn, at, util_run):
    kept = [("management", "dhcp-status"), ("management", "static-ip"), ("host", "dns-via-dhcp")]
    before = {k: ap.store_get(*k) for k in kept}
    res = tarn("-d", mac_text(ap), "set", "--name", "lobby")
    assert res.returncode == 0 and "name:      lobby" in res.stdout, res.stderr
    assert ap.store_get("system", "system-name") == "lobby"
    assert {k: ap.store_get(*k) for k in kept} == before
    assert at("set", "--dns", "192.0.2.77,192.0.2.78").returncode == 0
    assert (ap.store_get("host", "static-dns-1"), ap.store_get("host", "static-dns-2"),
            ap.store_get("host", "dns-via-dhcp")) == ("192.0.2.77", "192.0.2.78", "down")
    res = at("-u", "operator", "verify")
    assert res.returncode == 1 and "operator is not the administrator" in res.stderr
    passwd = ("passwd", "--new-password-file", "/tmp/tarn-newpw")
    for password, sentence in [("bad:pass", "contains \":\", which the device refuses"),
                               ("x" * 49, "longer than 48 bytes"),
                               ("pa$$word", "would keep a backslash")]:
        util_run(["sh", "-c", f"printf '%s\\n' '{password}' > /tmp/tarn-newpw"])
        res = at(*passwd)
        assert (res.returncode, sentence in res.stderr) == (2, True), res.stderr
    assert "SET_PASSWD" not in ap.submit_log()
    util_run(["sh", "-c", "printf 'n3wSecret9\\n' > /tmp/tarn-newpw"])
    res = at("-u", "root", *passwd)
    assert res.returncode == 1
    assert "changes only the password of user admin" in res.stderr and "1001" in res.stderr
    assert at(*passwd).returncode == 0
    ap.wait_until(lambda: at("verify", password="n3wSecret9").returncode == 0,
                  timeout=10, what="the new password accepted")


def test_reboot_and_network_settings(ap, at):
    old = ap.daemon_pid()
    res = at("reboot", "--wait", "--wait-timeout", "30", "--json")
    assert res.returncode == 0 and json.loads(res.stdout)["back"] is True, res.stderr
    assert ap.daemon_pid() not in (None, old)
    assert at("snmp", "on", "--ro", "watchers", "--rw", "keepers").returncode == 0
    assert (ap.store_get("snmp", "status"), ap.store_get("snmp", "ro-community"),
            ap.store_get("snmp", "rw-community")) == ("up", "watchers", "keepers")
    got = json.loads(at("time", "get", "--json").stdout)
    assert set(got) == {"datetime", "time_zone", "daylight_saving", "ntp", "ntp_server"}
    assert got["ntp"] is (ap.store_get("ntp", "status") == "up")
    sent = json.loads(at("time", "set", "--timezone", "5", "--json").stdout)
    assert (sent["time_zone"], sent["ntp"], sent["ntp_server"]) == \
        (5, got["ntp"], got["ntp_server"])
    ap.wait_output("Time-zone = 5", timeout=5)
    assert at("ddns", "set", "--domain", "ap.example.net").returncode == 0
    status = json.loads(at("netstatus", "--json").stdout)
    assert status == {"ipv4": ap.ip_text, "link_local": False}
    assert at("vlan", "42").returncode == 0
    assert "SET_IPADDRESS" in ap.submit_log()


def test_wlan_set_changes_one_network_and_keeps_the_others(ap, at):
    get = ("wlan", "get", "--radio", "5")
    before = json.loads(at(*get, "--show-keys", "--json").stdout)
    res = at("wlan", "set", "--radio", "5", "--vap", "3", "--ssid", "staff", "--vlan", "30",
             "--security", "wpa-personal", "--key", "letmein99")
    assert res.returncode == 0, res.stderr
    after = json.loads(at(*get, "--show-keys", "--json").stdout)
    assert after[3] == {"radio": "5", "vap": 3, "ssid": "staff", "vlan": "30",
                        "security": "wpa-personal (WPA)", "key": "letmein99"}
    assert after[:3] + after[4:] == before[:3] + before[4:]
    assert ap.store_get("interface", "ssid", object="wlan0vap3") == "staff"
    table = at(*get).stdout
    assert "letmein99" not in table and "staff" in table


def test_transfers(ap, tarn, at, http, tftp):
    res = at("config", "backup", "--tftp", "192.0.2.1", "ap.cfg")
    assert res.returncode == 0 and tftp.wait_file("ap.cfg"), res.stderr
    restore = ("config", "restore", "--tftp", "192.0.2.1")
    res = at(*restore, "ap.cfg", "--wait-timeout", "30")
    assert res.returncode == 0 and "restored its configuration" in res.stdout, res.stderr
    tftp.put("junk.cfg", b"not a configuration\n")
    res = at(*restore, "junk.cfg", "--wait-timeout", "30")
    assert res.returncode == 1 and "Verify failed" in res.stderr
    payload, image = http.root.parent / "payload", http.root.parent / "image"
    payload.write_bytes(os.urandom(20000))
    subprocess.run([BUILD / "platform/device/mkfwimage", "8.0.0-tarn", payload, image],
                   check=True, timeout=30)
    http.put("fw.bin", image.read_bytes())
    res = at("firmware", "upgrade", "--http", "192.0.2.1", "fw.bin", "--wait-timeout", "60",
             timeout=90)
    assert res.returncode == 0 and "with firmware 8.0.0-tarn" in res.stdout, res.stderr
    assert json.loads(tarn("discover", "--json").stdout)[0]["firmware"] == "8.0.0-tarn"


def test_wrong_password_exits_1_and_silence_3(ap, tarn):
    res = tarn("-d", mac_text(ap), "commit", password="wrong")
    assert res.returncode == 1
    assert res.stderr.strip() == f"tarn: authentication failed for {mac_text(ap)}."
    res = tarn("-t", "0.5", "-r", "1", "-d", "02:00:00:00:00:99", "info")
    assert res.returncode == 3
    assert "no device 02:00:00:00:00:99 answered on tarnbr0 within 0.5 s" in res.stderr
    ap.stop_daemon()
    res = tarn("-t", "0.5", "discover")
    assert res.returncode == 3
    assert res.stderr.strip() == "tarn: no device answered on tarnbr0 within 0.5 s."


def test_a_lost_request_is_sent_again_with_the_same_tag(ap, segment, util_run):
    """The AP's link is down from after discovery (tarn reads the password
    FIFO only then) until the first commit request is seen."""
    def requests(op, timeout):
        deadline = time.monotonic() + timeout
        while (left := deadline - time.monotonic()) > 0:
            if select.select([watch], [], [], left)[0]:
                h = tarnclient.parse_header(watch.recvfrom(65536)[0])
                if h.type == 0xFDFD and h.op == op:
                    return h.tag
        return None

    util_run(["sh", "-c", "rm -f /tmp/tarn-pw && mkfifo /tmp/tarn-pw"])
    watch = segment.socket(tarnclient.PORT_REQUEST)
    proc = segment.util_popen([TARN, "-t", "1", "-r", "3", "-d", ap.ip_text,
                               "--password-file", "/tmp/tarn-pw", "commit"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert requests(0xA1, 5) is not None, "tarn sent no discovery"
        time.sleep(0.5)  # the discovery reply reaches tarn on the running link
        ap.run("ip link set brtrunk down", check=True)
        util_run(["sh", "-c", f"printf '{PASSWORD}\\n' > /tmp/tarn-pw"], timeout=10)
        first = requests(0xC0, 5)
        assert first is not None, "tarn sent no commit request"
        seq = ap.journal_seq()
        ap.run("ip link set brtrunk up", check=True)
        again = requests(0xC0, 3)
        out, err = proc.communicate(timeout=15)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=5)
        ap.run("ip link set brtrunk up")
        watch.close()
    assert proc.returncode == 0, err
    assert "saved its running settings" in out
    assert again == first
    assert ("config", "startup", "running") in [(e.section, e.key, e.value)
                                                for e in ap.journal(after=seq)]
