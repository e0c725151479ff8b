"""The utility tarn against simulated access points."""
import json
import os
import re
import select
import subprocess
import time

import tarnclient
from conftest import PASSWORD, TARN, ran


def test_discovery_of_three_devices(ap_factory, tarn):
    # Nobody answers: still a JSON array.
    res = tarn("-t", "0.5", "-r", "0", "neighbor", "--json")
    assert (res.returncode, res.stdout) == (3, "[]\n")
    three = ap_factory(count=3)
    lines = tarn("discover").stdout.splitlines()
    assert [tuple(line.split()[:3]) for line in lines[1:]] == [
        (d.mac_text, d.ip_text, d.store_get("system", "system-name")) for d in three]
    devices = json.loads(tarn("discover", "--json").stdout)
    assert [(e["mac"], e["ipv4"], e["firmware"], e["dhcp"], type(e["rtt_ms"]))
            for e in devices] == [(d.mac_text, d.ip_text, d.store_get("system", "version"),
                                   d.store_get("management", "dhcp-status") == "up", float)
                                  for d in three]
    neighbors = json.loads(tarn("neighbor", "--json").stdout)
    assert [n["mac"] for n in neighbors] == sorted(d.mac_text for d in three)
    res = tarn("-t", "0.5", "-r", "1", "-d", "02:00:00:00:00:99", "info")  # others answer
    waited = re.search(r"no device 02:00:00:00:00:99 answered on tarnbr0 within (\d+\.\d) s "
                       r"\(2 tries\)\.$", res.stderr.strip())
    assert res.returncode == 3 and waited and float(waited.group(1)) >= 1.0, res.stderr


def test_settings_and_account(ap, tarn, at, tmp_path):
    kept = [("management", "dhcp-status"), ("management", "static-ip"), ("host", "dns-via-dhcp")]
    before = {k: ap.store_get(*k) for k in kept}
    res = ran(tarn("-d", ap.mac_text, "set", "--name", "lobby"))
    assert (bool(re.search(r"^name: +lobby$", res.stdout, re.M)),
            ap.store_get("system", "system-name"), {k: ap.store_get(*k) for k in kept}) == (
        True, "lobby", before), res.stdout
    ran(at("-u", "operator", "verify"), 1, "operator is not the administrator")
    new_password = tmp_path / "new-password"
    passwd = ("passwd", "--new-password-file", str(new_password))
    for content, why in (("\n", "the new password is empty or blank"),
                         ("   \n", "the new password is empty or blank"),
                         ("pa$$word\n", "would keep a backslash")):
        new_password.write_text(content)
        ran(at(*passwd), 2, why)
    assert "SET_PASSWD" not in ap.submit_log()
    new_password.write_text("n3wSecret9\n")
    ran(at(*passwd))
    ap.wait_until(lambda: at("verify", password="n3wSecret9").returncode == 0,
                  timeout=10, what="the new password accepted")
    assert ran(tarn("-d", ap.mac_text, "commit"), 1).stderr == \
        f"tarn: authentication failed for {ap.mac_text}.\n"


def test_a_lost_request_is_sent_again_with_a_new_tag(ap, segment, util_run, tmp_path):
    """The AP's link is down from after discovery (tarn reads the password FIFO only
    then) until the first commit request is seen."""
    def tag_of(sock, msg_type, op, timeout):
        deadline = time.monotonic() + timeout
        while (left := deadline - time.monotonic()) > 0:
            if select.select([sock], [], [], left)[0]:
                h = tarnclient.parse_header(sock.recvfrom(65536)[0])
                if h.type == msg_type and h.op == op:
                    return h.tag
        return None

    password_file = tmp_path / "password"
    os.mkfifo(password_file)
    watch, replies = (segment.socket(p) for p in (tarnclient.PORT_REQUEST, tarnclient.PORT_REPLY))
    proc = segment.util_popen([TARN, "-t", "1", "-r", "3", "-d", ap.ip_text,
                               "--password-file", str(password_file), "commit"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert tag_of(watch, 0xFDFD, 0xA1, 5) is not None, "tarn sent no discovery"
        # A broadcast reply reaches every socket on the port at once: once
        # this one has it, tarn's has it too.
        assert tag_of(replies, 0xFEEE, 0xA1, 10) is not None, "the AP did not answer discovery"
        ap.run("ip link set brtrunk down", check=True)
        # Bounded: the write waits for tarn to open the FIFO.
        util_run(["sh", "-c", f"printf '{PASSWORD}\\n' > {password_file}"], timeout=10)
        assert (first := tag_of(watch, 0xFDFD, 0xC0, 5)) is not None, "tarn sent no commit request"
        ap.run("ip link set brtrunk up", check=True)
        again = tag_of(watch, 0xFDFD, 0xC0, 3)
        out, err = proc.communicate(timeout=15)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=5)
        ap.run("ip link set brtrunk up")
        watch.close()
        replies.close()
    assert proc.returncode == 0 and "saved its running settings" in out, err
    # Each try has its own tag, so that answers to different tries are never compared.
    assert again is not None and again != first
