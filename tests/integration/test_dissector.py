"""The Wireshark dissector tools/wireshark/tarn.lua, run through tshark:

- the checked-in session (tests/data/tarn-session.pcap, made by
  tools/wireshark/capture_session.py): field values and names of every
  operation group, request/reply matching, secrets never shown, expert
  infos exactly on the malformed datagrams;
- hand-made datagrams in a pcap written here: malformed messages are marked,
  not decoded as something else;
- one live capture in the sandbox while the tarn utility runs.
"""
import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
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

AP1 = {"mac": "02:00:00:00:00:01", "ip": "192.0.2.11"}


# ---- running tshark ------------------------------------------------------------

def tshark(pcap, *args, display_filter=None):
    argv = ["tshark", "-n", "-X", f"lua_script:{LUA}", "-2", "-r", str(pcap)]
    if display_filter:
        argv += ["-Y", display_filter]
    res = subprocess.run(argv + list(args), capture_output=True, text=True, timeout=60)
    assert res.returncode == 0, res.stderr
    assert "Lua Error" not in res.stdout + res.stderr, res.stdout + res.stderr
    return res.stdout


def fields(pcap, display_filter, *names):
    """One dict per matching frame: field name -> list of its values."""
    args = ["-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|"]
    for n in names:
        args += ["-e", n]
    out = tshark(pcap, *args, display_filter=display_filter)
    rows = []
    for line in out.splitlines():
        cols = line.split("\t")
        rows.append({n: (c.split("|") if c else []) for n, c in zip(names, cols)})
    return rows


def one(pcap, display_filter, *names):
    rows = fields(pcap, display_filter, *names)
    assert len(rows) == 1, f"{display_filter}: {len(rows)} frames"
    return rows[0]


def shownames(pcap, display_filter):
    """The tarn tree of each matching frame as field name -> shown lines."""
    root = ET.fromstring(tshark(pcap, "-T", "pdml", display_filter=display_filter))
    frames = []
    for packet in root.iter("packet"):
        shown = {}
        for f in packet.iter("field"):
            if f.get("name", "").startswith("tarn."):
                shown.setdefault(f.get("name"), []).append(f.get("showname", ""))
        frames.append(shown)
    return frames


def mac_text(mac):
    return ":".join(f"{b:02x}" for b in mac)


def request_of(tag):
    return f"tarn.type == 0xfdfd && tarn.tag == {tag:#06x}"


def reply_of(tag):
    return f"tarn.type == 0xfeee && tarn.tag == {tag:#06x}"


# ---- the checked-in session: values -------------------------------------------

