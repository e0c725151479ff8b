"""The soak test's traffic: a seeded mix of valid requests, wrong
credentials, truncated, oversized and random datagrams, wrong types and
wrong addressing, written as a replay file for tarn_load.

Requests are encoded with the tests' own encoding (tests/integration/
tarnclient.py), not the daemon's. Nothing in the mix may change the device
beyond writing back its current values: no reboot, reset, password change,
clock change or transfer start, and a write request is never cut short
(a short body would write zeros). `accepted_ops` is the check the tests
make of that.
"""

import random
import socket
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))

import tarnclient as tc  # noqa: E402

MAX_UDP = 65507
PROBE_EVERY = 3          # mix datagrams between two probes
TAG_LIMIT = 0x8000       # tarn_load gives probes the tags above

# Operations the mix must never get accepted by the device.
FORBIDDEN_OPS = {0xA4, 0xAA, 0xAB, 0xAD, 0x103}
TRANSFER_OPS = {0x100, 0x101, 0x102}
SST_QUERY = 2

# Settings the valid write requests write (with the values they already
# have); (section, key), or (section, None) for a whole section.
WRITTEN = {
    ("system", "system-name"), ("management", "dhcp-status"), ("management", "static-ip"),
    ("static-ip-route", "mask"), ("static-ip-route", "gateway"), ("host", "static-dns-1"),
    ("host", "static-dns-2"), ("host", "dns-via-dhcp"),
    ("management", "ipv6-autoconfig-status"), ("management", "static-ipv6"),
    ("management", "static-ipv6-prefix-length"), ("static-ipv6-route", "gateway"),
    ("snmp", None), ("config", "startup"),
    ("radio", None), ("interface", None), ("vap", None), ("bss", None),
}


def written(section, key):
    return (section, key) in WRITTEN or (section, None) in WRITTEN


# ---------------------------------------------------------------- valid requests

def _ip4(text):
    try:
        return socket.inet_aton(text)
    except OSError:
        return b"\0" * 4


def _ip6(text):
    try:
        return socket.inet_pton(socket.AF_INET6, text)
    except OSError:
        return b"\0" * 16


def basic_info_body(store):
    """A set-basic-info body that writes back what `store(section, key)`
    holds."""
    body = bytearray(155)
    body[0:64] = tc.text_field(store("system", "system-name"), 64)
    body[64:68] = _ip4(store("management", "static-ip"))
    body[71] = 0 if store("host", "dns-via-dhcp") == "up" else 1
    body[72:76] = _ip4(store("static-ip-route", "mask"))
    body[76:80] = _ip4(store("static-ip-route", "gateway"))
    body[80:84] = _ip4(store("host", "static-dns-1"))
    body[84:88] = _ip4(store("host", "static-dns-2"))
    body[88] = 0 if store("management", "dhcp-status") == "down" else 1
    body[89:105] = _ip6(store("management", "static-ipv6"))
    prefix = store("management", "static-ipv6-prefix-length")
    body[105] = int(prefix) & 0xFF if prefix.isdigit() else 0
    body[154] = 1 if store("management", "ipv6-autoconfig-status") == "up" else 0
    return bytes(body)


def snmp_body(store):
    return (bytes([1 if store("snmp", "status") == "up" else 0])
            + tc.text_field(store("snmp", "ro-community"), 32)
            + tc.text_field(store("snmp", "rw-community"), 32))


def wlan_set_body(radio, get_reply):
    """A multi-SSID set body with the entries of the radio's get reply."""
    entries = bytes(get_reply[tc.HEADER_LEN + 3:tc.HEADER_LEN + 3 + 8 * 56]).ljust(448, b"\0")
    return bytes([radio, 1]) + entries


def templates(mac, ip, store, wlan_replies):
    """(valid requests that only read, valid requests that write back
    current values); each a list of datagrams addressed to the AP.
    `wlan_replies` maps radio index -> multi-SSID get reply."""
    def to(op, body=b"", **kw):
        return tc.request(op, body, mac=mac, ip=ip, **kw)

    def query(op):
        return to(op, bytes([SST_QUERY]) + bytes(134))

    reads = [
        to(0xA1), to(0xD0), to(0xA5), to(0xA3), to(0xA6), to(0xAC), to(0xC9),
        to(0xD8, b"\0"), to(0xD8, b"\1"), query(0x100), query(0x101), query(0x102),
        # A refused VLAN request (option 1 set) changes nothing.
        to(0xD2, bytes(36) + b"\1" + bytes(129)),
        tc.request(0xA1, addressed=False), tc.request(0xD0, addressed=False),
        tc.request(0xA5, addressed=False),
    ]
    writes = [
        to(0xA2, basic_info_body(store)), to(0xD4, snmp_body(store)), to(0xC0),
        to(0xA7, bytes(131) + b"\xff" + bytes(393)),
    ] + [to(0xD1, wlan_set_body(r, reply)) for r, reply in sorted(wlan_replies.items())]
    return reads, writes


# ---------------------------------------------------------------- mutations

def _with_tag(datagram, rng):
    d = bytearray(datagram)
    if len(d) >= 4:
        d[2:4] = struct.pack("<H", rng.randrange(TAG_LIMIT))
    return bytes(d)


