"""What an administrator expects of tarn beyond the protocol."""
import json
import re

import tarnsim
from conftest import BUILD, PASSWORD, TARN, ran, run_on_terminal, wait_restart

SECURITY_NAMES = {"static-wep", "wpa-personal", "wpa-enterprise", "wpa2-personal",
                  "wpa2-enterprise", "open"}


def test_device_texts_reach_the_terminal_escaped(ap, tarn):
    rogue = "\x1b]0;owned\x07\x1b[2Jlobby"
    ap.store_set("system", "system-name", rogue)
    ap.store_set("system", "version", "9.9\x1b[8m")
    ap.store_set("interface", "ssid", "free\x1b[5m\u202ewifi", object="wlan1vap1")
    for args in (["discover"], ["-d", ap.ip_text, "info"],
                 ["-d", ap.ip_text, "wlan", "get", "--radio", "2.4"]):
        res = ran(tarn(*args))
        assert "\x1b" not in res.stdout + res.stderr and "\u202e" not in res.stdout, res.stdout
    assert "\\x1b]0;owned\\x07\\x1b[2Jlobby" in tarn("discover").stdout
    assert "free\\x1b[5m\\u202ewifi" in res.stdout
    # JSON keeps the text exactly, escaped the JSON way.
    (found,) = json.loads(tarn("discover", "--json").stdout)
    assert (found["name"], found["firmware"]) == (rogue, "9.9\x1b[8m")


def rebooted(ap, action):
    pid = ap.daemon_pid()
    tarnsim.drain(ap.segment.watcher)
    result = action()
    wait_restart(ap, pid)
    ap.wait_announcement(timeout=15)
    return result


def test_reboot_and_factory_reset_ask_on_a_terminal(ap, segment, tarn):
    label = f"{ap.mac_text} ({ap.store_get('system', 'system-name')}, {ap.ip_text})"
    base = ["-d", ap.ip_text]
    code, out, err = run_on_terminal(segment, base + ["factory-reset"], "n\n")
    assert (code, out, f"Reset {label} to factory settings? [y/N] " in err,
            "not confirmed; nothing was done." in err) == (1, "", True, True), err
    code, _, err = run_on_terminal(segment, base + ["reboot"], "\n")
    assert code == 1 and f"Reboot {label}? [y/N] " in err
    assert "funcFactoryReset" not in ap.stderr_text() and "funcReboot" not in ap.stderr_text()

    code, out, err = rebooted(ap, lambda: run_on_terminal(segment, base + ["reboot"], "yes\n"))
    assert code == 0 and "is rebooting" in out, err
    # --yes asks nothing; without a terminal nothing is asked either.
    code, out, err = rebooted(ap, lambda: run_on_terminal(segment, base + ["reboot", "--yes"], ""))
    assert code == 0 and "[y/N]" not in err, err
    assert "[y/N]" not in ran(tarn(*base, "factory-reset", input="")).stderr


def test_help_and_version(ap_factory, tarn):
    # The version the build took from git describe, as the packages carry it.
    version = (BUILD / "tarn-version").read_text().strip()
    res = tarn("--version")
    assert (res.returncode, res.stdout, res.stderr) == (0, f"tarn {version}\n", ""), res
    assert ran(ap_factory(start=False).run(["tarnd", "--version"])).stdout == f"tarnd {version}\n"
    overview = tarn("help")
    assert overview.returncode == 0 and overview.stdout == tarn("--help").stdout and \
        "--device DEVICE" in overview.stdout and "help [COMMAND]" in overview.stdout
    assert tarn("help", "wlan").stdout == tarn("wlan", "--help").stdout
    ran(tarn("help", "bogus"), 2, 'unknown command "bogus"')


def test_one_json_vocabulary(ap, at):
    def get(*args):
        return json.loads(ran(at(*args, "--json")).stdout)

    mac = ap.mac_text
    said = {c: get(*c.split()) for c in ("info", "time get", "ddns get", "netstatus", "verify",
                                         "commit")}
    assert all(s["mac"] == mac for s in said.values()), said
    assert {k: v for k, v in said["verify"].items() if k.startswith("result")} == {
        "result": "administrator", "result_code": 1}
    assert (said["commit"]["result"], said["commit"]["result_code"],
            type(said["time get"]["daylight_saving"])) == ("done", 0, bool)
    assert all(op["mac"] == mac for op in get("ops"))

    # What wlan get says, wlan set takes, and reads back the same; the other
    # networks stay as they were, and the table keeps the key to itself.
    networks = get("wlan", "get", "--radio", "2.4", "--show-keys")
    assert all(n["mac"] == mac and n["security"] in SECURITY_NAMES | {None} for n in networks)
    main = networks[0]
    ran(at("wlan", "set", "--radio", "2.4", "--vap", "0", "--security", main["security"],
           "--key", main["key"], "--vlan", "12"))
    after = get("wlan", "get", "--radio", "2.4", "--show-keys")
    assert after == [dict(main, vlan=12)] + networks[1:]
    table = at("wlan", "get", "--radio", "2.4").stdout
    assert main["key"] not in table and main["ssid"] in table

    # Text shows the words, not the codes.
    verify = at("verify").stdout
    assert re.search(r"^result: +administrator$", verify, re.M) and "code" not in verify, verify


def test_secrets_from_files_environment_or_nowhere(ap, at, util_run, tmp_path):
    ro, rw, key = tmp_path / "ro", tmp_path / "rw", tmp_path / "key"
    for path, text in ((ro, "ro-file"), (rw, "rw-file"), (key, "from-a-file-9")):
        path.write_text(text + "\n")
    assert json.loads(ran(at("snmp", "on", "--ro-file", str(ro), "--rw-file", str(rw),
                             "--json")).stdout) == {"mac": ap.mac_text, "enabled": True,
                                                    "read_back": False}
    assert [ap.store_get("snmp", f"{c}-community") for c in ("ro", "rw")] == ["ro-file", "rw-file"]
    ran(at("snmp", "off", env={"TARN_SNMP_RO": "ro-env", "TARN_SNMP_RW": "rw-env"}))
    assert [ap.store_get("snmp", f"{c}-community") for c in ("ro", "rw")] == ["ro-env", "rw-env"]

    wlan = ["wlan", "set", "--radio", "2.4", "--vap", "2"]
    def keys():
        res = at("wlan", "get", "--radio", "2.4", "--show-keys", "--json")
        return [n["key"] for n in json.loads(res.stdout)]

    ran(at(*wlan, "--security", "wpa2-personal", "--key-file", str(key)))
    assert keys()[2] == "from-a-file-9"
    # WPA and WPA2 share the passphrase: the environment's key is not taken.
    ran(at(*wlan, "--security", "wpa-personal", env={"TARN_WLAN_KEY": "from-the-env-7"}))
    assert keys()[2] == "from-a-file-9"
    # A WEP key is no WPA passphrase: with no file, environment or terminal, no key.
    ran(util_run(["setsid", "-w", "env", f"TARN_PASSWORD={PASSWORD}", TARN, "-d", ap.ip_text,
                  *wlan, "--security", "static-wep"], input=""), 2,
        "a Wi-Fi key is needed: set TARN_WLAN_KEY, use --key or --key-file, or run tarn on a "
        "terminal.")
    ran(at(*wlan, "--security", "static-wep", env={"TARN_WLAN_KEY": "wep13-env-key"}))
    assert keys()[2] == "wep13-env-key"