T = cs.TAG
SAMPLE_VALUES = [
    # (display filter, {field: expected values})
    ("tarn.type == 0xffff && tarn.mac == 02:00:00:00:00:01 && frame.number < 10",
     {"tarn.op": ["0x00a0"], "tarn.body_len": ["295"], "tarn.announce.device_type": ["WLAN-EAP"],
      "tarn.announce.op_mode": ["AP"], "tarn.announce.hw_version": ["A1"],
      "tarn.announce.mac": [AP1["mac"]], "tarn.announce.ip": [AP1["ip"]],
      "tarn.announce.mask": ["255.255.255.0"], "tarn.announce.port_name": ["LAN1"],
      "tarn.announce.system_name": ["tarn-ap1"]}),
    (reply_of(T["discover_ap1"]),
     {"tarn.mac": [AP1["mac"]], "tarn.ip": [AP1["ip"]], "tarn.status": ["0"],
      "tarn.ret_flag": ["2"], "tarn.body_len": ["483"],
      "tarn.discover.product_name": ["Vemira AP"], "tarn.discover.device_type": ["WLAN-EAP"],
      "tarn.discover.proto_version": ["2"], "tarn.discover.web_port": ["80"],
      "tarn.discover.mac": [AP1["mac"]], "tarn.discover.ip": [AP1["ip"]],
      "tarn.discover.system_name": ["tarn-ap1"], "tarn.discover.port_name": ["LAN1"],
      "tarn.discover.op_mode": ["AP"], "tarn.discover.hw_version": ["A1"]}),
    (reply_of(T["neighbor"]) + " && tarn.mac == 02:00:00:00:00:02",
     {"tarn.neighbor.marker": ["1"], "tarn.neighbor.device_type": ["WLAN-EAP"],
      "tarn.neighbor.mac": ["02:00:00:00:00:02"], "tarn.neighbor.ip": ["192.0.2.12"],
      "tarn.neighbor.system_name": ["tarn-ap2"], "tarn.neighbor.port_name": ["LAN1"]}),
    (request_of(T["verify"]),
     {"tarn.addressing": ["0x7777"], "tarn.mac": [AP1["mac"]], "tarn.ip": [AP1["ip"]],
      "tarn.cred.user": ["admin"], "tarn.cred.password_len": ["9"]}),
    (reply_of(T["verify"]), {"tarn.user_verify.result": ["1"]}),
    (reply_of(T["verify_bad_password"]), {"tarn.status": ["2"], "tarn.body_len": ["0"]}),
    (request_of(T["set_basic"]),
     {"tarn.basic.system_name": ["tarn-ap1-renamed"], "tarn.basic.ip": [AP1["ip"]],
      "tarn.basic.static_dns": ["1"], "tarn.basic.mask": [cs.STATIC["mask"]],
      "tarn.basic.gateway": [cs.STATIC["gateway"]], "tarn.basic.dns1": [cs.STATIC["dns1"]],
      "tarn.basic.dns2": [cs.STATIC["dns2"]], "tarn.basic.dhcp": ["0"],
      "tarn.basic.ipv6": [cs.STATIC["ipv6"]], "tarn.basic.ipv6_prefix_len": ["64"],
      "tarn.basic.ipv6_auto": ["0"]}),
    (reply_of(T["set_basic"]), {"tarn.result.code": ["0"], "tarn.body_len": ["16"]}),
    (request_of(T["change_admin"]),
     {"tarn.change_admin.user": ["admin"], "tarn.change_admin.password_len": ["9"]}),
    (reply_of(T["change_admin_not_admin"]), {"tarn.result.code": ["1001"]}),
    (request_of(T["ddns_set"]),
     {"tarn.ddns.enable": ["0x02"], "tarn.ddns.option": ["255"],
      "tarn.ddns.user": [cs.DDNS["user"]], "tarn.ddns.password_len": [str(len(cs.DDNS["password"]))],
      "tarn.ddns.domain": [cs.DDNS["domain"]], "tarn.ddns.extra_len": ["0"]}),
    (reply_of(T["ddns_get"]), {"tarn.body_len": ["525"], "tarn.ddns.enable": ["0x00"]}),
    (request_of(T["time_set"]),
     {"tarn.datetime.datetime": ["20240229235958"], "tarn.datetime.time_zone": ["5"],
      "tarn.datetime.daylight_saving": ["1"], "tarn.datetime.ntp": ["1"],
      "tarn.datetime.ntp_server": [cs.NTP_SERVER]}),
    (reply_of(T["time_get"]), {"tarn.body_len": ["100"], "tarn.datetime.time_zone": ["0"]}),
    (reply_of(T["net_status"]),
     {"tarn.net_status.link_local": ["0"], "tarn.net_status.ip": [AP1["ip"]]}),
    (request_of(T["vlan"]), {"tarn.vlan.id": ["100"], "tarn.vlan.opt1_flag": ["0"]}),
    (reply_of(T["vlan"]), {"tarn.result.code": ["0"]}),
    (request_of(T["vlan_refused"]), {"tarn.vlan.id": ["200"], "tarn.vlan.opt1_flag": ["1"]}),
    (reply_of(T["vlan_refused"]), {"tarn.result.code": ["3"]}),
    (request_of(T["snmp"]),
     {"tarn.cred.user": [], "tarn.snmp.state": ["1"], "tarn.snmp.ro_community": [cs.SNMP["ro"]],
      "tarn.snmp.rw_community": [cs.SNMP["rw"]]}),
    (request_of(T["wlan_set"]),
     {"tarn.wlan.radio": ["0"], "tarn.wlan.radio_state": ["1"],
      "tarn.wlan.ssid": ["tarn-main", "", "", "tarn-guest", "", "", "", ""],
      "tarn.wlan.security": ["4", "0", "0", "6", "0", "0", "0", "0"],
      "tarn.wlan.key_len": [str(len(cs.WLAN_MAIN["key"]))] + ["0"] * 7}),
    (reply_of(T["wlan_set"]), {"tarn.mac": [AP1["mac"]], "tarn.body_len": ["451"]}),
    (reply_of(T["wlan_get"]) + " && tarn.mac == 02:00:00:00:00:01",
     {"tarn.wlan.radio_mode": ["0"], "tarn.body_len": ["451"]}),
    (request_of(T["firmware_query"]), {"tarn.transfer.sub_service": ["2"],
                                       "tarn.transfer.file": []}),
    (reply_of(T["firmware_query"]),
     {"tarn.transfer.sub_service": ["2"], "tarn.transfer.result": ["2"],
      "tarn.transfer.message": []}),  # one empty text prints as nothing
    (request_of(T["firmware_bad_server"]),
     {"tarn.transfer.sub_service": ["1"], "tarn.transfer.server_type": ["7"],
      "tarn.transfer.addr_type": ["1"], "tarn.transfer.server_ipv4": ["192.0.2.1"],
      "tarn.transfer.file": [cs.FILE_NAME]}),
    (reply_of(T["firmware_bad_server"]),
     {"tarn.transfer.result": ["1"], "tarn.transfer.result_name": ["Refused"],
      "tarn.transfer.message": ["Invalid server type 7"]}),
    (reply_of(T["backup_query"]),
     {"tarn.transfer.result": ["1"], "tarn.transfer.message": ['"config backup" isn\'t running']}),
    (reply_of(T["restore_query"]),
     {"tarn.transfer.result": ["2"], "tarn.transfer.result_name": ["Running or idle"]}),
    (request_of(T["restore_v6_bad_server"]),
     {"tarn.transfer.addr_type": ["2"], "tarn.transfer.server_ipv6": ["2001:db8::1"],
      "tarn.transfer.file": [cs.FILE_NAME]}),
    (reply_of(T["reboot"]), {"tarn.result.code": ["0"], "tarn.body_len": ["16"]}),
    (reply_of(T["reset_keep_ip"]), {"tarn.mac": ["02:00:00:00:00:02"], "tarn.result.code": ["0"]}),
    (reply_of(T["reset"]), {"tarn.mac": ["02:00:00:00:00:03"], "tarn.result.code": ["0"]}),
]


