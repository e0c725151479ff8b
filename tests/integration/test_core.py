"""The daemon core over real UDP in the device sandbox: the announcement,
its period, the addressing rules, the core's own replies, credentials,
message capture and queued requests."""

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


def addressed(ap, op, tag=0x1234, body=b""):
    return header(REQUEST, op, ap.mac, ap.ip, ADDRESSED, tag, len(body)) + body


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


def fresh_announcement(ap, args=None):
    """Restarts the daemon and returns its first announcement."""
    ap.stop_daemon()
    tarnsim.drain(ap.segment.watcher)
    ap.start_daemon(args, wait=False)
    return ap.wait_announcement(timeout=15)


# ---------------------------------------------------------------- announcement

def test_announcement_is_the_seeded_device(ap):
    got = fresh_announcement(ap)
    assert len(got) == 317
    assert got == expected_announcement(ap)


def test_announcement_carries_ipv6_when_enabled(ap_factory):
    ap = ap_factory(seed=[("management", "ipv6-status", "up"),
                           ("management", "static-ipv6", "2001:db8::77"),
                           ("management", "static-ipv6-prefix-length", "300")])
    got = fresh_announcement(ap)
    assert got == expected_announcement(ap, socket.inet_pton(socket.AF_INET6, "2001:db8::77"))
    assert got[-1] == 44  # 300 cut to one byte


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

def test_broadcast_discovery_is_answered(ap, client):
    replies = client.exchange(header(REQUEST, 0xA1, ALL_MAC, NO_IP, BROADCAST, tag=0x0A0B))
    assert len(replies) == 1
    assert replies[0][0:6] == b"\xee\xfe\x0b\x0a\xa1\x00"


@pytest.mark.parametrize("name,build", [
    ("broadcast with a target address",
     lambda ap: header(REQUEST, 0xA1, ALL_MAC, OTHER_IP, BROADCAST)),
    ("broadcast of an operation that needs addressing",
     lambda ap: header(REQUEST, 0xA2, ALL_MAC, NO_IP, BROADCAST) + creds()),
    ("broadcast of an unknown operation",
     lambda ap: header(REQUEST, 0x99, ALL_MAC, NO_IP, BROADCAST)),
    ("addressed to another MAC with our address",
     lambda ap: header(REQUEST, 0x99, OTHER_MAC, ap.ip, ADDRESSED)),
    ("addressed to our MAC with another address",
     lambda ap: header(REQUEST, 0x99, ap.mac, OTHER_IP, ADDRESSED)),
    ("unknown addressing mode",
     lambda ap: header(REQUEST, 0x99, ap.mac, ap.ip, 0x7778)),
    ("a reply message", lambda ap: header(REPLY, 0x99, ap.mac, ap.ip, ADDRESSED)),
    ("an announcement", lambda ap: header(ANNOUNCE, 0xA0, ap.mac, ap.ip, 0)),
])
def test_dropped_without_answer(ap, client, name, build):
    assert client.exchange(build(ap), timeout=1.5) == [], name


def test_unknown_operation_gets_not_supported(ap_factory, client):
    ap = ap_factory(daemon_args=[])  # debug level 0
    req = addressed(ap, 0x99, tag=0xBEEF)
    assert client.exchange(req) == [core_reply(req, 3)]
    ap.wait_output(r"pMsg->uOP_Code = 153 not support\n")
    assert ap.stderr_text() == ""


def test_wrong_password_gets_auth_failure(ap, client):
    req = addressed(ap, 0xA3) + creds("admin", "tarnadmin!")
    assert client.exchange(req) == [core_reply(req, 2)]


def test_other_user_name_with_right_password_is_accepted(ap, client):
    req = addressed(ap, 0xA3) + creds("guest", "tarnadmin")
    replies = client.exchange(req)
    assert len(replies) == 1
    assert replies[0][16:18] == b"\x00\x00"


def test_renamed_account_refuses_every_protected_operation(ap, client):
    ap.store_set("system", "username", "root")
    seq = ap.journal_seq()
    for op in PROTECTED_OPS:
        req = addressed(ap, op, tag=op) + creds()
        if op == 0xA5:
            req = header(REQUEST, op, ALL_MAC, NO_IP, BROADCAST, tag=op) + creds()
        assert client.exchange(req) == [core_reply(req, 2)], hex(op)
    assert ap.journal(after=seq) == []


def test_discovery_trace_at_debug_level_one(ap, client):
    client.exchange(header(REQUEST, 0xA1, ALL_MAC, NO_IP, BROADCAST))
    ap.wait_output(r"tarnd: done\.\n", stream="stderr")
    # The accessors' own trace (the DNS2 line) comes between the handler's
    # lines; only the loop's and the handler's lines are checked here.
    trace = [line for line in ap.stderr_text().splitlines(keepends=True)
             if line.startswith("tarnd: ") and not line.startswith("tarnd: DNS2=")]
    assert trace[-6:] == [
        "tarnd: Get a request. ID=0xfdfd\n",
        "tarnd: process request 0x00a1 begin...\n",
        "tarnd: FUNC:funcDiscover...\n",
        "tarnd: sending reply(cnt=505)...\n",
        "tarnd: FUNC:funcDiscover...\n",
        "tarnd: done.\n",
    ]


# ---------------------------------------------------------------- capture

def test_capture_saves_requests_and_replies_in_order(ap_factory, client):
    ap = ap_factory(daemon_args=["-d"])
    req = addressed(ap, 0x99, tag=0x0101) + b"payload"
    reply_msg = header(REPLY, 0xA1, ap.mac, ap.ip, 0, tag=0x0202)
    client.exchange(req)
    client.send(reply_msg)
    ap.wait_until(lambda: ap.exists("/Volume_1/tarn_msg_0001"), timeout=5,
                  what="second capture file")
    assert ap.read_bytes("/Volume_1/tarn_req_0000") == req
    assert ap.read_bytes("/Volume_1/tarn_msg_0001") == reply_msg
    err = ap.stderr_text()
    assert "received a request message. save it to /Volume_1/tarn_req_0000 now.\n" in err
    assert "received a reply message. save it to /Volume_1/tarn_msg_0001 now.\n" in err


def test_capture_keeps_dropped_requests(ap_factory, client):
    ap = ap_factory(daemon_args=["-d"])
    dropped = header(REQUEST, 0x99, OTHER_MAC, ap.ip, ADDRESSED)
    assert client.exchange(dropped, timeout=1.5) == []
    ap.wait_until(lambda: ap.exists("/Volume_1/tarn_req_0000"), timeout=5, what="capture file")
    assert ap.read_bytes("/Volume_1/tarn_req_0000") == dropped


def test_no_capture_without_debug(ap_factory, client):
    ap = ap_factory(daemon_args=[])
    req = addressed(ap, 0x99)
    assert client.exchange(req) == [core_reply(req, 3)]
    client.send(header(REPLY, 0xA1, ap.mac, ap.ip, 0))
    time.sleep(0.5)
    assert ap.run("ls -A /Volume_1").stdout == ""


# ---------------------------------------------------------------- queueing

def test_queued_datagrams_are_all_served(ap, client):
    first = addressed(ap, 0x99, tag=0x0001)
    second = addressed(ap, 0x98, tag=0x0002)
    client.send(first)
    client.send(second)
    replies = client.replies(timeout=2)
    assert replies == [core_reply(first, 3), core_reply(second, 3)]
