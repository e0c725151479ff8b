"""Dynamic DNS, commit, network status and the two factory resets, end to
end in the device sandbox with the stand-in management daemon carrying out
the trigger keys."""

import socket
import struct

import tarnclient as tc

GET_NET_ADV, SET_NET_ADV = 0xA6, 0xA7
RESET_KEEP_IP, RESET = 0xAA, 0xAB
COMMIT, NET_STATUS, DISCOVER, SET_BASIC = 0xC0, 0xC9, 0xA1, 0xA2
RESULT_OK = b"\0" * 16
RESERVED = "/etc/reserved_IP"   # inside the AP's sandbox


def only_reply(client, datagram):
    replies = client.exchange(datagram, count=1)
    assert len(replies) == 1, replies
    return replies[0]


def reply_to(ap, tag, op, body, ip=None):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ip or ap.ip, 0, 2, len(body)) + body


def tarnd_writes(ap, after=0):
    return [(e.section, e.key, e.value) for e in ap.journal(after=after) if e.writer == "tarnd"]


def test_dynamic_dns_without_backing_database(ap, client):
    assert only_reply(client, tc.to(ap, GET_NET_ADV, tag=6)) == \
        reply_to(ap, 6, GET_NET_ADV, b"\0" * 525)
    body = bytearray(525)
    body[129], body[130], body[131] = 5, 9, 255     # enable, status, option
    seq = ap.journal_seq()
    assert only_reply(client, tc.to(ap, SET_NET_ADV, bytes(body), tag=7)) == \
        reply_to(ap, 7, SET_NET_ADV, RESULT_OK)
    ap.wait_output(r"tarnd: bodylen=525\ntarnd: 9, 5\n", stream="stderr")
    assert tarnd_writes(ap, seq) == []              # dynamic DNS lives outside the store


def test_commit_writes_the_trigger_and_the_device_saves(ap, client):
    seq = ap.journal_seq()
    assert only_reply(client, tc.to(ap, COMMIT, tag=0xC0)) == reply_to(ap, 0xC0, COMMIT, RESULT_OK)
    assert tarnd_writes(ap, seq) == [("config", "startup", "running")]
    ap.wait_until(lambda: ap.exists("/etc/config/startup.dump"), timeout=10, what="startup dump")


def test_net_status_on_the_management_bridge(ap, client):
    assert only_reply(client, tc.to(ap, NET_STATUS, tag=1)) == \
        reply_to(ap, 1, NET_STATUS, b"\0" * 4 + ap.ip + b"\0" * 12)
    # A link-local address is flagged; the request names the address the store reports.
    link_local = socket.inet_aton("169.254.10.20")
    ap.store_set("management", "ip", "169.254.10.20")
    assert only_reply(client, tc.request(NET_STATUS, mac=ap.mac, ip=link_local, tag=2)) == \
        reply_to(ap, 2, NET_STATUS, struct.pack("<I", 1) + link_local + b"\0" * 12, ip=link_local)


def test_net_status_on_another_interface_is_the_header_alone(ap_factory, client):
    ap = ap_factory(seed=[("management", "interface", "brtrunk0")])
    assert only_reply(client, tc.to(ap, NET_STATUS, tag=3)) == reply_to(ap, 3, NET_STATUS, b"")


def reset(ap, client, datagram, expected):
    pid = ap.daemon_pid()
    assert only_reply(client, datagram) == expected
    ap.wait_until(lambda: ap.daemon_pid() not in (None, pid), timeout=20, what="restarted tarnd")
    ap.wait_announcement(timeout=15)
    assert ap.store_get("system", "system-name") == ap.name     # factory identity again
    assert not ap.exists(RESERVED)


def test_factory_reset_without_ip_keeps_the_static_address(ap, client):
    # Move the device away from its factory address first, so that keeping
    # the address is observable.
    moved = socket.inet_aton("192.0.2.60")
    body = b"".join([tc.text_field("moved", 64), moved, b"\0\0\0\x01",
                     socket.inet_aton("255.255.255.0"), socket.inet_aton("192.0.2.1"),
                     socket.inet_aton("192.0.2.53"), socket.inet_aton("192.0.2.54"), b"\0",
                     b"\0" * 16, b"\0", b"\0" * 16, b"\0" * 32, b"\x01"])
    assert len(body) == 155
    assert len(only_reply(client, tc.to(ap, SET_BASIC, body))) == 38
    ap.wait_until(lambda: ap.store_get("management", "ip") == "192.0.2.60", timeout=10, what="move")
    assert not ap.exists(RESERVED)

    reset(ap, client, tc.request(RESET_KEEP_IP, mac=ap.mac, ip=moved, tag=0xAA),
          reply_to(ap, 0xAA, RESET_KEEP_IP, RESULT_OK, ip=moved))
    # The reset emptied the journal; the restarted daemon put the saved
    # values back, in the order of the file.
    ap.wait_until(lambda: len(tarnd_writes(ap)) >= 4, timeout=10, what="restored address")
    assert tarnd_writes(ap)[:4] == [
        ("management", "static-ip", "192.0.2.60"), ("management", "static-mask", "255.255.255.0"),
        ("static-ip-route", "gateway", "192.0.2.1"), ("management", "dhcp-status", "down")]
    ap.wait_until(lambda: ap.store_get("management", "ip") == "192.0.2.60", timeout=10,
                  what="address applied again")
    reply = only_reply(client, tc.request(DISCOVER, addressed=False))
    h = tc.parse_header(reply)
    assert (h.mac, h.ip, reply[22 + 268:22 + 272], reply[22 + 292]) == (ap.mac, moved, moved, 0xFF)


def test_plain_factory_reset(ap, client):
    ap.store_set("system", "system-name", "renamed")
    reset(ap, client, tc.to(ap, RESET, tag=0xAB), reply_to(ap, 0xAB, RESET, RESULT_OK))
    assert tarnd_writes(ap) == []
