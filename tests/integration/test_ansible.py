"""The contrib/ansible collection run by ansible-core in the utility namespace."""
import json

import pytest

from conftest import PASSWORD, SOURCE, TARN, ran

COLLECTIONS = SOURCE / "contrib" / "ansible"


@pytest.fixture
def ansible(util_run, tmp_path):
    home = tmp_path / "home"
    home.mkdir()
    env = {"HOME": home, "ANSIBLE_CONFIG": tmp_path / "none.cfg",
           "ANSIBLE_COLLECTIONS_PATH": COLLECTIONS, "ANSIBLE_LOCAL_TEMP": tmp_path / "tmp",
           "ANSIBLE_REMOTE_TEMP": tmp_path / "tmp", "ANSIBLE_NOCOLOR": "1",
           "ANSIBLE_RETRY_FILES_ENABLED": "0", "ANSIBLE_PYTHON_INTERPRETER": "/usr/bin/python3",
           "ANSIBLE_STDOUT_CALLBACK": "json", "PYTHONDONTWRITEBYTECODE": "1",
           "TARN_PASSWORD": PASSWORD}
    (tmp_path / "none.cfg").write_text("")

    def run(*argv):
        return util_run(["env", *(f"{k}={v}" for k, v in env.items()), *argv], timeout=300)
    return run


def test_inventory_lists_the_devices_and_a_playbook_applies_once(ap_factory, tarn, ansible,
                                                                 tmp_path):
    one, two = devices = ap_factory(count=2)
    ran(tarn("-d", one.ip_text, "set", "--name", "lobby"))
    ran(tarn("-d", two.ip_text, "set", "--name", "localhost"))
    config = tmp_path / "fleet.tarn.yml"
    config.write_text(f"plugin: tarn.fleet.discover\ntarn: {TARN}\ntimeout: 1\n")
    inventory = json.loads(ran(ansible("ansible-inventory", "-i", str(config), "--list")).stdout)
    hostvars = inventory["_meta"]["hostvars"]
    # Named after the device; the MAC and address as tarn reports them.
    assert sorted((v["tarn_mac"], v["tarn_ipv4"]) for v in hostvars.values()) == [
        (one.mac_text, one.ip_text), (two.mac_text, two.ip_text)]
    # Ansible's own host name "localhost" would not be the device.
    assert (hostvars["lobby"]["tarn_mac"], hostvars[two.mac_text]["tarn_name"],
            set(inventory["tarn_devices"]["hosts"])) == (one.mac_text, "localhost", set(hostvars))

    manifest = tmp_path / "fleet.yaml"
    manifest.write_text("devices:\n" + "".join(
        f"  \"{d.mac_text}\": {{wlan: {{\"2.4\": {{1: {{ssid: visitors}}}}}}}}\n"
        for d in devices))

    def ssids():
        return [d.store_get("interface", "ssid", object="wlan1vap1") for d in devices]

    before = ssids()
    result, changed = play(ansible, tmp_path, manifest, "--check", "--diff")
    assert (changed, ssids(), result["diff"]["after"].count("wlan 2.4/1 ssid: visitors")) == (
        1, before, 2), result["diff"]
    result, changed = play(ansible, tmp_path, manifest)
    assert changed == 1 and ssids() == ["visitors", "visitors"]
    assert sorted(r["mac"] for r in result["results"] if r["changes"]) == \
        sorted(d.mac_text for d in devices)
    assert play(ansible, tmp_path, manifest)[1] == 0


def play(ansible, tmp_path, manifest, *flags):
    """The result of a playbook's one tarn_apply task, and the play's changed count."""
    playbook = tmp_path / "fleet.yml"
    playbook.write_text(
        "- hosts: localhost\n  connection: local\n  gather_facts: false\n  tasks:\n"
        f"    - tarn.fleet.tarn_apply: {{manifest: {manifest}, tarn: {TARN}, timeout: 1}}\n")
    out = json.loads(ran(ansible("ansible-playbook", "-i", "localhost,", str(playbook), *flags)).stdout)
    (task,) = out["plays"][0]["tasks"]
    return task["hosts"]["localhost"], out["stats"]["localhost"]["changed"]
