"""Multi-SSID get and set against the store. Radio index 0 is "wlan1", 1 "wlan0"; any
other leaves mode, SSID and VLAN alone but reads and writes wlan0's security and key."""

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


text = tc.text_field


def reply_header(ap, op, tag):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ap.ip, 0, 2, BODY_LEN)


def get(client, ap, radio):
    """The get reply's first three body bytes (band code last) and eight entries."""
    replies = client.exchange(tc.to(ap, GET, bytes([radio]), tag=0x0D80 + radio), count=1)
    header = reply_header(ap, GET, 0x0D80 + radio)
    assert [(r[:22], len(r)) for r in replies] == [(header, 22 + BODY_LEN)]
    return replies[0][22:25], [replies[0][25 + ENTRY_LEN * k:][:ENTRY_LEN] for k in range(8)]


def set_writes(client, ap, radio, entries, state=0):
    """The store writes of a set request with entries {k: (ssid, vlan, code, key)}."""
    body = bytearray([radio, state])
    for k in range(8):
        body += b"".join(text(v, w) for v, w in zip(entries.get(k, ("",) * 4), (32, 4, 4, 16)))
    seq = ap.journal_seq()
    assert client.exchange(tc.to(ap, SET, body, tag=0xD1D1), count=1) == [
        reply_header(ap, SET, 0xD1D1) + b"\0" * BODY_LEN]
    return [(e.section, e.object, e.qualifier, e.key, e.value)
            for e in ap.journal(after=seq) if e.writer == "tarnd"]


def test_get_fields_and_set_writes_in_order_without_commit(ap_factory, client):
    ap = ap_factory(seed=SEED)
    seq = ap.journal_seq()
    head, e = get(client, ap, 0)
    assert (head, e[0], e[7]) == (  # bg-n: band code 0
        b"\0\0\0", text("tarn-2g", 32) + text("1", 4) + text("4", 4) + text("tarnwifi24", 16),
        b"S" * 32 + b"4094" + text("2", 4) + b"a-passphrase-lon")
    head, e = get(client, ap, 1)  # a-n: band code 1
    assert (head[2], e[2][:40]) == (1, b"five-" + b"x" * 27 + b"1234" + text("5", 4))
    head, e = get(client, ap, 2)
    assert (head[2], e[6], ap.journal(after=seq)) == (
        0, b"\0" * 36 + text("4", 4) + text("sixth", 16), [])

    assert set_writes(client, ap, 0, {
        0: ("lobby", "10", "4", "newpassphrase12"),
        3: ("wep-lab", "", "1", "ABCDEF0123"),
        6: ("L" * 32, "4094", "", ""),
    }) == [
        ("radio", "wlan1", None, "status", "up"),
        ("interface", "wlan1", None, "ssid", "lobby"),
        ("vap", "vap0", "radio=wlan1", "vlan-id", "10"),
        # the security code is what a get reports: left as it is
        ("interface", "wlan1", None, "wpa-personal-key", "newpassphrase12"),
        ("interface", "wlan1vap3", None, "ssid", "wep-lab"),
        ("interface", "wlan1vap3", None, "security", "static-wep"),
        ("interface", "wlan1vap3", None, "wep-key-2", "ABCDEF0123"),
        ("interface", "wlan1vap6", None, "ssid", "L" * 32),
        ("vap", "vap6", "radio=wlan1", "vlan-id", "4094"),
        # blank, but its network is "wpa-personal": the empty key is written
        ("interface", "wlan1vap7", None, "wpa-personal-key", ""),
    ]
    # Radio 2 touches only wlan0's security and keys; wlan0vap1 is plain text already.
    assert set_writes(client, ap, 2, {1: ("ignored", "99", "6", "")}, state=1) == [
        ("interface", "wlan0", None, "wpa-personal-key", ""),
        ("interface", "wlan0vap6", None, "wpa-personal-key", ""),
    ]
    assert ap.submit_log() == ""
