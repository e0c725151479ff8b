"""Firmware upgrade with real HTTP and TFTP servers."""
import itertools

import tarnclient
from conftest import firmware_image, ran, wait_restart
from servers import HTTP, OP_FIRMWARE, TFTP, UTIL_IPV6, query_body, start_body, transfer

FLASH = "/var/lib/flash/image"
PROGRESS = ("firmware-upgrade", "progress")
SLOW = 120  # bounds download, validation and reboot of sanitizer builds too


def discovered_version(client, ap):
    """The discovery reply's version field (None while the device is silent)."""
    replies = client.exchange(tarnclient.to(ap, 0xA1, auth=None), timeout=3, count=1)
    return replies[0][22 + 160:22 + 192].split(b"\0", 1)[0].decode() if replies else None


def test_http_upgrade_end_to_end(ap, client, http):
    image = http.offer_image("fw-7.1.0.bin", "7.1.0-http")
    assert discovered_version(client, ap) not in (None, "7.1.0-http")
    # The start is answered only after the download and the validation.
    assert transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "fw-7.1.0.bin"), SLOW) == (1, 0, "")
    ap.wait_until(lambda: ap.store_get(*PROGRESS) == "1", timeout=SLOW, what="flash tool done")
    assert ap.read_bytes(FLASH) == image
    # The query after the flash tool's progress "1" is answered, then the reboot.
    old_pid = ap.daemon_pid()
    assert transfer(client, ap, OP_FIRMWARE, query_body()) == (2, 2, "")
    wait_restart(ap, old_pid, SLOW)
    ap.wait_until(lambda: discovered_version(client, ap) == "7.1.0-http", timeout=SLOW,
                  what="new version in the discovery reply")


def test_tftp6_upgrade(ap, client, tftp6):
    ap.write_file("/system/cfg/debug", "")
    image = tftp6.offer_image("images/fw.bin", "7.2.0-tftp6")
    assert transfer(client, ap, OP_FIRMWARE,
                    start_body(TFTP, "images/fw.bin", UTIL_IPV6)) == (1, 0, "")
    # Unbracketed; the relative path works from the daemon's working directory "/".
    ap.wait_output(r"SYSCMD: splashbin/firmware-upgrade tftp://2001:db8::1/images/fw\.bin &\n")
    ap.wait_until(lambda: ap.store_get(*PROGRESS) == "1", timeout=SLOW, what="flash tool done")
    assert ap.read_bytes(FLASH) == image


def test_refused_image_then_busy_refusal(ap, client, http):
    """The damaged image's progress refuses the next start; a query answers, no reboot."""
    image = http.offer_image("bad.bin", "6.6.6-bad")
    http.put("bad.bin", image[:-1] + bytes([image[-1] ^ 0xFF]))
    http.offer_image("fw.bin", "8.0.0")
    assert (transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "bad.bin"), SLOW),
            ap.store_get(*PROGRESS), ap.exists(FLASH)) == ((1, 0, ""), "Validation failed", False)
    seq = ap.journal_seq()
    assert transfer(client, ap, OP_FIRMWARE, start_body(HTTP, "fw.bin")) == (
        1, 1, '"Validation failed" is under processing')
    assert (transfer(client, ap, OP_FIRMWARE, query_body()), ap.journal(after=seq),
            ap.exists("/tmp/fw.bin")) == ((2, 2, ""), [], False), "answered; nothing downloaded"


def test_refused_file_names_run_nothing(ap, client):
    ap.write_file("/system/cfg/debug", "")
    for op, name in itertools.product((0x100, 0x101, 0x102),
                                      ("../etc/passwd", "x;touch /tmp/owned")):
        seq, out_before = ap.journal_seq(), ap.stdout_text()
        assert transfer(client, ap, op, start_body(TFTP, name)) == (1, 1, "Invalid file name"), name
        assert ap.journal(after=seq) == [], f"{op:#x} {name}: no status or progress written"
        assert "SYSCMD" not in ap.stdout_text()[len(out_before):], f"{op:#x} {name}: nothing run"
    assert not ap.exists("/tmp/owned")


def test_flash_capacity_must_be_a_whole_number(ap, tmp_path):
    """Never read as its leading digits."""
    ap.write_file("/tmp/fw.bin", firmware_image(tmp_path, "9.0.0").read_bytes())
    ap.write_file("/var/lib/flash/capacity", "10000\n")
    ran(ap.run(["flash-validate", "/tmp/fw.bin"]), 1, "does not fit the flash of 10000 bytes")
    ap.write_file("/var/lib/flash/capacity", "10000abc")
    ran(ap.run(["flash-validate", "/tmp/fw.bin"]), 0,
        "/var/lib/flash/capacity does not hold a number of bytes")
