"""Date and time: the AP's clock, NTP fields from the store, a set printed and ignored."""

import datetime
import re

import tarnclient as tc
from conftest import tarnd_writes

GET, SET = 0xAC, 0xAD
CLOCK = "%Y%m%d%H%M%S"


def get(client, ap, tag=0x1234):
    replies = client.exchange(tc.to(ap, GET, tag=tag), count=1)
    assert len(replies) == 1, replies
    return replies[0]


def ap_clock(ap):
    return datetime.datetime.strptime(ap.run("date +" + CLOCK, check=True).stdout.strip(), CLOCK)


def test_a_set_is_printed_and_ignored_and_get_reports_the_ap_clock_and_ntp(ap, client):
    seq = ap.journal_seq()
    # A leap day past the 32-bit limit stays text, so a 32-bit device never wraps it.
    body = (tc.text_field("20400229120000", 16) + bytes([0x1E, 0x55, 1, 1])
            + tc.text_field("time.example.org", 64))
    assert client.result(tc.to(ap, SET, body, tag=0x0AD), ap) == 0
    digits = ", ".join(f"{b:x}" for b in b"20400229120000") + ", 0, 0, "
    ap.wait_output(re.escape(f"DateTime = 20400229120000, {digits}\nTime-zone = 1e(Hex), 30(DEC)\n"
                             "DaylightSaving = 1\nNTP = 1\nNTP_Server = time.example.org\n"))
    # Zone zero: no time-zone line; full-width fields stop at their width.
    assert client.result(tc.to(ap, SET, b"A" * 16 + b"\0" * 4 + b"s" * 64), ap) == 0
    ap.wait_output(r"DateTime = A{16}, (41, ){16}\nDaylightSaving = 0\nNTP = 0\n"
                   r"NTP_Server = s{64}\n")
    assert tarnd_writes(ap, seq) == []

    before, reply, after = ap_clock(ap), get(client, ap, tag=0x0AC), ap_clock(ap)
    assert reply[:22] == tc.header(tc.TYPE_REPLY, 0x0AC, GET, ap.mac, ap.ip, 0, 2, 100)
    got = datetime.datetime.strptime(reply[22:36].decode(), CLOCK)
    assert before - datetime.timedelta(seconds=1) <= got <= after + datetime.timedelta(seconds=1)
    # Factory settings: NTP "up" with a server; a full-width name has no terminator.
    server = tc.text_field(ap.store_get("ntp", "server"), 64)
    assert reply[36:] == b"\0\0" + b"\0\0\0\x01" + server + b"\0" * 16
    ap.store_set("ntp", "server", "n" * 60 + ".net")
    assert get(client, ap)[42:] == b"n" * 60 + b".net" + b"\0" * 16
    ap.store_set("ntp", "status", "down")
    assert get(client, ap)[38:] == b"\0" * 84      # the stored server is hidden
