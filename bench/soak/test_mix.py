"""The soak mix must never ask the device for anything that changes it
beyond writing back current values. Run: python3 -m pytest bench/soak."""

import mix
import tarnclient as tc

MAC, IP = bytes([2, 0, 0, 0, 0, 1]), bytes([192, 0, 2, 11])
STORE = {
    ("system", "system-name"): "tarn-ap1", ("management", "static-ip"): "192.0.2.11",
    ("static-ip-route", "mask"): "255.255.255.0", ("static-ip-route", "gateway"): "192.0.2.1",
    ("host", "dns-via-dhcp"): "down", ("host", "static-dns-1"): "192.0.2.53",
    ("host", "static-dns-2"): "192.0.2.54", ("management", "dhcp-status"): "down",
    ("management", "static-ipv6-prefix-length"): "64", ("management", "ipv6-autoconfig-status"): "down",
}


def store(section, key):
    return STORE.get((section, key), "")


def wlan_reply(radio):
    entry = tc.text_field(f"net{radio}", 32) + b"1\0\0\0" + bytes(4) + tc.text_field("k", 16)
    return bytes(tc.HEADER_LEN) + bytes([0, 0, radio]) + entry * 8


def test_write_bodies_carry_the_current_values():
    body = mix.basic_info_body(store)
    assert body[0:8] == b"tarn-ap1" and body[64:68] == IP
    assert body[71] == 1 and body[88] == 0 and body[105] == 64 and body[154] == 0
    assert body[72:88] == bytes([255, 255, 255, 0, 192, 0, 2, 1, 192, 0, 2, 53, 192, 0, 2, 54])
    body = mix.wlan_set_body(1, wlan_reply(1))
    assert body[:2] == b"\1\1" and len(body) == 450 and body[2:58] == wlan_reply(1)[25:81]


def test_nothing_dangerous_is_accepted():
    reads, writes = mix.templates(MAC, IP, store, {0: wlan_reply(0), 1: wlan_reply(1)})
    datagrams, tally = mix.generate(20000, 7, MAC, IP, reads, writes)
    assert all(n > 0 for n in tally.values())
    probes = [i for i, (p, _) in enumerate(datagrams) if p]
    assert probes == list(range(mix.PROBE_EVERY, 20000, mix.PROBE_EVERY + 1))
    write_bodies = {}
    for op, body in (mix.accepted_ops(w, MAC, IP) for w in writes):
        write_bodies.setdefault(op, []).append(body)
    accepted = [a for a in (mix.accepted_ops(d, MAC, IP) for _, d in datagrams) if a is not None]
    assert len(accepted) > len(datagrams) // 4
    for op, body in accepted:
        assert op not in mix.FORBIDDEN_OPS
        assert op not in mix.TRANSFER_OPS or body[:1] != b"\1", "a transfer start"
        assert op != 0xD2 or body[36] != 0, "an accepted VLAN change"
        if op in (0xA2, 0xD1, 0xD4):
            assert any(body[:len(b)] == b for b in write_bodies[op]), "a changed write body"
