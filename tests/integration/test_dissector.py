"""The Wireshark dissector tools/wireshark/tarn.lua through tshark, on the checked-in
session (tests/data/tarn-session.pcap) and on a live capture in the sandbox."""
import shutil
import subprocess
import sys

import pytest

import tarnclient as tc
from conftest import BUILD, SOURCE, ran

LUA = SOURCE / "tools" / "wireshark" / "tarn.lua"
SAMPLE = SOURCE / "tests" / "data" / "tarn-session.pcap"
sys.path.insert(0, str(SOURCE / "tools" / "wireshark"))

import capture_session as cs  # noqa: E402

pytestmark = pytest.mark.skipif(shutil.which("tshark") is None, reason="tshark is not installed")
T = cs.TAG


def tshark(pcap, *args, display_filter=None):
    argv = ["tshark", "-n", "-X", f"lua_script:{LUA}", "-2", "-r", str(pcap)]
    res = subprocess.run(argv + (["-Y", display_filter] if display_filter else []) + list(args),
                         capture_output=True, text=True, timeout=60)
    assert (res.returncode, "Lua Error" in res.stdout + res.stderr) == (0, False), res
    return res.stdout


def fields(pcap, display_filter, *names):
    """One dict per matching frame: field name -> list of its values."""
    args = ["-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|", *(f"-e{n}" for n in names)]
    return [{n: (c.split("|") if c else []) for n, c in zip(names, line.split("\t"))}
            for line in tshark(pcap, *args, display_filter=display_filter).splitlines()]


request_of = "tarn.type == 0xfdfd && tarn.tag == {:#06x}".format
reply_of = "tarn.type == 0xfeee && tarn.tag == {:#06x}".format

SAMPLE_VALUES = [  # a chosen field set per operation group: (display filter, {field: values})
    ("tarn.type == 0xffff && tarn.mac == 02:00:00:00:00:01 && frame.number < 10",
     {"tarn.body_len": ["295"], "tarn.announce.mac": ["02:00:00:00:00:01"],
      "tarn.announce.ip": ["192.0.2.11"], "tarn.announce.system_name": ["tarn-ap1"]}),
    (reply_of(T["discover_ap1"]),
     {"tarn.ret_flag": ["2"], "tarn.discover.product_name": ["Vemira AP"],
      "tarn.discover.web_port": ["80"], "tarn.discover.system_name": ["tarn-ap1"]}),
    (reply_of(T["supported"]) + " && ip.src == 192.0.2.11",
     {"tarn.supported.op": [f"{c:#06x}" for c in tc.OPS if not 0xA1 <= c <= 0xA5],
      "tarn.supported.end": ["0x0000"]}),
    (request_of(T["verify"]), {"tarn.addressing": ["0x7777"], "tarn.cred.user": ["admin"],
                               "tarn.cred.password_len": ["9"]}),
    (request_of(T["set_basic"]),
     {"tarn.basic.system_name": ["tarn-ap1-renamed"], "tarn.basic.dns2": [cs.STATIC["dns2"]],
      "tarn.basic.dhcp": ["0"], "tarn.basic.ipv6": [cs.STATIC["ipv6"]]}),
    (request_of(T["snmp"]), {"tarn.cred.user": [], "tarn.snmp.state": ["1"],
                             "tarn.snmp.rw_community": [cs.SNMP["rw"]]}),
    (reply_of(T["wlan_get"]) + " && tarn.mac == 02:00:00:00:00:01",  # entries from offset 3
     {"tarn.wlan.ssid": ["tarn-main", "guest", "", "tarn-guest", "", "", "", ""],
      "tarn.wlan.vlan_id": ["12", "1", "1", "300", "1", "1", "1", "1"],
      "tarn.wlan.key_len": ["15", "0", "0", "0", "0", "0", "0", "0"]}),
    (request_of(T["restore_v6_bad_server"]),
     {"tarn.transfer.addr_type": ["2"], "tarn.transfer.server_ipv6": ["2001:db8::1"],
      "tarn.transfer.file": [cs.FILE_NAME]}),
    (reply_of(T["firmware_bad_server"]), {"tarn.transfer.result_name": ["Refused"],
                                          "tarn.transfer.message": ["Invalid server type 7"]}),
]


@pytest.mark.parametrize("display_filter,expected", SAMPLE_VALUES,
                         ids=[f[0] for f in SAMPLE_VALUES])
def test_sample_fields(display_filter, expected):
    assert fields(SAMPLE, display_filter, *expected) == [expected]


def test_replies_link_to_their_requests():
    for r in fields(SAMPLE, "tarn.type == 0xfeee", "frame.number", "tarn.tag", "tarn.op",
                    "tarn.request_in"):
        assert len(r["tarn.request_in"]) == 1, r
        (req,) = fields(SAMPLE, f"frame.number == {r['tarn.request_in'][0]}", "tarn.type",
                        "tarn.tag", "tarn.op", "tarn.response_in")
        assert (req["tarn.type"], req["tarn.tag"], req["tarn.op"], r["frame.number"][0] in
                req["tarn.response_in"]) == (["0xfdfd"], r["tarn.tag"], r["tarn.op"], True), req
    # A broadcast collects every device's reply; a dropped request has none.
    answers = [fields(SAMPLE, request_of(T[t]), "tarn.response_in")
               for t in ("neighbor", "bad_addressing")]
    assert [[len(r["tarn.response_in"]) for r in rows] for rows in answers] == [[3], [0]], answers


