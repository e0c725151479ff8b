"""Firmware upgrade (op 0x100) in the device sandbox, with real HTTP and
TFTP servers on the utility side: the image travels, is validated and
flashed by the device tools, and the reboot after the next query brings the
device up with the new version."""
import os
import subprocess
from pathlib import Path

import pytest

import tarnclient
from servers import (HTTP, OP_FIRMWARE, TFTP, UTIL_IPV4, UTIL_IPV6, http, query_body,  # noqa: F401
                     start_body, tftp, tftp6, transfer)

BUILD = Path(os.environ.get("TARN_BUILD") or Path(__file__).resolve().parents[2] / "build")
FLASH = "/var/lib/flash/image"
DISCOVER_FW_VERSION = (160, 32)   # body offset and width in the discovery reply
# Bounds on the download, validation and reboot, generous enough for a
# daemon and device tools built with sanitizers.
SLOW = 120


def make_image(tmp_path, version, size=20000):
    payload = tmp_path / f"payload-{version}"
    payload.write_bytes(os.urandom(size))
    image = tmp_path / f"image-{version}"
    subprocess.run([BUILD / "platform/device/mkfwimage", version, payload, image], check=True,
                   timeout=30)
    return image.read_bytes()


def progress(ap):
    return ap.store_get("firmware-upgrade", "progress")


def discovered_version(client, ap):
    """The version in the discovery reply; None while the device is silent."""
    replies = client.exchange(tarnclient.to(ap, 0xA1, auth=None), timeout=3, count=1)
    return tarnclient.field_text(tarnclient.body_of(replies[0]), *DISCOVER_FW_VERSION) if replies else None


def wait_flashed(ap, image):
    ap.wait_until(lambda: progress(ap) == "1", timeout=SLOW, what="flash tool done")
    assert ap.read_bytes(FLASH) == image


def reboot_by_query(client, ap, version):
    """The query after the flash tool has set the progress to "1" is
    answered, then the reboot trigger brings the device up again."""
    old_pid = ap.daemon_pid()
    reply = transfer(client, ap, OP_FIRMWARE, query_body())
    assert (reply.sst, reply.result, reply.message) == (2, 2, "")
    ap.wait_until(lambda: ap.daemon_pid() not in (None, old_pid), timeout=SLOW,
                  what="tarnd restarted by the reboot")
    ap.wait_until(lambda: progress(ap) is None, timeout=SLOW, what="progress cleared at boot")
    ap.wait_until(lambda: discovered_version(client, ap) == version, timeout=SLOW,
                  what="new version in the discovery reply")


def test_http_upgrade_end_to_end(ap, client, http):
    image = make_image(http.root.parent, "7.1.0-http")
    http.put("fw-7.1.0.bin", image)
    assert discovered_version(client, ap) not in (None, "7.1.0-http")
    # The start is answered only after the download and the validation.
    reply = transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "fw-7.1.0.bin"), timeout=SLOW)
    assert (reply.sst, reply.result, reply.message) == (1, 0, "")
    wait_flashed(ap, image)
    assert ap.store_get("system", "version") == "7.1.0-http"
    reboot_by_query(client, ap, "7.1.0-http")


@pytest.mark.parametrize("server,address", [("tftp", UTIL_IPV4), ("tftp6", UTIL_IPV6)])
def test_tftp_upgrade(ap, client, request, server, address):
    files = request.getfixturevalue(server)
    ap.write_file("/system/cfg/debug", "")
    image = make_image(files.root.parent, f"7.2.0-{server}")
    files.put("images/fw.bin", image)
    reply = transfer(client, ap, OP_FIRMWARE, start_body(TFTP, "images/fw.bin", address))
    assert (reply.sst, reply.result, reply.message) == (1, 0, "")
    if address == UTIL_IPV6:
        # Unbracketed; the daemon's working directory is still "/", so the
        # relative path finds the tool.
        ap.wait_output(r"SYSCMD: splashbin/firmware-upgrade tftp://2001:db8::1/images/fw\.bin &\n")
    wait_flashed(ap, image)
    reboot_by_query(client, ap, f"7.2.0-{server}")


def test_refused_image_leaves_flash_alone(ap, client, http):
    image = bytearray(make_image(http.root.parent, "6.6.6-bad"))
    image[-1] ^= 0xFF
    http.put("bad.bin", bytes(image))
    version = ap.store_get("system", "version")
    reply = transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "bad.bin"), timeout=SLOW)
    assert (reply.sst, reply.result, reply.message) == (1, 0, "")
    assert progress(ap) == "Validation failed"
    assert not ap.exists(FLASH)
    assert ap.store_get("system", "version") == version


def test_busy_refusal_and_query_without_reboot(ap, client, http):
    http.put("fw.bin", make_image(http.root.parent, "8.0.0"))
    ap.store_set("firmware-upgrade", "progress", "Validation failed")
    seq = ap.journal_seq()
    reply = transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "fw.bin"))
    assert (reply.sst, reply.result, reply.message) == (1, 1, '"Validation failed" is under processing')
    reply = transfer(client, ap, OP_FIRMWARE, query_body())
    assert (reply.sst, reply.result, reply.message) == (2, 2, "")
    assert ap.journal(after=seq) == []
    assert not ap.exists("/tmp/fw.bin"), "nothing downloaded"


@pytest.mark.parametrize("op", [0x100, 0x101, 0x102])
def test_refused_file_names_run_nothing(ap, client, op):
    ap.write_file("/system/cfg/debug", "")
    for name in ("../etc/passwd", "x;touch /tmp/owned"):
        seq = ap.journal_seq()
        out_before = ap.stdout_text()
        reply = transfer(client, ap, op, start_body(TFTP, name))
        assert (reply.sst, reply.result, reply.message) == (1, 1, "Invalid file name"), name
        assert ap.journal(after=seq) == [], f"{name}: no status or progress written"
        assert "SYSCMD" not in ap.stdout_text()[len(out_before):], f"{name}: nothing run"
    assert not ap.exists("/tmp/owned")
