"""Dynamic DNS, commit, network status and the two factory resets, end to end."""

import socket
import struct

import tarnclient as tc
from conftest import tarnd_writes, wait_restart

GET_NET_ADV, SET_NET_ADV = 0xA6, 0xA7
RESET_KEEP_IP, RESET = 0xAA, 0xAB
COMMIT, NET_STATUS, SET_BASIC = 0xC0, 0xC9, 0xA2
RESULT_OK = b"\0" * 16
RESERVED = "/etc/reserved_IP"   # inside the AP's sandbox


def reply_to(ap, tag, op, body, ip=None):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ip or ap.ip, 0, 2, len(body)) + body


def test_dynamic_dns_without_backing_database_and_commit(ap, client):
    assert client.exchange(tc.to(ap, GET_NET_ADV, tag=6), count=1) == \
        [reply_to(ap, 6, GET_NET_ADV, b"\0" * 525)]
    body = bytearray(525)
    body[129], body[130], body[131] = 5, 9, 255     # enable, status, option
    seq = ap.journal_seq()
    assert client.result(tc.to(ap, SET_NET_ADV, bytes(body), tag=7), ap) == 0
    ap.wait_output(r"tarnd: bodylen=525\ntarnd: 9, 5\n", stream="stderr")
    assert tarnd_writes(ap, seq) == []              # dynamic DNS lives outside the store
    assert client.result(tc.to(ap, COMMIT, tag=0xC0), ap) == 0
    assert tarnd_writes(ap, seq) == [("config", "startup", "running")]


def test_net_status_link_local_and_off_the_bridge(ap_factory, client):
    ap, other = ap_factory(), ap_factory(seed=[("management", "interface", "brtrunk0")])
    link_local = socket.inet_aton("169.254.10.20")  # requests name the address the store reports
    ap.store_set("management", "ip", "169.254.10.20")
    assert client.exchange(tc.request(NET_STATUS, mac=ap.mac, ip=link_local, tag=2), count=1) == [
        reply_to(ap, 2, NET_STATUS, struct.pack("<I", 1) + link_local + b"\0" * 12, ip=link_local)]
    assert client.exchange(tc.to(other, NET_STATUS, tag=3), count=1) == \
        [reply_to(other, 3, NET_STATUS, b"")]


def reset(ap, client, datagram, expected):
    pid = ap.daemon_pid()
    assert client.exchange(datagram, count=1) == [expected]
    wait_restart(ap, pid)
    ap.wait_announcement(timeout=15)
    assert ap.store_get("system", "system-name") == ap.name     # factory identity again
    assert not ap.exists(RESERVED)


def test_factory_reset_without_ip_keeps_the_static_address(ap, client):
    moved = socket.inet_aton("192.0.2.60")  # away from the factory address, so keeping it shows
    v4 = bytes([255, 255, 255, 0, 192, 0, 2, 1, 192, 0, 2, 53, 192, 0, 2, 54])  # mask, gw, DNS
    body = tc.text_field("moved", 64) + moved + b"\0\0\0\x01" + v4 + bytes(66) + b"\x01"
    assert client.result(tc.to(ap, SET_BASIC, body), ap) == 0
    ap.wait_until(lambda: ap.store_get("management", "ip") == "192.0.2.60", timeout=10, what="move")
    reset(ap, client, tc.request(RESET_KEEP_IP, mac=ap.mac, ip=moved, tag=0xAA),
          reply_to(ap, 0xAA, RESET_KEEP_IP, RESULT_OK, ip=moved))
    # The reset emptied the journal; the restarted daemon put the saved values back in order.
    ap.wait_until(lambda: len(tarnd_writes(ap)) >= 4, timeout=10, what="restored address")
    assert tarnd_writes(ap)[:4] == [
        ("management", "static-ip", "192.0.2.60"), ("management", "static-mask", "255.255.255.0"),
        ("static-ip-route", "gateway", "192.0.2.1"), ("management", "dhcp-status", "down")]
    ap.wait_until(lambda: ap.store_get("management", "ip") == "192.0.2.60", timeout=10,
                  what="address applied again")
    assert client.exchange(tc.request(NET_STATUS, mac=ap.mac, ip=moved, tag=4), count=1) == [
        reply_to(ap, 4, NET_STATUS, bytes(4) + moved + bytes(12), ip=moved)]


def test_plain_factory_reset(ap, client):
    ap.store_set("system", "system-name", "renamed")
    ap.store_set("snmp", "status", "up")
    reset(ap, client, tc.to(ap, RESET, tag=0xAB), reply_to(ap, 0xAB, RESET, RESULT_OK))
    assert tarnd_writes(ap) == []
    # Factory defaults and the device's identity again, and the trigger cleared.
    assert (ap.store_get("snmp", "status"), ap.store_get("management", "mac"),
            ap.store_get("system", "factory-reset")) == ("down", ap.mac_text, None)
