"""The soak mix must never ask the device for anything that changes it
beyond writing back current values. Run: python3 -m pytest bench/soak."""

import struct

import pytest

import mix
import tarnclient as tc

MAC = bytes([2, 0, 0, 0, 0, 1])
IP = bytes([192, 0, 2, 11])
STORE = {
    ("system", "system-name"): "tarn-ap1", ("management", "static-ip"): "192.0.2.11",
    ("static-ip-route", "mask"): "255.255.255.0", ("static-ip-route", "gateway"): "192.0.2.1",
    ("host", "dns-via-dhcp"): "down", ("host", "static-dns-1"): "192.0.2.53",
    ("host", "static-dns-2"): "192.0.2.54", ("management", "dhcp-status"): "down",
    ("management", "static-ipv6"): "2001:db8::11",
    ("management", "static-ipv6-prefix-length"): "64",
    ("management", "ipv6-autoconfig-status"): "down", ("snmp", "status"): "up",
    ("snmp", "ro-community"): "public", ("snmp", "rw-community"): "private",
}


def store(section, key):
    return STORE.get((section, key), "")


def wlan_reply(radio):
    entry = tc.text_field(f"net{radio}", 32) + b"1\0\0\0" + bytes(4) + tc.text_field("k", 16)
    return bytes(tc.HEADER_LEN) + bytes([0, 0, radio]) + entry * 8


@pytest.fixture(scope="module")
def traffic():
    reads, writes = mix.templates(MAC, IP, store, {0: wlan_reply(0), 1: wlan_reply(1)})
    datagrams, tally = mix.generate(20000, 7, MAC, IP, reads, writes)
    return reads, writes, datagrams, tally


def test_basic_info_body_writes_back_the_store():
    body = mix.basic_info_body(store)
    assert body[0:8] == b"tarn-ap1" and body[64:68] == IP
    assert body[71] == 1 and body[88] == 0 and body[105] == 64 and body[154] == 0
    assert body[72:88] == bytes([255, 255, 255, 0, 192, 0, 2, 1, 192, 0, 2, 53, 192, 0, 2, 54])


def test_wlan_set_body_carries_the_get_entries():
    body = mix.wlan_set_body(1, wlan_reply(1))
    assert body[:2] == b"\1\1" and len(body) == 450
    assert body[2:2 + 56] == wlan_reply(1)[25:25 + 56]


def test_nothing_dangerous_is_accepted(traffic):
    reads, writes, datagrams, _ = traffic
    write_bodies = {tc.parse_header(w).op: [] for w in writes}
    for w in writes:
        write_bodies[tc.parse_header(w).op].append(mix.accepted_ops(w, MAC, IP)[1])
    accepted = 0
    for _, d in datagrams:
        served = mix.accepted_ops(d, MAC, IP)
        if served is None:
            continue
        accepted += 1
        op, body = served
        assert op not in mix.FORBIDDEN_OPS
        if op in mix.TRANSFER_OPS:
            assert body[:1] != b"\1", "a transfer start"
        if op == 0xD2:
            assert body[36] != 0, "an accepted VLAN change"
        if op in (0xA2, 0xD1, 0xD4):
            assert any(body[:len(b)] == b for b in write_bodies[op]), "a changed write body"
    assert accepted > len(datagrams) // 4


def test_every_kind_occurs_and_probes_are_interleaved(traffic):
    _, _, datagrams, tally = traffic
    assert len(datagrams) == 20000 and all(n > 0 for n in tally.values())
    probes = [i for i, (p, _) in enumerate(datagrams) if p]
    assert probes[-1] == len(datagrams) - 1
    assert all(b - a == mix.PROBE_EVERY + 1 for a, b in zip(probes, probes[1:]))
    sizes = [len(d) for _, d in datagrams]
    assert max(sizes) > 4096 and min(sizes) < tc.HEADER_LEN


def test_replay_file_records(tmp_path, traffic):
    _, _, datagrams, _ = traffic
    path = tmp_path / "replay.bin"
    mix.write_replay(path, datagrams[:9])
    data, off, back = path.read_bytes(), 0, []
    while off < len(data):
        kind, length = struct.unpack_from("<BI", data, off)
        back.append((kind == 1, data[off + 5:off + 5 + length]))
        off += 5 + length
    assert back == datagrams[:9]
