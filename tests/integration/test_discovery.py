"""Discovery over real UDP in the device sandbox: the discovery reply byte
for byte, its DNS/DHCP/IPv6 fields as the store changes, the neighbour
reply and the list of optional operations."""

import socket
import struct

import pytest

import tarnclient as tc

DISCOVER, SUPPORTED, NEIGHBOR = 0xA1, 0xA5, 0xD0
DATETIME_AT = 22 + 293          # 14 clock digits in the discovery reply


def text(value, width):
    return (value or "").encode()[:width].ljust(width, b"\0")


def v4(value):
    return socket.inet_aton(value) if value else b"\0" * 4


def v6(value):
    return socket.inet_pton(socket.AF_INET6, value) if value else b"\0" * 16


def expected_discover(ap, tag):
    """The whole 505-byte reply, from the store as the test set it up; the
    clock digits are left zero (mask them in the reply)."""
    g = ap.store_get
    static_dns = g("host", "dns-via-dhcp") != "up"
    dns_keys = ("static-dns-1", "static-dns-2") if static_dns else ("dns-1", "dns-2")
    ipv6_on = g("management", "ipv6-status") == "up"
    auto = g("management", "ipv6-autoconfig-status") == "up"
    if not ipv6_on:
        addr6 = gw6 = None
    elif auto:
        addr6 = (g("management", "autoconfig-ipv6-global-all") or "").split()[0]
        gw6 = g("management", "ipv6-default-gateway")
    else:
        addr6 = g("management", "static-ipv6")
        gw6 = g("static-ipv6-route", "gateway")
    body = b"".join([
        text("Vemira AP", 64), text("WLAN-EAP", 64),
        text(g("system", "model"), 32), text(g("system", "version"), 32),
        struct.pack("<H", 2),                 # protocol version
        b"\0" * 4,
        ap.mac, text(g("system", "system-name"), 64), ap.ip,
        struct.pack("<H", 80),                # web interface port
        b"\0", bytes([1 if static_dns else 0]),
        v4(g("management", "mask")), v4(g("ip-route", "gateway")),
        v4(g("host", dns_keys[0])), v4(g("host", dns_keys[1])),
        b"\x01" if g("management", "dhcp-status") == "up" else b"\xff",
        b"\0" * 16,                           # clock, masked
        b"\0\0", b"\0",                       # zone, reserved, daylight saving
        text("AP", 32), text("A1", 32), b"\0" * 32, text("LAN1", 8),
        v6(addr6), bytes([int(g("management", "static-ipv6-prefix-length") or 0) & 0xFF]),
        v6(gw6), b"\0" * 32, bytes([1 if auto else 0]), b"\0",
    ])
    assert len(body) == 483
    head = tc.header(tc.TYPE_REPLY, tag, DISCOVER, ap.mac, ap.ip, 0, 2, 483)
    return head + body


def discover(client, tag=0x4242):
    replies = client.exchange(tc.request(DISCOVER, addressed=False, tag=tag), count=1)
    assert len(replies) == 1
    return replies[0]


def assert_clock_digits(reply):
    digits = reply[DATETIME_AT:DATETIME_AT + 14]
    assert digits.isdigit(), digits
    assert reply[DATETIME_AT + 14:DATETIME_AT + 16] == b"\0\0"


def test_broadcast_discovery_is_the_whole_expected_reply(ap, client):
    reply = discover(client, tag=0x7E57)
    assert len(reply) == 505
    assert_clock_digits(reply)
    assert tc.mask(reply, [(DATETIME_AT, 16)]) == expected_discover(ap, 0x7E57)


def test_reply_header_has_own_address_and_request_tag(ap, client):
    reply = discover(client, tag=0x0102)
    h = tc.parse_header(reply)
    assert (h.type, h.tag, h.op, h.mac, h.ip, h.status, h.ret_flag, h.body_len) == \
        (tc.TYPE_REPLY, 0x0102, DISCOVER, ap.mac, ap.ip, 0, 2, 483)


FLAG_CASES = {
    "dns from dhcp, dhcp on": [("host", "dns-via-dhcp", "up"),
                               ("host", "dns-1", "192.0.2.71"), ("host", "dns-2", "192.0.2.72"),
                               ("management", "dhcp-status", "up")],
    "static dns, dhcp off": [("host", "dns-via-dhcp", "down"),
                             ("management", "dhcp-status", "down")],
    "dns mode neither word": [("host", "dns-via-dhcp", "UP")],
    "ipv6 off keeps the prefix": [("management", "ipv6-status", "down"),
                                  ("management", "static-ipv6-prefix-length", "48")],
    "ipv6 static": [("management", "ipv6-status", "up"),
                    ("management", "ipv6-autoconfig-status", "down"),
                    ("management", "static-ipv6", "2001:db8::11"),
                    ("management", "static-ipv6-prefix-length", "64"),
                    ("static-ipv6-route", "gateway", "2001:db8::1")],
    "ipv6 autoconfig": [("management", "ipv6-status", "up"),
                        ("management", "ipv6-autoconfig-status", "up"),
                        ("management", "autoconfig-ipv6-global-all",
                         "2001:db8::a1 2001:db8::a2"),
                        ("management", "ipv6-default-gateway", "2001:db8::fe")],
    "prefix cut to eight bits": [("management", "static-ipv6-prefix-length", "300")],
}