@pytest.mark.parametrize("display_filter,expected", SAMPLE_VALUES,
                         ids=[f[0] for f in SAMPLE_VALUES])
def test_sample_fields(display_filter, expected):
    assert one(SAMPLE, display_filter, *expected) == expected


def test_sample_get_multi_ssid_reply_reports_what_the_set_wrote():
    row = one(SAMPLE, reply_of(T["wlan_get"]), "tarn.wlan.ssid", "tarn.wlan.vlan_id",
              "tarn.wlan.security", "tarn.wlan.key_len")
    assert [row[k][0] for k in row] == [cs.WLAN_MAIN["ssid"], cs.WLAN_MAIN["vlan"],
                                        cs.WLAN_MAIN["security"], str(len(cs.WLAN_MAIN["key"]))]
    assert [row[k][3] for k in row] == [cs.WLAN_VAP3["ssid"], cs.WLAN_VAP3["vlan"],
                                        cs.WLAN_VAP3["security"], "0"]


def test_sample_supported_operations_in_table_order():
    row = one(SAMPLE, reply_of(T["supported"]) + " && ip.src == 192.0.2.11",
              "tarn.supported.op", "tarn.supported.end")
    codes = [c for c, (_, auth) in tc.OPS.items() if not 0xA1 <= c <= 0xA5]
    assert row["tarn.supported.op"] == [f"{c:#06x}" for c in codes]
    assert row["tarn.supported.end"] == ["0x0000"]


