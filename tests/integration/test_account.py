"""The user check, password change and a short basic-settings body, end to end."""

import struct

import tarnclient as tc
from conftest import tarnd_writes

SET_BASIC, VERIFY, CHANGE_ADMIN = 0xA2, 0xA3, 0xA4


def test_set_basic_info_short_body_applies_zeros(ap, client):
    seq = ap.journal_seq()
    assert client.result(tc.to(ap, SET_BASIC, b"tiny", tag=7), ap) == 0
    assert tarnd_writes(ap, seq) == [
        ("system", "system-name", "tiny"),
        ("management", "dhcp-status", "down"),
        ("management", "static-ip", "0.0.0.0"),
        ("static-ip-route", "mask", "0.0.0.0"),
        ("static-ip-route", "gateway", "0.0.0.0"),
        ("host", "dns-via-dhcp", "up"),
        ("management", "ipv6-autoconfig-status", "down"),
    ]


def change_admin(client, ap, user, password):
    # The new account is encoded as a credential block is.
    return client.result(tc.to(ap, CHANGE_ADMIN, tc.cred_block(user, password), tag=0x0A04), ap)


def verify_status(client, ap, password):
    replies = client.exchange(tc.to(ap, VERIFY, auth=("admin", password)), count=1)
    assert len(replies) == 1
    return tc.parse_header(replies[0]).status


def test_user_verify_and_change_admin_refusals_and_end_to_end(ap, client):
    for user, code in (("admin", 1), ("Admin", 2)):
        reply = tc.header(tc.TYPE_REPLY, 0x0A03, VERIFY, ap.mac, ap.ip, 0, 2, 4)
        assert client.exchange(tc.to(ap, VERIFY, auth=(user, "tarnadmin"), tag=0x0A03),
                               count=1) == [reply + struct.pack("<I", code)]
    old_hash = ap.store_get("system", "encrypted-password")
    for user, password, code in (("Admin", "Fresh2025pass", 1001), ("root", "has:colon", 1001),
                                 ("admin", "quote'; reboot; '", 1006)):
        assert change_admin(client, ap, user, password) == code, user
    assert ("SET_PASSWD" in ap.submit_log(), ap.store_get("system", "encrypted-password"),
            verify_status(client, ap, "tarnadmin")) == (False, old_hash, tc.STATUS_OK)
    ap.write_file("/system/cfg/debug", "")  # command trace on
    assert change_admin(client, ap, "admin", "Fresh2025pass") == 0
    assert "'SET_PASSWD' 'admin' 'Fresh2025pass'" in ap.submit_log()
    # The trace shows the command with the new password masked.
    ap.wait_output(r"SYSCMD: submit SET_PASSWD 'admin' '\*{8}'\n")
    assert "Fresh2025pass" not in ap.stdout_text() + ap.stderr_text()
    assert (ap.store_get("system", "encrypted-password") != old_hash,
            [verify_status(client, ap, p) for p in ("tarnadmin", "Fresh2025pass")]) == (
        True, [tc.STATUS_AUTH_FAILED, tc.STATUS_OK])
