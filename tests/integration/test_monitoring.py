"""tarn exporter scraped by a real Prometheus, tarn watch and its --exec hook, tarn check."""
import json
import re
import signal
import socket
import subprocess
import time
from datetime import datetime
from pathlib import Path

import pytest

import tarnclient
import tarnsim
from conftest import BUILD, SOURCE, TARN, ran

RULES = SOURCE / "contrib" / "prometheus" / "tarn.rules.yml"
DASHBOARD = SOURCE / "contrib" / "grafana" / "tarn-dashboard.json"
UNIT = BUILD / "packaging" / "systemd" / "tarn-exporter.service"
EXPORTER = f"{tarnsim.UTIL_IPV4}:9472"
PROMETHEUS = f"{tarnsim.UTIL_IPV4}:9090"
FAKE_MAC = "02:00:00:00:00:99"


def stop(proc):
    """The exit status after SIGTERM, or None if it had to be killed 10 s later."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
    try:
        return proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=10)
        return None


@pytest.fixture
def background(segment, tmp_path):
    """background(argv, clean_stop, **popen); fails if SIGTERM is ignored or (clean_stop) exit≠0."""
    procs = []

    def start(argv, clean_stop=False, **kw):
        out, err = tmp_path / f"stdout-{len(procs)}", tmp_path / f"stderr-{len(procs)}"
        with open(out, "w") as o, open(err, "w") as e:
            proc = segment.util_popen(argv, text=True, **{"stdout": o, "stderr": e, **kw})
        proc.errors = err.read_text
        proc.lines = lambda: out.read_text().rpartition("\n")[0].splitlines()
        proc.clean_stop = clean_stop
        procs.append(proc)
        return proc
    yield start
    stopped = [(proc, stop(proc)) for proc in procs]
    failures = [f"{p.args} stopped with {status}: {p.errors()}" for p, status in stopped
                if status is None or (p.clean_stop and status != 0)]
    assert not failures, failures


def http_get(segment, url):
    res = segment.util_run(["wget", "-q", "-T", "3", "-O-", url], timeout=15)
    return res.stdout if res.returncode == 0 else None


def start_exporter(background, *options):
    return background([TARN, "-i", tarnsim.BRIDGE, "-t", "0.5", "exporter", "--listen", EXPORTER,
                       *options], clean_stop=True)


def complete_lines(path):
    """The lines a writer has finished, so far."""
    return path.read_text().rpartition("\n")[0].splitlines() if path.exists() else []


def samples(text, name):
    return {m.group(1): m.group(2)
            for m in re.finditer(rf"^{name}(?:{{(.*)}})? (\S+)$", text, re.M)}


def announcement(mac, name, ip, firmware="1.0.0"):
    t, mac, ip = tarnclient.text_field, bytes.fromhex(mac.replace(":", "")), socket.inet_aton(ip)
    body = (t("WLAN-EAP", 64) + t("AP", 32) + t(firmware, 32) + mac + bytes(64) + t(name, 64) + ip
            + bytes(29))  # 295 bytes
    return tarnclient.header(tarnclient.TYPE_ANNOUNCE, 0, 0xA0, mac, ip, 0, 0, len(body)) + body


def test_prometheus_sees_a_stopped_device_go_down(ap_factory, segment, tarn, background, tmp_path):
    first, second = ap_factory(count=2)
    lost_after, scrape = 3, 1
    exporter = start_exporter(background, "--lost-after", str(lost_after),
                              "--discovery-interval", "1")
    config = tmp_path / "prometheus.yml"
    config.write_text(json.dumps({
        "global": {"scrape_interval": f"{scrape}s", "scrape_timeout": f"{scrape}s",
                   "evaluation_interval": f"{scrape}s"},
        "rule_files": [str(RULES)],
        "scrape_configs": [{"job_name": "tarn", "static_configs": [{"targets": [EXPORTER]}]}],
    }))
    prometheus = background(["prometheus", f"--config.file={config}",
                             f"--storage.tsdb.path={tmp_path / 'data'}",
                             f"--web.listen-address={PROMETHEUS}", "--log.level=warn"],
                            stdout=subprocess.DEVNULL)

    def up_values():
        for proc in (prometheus, exporter):
            if proc.poll() is not None:
                pytest.fail(f"{proc.args} exited with {proc.poll()}: {proc.errors()}")
        page = http_get(segment, f"http://{PROMETHEUS}/api/v1/query?query=tarn_device_up")
        return {r["metric"]["mac"]: r["value"][1]
                for r in json.loads(page)["data"]["result"]} if page else None

    macs = first.mac_text, second.mac_text
    first.wait_until(lambda: up_values() == {macs[0]: "1", macs[1]: "1"}, 30,
                     "both devices up in Prometheus")

    # A one-off command runs beside the exporter and both get their replies.
    ran(tarn("-d", macs[0], "set", "--name", "reception"))
    first.wait_until(lambda: 'name="reception"' in (
        http_get(segment, f"http://{EXPORTER}/metrics") or ""), 10, "the new name in the metrics")

    # Until the stop the device answered every discovery, a second apart.
    stopping = time.monotonic()
    second.stop_daemon()
    first.wait_until(lambda: up_values() == {macs[0]: "1", macs[1]: "0"},
                     lost_after + 3 * scrape + 10, "the stopped device down in Prometheus")
    assert time.monotonic() - stopping >= lost_after - 1.5, "down before the lost threshold"

    # Valid exposition text, and the rules and the dashboard use only what it serves.
    text = http_get(segment, f"http://{EXPORTER}/metrics")
    ran(subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True,
                       text=True, timeout=30))
    served = set(re.findall(r"^# TYPE (\S+)", text, re.M))
    exprs = [t["expr"] for p in json.loads(DASHBOARD.read_text())["panels"] for t in p["targets"]]
    used = set(re.findall(r"\b((?:tarn|process)_[a-z_]+)", "\n".join([RULES.read_text(), *exprs])))
    assert used and used <= served, used - served
    assert samples(text, "tarn_device_discovery_rtt_seconds")[f'mac="{macs[0]}"']
    rules = json.loads(http_get(segment, f"http://{PROMETHEUS}/api/v1/rules"))
    assert {r["name"] for g in rules["data"]["groups"] for r in g["rules"]} >= {
        "TarnDeviceDown", "TarnExporterDown", "tarn:devices_up:sum"}


def test_watch_events_and_their_command(ap, segment, background, tmp_path):
    out, pwned = tmp_path / "events", tmp_path / "pwned"
    # The hook prints, which must not reach watch's JSON lines, and fails, which watch reports.
    hook = (f'printf "%s\\n" "$TARN_JSON" >> {out}; echo hook-output; '
            f'env | grep -c ^TARN_PASSWORD= >> {out}.password')
    watch = background(["env", "TARN_PASSWORD=secret", TARN, "-i", tarnsim.BRIDGE, "-t", "0.5",
                        "--json", "watch", "--lost-after", "31", "--exec", hook], cwd=tmp_path)
    listen = background([TARN, "-i", tarnsim.BRIDGE, "--json", "listen", "--count", "2"])
    exporter = start_exporter(background, "--discovery-interval", "0")
    ap.wait_until(lambda: any(json.loads(e)["mac"] == ap.mac_text for e in watch.lines()), 15,
                  "the running AP appears")
    ap.wait_until(lambda: http_get(segment, f"http://{EXPORTER}/metrics"), 15, "the exporter serves")

    sender = segment.socket(tarnclient.PORT_REQUEST)
    try:
        def announce(*args):
            sender.sendto(announcement(FAKE_MAC, *args), (tarnclient.BROADCAST,
                                                          tarnclient.PORT_REQUEST))

        def fake_events(count):
            found = [e for e in map(json.loads, watch.lines()) if e["mac"] == FAKE_MAC]
            return found if len(found) >= count else None

        announce("$(touch pwned);`touch pwned`", "192.0.2.99")
        ap.wait_until(lambda: fake_events(1), 10, "appeared")
        announce("spare", "192.0.2.98")
        ap.wait_until(lambda: fake_events(3), 10, "two changes")
        ap.wait_until(lambda: fake_events(4), 40, "lost after 31 s")
        announce("spare", "192.0.2.98", "1.1.0")
        seen = ap.wait_until(lambda: fake_events(6), 10, "back with a new firmware")
    finally:
        sender.close()

    assert [(e["event"], e.get("field"), e.get("previous")) for e in seen] == [
        ("appeared", None, None),
        ("changed", "ipv4", "192.0.2.99"),
        ("changed", "name", "$(touch pwned);`touch pwned`"),
        ("lost", None, None),
        ("back", None, None),
        ("changed", "firmware", "1.0.0"),
    ]
    times = [datetime.fromisoformat(e["time"].replace("Z", "+00:00")) for e in seen]
    assert (times == sorted(times), (times[3] - times[1]).total_seconds() >= 31 - 1,
            seen[3]["last_seen"] == seen[2]["time"], seen[5]["name"]) == (True, True, True, "spare")

    # The hook saw every event in its environment, never the password of
    # tarn's own environment, and never ran a device's text as a command.
    # watch prints an event before its hook runs: wait for the last hook.
    def hooks_done():
        hooked = [json.loads(line) for line in complete_lines(out)]
        counts = complete_lines(Path(f"{out}.password"))
        fake = [e for e in hooked if e["mac"] == FAKE_MAC]
        return (fake, set(counts)) if len(fake) == len(seen) and len(counts) == len(hooked) else None
    assert (ap.wait_until(hooks_done, 10, "the hook of every event"), pwned.exists()) == (
        (seen, {"0"}), False)
    errors = watch.errors()
    failed = f"--exec command failed (status 1) for event lost of {FAKE_MAC}."
    assert ("hook-output" in errors, failed in errors) == (True, True), errors

    # listen and the exporter heard the same broadcasts beside watch.
    assert listen.wait(timeout=10) == 0
    heard = [json.loads(line) for line in listen.lines()]
    assert [h["event"] for h in heard] == ["announce", "announce"] and all(h["time"] for h in heard)
    text = http_get(segment, f"http://{EXPORTER}/metrics")
    assert int(samples(text, "tarn_exporter_announcements_total")[None]) >= 3
    assert f'mac="{FAKE_MAC}",name="spare",model="",firmware="1.1.0"' in text
    assert exporter.poll() is None and watch.poll() is None

    # Refused: shorter than an up device may stay unheard (30 s, or a shorter discovery interval).
    for argv, least in ((["watch", "--lost-after", "30"], 30),
                        (["exporter", "--listen", EXPORTER, "--lost-after", "5"], 30),
                        (["exporter", "--listen", EXPORTER, "--lost-after", "10",
                          "--discovery-interval", "10"], 10)):
        short = segment.util_run([TARN, *argv], timeout=30)
        assert (short.returncode, f"more than {least} seconds" in short.stderr) == (2, True), short


def test_exporter_stops_on_sigterm_right_after_start(ap, background):
    # The signal comes as the HTTP server starts to listen: it must stop all the same.
    exporter = start_exporter(background, "--discovery-interval", "0")
    ap.wait_until(lambda: "serving" in exporter.errors(), 15, "the exporter's start")
    assert stop(exporter) == 0, exporter.errors()


def test_check_statuses(ap, segment, tmp_path):
    def check(device, *options, state=tmp_path / "state", env=()):
        state_dir = ["--state-dir", str(state)] if state else []
        res = segment.util_run(["env", *env, TARN, "-i", tarnsim.BRIDGE, "-t", "0.5", "-r", "0",
                                "-d", device, "check", *state_dir, *options], timeout=30)
        assert res.stdout.count("\n") == 1 and not res.stderr, res
        return res.returncode, res.stdout.strip()

    mac = ap.mac_text
    status, line = check(mac)
    assert status == 0 and re.fullmatch(
        rf"TARN OK - tarn-ap1 \({mac}, {ap.ip_text}\) answered in [\d.]+ ms, firmware 1\.0\.0 "
        r"\| rtt=[\d.]+s;;;0 age=0s;;90;0", line), line
    status, line = check(ap.ip_text, "--firmware", "2.0.0")
    assert (status, "runs firmware 1.0.0, not 2.0.0 |" in line) == (1, True), line
    # A state folder that cannot be written is noted, not UNKNOWN.
    status, line = check(mac, state="/proc/no/such")
    assert status == 0 and line.startswith("TARN OK - ") and (
        "(answer not recorded: cannot create the state folder /proc/no/such: " in line), line
    # Missing parents are created; systemd's StateDirectory= is honoured.
    fresh, unit_state = tmp_path / "fresh" / "lib" / "check", tmp_path / "unit-state"
    assert (check(mac, state=fresh)[0], (fresh / mac.replace(":", "-")).is_file(),
            fresh.stat().st_mode & 0o777) == (0, True, 0o700)
    assert (check(mac, state=None, env=[f"STATE_DIRECTORY={unit_state}:/elsewhere"])[0],
            (unit_state / mac.replace(":", "-")).is_file()) == (0, True)

    ap.stop_daemon()
    status, line = check(mac)
    assert status == 1 and line.startswith(f"TARN WARNING - no device {mac} answered") and \
        re.search(r"Last answered \d+ s ago\. \| age=\d+s;;90;0$", line), line
    status, line = check(mac, "--max-age", "0.001")
    assert status == 2 and line.startswith("TARN CRITICAL - "), line
    assert check(mac, "--max-age", "soon") == (
        3, 'TARN UNKNOWN - --max-age takes a number of seconds, not "soon".')
    # Wrong global options get the plugin's UNKNOWN too, not tarn's usage error.
    for argv, reason in ((["-t", "x", "-d", mac, "check"], '-t takes a number of seconds, not "x".'),
                         (["-d", mac, "-t", "0", "check"], "-t takes a positive number of seconds.")):
        res = segment.util_run([TARN, *argv], timeout=30)
        assert (res.returncode, res.stdout, res.stderr) == (3, f"TARN UNKNOWN - {reason}\n", ""), res


def test_alerting_rules_and_exporter_unit(tmp_path):
    # The rules' own tests load (and so check) the rules.
    ran(subprocess.run(["promtool", "test", "rules", str(RULES.with_name("tarn.rules.test.yml"))],
                       capture_output=True, text=True, timeout=60))
    # The unit runs tarn from the configured prefix.
    prefix = re.search(r"^CMAKE_INSTALL_PREFIX:PATH=(.*)$", (BUILD / "CMakeCache.txt").read_text(),
                       re.M).group(1)
    installed = f"{prefix.rstrip('/')}/bin/tarn"
    assert f"\nExecStart={installed} exporter " in UNIT.read_text()
    unit = tmp_path / UNIT.name
    unit.write_text(UNIT.read_text().replace(installed, TARN))
    verify = subprocess.run(["systemd-analyze", "verify", "--man=no", str(unit)],
                            capture_output=True, text=True, timeout=60)
    assert verify.returncode == 0 and not verify.stderr, verify.stderr
