"""Dynamic DNS, commit, network status and the two factory resets, end to
end in the device sandbox with the stand-in management daemon carrying out
the trigger keys."""

import re
import select
import socket
import struct
import subprocess
import time

import tarnclient as tc

GET_NET_ADV, SET_NET_ADV = 0xA6, 0xA7
RESET_KEEP_IP, RESET = 0xAA, 0xAB
COMMIT, NET_STATUS, DISCOVER, SET_BASIC = 0xC0, 0xC9, 0xA1, 0xA2
RESULT_OK = b"\0" * 16
STARTUP_DUMP = "/etc/config/startup.dump"
RESERVED = "/etc/reserved_IP"


def only_reply(client, datagram):
    replies = client.exchange(datagram, count=1)
    assert len(replies) == 1, replies
    return replies[0]


def reply_to(ap, tag, op, body, ip=None):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ip or ap.ip, 0, 2, len(body)) + body


def tarnd_writes(ap, after=0):
    return [(e.section, e.key, e.value) for e in ap.journal(after=after) if e.writer == "tarnd"]


# ---------------------------------------------------------------- DDNS

def test_get_net_adv_without_backing_database_is_all_zero(ap, client):
    reply = only_reply(client, tc.to(ap, GET_NET_ADV, tag=0x0A06))
    assert reply == reply_to(ap, 0x0A06, GET_NET_ADV, b"\0" * 525)


def test_set_net_adv_is_acknowledged_and_traced(ap, client):
    body = bytearray(525)
    body[129], body[130], body[131] = 5, 9, 255     # enable, status, option
    body[132:132 + 4] = b"user"
    seq = ap.journal_seq()
    reply = only_reply(client, tc.to(ap, SET_NET_ADV, bytes(body), tag=0x0A07))
    assert reply == reply_to(ap, 0x0A07, SET_NET_ADV, RESULT_OK)
    ap.wait_output(r"tarnd: bodylen=525\ntarnd: 9, 5\n", stream="stderr")
    # Dynamic DNS lives outside the settings store.
    assert tarnd_writes(ap, seq) == []


# ---------------------------------------------------------------- commit

def test_commit_writes_the_trigger_and_the_device_saves(ap, client):
    seq = ap.journal_seq()
    reply = only_reply(client, tc.to(ap, COMMIT, tag=0x0C0))
    assert reply == reply_to(ap, 0x0C0, COMMIT, RESULT_OK)
    assert tarnd_writes(ap, seq) == [("config", "startup", "running")]
    ap.wait_until(lambda: ap.exists(STARTUP_DUMP), timeout=10, what="startup dump")


# ---------------------------------------------------------------- net status

def test_net_status_on_the_management_bridge(ap, client):
    reply = only_reply(client, tc.to(ap, NET_STATUS, tag=0x0C9))
    assert reply == reply_to(ap, 0x0C9, NET_STATUS, b"\0" * 4 + ap.ip + b"\0" * 12)


def test_net_status_link_local(ap, client):
    # The request must name the address the store reports.
    link_local = socket.inet_aton("169.254.10.20")
    ap.store_set("management", "ip", "169.254.10.20")
    reply = only_reply(client, tc.request(NET_STATUS, mac=ap.mac, ip=link_local, tag=1))
    assert reply == reply_to(ap, 1, NET_STATUS, struct.pack("<I", 1) + link_local + b"\0" * 12,
                             ip=link_local)


def test_net_status_on_another_interface_is_the_header_alone(ap_factory, client):
    ap = ap_factory(seed=[("management", "interface", "lan0")])
    reply = only_reply(client, tc.to(ap, NET_STATUS, tag=2))
    assert reply == reply_to(ap, 2, NET_STATUS, b"")


# ---------------------------------------------------------------- resets

def wait_restart(ap, old_pid):
    ap.wait_until(lambda: ap.daemon_pid() not in (None, old_pid), timeout=20,
                  what="restarted tarnd")
    ap.wait_announcement(timeout=15)


