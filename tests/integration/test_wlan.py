"""Multi-SSID requests over real UDP in the device sandbox: the bytes of the
get reply against a seeded store, and the store writes of a set request in
their order. Radio index 0 is the store radio "wlan1", index 1 "wlan0"; any
other index leaves mode, SSID and VLAN id alone but reads and writes the
security and key of "wlan0"."""

import pytest

import tarnclient as tc

GET, SET = 0xD8, 0xD1
BODY_LEN = 451
ENTRY_LEN = 56

SEED = [
    ("interface", "wlan1vap3", "wep-default-key", "2"),   # names the key a set writes
    ("interface", "wlan1vap7", "ssid", "S" * 32),
    ("interface", "wlan1vap7", "security", "wpa-personal"),
    ("bss", "wlan1bssvap7", "wpa2-allowed", "off"),
    ("interface", "wlan1vap7", "wpa-personal-key", "a-passphrase-longer-than-16"),
    ("vap", "vap7", "radio=wlan1", "vlan-id", "4094"),
    ("interface", "wlan0vap2", "ssid", "five-" + "x" * 40),
    ("interface", "wlan0vap2", "security", "wpa-enterprise"),
    ("vap", "vap2", "radio=wlan0", "vlan-id", "123456"),
    ("interface", "wlan0vap6", "security", "wpa-personal"),
    ("interface", "wlan0vap6", "wpa-personal-key", "sixth"),
]


@pytest.fixture
def wlan_ap(ap_factory):
    return ap_factory(seed=SEED)


def text(value, width):
    return value.encode()[:width].ljust(width, b"\0")


def reply_header(ap, op, tag):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ap.ip, 0, 2, BODY_LEN)


def get(client, ap, radio):
    replies = client.exchange(tc.to(ap, GET, bytes([radio]), tag=0x0D80 + radio), count=1)
    assert len(replies) == 1
    reply = replies[0]
    assert len(reply) == 22 + BODY_LEN
    assert reply[:22] == reply_header(ap, GET, 0x0D80 + radio)
    return reply


def entry(reply, k):
    at = 22 + 3 + ENTRY_LEN * k
    return reply[at:at + ENTRY_LEN]


def test_get_fields_at_their_offsets(wlan_ap, client):
    seq = wlan_ap.journal_seq()
    r0 = get(client, wlan_ap, 0)
    assert r0[22:25] == b"\0\0\0"                       # bg-n: band code 0
    assert entry(r0, 0) == text("tarn-2g", 32) + text("1", 4) + text("4", 4) + text("tarnwifi24", 16)
    assert entry(r0, 7) == b"S" * 32 + b"4094" + text("2", 4) + b"a-passphrase-lon"

    r1 = get(client, wlan_ap, 1)
    assert r1[24] == 1                                  # a-n: band code 1
    assert entry(r1, 2)[:40] == b"five-" + b"x" * 27 + b"1234" + text("5", 4)

    r2 = get(client, wlan_ap, 2)
    assert r2[24] == 0
    assert entry(r2, 6) == b"\0" * 36 + text("4", 4) + text("sixth", 16)
    assert wlan_ap.journal(after=seq) == []


def set_body(radio, entries, state=0):
    """A set request body: entries {k: (ssid, vlan, code, key)}."""
    body = bytearray([radio, state])
    for k in range(8):
        body += b"".join(text(v, w) for v, w in zip(entries.get(k, ("",) * 4), (32, 4, 4, 16)))
    return bytes(body)


def send_set(client, ap, body, tag=0xD1D1):
    seq = ap.journal_seq()
    replies = client.exchange(tc.to(ap, SET, body, tag=tag), count=1)
    assert replies == [reply_header(ap, SET, tag) + b"\0" * BODY_LEN]
    return [(e.section, e.object, e.qualifier, e.key, e.value)
            for e in ap.journal(after=seq) if e.writer == "tarnd"]


def test_set_writes_in_order_without_commit(wlan_ap, client):
    assert send_set(client, wlan_ap, set_body(0, {
        0: ("lobby", "10", "4", "newpassphrase12"),
        3: ("wep-lab", "", "1", "ABCDEF0123"),
        6: ("L" * 32, "4094", "", ""),
    })) == [
        ("radio", "wlan1", None, "status", "up"),
        ("interface", "wlan1", None, "ssid", "lobby"),
        ("vap", "vap0", "radio=wlan1", "vlan-id", "10"),
        ("interface", "wlan1", None, "security", "wpa-personal"),
        ("bss", "wlan1bssvap0", None, "wpa-allowed", "off"),
        ("bss", "wlan1bssvap0", None, "wpa2-allowed", "on"),
        ("interface", "wlan1", None, "wpa-personal-key", "newpassphrase12"),
        ("interface", "wlan1vap3", None, "ssid", "wep-lab"),
        ("interface", "wlan1vap3", None, "security", "static-wep"),
        ("interface", "wlan1vap3", None, "wep-key-2", "ABCDEF0123"),
        ("interface", "wlan1vap6", None, "ssid", "L" * 32),
        ("vap", "vap6", "radio=wlan1", "vlan-id", "4094"),
        # entry 7 is blank, but its network is "wpa-personal": the empty key
        # is written.
        ("interface", "wlan1vap7", None, "wpa-personal-key", ""),
    ]
    assert wlan_ap.submit_log() == ""


def test_set_radio_2_touches_only_security_and_keys_of_wlan0(ap, client):
    assert send_set(client, ap, set_body(2, {1: ("ignored", "99", "6", "")}, state=1)) == [
        ("interface", "wlan0", None, "wpa-personal-key", ""),
        ("interface", "wlan0vap1", None, "security", "plain-text"),
    ]