def wrong_credentials(mac, ip, rng):
    op = rng.choice([0xA3, 0xA5, 0xA6, 0xC9, 0xD8, 0xAC])
    auth = rng.choice([("admin", "wrong"), ("admin", ""), ("root", "x" * 40),
                       ("admin", "tarnadmin!"), ("", "")])
    d = bytearray(tc.request(op, mac=mac, ip=ip, auth=auth))
    if rng.random() < 0.3:  # not Base64 at all
        d[22:150] = bytes(rng.randrange(256) for _ in range(128))
    return bytes(d)


def truncated(reads, rng):
    # Not the refused VLAN request: cut before its option flag it would
    # be accepted and run the address commands.
    d = rng.choice([r for r in reads if tc.parse_header(r).op != 0xD2])
    return d[:rng.randrange(len(d))]


def oversized(reads, writes, rng):
    d = rng.choice(reads + writes)
    size = rng.randrange(4000, MAX_UDP + 1) if rng.random() < 0.05 else rng.randrange(4000, 9000)
    return d + rng.randbytes(size - len(d))


def random_bytes(rng):
    d = bytearray(rng.randbytes(rng.randrange(0, 1500)))
    if d[:2] == b"\xfd\xfd":
        d[0] = 0
    return bytes(d)


def wrong_type(reads, writes, rng):
    d = bytearray(rng.choice(reads + writes))
    kind = rng.choice([0xFEEE, 0xFFFF, 0x0000, rng.randrange(0x10000)])
    d[0:2] = struct.pack("<H", 0 if kind == 0xFDFD else kind)
    return bytes(d)


def wrong_address(mac, ip, reads, writes, rng):
    d = bytearray(rng.choice(reads + writes))
    match rng.randrange(5):
        case 0:  # broadcast addressing of an operation that must be addressed
            d[4:6] = struct.pack("<H", rng.choice([0xA2, 0xA3, 0xC0, 0xD4, 0xD8, 0x100]))
            d[6:12], d[12:16], d[16:18] = b"\xff" * 6, bytes(4), bytes(2)
        case 1:  # another device's MAC
            d[6:12] = bytes([2, 0, 0, 0, 0xEE, rng.randrange(256)])
        case 2:  # another address
            d[12:16] = bytes([192, 0, 2, 200])
        case 3:  # neither broadcast nor addressed
            d[16:18] = struct.pack("<H", rng.choice([1, 0x7776, 0xFFFF]))
        case 4:  # an operation the device does not have, correctly addressed
            d = bytearray(tc.request(rng.choice([0x99, 0xA0, 0x104, 0xFFFF]), mac=mac, ip=ip,
                                     auth=None))
    return bytes(d)


KINDS = (  # name, weight
    ("valid read", 30), ("valid write", 8), ("wrong credentials", 10), ("truncated", 10),
    ("oversized", 5), ("random bytes", 12), ("wrong type", 10), ("wrong addressing", 15),
)


def generate(count, seed, mac, ip, reads, writes):
    """`count` datagrams: the mix with a neighbour-query probe after every
    PROBE_EVERY of them, ending with a probe. Returns [(is_probe,
    datagram)] and the number of mix datagrams of each kind."""
    rng = random.Random(seed)
    names = [k for k, _ in KINDS]
    weights = [w for _, w in KINDS]
    make = {
        "valid read": lambda: rng.choice(reads),
        "valid write": lambda: rng.choice(writes),
        "wrong credentials": lambda: wrong_credentials(mac, ip, rng),
        "truncated": lambda: truncated(reads, rng),
        "oversized": lambda: oversized(reads, writes, rng),
        "random bytes": lambda: random_bytes(rng),
        "wrong type": lambda: wrong_type(reads, writes, rng),
        "wrong addressing": lambda: wrong_address(mac, ip, reads, writes, rng),
    }
    probe = tc.request(0xD0, mac=mac, ip=ip)
    out, tally = [], dict.fromkeys(names, 0)
    while len(out) < count:
        if len(out) % (PROBE_EVERY + 1) == PROBE_EVERY or len(out) == count - 1:
            out.append((True, probe))
            continue
        kind = rng.choices(names, weights)[0]
        tally[kind] += 1
        out.append((False, _with_tag(make[kind](), rng)))
    return out, tally


def write_replay(path, datagrams):
    with open(path, "wb") as f:
        for is_probe, d in datagrams:
            f.write(struct.pack("<BI", 1 if is_probe else 0, len(d)) + d)


# ---------------------------------------------------------------- what the device accepts

def accepted_ops(datagram, mac, ip):
    """(op, body) if the device would serve `datagram` as a request (type,
    addressing), else None; the body is what the handler reads, after
    the credential block where the op has one."""
    if len(datagram) < 2 or datagram[0:2] != b"\xfd\xfd":
        return None
    h = tc.parse_header(datagram)
    if h.status == 0:
        ok = h.mac == b"\xff" * 6 and h.ip == bytes(4) and h.op in (0xA1, 0xA5, 0xD0)
    else:
        ok = h.status == tc.ADDRESSED and h.mac == bytes(mac) and h.ip == bytes(ip)
    if not ok:
        return None
    auth = tc.OPS.get(h.op, ("", False))[1]
    return h.op, bytes(datagram[tc.HEADER_LEN + (tc.CRED_LEN if auth else 0):])