SAMPLE_NAMES = [
    # (display filter, field, shown text)
    (request_of(T["discover"]), "tarn.type", "Message type: Request (0xfdfd)"),
    (request_of(T["discover"]), "tarn.op", "Operation: Discover (0x00a1)"),
    (request_of(T["discover"]), "tarn.addressing", "Addressing mode: Broadcast (0x0000)"),
    (request_of(T["verify"]), "tarn.addressing", "Addressing mode: Addressed (0x7777)"),
    (request_of(T["verify"]), "tarn.cred.password_len",
     "Password length: 9 bytes (not shown)"),
    (reply_of(T["verify"]), "tarn.type", "Message type: Reply (0xfeee)"),
    (reply_of(T["verify"]), "tarn.user_verify.result", "User: Administrator (1)"),
    (reply_of(T["verify_bad_password"]), "tarn.status",
     "Result status: Authentication failed (2)"),
    (reply_of(T["unknown_op"]), "tarn.status", "Result status: Not supported (3)"),
    ("tarn.type == 0xffff && frame.number < 10 && tarn.mac == 02:00:00:00:00:01", "tarn.type",
     "Message type: Announcement (0xffff)"),
    (reply_of(T["discover_ap1"]), "tarn.discover.web_port", "Web port: 80"),
    (reply_of(T["discover_ap1"]), "tarn.discover.proto_version", "Protocol version: 2"),
    (request_of(T["set_basic"]), "tarn.basic.static_dns", "DNS: 1 (Static DNS servers)"),
    (request_of(T["set_basic"]), "tarn.basic.dhcp", "DHCP: 0 (Static IPv4 settings)"),
    (request_of(T["set_basic"]), "tarn.basic.ipv6_auto", "IPv6: 0 (Static IPv6 settings)"),
    (reply_of(T["change_admin_not_admin"]), "tarn.result.code",
     "Result: Refused: the user name is not admin (1001)"),
    (reply_of(T["vlan_refused"]), "tarn.result.code", "Result: Refused: a VLAN option is set (3)"),
    (request_of(T["ddns_set"]), "tarn.ddns.enable", "Dynamic DNS: 0x02 (enabled)"),
    (request_of(T["ddns_set"]), "tarn.ddns.option", "Option: 255 (leave unchanged)"),
    (request_of(T["time_set"]), "tarn.datetime.datetime",
     "Date and time: 20240229235958 (2024-02-29 23:59:58)"),
    (request_of(T["time_set"]), "tarn.datetime.ntp", "NTP: NTP client on (1)"),
    (request_of(T["snmp"]), "tarn.snmp.state", "SNMP agent: 1 (on)"),
    (request_of(T["wlan_set"]), "tarn.wlan.radio", "Radio: wlan1 (0)"),
    (request_of(T["wlan_set"]), "tarn.wlan.security", "Security: WPA-Personal (WPA2) (4)"),
    (request_of(T["wlan_set"]), "tarn.wlan.security", "Security: Open (6)"),
    (request_of(T["wlan_set"]), "tarn.wlan.entry", "Network 3 (virtual AP 3): tarn-guest"),
    (reply_of(T["wlan_get"]), "tarn.wlan.radio_mode", "Radio mode: 2.4 GHz (0)"),
    (request_of(T["firmware_query"]), "tarn.transfer.sub_service", "Sub-service: Query (2)"),
    (request_of(T["restore_v6_bad_server"]), "tarn.transfer.addr_type", "Address type: IPv6 (2)"),
    (reply_of(T["firmware_bad_server"]), "tarn.transfer.result", "Result: 1 (Refused)"),
    (reply_of(T["backup_query"]), "tarn.transfer.result", "Result: 1 (Not running or failed)"),
    (reply_of(T["supported"]) + " && ip.src == 192.0.2.11", "tarn.supported.op",
     "Supported operation: FirmwareUpgrade (0x0100)"),
]


