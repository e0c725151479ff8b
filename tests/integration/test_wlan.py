"""Multi-SSID requests over real UDP in the device sandbox: the whole get
reply against the AP's store for every radio index, and the store writes
of a set request in their order.

The expected get reply is built here from a dump of the store with the
device's naming rules written out a second time: radio index 0 is the store
radio "wlan1", index 1 is "wlan0"; any other index leaves mode, SSID and
VLAN id alone but reads security and key from "wlan0"."""

import pytest

import tarnclient as tc

GET, SET = 0xD8, 0xD1
BODY_LEN = 451
ENTRY_LEN = 56
RADIO_OBJECT = {0: "wlan1", 1: "wlan0"}
BAND_MODES = {0: ("bg", "bg-n", "n-only-g"), 1: ("a", "a-n", "n-only-a")}

# A store with every kind of network on both radios, on top of the factory
# defaults.
SEED = [
    ("interface", "wlan1vap3", "ssid", "wep-lab"),
    ("interface", "wlan1vap3", "security", "static-wep"),
    ("interface", "wlan1vap3", "wep-default-key", "2"),
    ("interface", "wlan1vap3", "wep-key-1", "unused-key"),
    ("interface", "wlan1vap3", "wep-key-2", "C0FFEE1234"),
    ("interface", "wlan1vap5", "security", "wpa-enterprise"),
    ("bss", "wlan1bssvap5", "wpa2-allowed", "off"),
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


# ---- the store, read independently ---------------------------------------

def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def store_of(ap):
    """{(section, object, qualifier, key): value} from one dump."""
    values = {}
    for line in ap.lsql("dump").splitlines():
        section, obj, qual, key, value = (_unescape(f) for f in line.split("\t"))
        values[(section, None if obj == "-" else obj, None if qual == "-" else qual, key)] = value
    return values


def text(value, width):
    return (value or "").encode()[:width].ljust(width, b"\0")


def network(w, k):
    return f"wlan{w}" if k == 0 else f"wlan{w}vap{k}"


def security_code(store, w, k):
    security = store.get(("interface", network(w, k), None, "security"))
    wpa2 = store.get(("bss", f"wlan{w}bssvap{k}", None, "wpa2-allowed")) == "on"
    return {"plain-text": "6", "static-wep": "1",
            "wpa-personal": "4" if wpa2 else "2",
            "wpa-enterprise": "5" if wpa2 else "3"}.get(security)


def key_of(store, w, k):
    net = network(w, k)
    security = store.get(("interface", net, None, "security"))
    if security == "wpa-personal":
        return store.get(("interface", net, None, "wpa-personal-key"))
    if security == "static-wep":
        number = store.get(("interface", net, None, "wep-default-key"))
        return store.get(("interface", net, None, f"wep-key-{number}")) if number else None
    return None


def expected_get_body(store, radio):
    obj = RADIO_OBJECT.get(radio)
    w = 1 if radio == 0 else 0
    mode = store.get(("radio", obj, None, "mode")) if obj else None
    body = bytearray(3)
    body[2] = radio if obj and mode in BAND_MODES[radio] else 0
    for k in range(8):
        ssid = store.get(("interface", network(w, k), None, "ssid")) if obj else None
        vlan = store.get(("vap", f"vap{k}", f"radio={obj}", "vlan-id")) if obj else None
        body += text(ssid, 32) + text(vlan, 4) + text(security_code(store, w, k), 4) \
            + text(key_of(store, w, k), 16)
    assert len(body) == BODY_LEN
    return bytes(body)


def get(client, ap, radio, tag=0x5150):
    replies = client.exchange(tc.to(ap, GET, bytes([radio]), tag=tag), count=1)
    assert len(replies) == 1
    return replies[0]


def reply_header(ap, op, tag):
    return tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ap.ip, 0, 2, BODY_LEN)


# ---- get -------------------------------------------------------------------

@pytest.mark.parametrize("radio", [0, 1, 2])
def test_get_reply_is_the_store_of_the_radio(wlan_ap, client, radio):
    reply = get(client, wlan_ap, radio, tag=0x0D80 + radio)
    assert len(reply) == 22 + BODY_LEN
    expected = reply_header(wlan_ap, GET, 0x0D80 + radio) + expected_get_body(store_of(wlan_ap), radio)
    assert reply == expected


