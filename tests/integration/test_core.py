"""The daemon core over real UDP in the device sandbox: the announcement,
its period, the addressing rules that depend on the device's own address,
the core's own replies, credentials, message capture and queued requests."""

import base64
import socket
import struct
import time

import pytest

import tarnsim

REQUEST, REPLY, ANNOUNCE = 0xFDFD, 0xFEEE, 0xFFFF
BROADCAST, ADDRESSED = 0x0000, 0x7777
ALL_MAC = b"\xff" * 6
NO_IP = b"\x00" * 4
OTHER_MAC = bytes.fromhex("020000000063")
OTHER_IP = bytes([10, 0, 0, 1])
CAPTURE = "/Volume_1"  # the daemon's default capture folder, in the sandbox

# Operations whose table entry asks for the credential block.
PROTECTED_OPS = (0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xC0, 0xC9,
                 0xD1, 0xD2, 0xD8)


def header(msg_type, op, mac, ip, status, tag=0x1234, body_len=0):
    """22 header bytes, little-endian integers, addresses as they are."""
    return struct.pack("<HHH6s4sHHH", msg_type, tag, op, mac, ip, status, 0, body_len)


def creds(user="admin", password="tarnadmin"):
    """The credential block: two 64-byte Base64 text fields."""
    fields = [base64.b64encode(t.encode()).ljust(64, b"\0") for t in (user, password)]
    return b"".join(fields)


def addressed(ap, op, tag=0x1234):
    return header(REQUEST, op, ap.mac, ap.ip, ADDRESSED, tag)


def core_reply(request, status):
    """The core's 22-byte reply: the request's first 16 bytes typed as a
    reply, then status, flag 2, no body."""
    return b"\xee\xfe" + request[2:16] + struct.pack("<HHH", status, 2, 0)


def expected_announcement(ap, ipv6=b"\0" * 16):
    mask = socket.inet_aton(ap.store_get("management", "mask"))
    prefix = int(ap.store_get("management", "static-ipv6-prefix-length") or 0) & 0xFF

    def text(value, width):
        return value.encode().ljust(width, b"\0")[:width]

    body = b"".join([
        text("WLAN-EAP", 64), text("AP", 32), text(ap.store_get("system", "version"), 32),
        ap.mac, text("A1", 32), text("", 32), text(ap.store_get("system", "system-name"), 64),
        ap.ip, mask, text("LAN1", 8), ipv6, bytes([prefix]),
    ])
    assert len(body) == 295
    head = struct.pack("<HHH6s4sHHH", ANNOUNCE, 0, 0xA0, ap.mac, ap.ip, 0, 2, 295)
    return head + body


def fresh_announcement(ap):
    """Restarts the daemon and returns its first announcement."""
    ap.stop_daemon()
    tarnsim.drain(ap.segment.watcher)
    ap.start_daemon(wait=False)
    return ap.wait_announcement(timeout=15)


# ---------------------------------------------------------------- announcement

@pytest.mark.parametrize("seed,ipv6,prefix", [
    ([], b"\0" * 16, 64),  # IPv6 off: no address, the factory prefix length
    ([("management", "ipv6-status", "up"), ("management", "static-ipv6", "2001:db8::77"),
      ("management", "static-ipv6-prefix-length", "300")],
     socket.inet_pton(socket.AF_INET6, "2001:db8::77"), 44),  # 300 cut to one byte
])
def test_announcement_is_the_seeded_device(ap_factory, seed, ipv6, prefix):
    ap = ap_factory(seed=seed)
    got = fresh_announcement(ap)
    assert got == expected_announcement(ap, ipv6)
    assert len(got) == 317 and got[-1] == prefix