def test_factory_reset_without_ip_keeps_the_static_address(ap, client):
    moved = "192.0.2.60"
    moved_ip = socket.inet_aton(moved)
    # Move the device away from its factory address first, so that keeping
    # the address is observable.
    body = b"".join([tc.text_field("moved", 64), moved_ip, b"\0" * 3, b"\x01",
                     socket.inet_aton("255.255.255.0"), socket.inet_aton("192.0.2.1"),
                     socket.inet_aton("192.0.2.53"), socket.inet_aton("192.0.2.54"), b"\0",
                     b"\0" * 16, b"\0", b"\0" * 16, b"\0" * 32, b"\x01"])
    assert len(only_reply(client, tc.to(ap, SET_BASIC, body))) == 38
    ap.wait_until(lambda: ap.store_get("management", "ip") == moved, timeout=10,
                  what="moved address")
    assert not ap.exists(RESERVED)

    pid = ap.daemon_pid()
    reply = only_reply(client, tc.request(RESET_KEEP_IP, mac=ap.mac, ip=moved_ip, tag=0xAA))
    assert reply == reply_to(ap, 0xAA, RESET_KEEP_IP, RESULT_OK, ip=moved_ip)
    wait_restart(ap, pid)

    # The reset emptied the journal; the restarted daemon put the saved
    # values back, in the order of the file.
    ap.wait_until(lambda: len(tarnd_writes(ap)) >= 4, timeout=10, what="restored address")
    assert tarnd_writes(ap)[:4] == [
        ("management", "static-ip", moved),
        ("management", "static-mask", "255.255.255.0"),
        ("static-ip-route", "gateway", "192.0.2.1"),
        ("management", "dhcp-status", "down"),
    ]
    assert ap.store_get("system", "system-name") == ap.name     # factory identity again
    assert ap.store_get("management", "dhcp-status") == "down"
    assert not ap.exists(RESERVED)
    ap.wait_until(lambda: ap.store_get("management", "ip") == moved, timeout=10,
                  what="address applied again")
    reply = only_reply(client, tc.request(DISCOVER, addressed=False))
    h = tc.parse_header(reply)
    assert (h.mac, h.ip) == (ap.mac, moved_ip)
    assert reply[22 + 268:22 + 272] == moved_ip
    assert reply[22 + 292] == 0xFF


def test_factory_reset_without_ip_on_dhcp_saves_nothing(ap, client):
    ap.store_set("management", "dhcp-status", "up")
    ap.store_set("system", "system-name", "renamed")
    pid = ap.daemon_pid()
    reply = only_reply(client, tc.to(ap, RESET_KEEP_IP, tag=3))
    assert reply == reply_to(ap, 3, RESET_KEEP_IP, RESULT_OK)
    wait_restart(ap, pid)
    assert ap.store_get("system", "system-name") == ap.name
    assert ap.store_get("management", "dhcp-status") == "down"    # the factory value
    assert tarnd_writes(ap) == []                                 # nothing restored


def test_plain_factory_reset(ap, client):
    ap.store_set("system", "system-name", "renamed")
    pid = ap.daemon_pid()
    reply = only_reply(client, tc.to(ap, RESET, tag=0xAB))
    assert reply == reply_to(ap, 0xAB, RESET, RESULT_OK)
    wait_restart(ap, pid)
    assert ap.store_get("system", "system-name") == ap.name
    assert not ap.exists(RESERVED)
    assert tarnd_writes(ap) == []


def start_tracer(ap, pid, output):
    """strace on tarnd, inside the AP; returns once it is attached."""
    tracer = subprocess.Popen(
        ap.exec_argv(["strace", "-p", str(pid), "-e", "trace=openat,write,sendto",
                      "-s", "64", "-o", output]),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen = b""
    deadline = time.monotonic() + 10
    while b"attached" not in seen and time.monotonic() < deadline:
        if select.select([tracer.stderr], [], [], 0.5)[0]:
            chunk = tracer.stderr.read1(256)
            if not chunk:
                break
            seen += chunk
    if b"attached" not in seen:
        tracer.kill()
        tracer.wait(5)
        raise AssertionError(f"strace did not attach: {seen!r}")
    return tracer


def test_reserved_address_file_is_written_before_and_after_the_reply(ap, client):
    """The file is written in the request call and again in the call after
    the reply, right before the reset is asked for."""
    trace_file = "/tmp/reset.trace"
    tracer = start_tracer(ap, ap.daemon_pid(), trace_file)
    try:
        reply = only_reply(client, tc.to(ap, RESET_KEEP_IP, tag=4))
        assert reply == reply_to(ap, 4, RESET_KEEP_IP, RESULT_OK)
        tracer.wait(20)             # ends with tarnd, which the reset stops
    finally:
        if tracer.poll() is None:
            tracer.kill()
            tracer.wait(5)
    events = []
    for line in ap.read_file(trace_file, "").splitlines():
        if '"/etc/reserved_IP"' in line and "O_TRUNC" in line:
            events.append("open")
        elif re.match(r'write\(\d+, "192\.0\.2\.11,255\.255\.255\.0,192\.0\.2\.1,", 35\)', line):
            events.append("write")
        elif line.startswith("sendto(") and "62992" in line and "= 38" in line:
            events.append("reply")
    assert events == ["open", "write", "reply", "open", "write"]
