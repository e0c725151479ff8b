"""tarn rollout over five devices, one of which refuses the image for its small flash."""
import json

from conftest import firmware_image, ran

CAPACITY = "/var/lib/flash/capacity"
PROGRESS = ("firmware-upgrade", "progress")
SLOW = 400  # five sanitizer-built devices upgrading under load


def versions(aps):
    return [ap.store_get("system", "version") for ap in aps]


def events(res, kind):
    return [e for e in map(json.loads, res.stdout.splitlines()) if e["event"] == kind]


def test_rollout_halts_at_the_failing_wave_and_after_the_canary_then_resumes(
        ap_factory, tarn, tmp_path):
    aps = ap_factory(count=5)
    macs = [ap.mac_text for ap in aps]
    aps[2].write_file(CAPACITY, "10000")  # the image is 20080 bytes
    fw2 = firmware_image(tmp_path, "2.0.0")
    state = str(tmp_path / "rollout.state")

    def rollout(*args):
        return tarn("rollout", "--state", state, "--json", *args, timeout=SLOW)

    # By MAC, canary ap1, then ap2 and ap3 together; ap3 refuses.
    res = ran(rollout(fw2, "--all", "--wave", "2"), 1)
    outcomes = [(e["mac"], e["outcome"]) for e in events(res, "device")]
    assert outcomes[0] == (macs[0], "upgraded"), "the canary alone, first"
    assert sorted(outcomes[1:]) == [(macs[1], "upgraded"), (macs[2], "failed")]
    assert f"{macs[2]} refused the firmware image" in res.stderr
    assert "halted: 1 of 5 devices failed, 2 left untouched" in res.stderr
    assert f"tarn rollout --resume --state {state}." in res.stderr
    assert events(res, "summary")[0]["untouched"] == 2
    assert versions(aps) == ["2.0.0", "2.0.0", "1.0.0", "1.0.0", "1.0.0"]
    assert [ap.store_get(*PROGRESS) for ap in aps[3:]] == [None, None], "never started"
    stages = {e["stage"] for e in events(res, "progress") if e["mac"] == macs[0]}
    assert {"starting", "done"} <= stages, stages

    ran(rollout(fw2, "--to", ",".join(macs)), 2, "has not finished")  # the halt is kept

    # A damaged state file is never read as "every device"; nor is another
    # image or a new canary taken on resume.
    lines = open(state).read().splitlines(keepends=True)
    devices = [line for line in lines if line.startswith("device ")]
    damaged = [("was cut off", lines[:-1]),
               ("was cut off", [line for line in lines if line not in devices]),
               ("listed twice", lines[:-1] + [devices[0]])]
    for why, text in damaged:
        bad = tmp_path / "damaged.state"
        bad.write_text("".join(text))
        res = ran(tarn("rollout", "--resume", "--state", str(bad), timeout=SLOW), 2, why)
        assert "remove it" in res.stderr, res.stderr
    ran(rollout("--resume", "--canary", "2"), 2, "--resume takes")
    original = open(fw2, "rb").read()
    firmware_image(tmp_path, "2.0.0")  # same version, other bytes
    ran(rollout("--resume"), 2, "SHA-256 differs")
    open(fw2, "wb").write(original)

    # Fixed: the flash takes it, and a restart clears the refusal.
    aps[2].run(["rm", CAPACITY], check=True)
    ran(tarn("-d", macs[2], "reboot", "--yes", "--wait", timeout=SLOW))
    res = ran(rollout("--resume"))
    resumed = [e["mac"] for e in events(res, "device")]
    # The failed device goes in the first wave, ap5 alone in the second.
    assert set(resumed[:2]) == {macs[2], macs[3]} and resumed[2:] == [macs[4]], \
        "the failed one first"
    assert versions(aps) == ["2.0.0"] * 5
    ran(rollout("--resume"))
    assert versions(aps) == ["2.0.0"] * 5

    # A refusing canary (ap3, first in the manifest) halts before any other device.
    aps[2].write_file(CAPACITY, "10000")
    manifest = tmp_path / "fleet.yaml"
    manifest.write_text("version: 1\ndevices:\n" + "".join(
        f'  "{mac}": {{}}\n' for mac in [macs[2]] + macs[:2] + macs[3:]))
    res = ran(rollout(firmware_image(tmp_path, "3.0.0"), "--to", str(manifest)), 1)
    assert [(e["mac"], e["outcome"]) for e in events(res, "device")] == [(macs[2], "failed")]
    assert versions(aps) == ["2.0.0"] * 5
