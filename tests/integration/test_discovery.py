"""Discovery, neighbour and supported-operations replies byte for byte in the device sandbox."""

import socket
import struct

import pytest

import tarnclient as tc

DISCOVER, SUPPORTED, NEIGHBOR = 0xA1, 0xA5, 0xD0
CLOCK = [(22 + 293, 16)]        # 14 clock digits and two zeros in the discovery reply


def v4(*addresses):
    return b"".join(socket.inet_aton(a) for a in addresses)


def v6(address):
    return socket.inet_pton(socket.AF_INET6, address)


def expected_discover(ap, dns_mode, dns, dhcp, prefix, addr6=b"\0" * 16, gw6=b"\0" * 16, auto=0):
    """The whole 505-byte reply, tag and clock zero; the fields under test are given."""
    g = ap.store_get
    body = b"".join([
        tc.text_field("Vemira AP", 64), tc.text_field("WLAN-EAP", 64),
        tc.text_field(g("system", "model"), 32), tc.text_field(g("system", "version"), 32),
        b"\x02\0", b"\0" * 4, ap.mac, tc.text_field(g("system", "system-name"), 64), ap.ip,
        b"\x50\0", b"\0", bytes([dns_mode]), v4(g("management", "mask"), g("ip-route", "gateway")),
        dns, bytes([dhcp]), b"\0" * 19,            # clock, zone, reserved, daylight saving
        tc.text_field("AP", 32), tc.text_field("A1", 32), b"\0" * 32, tc.text_field("LAN1", 8),
        addr6, bytes([prefix]), gw6, b"\0" * 32, bytes([auto]), b"\0",
    ])
    return tc.header(tc.TYPE_REPLY, 0, DISCOVER, ap.mac, ap.ip, 0, 2, 483) + body


FACTORY = dict(dns_mode=1, dns=v4("192.0.2.53", "192.0.2.54"), dhcp=0xFF, prefix=64)
FLAG_CASES = {  # each case keeps the factory values of the fields it leaves alone
    "dns and dhcp on, ipv6 autoconfig": (
        [("host", "dns-via-dhcp", "up"), ("host", "dns-1", "192.0.2.71"),
         ("host", "dns-2", "192.0.2.72"), ("management", "dhcp-status", "up"),
         ("management", "ipv6-status", "up"), ("management", "ipv6-autoconfig-status", "up"),
         ("management", "autoconfig-ipv6-global-all", "2001:db8::a1 2001:db8::a2"),
         ("management", "ipv6-default-gateway", "2001:db8::fe")],
        dict(FACTORY, dns_mode=0, dns=v4("192.0.2.71", "192.0.2.72"), dhcp=1,
             addr6=v6("2001:db8::a1"), gw6=v6("2001:db8::fe"), auto=1)),
    "dns mode neither word is static, ipv6 off keeps the prefix cut to eight bits": (
        [("host", "dns-via-dhcp", "UP"), ("host", "dns-1", "192.0.2.71"),
         ("host", "static-dns-1", "192.0.2.63"),
         ("management", "static-ipv6-prefix-length", "300")],
        dict(FACTORY, dns=v4("192.0.2.63", "192.0.2.54"), prefix=300 & 0xFF)),
    "ipv6 static": (
        [("management", "ipv6-status", "up"), ("static-ipv6-route", "gateway", "2001:db8::1"),
         ("management", "ipv6-default-gateway", "2001:db8::fe")],
        dict(FACTORY, addr6=v6("2001:db8::11"), gw6=v6("2001:db8::1"))),
}


@pytest.mark.parametrize("case", list(FLAG_CASES))
def test_discovery_reply_follows_the_store(ap, client, case):
    for section, key, value in FLAG_CASES[case][0]:
        ap.store_set(section, key, value)
    (reply,) = client.exchange(tc.request(DISCOVER, addressed=False, tag=0x7E57), count=1)
    assert reply[CLOCK[0][0]:CLOCK[0][0] + 14].isdigit() and tc.parse_header(reply).tag == 0x7E57
    assert tc.mask(reply, tc.TAG + CLOCK) == expected_discover(ap, **FLAG_CASES[case][1])


def test_neighbor_reply_and_supported_list_broadcast_or_addressed(ap, client):
    g = ap.store_get
    body = b"".join([b"\x01", tc.text_field("WLAN-EAP", 64), tc.text_field("AP", 32),
                     tc.text_field(g("system", "version"), 32), ap.mac,
                     tc.text_field(g("system", "system-name"), 64), ap.ip,
                     v4(g("management", "mask")), b"\0" * 16, tc.text_field("LAN1", 8)])
    assert client.exchange(tc.request(NEIGHBOR, addressed=False, tag=0x0D0D), count=1) == \
        [tc.header(tc.TYPE_REPLY, 0x0D0D, NEIGHBOR, ap.mac, ap.ip, 0, 2, 231) + body]
    body = struct.pack("<18H", 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xC0, 0xC9, 0xD0,
                       0xD1, 0xD2, 0xD4, 0xD8, 0x100, 0x101, 0x102, 0x103, 0)
    assert client.exchange(tc.request(SUPPORTED, addressed=False, tag=0x0A05), count=1) == \
        [tc.header(tc.TYPE_REPLY, 0x0A05, SUPPORTED, tc.BROADCAST_MAC, tc.ZERO_IP, 0, 2, 36) + body]
    assert client.exchange(tc.to(ap, SUPPORTED, tag=0x0B05), count=1) == \
        [tc.header(tc.TYPE_REPLY, 0x0B05, SUPPORTED, ap.mac, ap.ip, 0, 2, 36) + body]
