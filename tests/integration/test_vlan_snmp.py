"""VLAN and SNMP requests over real UDP in the device sandbox: the device
commands a VLAN request runs (the `submit` stand-in logs every call), the
refusal of a request with an option set, and the SNMP settings, written
without credentials."""

import re
import struct

import pytest

import tarnclient as tc

VLAN, SNMP = 0xD2, 0xD4


def vlan_body(vlan_id, opt1_flag=0, opt1_text=b"", opt2_flag=0, opt2_text=b""):
    body = (tc.text_field(b"leading", 32) + struct.pack("<I", vlan_id)
            + bytes([opt1_flag]) + tc.text_field(opt1_text, 64)
            + bytes([opt2_flag]) + tc.text_field(opt2_text, 64))
    assert len(body) == 166
    return body


def snmp_body(state, ro, rw):
    return bytes([state]) + tc.text_field(ro, 32) + tc.text_field(rw, 32)


def acknowledge(client, datagram, ap, op, tag):
    """Sends the request; checks the 38-byte reply and returns its result."""
    replies = client.exchange(datagram, count=1)
    assert len(replies) == 1
    reply = replies[0]
    assert len(reply) == 38
    assert reply[:22] == tc.header(tc.TYPE_REPLY, tag, op, ap.mac, ap.ip, 0, 2, 16)
    assert reply[26:] == b"\0" * 12
    return struct.unpack_from("<I", reply, 22)[0]


def submit_calls(ap):
    return re.findall(r"submit (.*)$", ap.submit_log(), re.M)


# ---- VLAN ------------------------------------------------------------------

@pytest.mark.parametrize("vlan_id", [100, 0])
def test_vlan_runs_set_ipaddress_then_commit(ap, client, vlan_id):
    before = submit_calls(ap)
    result = acknowledge(client, tc.to(ap, VLAN, vlan_body(vlan_id), tag=0x0D20), ap, VLAN, 0x0D20)
    assert result == 0
    assert submit_calls(ap)[len(before):] == ["'SET_IPADDRESS'", "'COMMIT'"]


@pytest.mark.parametrize("option", [
    {"opt1_flag": 1},
    {"opt1_text": b"tagged"},
    {"opt2_flag": 1},
    {"opt2_text": b"x"},
])
def test_vlan_with_an_option_is_refused_and_runs_nothing(ap, client, option):
    before = submit_calls(ap)
    seq = ap.journal_seq()
    result = acknowledge(client, tc.to(ap, VLAN, vlan_body(100, **option), tag=0x0D21),
                         ap, VLAN, 0x0D21)
    assert result == 3
    assert submit_calls(ap) == before
    assert [e for e in ap.journal(after=seq) if e.writer == "tarnd"] == []


def test_vlan_needs_credentials(ap, client):
    replies = client.exchange(tc.to(ap, VLAN, vlan_body(100), auth=("admin", "wrong")), count=1)
    assert len(replies) == 1
    assert tc.parse_header(replies[0]).status == tc.STATUS_AUTH_FAILED
    assert submit_calls(ap) == []


# ---- SNMP ------------------------------------------------------------------

def snmp_writes(ap, after):
    return [(e.section, e.key, e.value) for e in ap.journal(after=after) if e.writer == "tarnd"]


@pytest.mark.parametrize("state,status", [(0, "down"), (1, "up"), (7, "up")])
def test_snmp_without_credentials_writes_settings_and_commit(ap, client, state, status):
    seq = ap.journal_seq()
    result = acknowledge(client, tc.to(ap, SNMP, snmp_body(state, "readers", "writers"),
                                       auth=None, tag=0x0D40), ap, SNMP, 0x0D40)
    assert result == 0
    assert snmp_writes(ap, seq) == [
        ("snmp", "status", status),
        ("snmp", "ro-community", "readers"),
        ("snmp", "rw-community", "writers"),
        ("config", "startup", "running"),
    ]
    ap.wait_output(re.escape(f"uState = {state:x}\n"
                             "(SNMP read-only community) strName = readers\n"
                             "(SNMP read-write community) strTemp = writers\n"))


def test_snmp_full_width_community_is_stored_exactly(ap, client):
    ro, rw = "R" * 31 + "!", "w" * 32
    acknowledge(client, tc.to(ap, SNMP, snmp_body(1, ro, rw), auth=None, tag=1), ap, SNMP, 1)
    assert ap.store_get("snmp", "ro-community") == ro
    assert ap.store_get("snmp", "rw-community") == rw
    assert ap.store_get("snmp", "status") == "up"


def test_snmp_empty_request_writes_empty_communities(ap, client):
    ap.store_set("snmp", "ro-community", "old")
    seq = ap.journal_seq()
    acknowledge(client, tc.to(ap, SNMP, b"", auth=None, tag=2), ap, SNMP, 2)
    assert snmp_writes(ap, seq) == [
        ("snmp", "status", "down"),
        ("snmp", "ro-community", ""),
        ("snmp", "rw-community", ""),
        ("config", "startup", "running"),
    ]


def test_snmp_credential_block_is_read_as_the_body(ap, client):
    """The operation takes no credentials: a utility that sends its usual
    block has it read as state and communities."""
    block = tc.cred_block("admin", "tarnadmin")
    acknowledge(client, tc.to(ap, SNMP, snmp_body(0, "a", "b"), auth=("admin", "tarnadmin"),
                              tag=3), ap, SNMP, 3)
    assert ap.store_get("snmp", "status") == "up"            # "Y" of "YWRtaW4="
    assert ap.store_get("snmp", "ro-community") == block[1:33].split(b"\0")[0].decode()
    assert ap.store_get("snmp", "rw-community") == ""
