"""The Wireshark dissector tools/wireshark/tarn.lua, run through tshark, on
the checked-in session (tests/data/tarn-session.pcap, made by
tools/wireshark/capture_session.py), on hand-made malformed datagrams and on
one live capture in the sandbox while the tarn utility runs."""
import os
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import pytest

import tarnclient as tc

SOURCE = Path(os.environ.get("TARN_SOURCE") or Path(__file__).resolve().parents[2])
BUILD = Path(os.environ.get("TARN_BUILD") or SOURCE / "build")
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
    assert res.returncode == 0, res.stderr
    assert "Lua Error" not in res.stdout + res.stderr, res.stdout + res.stderr
    return res.stdout


def fields(pcap, display_filter, *names):
    """One dict per matching frame: field name -> list of its values."""
    args = ["-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|"]
    args += [a for n in names for a in ("-e", n)]
    return [{n: (c.split("|") if c else []) for n, c in zip(names, line.split("\t"))}
            for line in tshark(pcap, *args, display_filter=display_filter).splitlines()]


def one(pcap, display_filter, *names):
    rows = fields(pcap, display_filter, *names)
    assert len(rows) == 1, f"{display_filter}: {len(rows)} frames"
    return rows[0]


def request_of(tag):
    return f"tarn.type == 0xfdfd && tarn.tag == {tag:#06x}"


def reply_of(tag):
    return f"tarn.type == 0xfeee && tarn.tag == {tag:#06x}"


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
    assert one(SAMPLE, display_filter, *expected) == expected


def test_replies_link_to_their_requests():
    for r in fields(SAMPLE, "tarn.type == 0xfeee", "frame.number", "tarn.tag", "tarn.op",
                    "tarn.request_in"):
        assert len(r["tarn.request_in"]) == 1, r
        req = one(SAMPLE, f"frame.number == {r['tarn.request_in'][0]}", "tarn.type", "tarn.tag",
                  "tarn.op", "tarn.response_in")
        assert (req["tarn.type"], req["tarn.tag"], req["tarn.op"]) == \
            (["0xfdfd"], r["tarn.tag"], r["tarn.op"])
        assert r["frame.number"][0] in req["tarn.response_in"]
    # A broadcast collects every device's reply; a dropped request has none.
    req = one(SAMPLE, request_of(T["neighbor"]), "tarn.response_in")
    assert len(req["tarn.response_in"]) == 3
    assert one(SAMPLE, request_of(T["bad_addressing"]), "tarn.response_in") == \
        {"tarn.response_in": []}


def test_passwords_and_keys_are_never_shown():
    text = tshark(SAMPLE, "-V")
    for secret in (tc.DEFAULT_AUTH[1], "wrong-password", "other", cs.DDNS["password"],
                   cs.WLAN_MAIN["key"]):
        assert secret not in text, secret
    assert "User name: admin" in text


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


def write_pcap(path, payloads):
    """Ethernet/IPv4/UDP frames to 255.255.255.255; (dst port, payload)."""
    out = [struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)]
    for i, (port, payload) in enumerate(payloads):
        udp = struct.pack("!HHHH", 40000, port, 8 + len(payload), 0) + payload
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), i, 0, 64, 17, 0,
                         bytes([192, 0, 2, 1]), b"\xff" * 4) + udp
        frame = b"\xff" * 6 + b"\x02\x00\x00\x00\x00\x09" + b"\x08\x00" + ip
        out.append(struct.pack("<IIII", i, 0, len(frame), len(frame)) + frame)
    path.write_bytes(b"".join(out))
    return path


MAC, IP = bytes.fromhex("020000000001"), bytes([192, 0, 2, 11])


def reply(op, body, status=0):
    return tc.header(tc.TYPE_REPLY, 7, op, MAC, IP, status, 2, len(body)) + body


def addressed(op, body=b""):
    return tc.request(op, body, tag=7, mac=MAC, ip=IP)


@pytest.mark.parametrize("port,payload,message,present,absent", [
    (62976, addressed(0xA1)[:21], "Truncated header: 21 of 22 bytes", [], ["tarn.type", "tarn.op"]),
    (62976, addressed(0xD4, b"\x01public"), "Body of 7 bytes, shorter", ["tarn.snmp.state"],
     ["tarn.snmp.ro_community"]),
    (62976, addressed(0xA3)[:22 + 50], "Credential block of 50 bytes", ["tarn.cred.user"],
     ["tarn.cred.password_len"]),
    (62992, reply(0xA5, b"\xa6\x00\xa7\x00"), "Operation list without its terminating 0",
     ["tarn.supported.op"], ["tarn.supported.end"]),
    (62992, reply(0xA6, bytes(525), status=2), "Authentication failed", ["tarn.data"],
     ["tarn.ddns.enable"]),
], ids=["21 bytes", "short SNMP body", "cut credential block", "op list without its end",
        "refusal with a body"])
def test_malformed_datagram_is_marked(tmp_path, port, payload, message, present, absent):
    (row,) = fields(write_pcap(tmp_path / "one.pcap", [(port, payload)]), None,
                    "_ws.expert.message", *present, *absent)
    assert any(m.startswith(message) for m in row["_ws.expert.message"]), row
    assert all(row[f] for f in present) and not any(row[f] for f in absent), row


def test_live_capture_of_the_tarn_utility(segment, ap, util_run, tmp_path):
    with cs.capture(segment, tmp_path / "live.pcap") as pcap:
        got = util_run(["env", "TARN_PASSWORD=tarnadmin", str(BUILD / "tarn" / "tarn"),
                        "-d", ap.ip_text, "time", "get"], timeout=60)
        assert got.returncode == 0, got.stderr
    # tarn finds the device by a broadcast discovery before the addressed request.
    found = one(pcap, "tarn.type == 0xfeee && tarn.op == 0xa1", "tarn.request_in",
                "tarn.discover.system_name")
    assert found["tarn.discover.system_name"] == [ap.store_get("system", "system-name")]
    assert one(pcap, f"frame.number == {found['tarn.request_in'][0]}", "tarn.addressing") == \
        {"tarn.addressing": ["0x0000"]}
    req = one(pcap, "tarn.type == 0xfdfd && tarn.op == 0xac", "tarn.cred.user", "tarn.addressing",
              "tarn.response_in")
    assert (req["tarn.cred.user"], req["tarn.addressing"]) == (["admin"], ["0x7777"])
    rep = one(pcap, "tarn.type == 0xfeee && tarn.op == 0xac", "frame.number",
              "tarn.datetime.datetime")
    assert req["tarn.response_in"] == rep["frame.number"]
    assert len(rep["tarn.datetime.datetime"][0]) == 14