@pytest.mark.parametrize("case", list(FLAG_CASES))
def test_flags_follow_the_store(ap, client, case):
    for section, key, value in FLAG_CASES[case]:
        ap.store_set(section, key, value)
    reply = discover(client)
    assert tc.mask(reply, [(DATETIME_AT, 16)]) == expected_discover(ap, 0x4242), case


def test_flag_bytes_spelled_out(ap, client):
    """The same rules with the bytes written out, so that the expected
    reply's own reading of the store cannot hide a mistake."""
    body_at = 22
    for settings, dns_mode, dns, dhcp in [
        ({"dns-via-dhcp": "up", "dhcp-status": "up"}, 0, bytes([192, 0, 2, 53, 192, 0, 2, 54]), 1),
        ({"dns-via-dhcp": "down", "dhcp-status": "down"}, 1, bytes([192, 0, 2, 63, 192, 0, 2, 64]), 0xFF),
    ]:
        ap.store_set("host", "dns-1", "192.0.2.53")
        ap.store_set("host", "dns-2", "192.0.2.54")
        ap.store_set("host", "static-dns-1", "192.0.2.63")
        ap.store_set("host", "static-dns-2", "192.0.2.64")
        ap.store_set("host", "dns-via-dhcp", settings["dns-via-dhcp"])
        ap.store_set("management", "dhcp-status", settings["dhcp-status"])
        reply = discover(client)
        assert reply[body_at + 275] == dns_mode
        assert reply[body_at + 284:body_at + 292] == dns
        assert reply[body_at + 292] == dhcp
    ap.store_set("management", "ipv6-status", "down")
    ap.store_set("management", "static-ipv6-prefix-length", "64")
    reply = discover(client)
    assert reply[body_at + 416:body_at + 432] == b"\0" * 16
    assert reply[body_at + 432] == 64
    assert reply[body_at + 433:body_at + 449] == b"\0" * 16
    assert reply[body_at + 192:body_at + 194] == b"\x02\x00"
    assert reply[body_at + 272:body_at + 274] == b"\x50\x00"


def test_neighbor_reply(ap, client):
    g = ap.store_get
    replies = client.exchange(tc.request(NEIGHBOR, addressed=False, tag=0x0D0D), count=1)
    assert len(replies) == 1
    body = b"".join([
        b"\x01", text("WLAN-EAP", 64), text("AP", 32), text(g("system", "version"), 32),
        ap.mac, text(g("system", "system-name"), 64), ap.ip, v4(g("management", "mask")),
        b"\0" * 16,                            # IPv6 is off in the factory settings
        text("LAN1", 8),
    ])
    assert len(body) == 231
    assert replies[0] == tc.header(tc.TYPE_REPLY, 0x0D0D, NEIGHBOR, ap.mac, ap.ip, 0, 2, 231) + body


def test_neighbor_query_addressed_is_answered_too(ap, client):
    replies = client.exchange(tc.to(ap, NEIGHBOR), count=1)
    assert len(replies) == 1 and len(replies[0]) == 253


SUPPORTED_BODY = struct.pack("<18H", 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xC0, 0xC9, 0xD0,
                             0xD1, 0xD2, 0xD4, 0xD8, 0x100, 0x101, 0x102, 0x103, 0)


def test_supported_list_by_broadcast(ap, client):
    req = tc.request(SUPPORTED, addressed=False, tag=0x0A05)
    replies = client.exchange(req, count=1)
    assert replies == [tc.header(tc.TYPE_REPLY, 0x0A05, SUPPORTED, tc.BROADCAST_MAC, tc.ZERO_IP,
                                 0, 2, 36) + SUPPORTED_BODY]


def test_supported_list_addressed_keeps_request_address(ap, client):
    replies = client.exchange(tc.to(ap, SUPPORTED, tag=0x0B05), count=1)
    assert replies == [tc.header(tc.TYPE_REPLY, 0x0B05, SUPPORTED, ap.mac, ap.ip, 0, 2, 36)
                       + SUPPORTED_BODY]


def test_supported_list_needs_credentials(ap, client):
    req = tc.request(SUPPORTED, addressed=False, auth=("admin", "wrong"))
    replies = client.exchange(req, count=1)
    assert len(replies) == 1
    assert tc.parse_header(replies[0]).status == tc.STATUS_AUTH_FAILED
