"""VLAN and SNMP requests: reply bytes, the commands run (`submit` logs every call)."""

import re
import struct

import tarnclient as tc
from conftest import tarnd_writes

VLAN, SNMP = 0xD2, 0xD4


def vlan_body(vlan_id, opt1_flag=0):
    return (tc.text_field(b"leading", 32) + struct.pack("<I", vlan_id) + bytes([opt1_flag])
            + bytes(64 + 1 + 64))


def submit_calls(ap):
    return re.findall(r"submit (.*)$", ap.submit_log(), re.M)


def test_vlan_runs_set_ipaddress_then_commit_or_is_refused(ap, client):
    for flag, tag, result, calls in ((1, 0x0D21, 3, []),
                                     (0, 0x0D20, 0, ["'SET_IPADDRESS'", "'COMMIT'"])):
        assert (client.result(tc.to(ap, VLAN, vlan_body(100, flag), tag=tag), ap),
                submit_calls(ap)) == (result, calls), flag


def test_snmp_takes_no_credentials_and_reads_a_sent_block_as_its_body(ap, client):
    seq = ap.journal_seq()
    body = bytes([0]) + tc.text_field("readers", 32) + tc.text_field("writers", 32)
    assert client.result(tc.to(ap, SNMP, body, auth=None, tag=0x0D40), ap) == 0
    assert tarnd_writes(ap, seq) == [
        ("snmp", "status", "down"),
        ("snmp", "ro-community", "readers"),
        ("snmp", "rw-community", "writers"),
        ("config", "startup", "running"),
    ]
    # A utility that sends its usual block has it read as state and communities.
    block = tc.cred_block("admin", "tarnadmin")
    assert client.result(tc.to(ap, SNMP, bytes(65), auth=("admin", "tarnadmin"), tag=3), ap) == 0
    assert [ap.store_get("snmp", k) for k in ("status", "ro-community", "rw-community")] == [
        "up", block[1:33].split(b"\0")[0].decode(), ""]  # status: "Y" of "YWRtaW4="