@pytest.mark.parametrize("display_filter,field,text", SAMPLE_NAMES,
                         ids=[f"{f[1]}:{f[2]}" for f in SAMPLE_NAMES])
def test_sample_names(display_filter, field, text):
    (frame,) = shownames(SAMPLE, display_filter)
    assert text in frame.get(field, []), frame.get(field)


def test_every_operation_of_the_table_is_in_the_sample():
    rows = fields(SAMPLE, "tarn", "tarn.type", "tarn.op")
    seen = {(r["tarn.type"][0], int(r["tarn.op"][0], 16)) for r in rows if r["tarn.op"]}
    for code in tc.OPS:
        assert ("0xfdfd", code) in seen and ("0xfeee", code) in seen, hex(code)
    assert ("0xffff", tc.ANNOUNCE_OP) in seen


# ---- matching ---------------------------------------------------------------------

def test_broadcast_request_collects_every_device_reply():
    for tag in (T["discover"], T["neighbor"], T["supported"]):
        req = one(SAMPLE, request_of(tag), "frame.number", "tarn.response_in")
        reps = fields(SAMPLE, reply_of(tag), "frame.number", "tarn.request_in", "tarn.time", "ip.src")
        assert sorted(r["ip.src"][0] for r in reps) == ["192.0.2.11", "192.0.2.12", "192.0.2.13"]
        assert sorted(req["tarn.response_in"]) == sorted(r["frame.number"][0] for r in reps)
        for r in reps:
            assert r["tarn.request_in"] == req["frame.number"]
            assert len(r["tarn.time"]) == 1


def test_every_reply_of_the_sample_links_to_its_request():
    for r in fields(SAMPLE, "tarn.type == 0xfeee", "frame.number", "tarn.tag", "tarn.op",
                    "tarn.request_in"):
        assert len(r["tarn.request_in"]) == 1, r
        req = one(SAMPLE, f"frame.number == {r['tarn.request_in'][0]}", "tarn.type", "tarn.tag",
                  "tarn.op", "tarn.response_in")
        assert (req["tarn.type"], req["tarn.tag"], req["tarn.op"]) == \
            (["0xfdfd"], r["tarn.tag"], r["tarn.op"])
        assert r["frame.number"][0] in req["tarn.response_in"]


def test_a_request_the_device_drops_has_no_response():
    assert one(SAMPLE, request_of(T["bad_addressing"]), "tarn.response_in") == \
        {"tarn.response_in": []}


# ---- secrets and expert infos ---------------------------------------------------------

def test_passwords_and_keys_are_never_shown():
    text = tshark(SAMPLE, "-V")
    for secret in (tc.DEFAULT_AUTH[1], "wrong-password", "other", cs.DDNS["password"],
                   cs.WLAN_MAIN["key"]):
        assert secret not in text, secret
    assert "User name: admin" in text


def test_expert_infos_only_on_the_malformed_and_refused_datagrams():
    rows = fields(SAMPLE, "_ws.expert", "tarn.type", "tarn.tag", "_ws.expert.message")
    marked = [(r["tarn.type"], r["tarn.tag"], r["_ws.expert.message"]) for r in rows]
    assert marked == [
        (["0xfeee"], ["0x0202"], ["Authentication failed"]),
        (["0xfdfd"], ["0x0502"], ["Server type 7 is not one of the protocol's codes"]),
        (["0xfdfd"], ["0x0505"], ["Server type 9 is not one of the protocol's codes"]),
        ([], [], ["Truncated header: 10 of 22 bytes"]),
        (["0xfdfd"], ["0x0602"], ["Unknown operation 0x0099: body not decoded"]),
        (["0xfeee"], ["0x0602"], ["Unknown operation 0x0099: body not decoded", "Not supported"]),
        (["0xfdfd"], ["0x0603"], ["Body length 16, but 0 body bytes follow the credential block"]),
        (["0xfdfd"], ["0x0604"], ["Invalid addressing mode 0x1234: neither broadcast nor addressed"]),
        (["0xabcd"], [], ["Unknown message type 0xabcd: not a request, reply or announcement"]),
    ]


