"""Basic settings, the user check and the password change, end to end in
the device sandbox: the store writes in their order, the replies, and the
password that the device tool really stores."""

import base64
import socket
import struct

import pytest

import tarnclient as tc

SET_BASIC, VERIFY, CHANGE_ADMIN = 0xA2, 0xA3, 0xA4
RESULT_OK = struct.pack("<I", 0) + b"\0" * 12


def basic_info(name="", ip="0.0.0.0", mask="0.0.0.0", gateway="0.0.0.0", static_dns=0,
               dns1="0.0.0.0", dns2="0.0.0.0", dhcp=0, ipv6="::", prefix=0,
               ipv6_gateway="::", ipv6_auto=0):
    """The 155-byte request body."""
    body = b"".join([
        tc.text_field(name, 64), socket.inet_aton(ip), b"\0" * 3, bytes([static_dns]),
        socket.inet_aton(mask), socket.inet_aton(gateway), socket.inet_aton(dns1),
        socket.inet_aton(dns2), bytes([dhcp]), socket.inet_pton(socket.AF_INET6, ipv6),
        bytes([prefix]), socket.inet_pton(socket.AF_INET6, ipv6_gateway), b"\0" * 32,
        bytes([ipv6_auto]),
    ])
    assert len(body) == 155
    return body


def tarnd_writes(ap, after):
    return [(e.section, e.key, e.value) for e in ap.journal(after=after) if e.writer == "tarnd"]


def acknowledged(reply, req_tag, op, ap):
    return reply == tc.header(tc.TYPE_REPLY, req_tag, op, ap.mac, ap.ip, 0, 2, 16) + RESULT_OK


# The AP keeps its own address (192.0.2.11/24 by static setting and by
# lease alike), so the management daemon has nothing to move.
BASIC_CASES = {
    "dhcp on leaves the static address alone": (
        dict(name="lobby", ip="192.0.2.99", dhcp=1, ipv6_auto=1),
        [("system", "system-name", "lobby"),
         ("management", "dhcp-status", "up"),
         ("host", "dns-via-dhcp", "up"),
         ("management", "ipv6-autoconfig-status", "up")]),
    "static address, static dns, static ipv6": (
        dict(name="hall", ip="192.0.2.11", mask="255.255.255.0", gateway="192.0.2.1",
             static_dns=1, dns1="192.0.2.53", dns2="192.0.2.54", ipv6="2001:db8::11",
             prefix=64, ipv6_gateway="2001:db8::1"),
        [("system", "system-name", "hall"),
         ("management", "dhcp-status", "down"),
         ("management", "static-ip", "192.0.2.11"),
         ("static-ip-route", "mask", "255.255.255.0"),
         ("static-ip-route", "gateway", "192.0.2.1"),
         ("host", "static-dns-1", "192.0.2.53"),
         ("host", "static-dns-2", "192.0.2.54"),
         ("host", "dns-via-dhcp", "down"),
         ("management", "ipv6-autoconfig-status", "down"),
         ("management", "static-ipv6", "2001:db8::11"),
         ("management", "static-ipv6-prefix-length", "64"),
         ("static-ipv6-route", "gateway", "")]),
    "unspecified ipv6 address ends the ipv6 group": (
        dict(name="attic", dhcp=2, ipv6="::", prefix=64),
        [("system", "system-name", "attic"),
         ("management", "dhcp-status", "up"),
         ("host", "dns-via-dhcp", "up"),
         ("management", "ipv6-autoconfig-status", "down")]),
}


@pytest.mark.parametrize("case", list(BASIC_CASES))
def test_set_basic_info_writes_in_order(ap, client, case):
    fields, expected = BASIC_CASES[case]
    seq = ap.journal_seq()
    replies = client.exchange(tc.to(ap, SET_BASIC, basic_info(**fields), tag=0x0A02), count=1)
    assert len(replies) == 1 and acknowledged(replies[0], 0x0A02, SET_BASIC, ap)
    assert tarnd_writes(ap, seq) == expected


