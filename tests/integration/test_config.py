"""Configuration backup and restore with real TFTP and HTTP servers."""
import subprocess
import time

import pytest

from conftest import BUILD, wait_restart
from servers import (HTTP, OP_BACKUP, OP_RESTORE, TFTP, UTIL_IPV4, UTIL_IPV6, query_body,
                     start_body, transfer)


def host_validate(path):
    """config-file validate on the utility side: it only reads the file."""
    return subprocess.run([BUILD / "platform/device/config-file", "validate", path],
                          capture_output=True, timeout=30).returncode


def backup(client, ap, files, server, name, address=UTIL_IPV4):
    """A backup that completes; the file as it arrived, checked intact."""
    assert (transfer(client, ap, OP_BACKUP, start_body(server, name, address)),
            ap.store_get("config", "status")) == ((1, 0, ""), "complete")
    data = files.wait_file(name)
    assert host_validate(files.path(name)) == 0
    return data


def await_restore_result(client, ap, limit=60):
    """The first restore query reply that is no longer "running" (2)."""
    for _ in range(limit):
        reply = transfer(client, ap, OP_RESTORE, query_body())
        if reply.result != 2:
            return reply
        time.sleep(0.25)
    raise AssertionError(f"restore still running after {limit} queries")


def test_backups_arrive_intact_by_tftp_whatever_the_server_type_and_over_ipv6(ap, client, tftp,
                                                                              tftp6):
    # An HTTP server type is accepted and the upload still goes by TFTP.
    for server_type, name in ((TFTP, "backup-1.cfg"), (HTTP, "backup-2.cfg")):
        text = backup(client, ap, tftp, server_type, name).decode()
        # The run state stays out of backups.
        assert (f"system\t-\t-\tsystem-name\t{ap.name}\n" in text,
                "\tstatus\tconfig backup" in text) == (True, False), text
        assert transfer(client, ap, OP_BACKUP, query_body()) == (2, 0, "")
    # Over IPv6 the server is named unbracketed.
    ap.write_file("/system/cfg/debug", "")
    backup(client, ap, tftp6, TFTP, "b6.cfg", UTIL_IPV6)
    ap.wait_output(r"SYSCMD: tftp -p 2001:db8::1 -l b6\.cfg -r b6\.cfg\n")


@pytest.mark.parametrize("source", ["tftp", "http"])
def test_restore_fails_a_damaged_file_and_brings_back_a_changed_setting(ap, client, tftp, http,
                                                                        source):
    saved = backup(client, ap, tftp, TFTP, "saved.cfg")
    server, server_type = (tftp, TFTP) if source == "tftp" else (http, HTTP)
    server.put("restore-me.cfg", saved)
    server.put("corrupt.cfg", saved[:-2] + bytes([saved[-2] ^ 1]) + saved[-1:])
    ap.store_set("system", "system-name", "renamed-after-backup")

    # The finished backup blocks a restore until a restore query clears it.
    reply = transfer(client, ap, OP_RESTORE, start_body(server_type, "restore-me.cfg"))
    assert (reply.result, reply.message) == (1, '"complete" is under processing')
    assert (transfer(client, ap, OP_RESTORE, query_body()).result,
            ap.store_get("config", "status")) == (3, "")

    assert transfer(client, ap, OP_RESTORE, start_body(server_type, "corrupt.cfg")).result == 0
    assert (await_restore_result(client, ap), ap.store_get("config", "status"),
            transfer(client, ap, OP_RESTORE, query_body())[1:]) == (
        (2, 1, "Verify failed"), "", (2, ""))

    old_pid = ap.daemon_pid()
    assert transfer(client, ap, OP_RESTORE, start_body(server_type, "restore-me.cfg")) == (1, 0, "")
    assert await_restore_result(client, ap) == (2, 3, "")
    # The restore tool runs after its pause and reboots the device.
    wait_restart(ap, old_pid)
    assert ap.store_get("system", "system-name") == ap.name
