"""Date and time, end to end in the device sandbox: the reported clock is
the AP's, the NTP fields follow the store, and a set request is printed
and otherwise ignored."""

import datetime
import re

import tarnclient as tc

GET, SET = 0xAC, 0xAD
CLOCK = "%Y%m%d%H%M%S"


def only_reply(client, datagram):
    replies = client.exchange(datagram, count=1)
    assert len(replies) == 1, replies
    return replies[0]


def ap_clock(ap):
    res = ap.run("date +%Y%m%d%H%M%S", check=True)
    return datetime.datetime.strptime(res.stdout.strip(), CLOCK)


def reported_clock(reply):
    digits = reply[22:36]
    assert digits.isdigit(), digits
    assert reply[36:38] == b"\0\0"
    return datetime.datetime.strptime(digits.decode(), CLOCK)


def assert_close(a, b):
    # The two readings are taken one after the other by different programs.
    assert abs((a - b).total_seconds()) <= 2, (a, b)


def test_get_reports_the_ap_clock_and_ntp(ap, client):
    before = ap_clock(ap)
    reply = only_reply(client, tc.to(ap, GET, tag=0x0AC))
    after = ap_clock(ap)
    h = tc.parse_header(reply)
    assert (len(reply), h.type, h.tag, h.op, h.mac, h.ip, h.status, h.ret_flag, h.body_len) == \
        (122, tc.TYPE_REPLY, 0x0AC, GET, ap.mac, ap.ip, 0, 2, 100)
    got = reported_clock(reply)
    assert before - datetime.timedelta(seconds=1) <= got <= after + datetime.timedelta(seconds=1)
    body = reply[22:]
    # Factory settings: NTP "up" with a server.
    assert body[16:20] == b"\0\0\0\x01"
    assert body[20:84] == tc.text_field(ap.store_get("ntp", "server"), 64)
    assert body[84:100] == b"\0" * 16


def test_ntp_down_hides_the_stored_server(ap, client):
    ap.store_set("ntp", "status", "down")
    body = only_reply(client, tc.to(ap, GET))[22:]
    assert body[19] == 0
    assert body[20:100] == b"\0" * 80


def test_ntp_server_of_full_width(ap, client):
    name = "n" * 60 + ".net"
    ap.store_set("ntp", "server", name)
    body = only_reply(client, tc.to(ap, GET))[22:]
    assert body[20:84] == name.encode()
    assert body[84:100] == b"\0" * 16


def set_body(date, zone, reserved, dst, ntp, server):
    return (tc.text_field(date, 16) + bytes([zone, reserved, dst, ntp])
            + tc.text_field(server, 64))


def test_set_prints_the_request_and_changes_nothing(ap, client):
    seq = ap.journal_seq()
    body = set_body("19990102030405", 0x1E, 0x55, 1, 1, "time.example.org")
    reply = only_reply(client, tc.to(ap, SET, body, tag=0x0AD))
    assert reply == tc.header(tc.TYPE_REPLY, 0x0AD, SET, ap.mac, ap.ip, 0, 2, 16) + b"\0" * 16
    digits = ", ".join(f"{b:x}" for b in b"19990102030405") + ", 0, 0, "
    ap.wait_output(re.escape(
        f"DateTime = 19990102030405, {digits}\n"
        "Time-zone = 1e(Hex), 30(DEC)\n"
        "DaylightSaving = 1\n"
        "NTP = 1\n"
        "NTP_Server = time.example.org\n"))
    assert [e for e in ap.journal(after=seq) if e.writer == "tarnd"] == []
    # The clock keeps running on its own.
    assert_close(reported_clock(only_reply(client, tc.to(ap, GET))), ap_clock(ap))


def test_set_without_zone_and_full_width_fields(ap, client):
    body = set_body("A" * 16, 0, 0, 0, 0, "s" * 64)
    reply = only_reply(client, tc.to(ap, SET, body))
    assert reply[22:] == b"\0" * 16
    # No time-zone line between the date and the daylight-saving lines.
    ap.wait_output(r"DateTime = A{16}, (41, ){16}\nDaylightSaving = 0\nNTP = 0\n"
                   r"NTP_Server = s{64}\n")