def test_set_basic_info_short_body_applies_zeros(ap, client):
    seq = ap.journal_seq()
    replies = client.exchange(tc.to(ap, SET_BASIC, b"tiny", tag=7), count=1)
    assert len(replies) == 1 and acknowledged(replies[0], 7, SET_BASIC, ap)
    assert tarnd_writes(ap, seq) == [
        ("system", "system-name", "tiny"),
        ("management", "dhcp-status", "down"),
        ("management", "static-ip", "0.0.0.0"),
        ("static-ip-route", "mask", "0.0.0.0"),
        ("static-ip-route", "gateway", "0.0.0.0"),
        ("host", "dns-via-dhcp", "up"),
        ("management", "ipv6-autoconfig-status", "down"),
    ]


@pytest.mark.parametrize("user,code", [("admin", 1), ("Admin", 2), ("guest", 2)])
def test_user_verify(ap, client, user, code):
    replies = client.exchange(tc.to(ap, VERIFY, auth=(user, "tarnadmin"), tag=0x0A03), count=1)
    assert replies == [tc.header(tc.TYPE_REPLY, 0x0A03, VERIFY, ap.mac, ap.ip, 0, 2, 4)
                       + struct.pack("<I", code)]


def change_admin_body(user, password):
    def field(value):
        return base64.b64encode(value.encode()).ljust(64, b"\0")
    return field(user) + field(password)


def change_admin(client, ap, user, password, old="tarnadmin"):
    replies = client.exchange(tc.to(ap, CHANGE_ADMIN, change_admin_body(user, password),
                                    auth=("admin", old), tag=0x0A04), count=1)
    assert len(replies) == 1
    h = tc.parse_header(replies[0])
    assert (h.status, h.body_len, len(replies[0])) == (0, 16, 38)
    assert replies[0][26:38] == b"\0" * 12
    return struct.unpack_from("<I", replies[0], 22)[0]


def verify_status(client, ap, password):
    replies = client.exchange(tc.to(ap, VERIFY, auth=("admin", password)), count=1)
    assert len(replies) == 1
    return tc.parse_header(replies[0]).status


def test_change_admin_end_to_end(ap, client):
    old_hash = ap.store_get("system", "encrypted-password")
    assert change_admin(client, ap, "admin", "Fresh2025pass") == 0
    assert "'SET_PASSWD' 'admin' 'Fresh2025pass'" in ap.submit_log()
    assert ap.store_get("system", "encrypted-password") != old_hash
    assert verify_status(client, ap, "tarnadmin") == tc.STATUS_AUTH_FAILED
    assert verify_status(client, ap, "Fresh2025pass") == tc.STATUS_OK


def test_change_admin_escaped_characters_reach_the_tool(ap, client):
    # The password is quoted for the shell; $ and ` get a backslash that
    # the tool receives as part of the password.
    assert change_admin(client, ap, "admin", "pa$$w`rd") == 0
    assert "'SET_PASSWD' 'admin' 'pa\\\\$\\\\$w\\\\`rd'" in ap.submit_log()
    assert verify_status(client, ap, "pa$$w`rd") == tc.STATUS_AUTH_FAILED
    assert verify_status(client, ap, "pa\\$\\$w\\`rd") == tc.STATUS_OK


@pytest.mark.parametrize("user,password,code", [
    ("Admin", "Fresh2025pass", 1001),
    ("", "Fresh2025pass", 1001),
    ("root", "has:colon", 1001),
    ("admin", "has:colon", 1006),
    ("admin", "quote'; reboot; '", 1006),
    ("admin", "back\\slash", 1006),
    ("admin", "100%", 1006),
])
def test_change_admin_refusals_change_nothing(ap, client, user, password, code):
    old_hash = ap.store_get("system", "encrypted-password")
    assert change_admin(client, ap, user, password) == code
    assert "SET_PASSWD" not in ap.submit_log()
    assert ap.store_get("system", "encrypted-password") == old_hash
    assert verify_status(client, ap, "tarnadmin") == tc.STATUS_OK