def test_get_fields_spelled_out(wlan_ap, client):
    """A few fields with their bytes written out, so that the expected
    reply's own reading of the store cannot hide a mistake."""
    def entry(reply, k):
        at = 22 + 3 + ENTRY_LEN * k
        return reply[at:at + ENTRY_LEN]

    r0 = get(client, wlan_ap, 0)
    assert r0[22:25] == b"\0\0\0"                       # bg-n: band code 0
    assert entry(r0, 0) == text("tarn-2g", 32) + text("1", 4) + text("4", 4) + text("tarnwifi24", 16)
    assert entry(r0, 3)[36:] == text("1", 4) + text("C0FFEE1234", 16)
    assert entry(r0, 5)[36:] == text("3", 4) + b"\0" * 16
    assert entry(r0, 7) == b"S" * 32 + b"4094" + text("2", 4) + b"a-passphrase-lon"

    r1 = get(client, wlan_ap, 1)
    assert r1[24] == 1                                  # a-n: band code 1
    assert entry(r1, 2)[:40] == b"five-" + b"x" * 27 + b"1234" + text("5", 4)

    r2 = get(client, wlan_ap, 2)
    assert r2[24] == 0
    assert entry(r2, 6) == b"\0" * 36 + text("4", 4) + text("sixth", 16)


def test_get_reads_nothing_into_the_store(wlan_ap, client):
    seq = wlan_ap.journal_seq()
    get(client, wlan_ap, 1)
    assert wlan_ap.journal(after=seq) == []


# ---- set -------------------------------------------------------------------

def set_body(radio, entries, state=0):
    """A set request body: entries {k: (ssid, vlan, code, key)}."""
    body = bytearray([radio, state])
    for k in range(8):
        ssid, vlan, code, key = entries.get(k, ("", "", "", ""))
        body += text(ssid, 32) + text(vlan, 4) + text(code, 4) + text(key, 16)
    return bytes(body)


def tarnd_writes(ap, after):
    return [(e.section, e.object, e.qualifier, e.key, e.value)
            for e in ap.journal(after=after) if e.writer == "tarnd"]


def send_set(client, ap, body, tag=0xD1D1):
    replies = client.exchange(tc.to(ap, SET, body, tag=tag), count=1)
    assert len(replies) == 1
    assert replies[0] == reply_header(ap, SET, tag) + b"\0" * BODY_LEN
    return replies[0]


def test_set_writes_in_order_and_reads_back(wlan_ap, client):
    seq = wlan_ap.journal_seq()
    send_set(client, wlan_ap, set_body(0, {
        0: ("lobby", "10", "4", "newpassphrase12"),
        3: ("wep-lab", "", "1", "ABCDEF0123"),
        6: ("L" * 32, "4094", "", ""),
    }))
    assert tarnd_writes(wlan_ap, seq) == [
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
    reply = get(client, wlan_ap, 0)
    at = 22 + 3
    assert reply[at:at + ENTRY_LEN] == \
        text("lobby", 32) + text("10", 4) + text("4", 4) + text("newpassphrase12", 16)
    at6 = at + 6 * ENTRY_LEN
    assert reply[at6:at6 + 36] == b"L" * 32 + b"4094"


def test_security_code_3_in_entry_4_of_radio_1(ap, client):
    ap.store_set("radio", "status", "down", object="wlan0")
    seq = ap.journal_seq()
    send_set(client, ap, set_body(1, {4: ("", "", "3", "not-a-key")}, state=0))
    assert tarnd_writes(ap, seq) == [
        ("radio", "wlan0", None, "status", "up"),
        # entry 0 is blank and wlan0 is "wpa-personal" by default
        ("interface", "wlan0", None, "wpa-personal-key", ""),
        ("interface", "wlan0vap4", None, "security", "wpa-enterprise"),
        ("bss", "wlan0bssvap4", None, "wpa-allowed", "on"),
        ("bss", "wlan0bssvap4", None, "wpa2-allowed", "off"),
    ]
    assert ap.store_get("radio", "status", object="wlan0") == "up"
    assert ap.store_get("interface", "security", object="wlan0vap4") == "wpa-enterprise"


def test_set_radio_2_touches_only_security_and_keys_of_wlan0(ap, client):
    seq = ap.journal_seq()
    send_set(client, ap, set_body(2, {1: ("ignored", "99", "6", "")}, state=1))
    assert tarnd_writes(ap, seq) == [
        ("interface", "wlan0", None, "wpa-personal-key", ""),
        ("interface", "wlan0vap1", None, "security", "plain-text"),
    ]


def test_set_does_not_commit(ap, client):
    seq = ap.journal_seq()
    send_set(client, ap, set_body(0, {0: ("x", "", "", "k")}))
    keys = [(s, k) for s, _, _, k, _ in tarnd_writes(ap, seq)]
    assert ("config", "startup") not in keys
    assert ap.submit_log() == ""