@pytest.mark.slow
def test_announcements_keep_their_period_under_requests(ap, client):
    """Announcements at 0, 30 and 60 s of waiting; a request every 10 s
    neither restarts the countdown (which would leave only the first) nor
    brings the next one forward."""
    first = fresh_announcement(ap)
    assert first[0:2] == b"\xff\xff"
    start = time.monotonic()
    arrivals = [0.0]
    next_request = 10.0
    discover = header(REQUEST, 0xA1, ALL_MAC, NO_IP, BROADCAST)
    while (elapsed := time.monotonic() - start) < 65.0:
        if elapsed >= next_request:
            client.send(discover)
            next_request += 10.0
        wait = min(next_request, 65.0) - elapsed
        got = tarnsim.receive(ap.segment.watcher, wait)
        if got and got[0][0:2] == b"\xff\xff" and got[0][6:12] == ap.mac:
            arrivals.append(time.monotonic() - start)
    gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
    print("announcement gaps:", [f"{g:.2f}" for g in gaps])
    assert len(arrivals) == 3, arrivals
    assert all(28.0 < g < 33.0 for g in gaps), gaps


# ---------------------------------------------------------------- addressing

@pytest.mark.parametrize("name,build", [
    ("broadcast with a target address",
     lambda ap: header(REQUEST, 0xA1, ALL_MAC, OTHER_IP, BROADCAST)),
    ("addressed to another MAC with our address",
     lambda ap: header(REQUEST, 0x99, OTHER_MAC, ap.ip, ADDRESSED)),
    ("addressed to our MAC with another address",
     lambda ap: header(REQUEST, 0x99, ap.mac, OTHER_IP, ADDRESSED)),
])
def test_dropped_without_answer(ap, client, name, build):
    assert client.exchange(build(ap), timeout=1.5) == [], name


def test_unknown_operation_at_debug_level_zero(ap_factory, client):
    """Not supported, the stdout line, no trace and nothing captured."""
    ap = ap_factory(daemon_args=[])
    client.send(header(REPLY, 0xA1, ap.mac, ap.ip, 0))
    req = addressed(ap, 0x99, tag=0xBEEF)
    assert client.exchange(req) == [core_reply(req, 3)]  # served after the reply message
    ap.wait_output(r"pMsg->uOP_Code = 153 not support\n")
    assert ap.stderr_text() == ""
    assert ap.run(f"ls -A {CAPTURE}").stdout == ""


# ---------------------------------------------------------------- credentials

def test_wrong_password_gets_auth_failure(ap, client):
    req = addressed(ap, 0xA3) + creds("admin", "tarnadmin!")
    assert client.exchange(req) == [core_reply(req, 2)]


def test_renamed_account_refuses_every_protected_operation(ap, client):
    ap.store_set("system", "username", "root")
    seq = ap.journal_seq()
    for op in PROTECTED_OPS:
        req = addressed(ap, op, tag=op) + creds()
        if op == 0xA5:
            req = header(REQUEST, op, ALL_MAC, NO_IP, BROADCAST, tag=op) + creds()
        assert client.exchange(req) == [core_reply(req, 2)], hex(op)
    assert ap.journal(after=seq) == []


# ---------------------------------------------------------------- capture and queueing

def test_capture_saves_every_request_and_reply_in_order(ap, client):
    """Dropped requests too; the daemon runs with -d."""
    dropped = header(REQUEST, 0x99, OTHER_MAC, ap.ip, ADDRESSED)
    req = addressed(ap, 0x99, tag=0x0101) + b"payload"
    reply_msg = header(REPLY, 0xA1, ap.mac, ap.ip, 0, tag=0x0202)
    client.send(dropped)
    client.exchange(req)
    client.send(reply_msg)
    ap.wait_until(lambda: ap.exists(f"{CAPTURE}/tarn_msg_0002"), timeout=5,
                  what="third capture file")
    assert ap.read_bytes(f"{CAPTURE}/tarn_req_0000") == dropped
    assert ap.read_bytes(f"{CAPTURE}/tarn_req_0001") == req
    assert ap.read_bytes(f"{CAPTURE}/tarn_msg_0002") == reply_msg


def test_queued_datagrams_are_all_served(ap, client):
    first = addressed(ap, 0x99, tag=0x0001)
    second = addressed(ap, 0x98, tag=0x0002)
    client.send(first)
    client.send(second)
    assert client.replies(timeout=2) == [core_reply(first, 3), core_reply(second, 3)]