def test_passwords_and_keys_are_never_shown():
    text = tshark(SAMPLE, "-V")
    assert ([s for s in (tc.DEFAULT_AUTH[1], "wrong-password", "other", cs.DDNS["password"],
                         cs.WLAN_MAIN["key"]) if s in text], "User name: admin" in text) == ([], True)


def test_expert_infos_only_on_the_malformed_and_refused_datagrams():
    rows = fields(SAMPLE, "_ws.expert", "tarn.type", "tarn.tag", "_ws.expert.message")
    assert [(r["tarn.type"], r["tarn.tag"], r["_ws.expert.message"]) for r in rows] == [
        (["0xfeee"], ["0x0202"], ["Authentication failed"]),
        (["0xfdfd"], ["0x0502"], ["Server type 7 is not one of the protocol's codes"]),
        (["0xfdfd"], ["0x0505"], ["Server type 9 is not one of the protocol's codes"]),
        ([], [], ["Truncated header: 10 of 22 bytes"]),
        (["0xfdfd"], ["0x0602"], ["Unknown operation 0x0099: body not decoded"]),
        (["0xfeee"], ["0x0602"], ["Unknown operation 0x0099: body not decoded", "Not supported"]),
        (["0xfdfd"], ["0x0603"], ["Body length 16, but 0 body bytes follow the credential block"]),
        (["0xfdfd"], ["0x0604"],
         ["Invalid addressing mode 0x1234: neither broadcast nor addressed"]),
        (["0xabcd"], [], ["Unknown message type 0xabcd: not a request, reply or announcement"]),
    ]


def test_live_capture_of_the_tarn_utility(segment, ap, at, tmp_path):
    with cs.capture(segment, tmp_path / "live.pcap", 0xAC) as pcap:
        ran(at("time", "get"))
    (req,) = fields(pcap, "tarn.type == 0xfdfd && tarn.op == 0xac", "tarn.cred.user",
                    "tarn.addressing", "tarn.response_in")
    assert (req["tarn.cred.user"], req["tarn.addressing"]) == (["admin"], ["0x7777"])
    (rep,) = fields(pcap, "tarn.type == 0xfeee && tarn.op == 0xac", "frame.number",
                    "tarn.datetime.datetime")
    assert (req["tarn.response_in"], len(rep["tarn.datetime.datetime"][0])) == (
        rep["frame.number"], 14)


def test_operations_follow_the_protocol_table(tmp_path):
    """Every operation of proto/operations.h with the table's body sizes, then a short header."""
    table = subprocess.run([BUILD / "proto" / "tarn-proto-ops"], capture_output=True, text=True,
                           check=True, timeout=30).stdout.split("\n")[:-1]
    lines, expected = [], []
    for row in table:
        code, name, cred, _, req_len, rep_len = row.split()
        code, req_len, rep_len = int(code, 16), int(req_len), int(rep_len)
        # Bodies read zero but for the codes a dissector needs to pick a layout: a transfer
        # start to an IPv4 TFTP server, and the supported-operations list.
        req_body, rep_body = bytearray(req_len), bytearray(rep_len)
        if code in (0x100, 0x101, 0x102):
            req_body[0:3], rep_body[0:1] = b"\x01\x01\x01", b"\x01"
        if code == 0xA5:
            codes = [int(r.split()[0], 16) for r in table]
            rep_body[:] = b"".join(c.to_bytes(2, "little")
                                   for c in codes + [0] if not 0xA1 <= c <= 0xA5)
        for d in (tc.header(tc.TYPE_REQUEST, 1, code, tc.BROADCAST_MAC, tc.ZERO_IP, 0, 0, req_len)
                  + (tc.cred_block(*tc.DEFAULT_AUTH) if cred == "1" else b"") + req_body,
                  tc.header(tc.TYPE_REPLY, 1, code, b"\2\0\0\0\0\1", tc.ZERO_IP, 0, 2, rep_len)
                  + rep_body):
            lines += [f"{o:06x} " + d[o:o + 16].hex(" ") for o in range(0, len(d), 16)]
        expected += [f"Request {name} (0x{code:04x})", f"Reply {name} (0x{code:04x})"]
    lines.append("000000 " + tc.request(0xA1, addressed=False)[:21].hex(" "))
    (tmp_path / "ops.txt").write_text("\n".join(lines) + "\n")
    subprocess.run(["text2pcap", "-q", "-u", "40000,62976", tmp_path / "ops.txt",
                    tmp_path / "ops.pcap"], check=True, timeout=30)
    *rows, short = fields(tmp_path / "ops.pcap", None, "_ws.col.Info", "_ws.expert.message",
                          "tarn.ignored", "tarn.type")
    assert [(r["_ws.col.Info"][0].split(" tag ")[0], r["_ws.expert.message"], r["tarn.ignored"])
            for r in rows] == [(e, [], []) for e in expected]
    assert (short["_ws.expert.message"], short["tarn.type"]) == (
        ["Truncated header: 21 of 22 bytes"], [])
