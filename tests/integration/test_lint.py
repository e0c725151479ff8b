"""tarn lint --live: the rules applied to what the devices report."""
import json

from conftest import ran


def test_lint_live_finds_what_the_devices_report(ap_factory, tarn, tmp_path):
    one, two = ap_factory(count=2)
    ran(tarn("-d", two.ip_text, "set", "--name", "lobby"))
    ran(tarn("-d", one.ip_text, "set", "--name", "lobby"))
    ran(tarn("-d", one.ip_text, "wlan", "set", "--radio", "2.4", "--vap", "1",
             "--security", "static-wep", "--key", "abcde"))
    manifest = tmp_path / "fleet.yaml"
    manifest.write_text(f"devices:\n  \"{one.mac_text}\":\n  \"{two.mac_text}\":\n")
    res = ran(tarn("lint", str(manifest), "--live", "--json"), 1)
    found = {(f["code"], f["location"]) for f in json.loads(res.stdout)["findings"]}
    # "guest" is open on both radios of two and on one's 5 GHz radio, unlike its 2.4 GHz one.
    assert found == {("wep", one.mac_text), ("duplicate-name", two.mac_text),
                     ("open-network", one.mac_text), ("open-network", two.mac_text),
                     ("ssid-mismatch", one.mac_text), ("ssid-mismatch", two.mac_text)}, res.stdout
    # The manifest alone holds nothing to find.
    assert tarn("lint", str(manifest)).stdout == "0 errors, 0 warnings\n"
    # A device that does not answer is named, and the check is incomplete.
    manifest.write_text("devices:\n  \"02:00:00:00:00:99\":\n")
    res = ran(tarn("-t", "0.5", "lint", str(manifest), "--live", "--json"), 3, "02:00:00:00:00:99")
    assert json.loads(res.stdout) == {"findings": [], "unread": ["02:00:00:00:00:99"]}