# ---- hand-made datagrams -----------------------------------------------------------------

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


def reply(op, body, status=0, body_len=None):
    return tc.header(tc.TYPE_REPLY, 7, op, MAC, IP, status, 2,
                     len(body) if body_len is None else body_len) + body


def addressed(op, body=b"", **kw):
    return tc.request(op, body, tag=7, mac=MAC, ip=IP, **kw)


MALFORMED = [
    # (name, port, payload, expert message, fields present, fields absent)
    ("one byte", 62976, b"\xfd", "Truncated header: 1 of 22 bytes", [], ["tarn.type"]),
    ("21 bytes", 62976, addressed(0xA1)[:21], "Truncated header: 21 of 22 bytes", [],
     ["tarn.type", "tarn.op"]),
    ("unknown op with a body", 62976, addressed(0x99, b"x" * 140), "Unknown operation 0x0099",
     ["tarn.data"], ["tarn.cred.user", "tarn.body"]),
    ("announcement code in a request", 62976, addressed(0xA0), "Unknown operation 0x00a0", [],
     ["tarn.body"]),
    ("unknown message type", 62992, b"\x12\x34" + bytes(20), "Unknown message type 0x3412",
     ["tarn.data"], ["tarn.op"]),
    ("short SNMP body", 62976, addressed(0xD4, b"\x01public"), "Body of 7 bytes, shorter",
     ["tarn.snmp.state"], ["tarn.snmp.ro_community"]),
    ("cut credential block", 62976, addressed(0xA3)[:22 + 50],
     "Credential block of 50 bytes", ["tarn.cred.user"], ["tarn.cred.password_len"]),
    ("user name not Base64", 62976,
     addressed(0xA3, auth=None) + tc.text_field("ad@min", 64) + bytes(64),
     "User name is not Base64 text", [], []),
    ("unknown security code", 62976,
     addressed(0xD1, b"\x00\x01" + cs.wlan_entry("x", "1", "9", "k") + bytes(56 * 7)),
     "Unknown security code 9", ["tarn.wlan.ssid"], []),
    ("op list without its end", 62992, reply(0xA5, b"\xa6\x00\xa7\x00"),
     "Operation list without its terminating 0", ["tarn.supported.op"], ["tarn.supported.end"]),
    ("body length says more", 62992, reply(0x103, bytes(16), body_len=40),
     "Body length 40, but 16 body bytes follow the header", ["tarn.result.code"], []),
    ("refusal with a body", 62992, reply(0xA6, bytes(525), status=2), "Authentication failed",
     ["tarn.data"], ["tarn.ddns.enable"]),
    ("transfer with an unknown address type", 62976,
     addressed(0x100, b"\x01\x01\x07" + bytes(132)),
     "Address type 7 is not one of the protocol's codes",
     ["tarn.transfer.addr_type", "tarn.ignored"], ["tarn.transfer.file"]),
    ("transfer with an unknown sub-service", 62992, reply(0x101, b"\x05\x01" + bytes(128)),
     "Sub-service 5 is not one of the protocol's codes", ["tarn.transfer.result"],
     ["tarn.transfer.result_name"]),
]


@pytest.mark.parametrize("name,port,payload,message,present,absent", MALFORMED,
                         ids=[m[0] for m in MALFORMED])
