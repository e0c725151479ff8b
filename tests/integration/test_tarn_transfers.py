"""Transfers with tarn: it claims only what the device reports."""
import json
import re

from conftest import TARN, firmware_image, ran, run_seeing_requests


def test_a_backup_start_is_sent_once_and_claims_only_the_upload(ap, segment):
    """The device answers a backup start only after its upload (here to nobody):
    tarn waits instead of starting it again."""
    starts = []
    code, out, err = run_seeing_requests(
        segment, [TARN, "-t", "1", "-r", "2", "-d", ap.ip_text, "config", "backup", "--tftp",
                  "192.0.2.99", "lost.cfg"],
        lambda h, data: starts.append(1) if h.op == 0x101 and data[22:23] == b"\x01" else None)
    assert (code, len(starts)) == (0, 1), err
    assert "the device reports only that it ran it, not that the file arrived" in out and \
        re.search(r"^result: +upload-run$", out, re.M) and "complete" not in out, out


def test_restore_refuses_another_devices_backup_and_passes_on_the_devices_verdict(
        ap_factory, tarn, tftp):
    one, two = ap_factory(count=2)
    ran(tarn("-d", one.ip_text, "config", "backup", "--tftp", "192.0.2.1", "one.cfg"))
    assert tftp.wait_file("one.cfg")
    seq = two.journal_seq()
    restore = ("-d", two.ip_text, "config", "restore")
    res = ran(tarn(*restore, "--tftp", "192.0.2.1", "one.cfg"), 2,
              f"one.cfg is the configuration of {one.mac_text}, not of {two.mac_text}")
    assert "Give --force to restore it anyway." in res.stderr
    res = ran(tarn(*restore, "--tftp", "192.0.2.1", "missing.cfg"), 2,
              "cannot read tftp://192.0.2.1/missing.cfg")
    assert "--force" in res.stderr
    # The device would ask for http://2001:db8::1/one.cfg, which is no URL.
    ran(tarn(*restore, "--http", "2001:db8::1", "one.cfg"), 2,
        "cannot download by HTTP from an IPv6 address")
    assert two.journal(after=seq) == []
    # The device's own refusal is passed on; the owner takes its backup back.
    tftp.put("junk.cfg", b"not a configuration\n")
    ran(tarn(*restore, "--tftp", "192.0.2.1", "junk.cfg", "--wait-timeout", "30"), 1,
        "Verify failed")
    done = json.loads(ran(tarn("-d", one.ip_text, "config", "restore", "--tftp", "192.0.2.1",
                               "one.cfg", "--wait-timeout", "30", "--json")).stdout)
    assert (done["mac"], done["result"], done["result_code"]) == (one.mac_text, "complete", 3)


def test_a_refused_image_ends_the_upgrade_at_once(ap, at, tmp_path):
    """Served by tarn's own HTTP server, which the device's wget reads."""
    bad = firmware_image(tmp_path, "6.6.6-bad")
    image = bad.read_bytes()
    bad.write_bytes(image[:-1] + bytes([image[-1] ^ 0xFF]))
    # tarn's server would stop before the device fetched the image.
    ran(at("firmware", "upgrade", "--serve", str(bad), "--no-wait"), 2,
        "--no-wait cannot be used with --serve")
    res = ran(at("firmware", "upgrade", "--serve", str(bad), "--wait-timeout", "600", timeout=90), 1)
    assert 'refused the firmware image ("Validation failed") and refuses every further upgrade ' \
           f"until it restarts; restart it with tarn -d {ap.mac_text} reboot." in res.stderr


def test_an_upgrade_to_the_same_version_ends_with_a_warning(ap, at, http):
    http.offer_image("same.bin", ap.store_get("system", "version"))
    res = ran(at("firmware", "upgrade", "--http", "192.0.2.1", "same.bin", "--wait-timeout", "120",
                 timeout=150))
    assert f"warning: {ap.mac_text} restarted with the same firmware 1.0.0" in res.stderr
    # Not a terminal: one line for each change of progress.
    steps = [line.split(" (")[0] for line in res.stderr.splitlines() if line.startswith("upgrading")]
    assert steps and all(a != b for a, b in zip(steps, steps[1:])), steps
