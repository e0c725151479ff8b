"""The daemon core over real UDP in the device sandbox."""

import socket
import struct
import time

import pytest

import tarnclient as tc
import tarnsim

OTHER_MAC = bytes.fromhex("020000000063")
OTHER_IP = bytes([10, 0, 0, 1])
CAPTURE = "/Volume_1"  # the daemon's default capture folder, in the sandbox
PROTECTED_OPS = [op for op, (_, protected) in tc.OPS.items() if protected]


def core_reply(request, status):
    """The request's first 16 bytes typed as a reply, then status, flag 2, no body."""
    return b"\xee\xfe" + request[2:16] + struct.pack("<HHH", status, 2, 0)


def fresh_announcement(ap):
    ap.stop_daemon()
    tarnsim.drain(ap.segment.watcher)
    ap.start_daemon(wait=False)
    return ap.wait_announcement(timeout=15)


def test_announcement_is_the_seeded_device(ap_factory):
    ap = ap_factory(seed=[("management", "ipv6-status", "up"),
                          ("management", "static-ipv6", "2001:db8::77"),
                          ("management", "static-ipv6-prefix-length", "300")])
    t, get = tc.text_field, ap.store_get
    body = b"".join([
        t("WLAN-EAP", 64), t("AP", 32), t(get("system", "version"), 32), ap.mac, t("A1", 32),
        t("", 32), t(get("system", "system-name"), 64), ap.ip,
        socket.inet_aton(get("management", "mask")), t("LAN1", 8),
        socket.inet_pton(socket.AF_INET6, "2001:db8::77"), bytes([300 & 0xFF]),
    ])
    head = tc.header(tc.TYPE_ANNOUNCE, 0, 0xA0, ap.mac, ap.ip, 0, 2, 295)
    assert fresh_announcement(ap) == head + body


@pytest.mark.slow
def test_announcements_keep_their_period_under_requests(ap, client):
    """A request every 10 s neither restarts the countdown nor brings an announcement forward."""
    fresh_announcement(ap)
    start, arrivals, next_request = time.monotonic(), [0.0], 10.0
    while (elapsed := time.monotonic() - start) < 65.0:
        if elapsed >= next_request:
            client.send(tc.request(0xA1, addressed=False))
            next_request += 10.0
        got = tarnsim.receive(ap.segment.watcher, min(next_request, 65.0) - elapsed)
        if got and got[0][0:2] == b"\xff\xff" and got[0][6:12] == ap.mac:
            arrivals.append(time.monotonic() - start)
    gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
    assert len(arrivals) == 3 and all(28.0 < g < 33.0 for g in gaps), (arrivals, gaps)


def test_requests_for_another_device_are_dropped_without_answer(ap, client):
    for req in (tc.request(0xA1, addressed=False, ip=OTHER_IP),  # broadcast with a target address
                tc.request(0x99, mac=OTHER_MAC, ip=ap.ip),       # another MAC, our address
                tc.request(0x99, mac=ap.mac, ip=OTHER_IP)):      # our MAC, another address
        assert client.exchange(req, timeout=1.5) == [], req


def test_unknown_operation_at_debug_level_zero(ap_factory, client):
    """Not supported, the stdout line, no trace and nothing captured."""
    ap = ap_factory(daemon_args=[])
    # Queued behind a reply message, which is read and ignored, the request is served.
    client.send(tc.header(tc.TYPE_REPLY, 0x1234, 0xA1, ap.mac, ap.ip, 0))
    req = tc.to(ap, 0x99, tag=0xBEEF)
    assert client.exchange(req) == [core_reply(req, 3)]
    ap.wait_output(r"pMsg->uOP_Code = 153 not support\n")
    assert (ap.stderr_text(), ap.run(f"ls -A {CAPTURE}").stdout) == ("", "")


def test_renamed_account_refuses_every_protected_operation(ap, client):
    ap.store_set("system", "username", "root")
    seq = ap.journal_seq()
    for op in PROTECTED_OPS:
        # The supported-operations list is asked by broadcast.
        req = tc.request(op, tag=op, addressed=False) if op == 0xA5 else tc.to(ap, op, tag=op)
        assert client.exchange(req) == [core_reply(req, 2)], hex(op)
    assert (ap.journal(after=seq), ap.submit_log()) == ([], "")


def test_capture_saves_every_request_and_reply_in_order(ap, client):
    """Dropped requests too; the daemon runs with -d."""
    dropped = tc.request(0x99, mac=OTHER_MAC, ip=ap.ip)
    req = tc.to(ap, 0x99, b"payload", tag=0x0101, body_len=0)
    reply_msg = tc.header(tc.TYPE_REPLY, 0x0202, 0xA1, ap.mac, ap.ip, 0)
    client.send(dropped)
    client.exchange(req)
    client.send(reply_msg)
    ap.wait_until(lambda: ap.exists(f"{CAPTURE}/tarn_msg_0002"), timeout=5,
                  what="third capture file")
    assert [ap.read_bytes(f"{CAPTURE}/tarn_{n}") for n in ("req_0000", "req_0001", "msg_0002")] == [
        dropped, req, reply_msg]