def test_malformed_datagram_is_marked(tmp_path, name, port, payload, message, present, absent):
    pcap = write_pcap(tmp_path / "one.pcap", [(port, payload)])
    names = ["_ws.expert.message"] + present + absent
    (row,) = fields(pcap, None, *names)
    assert any(m.startswith(message) for m in row["_ws.expert.message"]), row
    for f in present:
        assert row[f], f
    for f in absent:
        assert not row[f], f


WELL_FORMED = [
    ("net status without an interface", 62992, reply(0xC9, b"")),
    ("reboot request with a body", 62976, addressed(0x103, b"anything")),
    ("transfer query of one byte", 62976, addressed(0x101, b"\x02")),
    ("broadcast discovery", 62976, tc.request(0xA1, tag=7, addressed=False)),
]


@pytest.mark.parametrize("name,port,payload", WELL_FORMED, ids=[w[0] for w in WELL_FORMED])
def test_well_formed_datagram_has_no_expert_info(tmp_path, name, port, payload):
    pcap = write_pcap(tmp_path / "one.pcap", [(port, payload)])
    (row,) = fields(pcap, None, "_ws.expert.message", "tarn.op")
    assert row == {"_ws.expert.message": [], "tarn.op": [f"{tc.parse_header(payload).op:#06x}"]}


def test_a_later_request_with_the_same_tag_takes_the_reply(tmp_path):
    # A retry: the reply belongs to the request it follows.
    req = addressed(0xAC)
    pcap = write_pcap(tmp_path / "retry.pcap",
                      [(62976, req), (62976, req), (62992, reply(0xAC, bytes(100)))])
    rows = fields(pcap, None, "frame.number", "tarn.response_in", "tarn.request_in")
    assert [r["tarn.response_in"] for r in rows] == [[], ["3"], []]
    assert rows[2]["tarn.request_in"] == ["2"]


# ---- live ------------------------------------------------------------------------------------

def test_live_capture_of_the_tarn_utility(segment, ap, util_run, tmp_path):
    tarn = BUILD / "tarn" / "tarn"
    if not tarn.exists():
        pytest.skip(f"{tarn} is not built")
    with cs.capture(segment, tmp_path / "live.pcap") as pcap:
        found = util_run([str(tarn), "--json", "discover"], timeout=60)
        assert found.returncode == 0, found.stderr
        got = util_run(["env", "TARN_PASSWORD=tarnadmin", str(tarn), "-d", mac_text(ap.mac), "time",
                        "get"], timeout=60)
        assert got.returncode == 0, got.stderr
    # tarn finds the device by discovery before it sends an addressed request.
    reqs = fields(pcap, "tarn.type == 0xfdfd && tarn.op == 0xa1", "frame.number",
                  "tarn.addressing", "tarn.response_in")
    reps = fields(pcap, "tarn.type == 0xfeee && tarn.op == 0xa1", "frame.number",
                  "tarn.request_in", "tarn.discover.system_name", "tarn.discover.mac")
    assert reqs and len(reps) == len(reqs)
    for req, rep in zip(reqs, reps):
        assert req["tarn.addressing"] == ["0x0000"]
        assert req["tarn.response_in"] == rep["frame.number"]
        assert rep["tarn.request_in"] == req["frame.number"]
        assert rep["tarn.discover.system_name"] == [ap.store_get("system", "system-name")]
        assert rep["tarn.discover.mac"] == [mac_text(ap.mac)]
    time_req = one(pcap, "tarn.type == 0xfdfd && tarn.op == 0xac", "tarn.cred.user",
                   "tarn.addressing", "tarn.response_in")
    assert time_req["tarn.cred.user"] == ["admin"] and time_req["tarn.addressing"] == ["0x7777"]
    time_rep = one(pcap, "tarn.type == 0xfeee && tarn.op == 0xac", "frame.number",
                   "tarn.body_len", "tarn.datetime.datetime")
    assert time_req["tarn.response_in"] == time_rep["frame.number"]
    assert time_rep["tarn.body_len"] == ["100"]
    assert len(time_rep["tarn.datetime.datetime"][0]) == 14
