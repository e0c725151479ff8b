"""The device sandbox itself: isolation from the host, clean-up and the device stand-ins."""

import subprocess

import tarnsim
from conftest import ran

STARTUP_DUMP = "/etc/config/startup.dump"

HOST_FIXED_PATHS = ["/etc/reserved_IP", "/var/run/dman.pid", "/system/cfg/debug",
                    "/Volume_1/probe", "/usr/sbin/probe", "/splashbin/probe", "/tmp/tarn-probe"]


def host_state(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        return e.errno


# The file helpers follow absolute links (/var/run -> /run) inside the AP.
def test_fixed_paths_in_an_ap_are_its_own(ap):
    for path in HOST_FIXED_PATHS:
        before = host_state(path)
        res = ap.run(f"mkdir -p $(dirname {path}) && echo sandboxed > {path} && cat {path}")
        assert (res.returncode, res.stdout) == (0, "sandboxed\n"), (path, res.stderr)
        ap.write_file(path, "helper\n")
        assert ap.run(["cat", path]).stdout == "helper\n", path
        assert host_state(path) == before, path


def test_stop_removes_namespaces_processes_and_state():
    seg = tarnsim.Segment().start()
    try:
        dev = seg.add_devices(1)[0]
        names, pids = [seg.util_ns, dev.ns], [dev.holder, dev.dmand_pid(), dev.daemon_pid()]
        assert None not in pids and set(names) <= set(tarnsim.netns_list()), (pids, names)
    finally:
        seg.stop()
    assert (set(names) & set(tarnsim.netns_list()), [p for p in pids if tarnsim.alive(p)],
            seg.state_dir.exists()) == (set(), [], False)


def test_each_ap_sees_and_kills_only_its_own_processes(ap_factory):
    """The host's sleep: named alike whether or not the AP's programs run under emulation."""
    first, second = ap_factory(count=2)
    started = [ap.run(["sh", "-c", "sleep 600 >/dev/null 2>&1 & echo $!"], check=True).stdout.strip()
               for ap in (first, second)]
    assert first.run(["pidof", "sleep"], check=True).stdout.split() == [started[0]]
    assert first.run(["killall", "sleep"]).returncode == 0
    first.wait_until(lambda: first.run(["kill", "-0", started[0]]).returncode != 0,
                     what="its own sleep ended")
    assert second.run(["kill", "-0", started[1]]).returncode == 0
    assert second.run(["pidof", "sleep"]).stdout.split() == [started[1]]


SAVED = "saved the running settings as the startup configuration"
SAVE_INTERVAL = 5.0  # dmand's default


def save_times(log):
    times = []
    for line in log.splitlines():
        if SAVED in line:
            hours, minutes, seconds = line.split()[0].split(":")
            times.append(int(hours) * 3600 + int(minutes) * 60 + float(seconds))
    return times


def test_startup_saves_are_coalesced_and_the_last_one_kept(ap):
    """A request made during the interval is saved when it ends."""
    ap.store_set("config", "startup", "running")
    ap.wait_until(lambda: ap.dmand_log().count(SAVED) == 1, what="first save")
    for name in ("second", "third"):
        ap.store_set("system", "system-name", name)
        ap.store_set("config", "startup", "running")
    ap.wait_until(lambda: "\tsystem-name\tthird\n" in ap.read_file(STARTUP_DUMP, ""),
                  timeout=15, what="the last request saved")
    times = save_times(ap.dmand_log())
    assert len(times) >= 2
    # Both stamps are cut to the millisecond; a day may have begun between them.
    for earlier, later in zip(times, times[1:]):
        assert (later - earlier) % 86400 >= SAVE_INTERVAL - 0.005, times


def password_matches(stored, password):
    salt = stored.split("$")[2]
    made = subprocess.run(["openssl", "passwd", "-5", "-salt", salt, "--", password],
                          capture_output=True, text=True, check=True).stdout.strip()
    return made == stored


def test_submit_set_passwd_stores_a_matching_hash(ap):
    for password in ("-dash", "quote'\"$x"):
        before = ap.store_get("system", "encrypted-password")
        ran(ap.run(["submit", "SET_PASSWD", "admin", password]))
        stored = ap.store_get("system", "encrypted-password")
        assert (stored != before, stored[:3], password_matches(stored, password),
                password_matches(stored, password + "x"),
                f"submit 'SET_PASSWD' 'admin' {password!r}" in ap.submit_log()) == (
            True, "$5$", True, False, True), stored
