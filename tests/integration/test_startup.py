"""Daemon start-up in an AP. Most cases start no management daemon, so that the test
decides when the PID file appears (written empty: no stand-in takes its text for a PID)."""
import os
import subprocess
import time

import pytest

import tarnsim
from conftest import tarnd_writes

USAGE = "main:\n\t-d, --debug: set debug level\n"
TARND = "/usr/sbin/tarnd"
PID_FILE = "/var/run/dman.pid"
RESERVED = "/etc/reserved_IP"
RESTORED_KEYS = [("management", "static-ip"), ("management", "static-mask"),
                 ("static-ip-route", "gateway"), ("management", "dhcp-status")]


@pytest.fixture
def quiet_ap(ap_factory):
    return ap_factory(start=False)


def sockets_of(pid):
    fds = f"/proc/{pid}/fd"
    return sum(os.readlink(f"{fds}/{fd}").startswith("socket:") for fd in os.listdir(fds))


def request_port_bound(ap):  # port 62976 is hex F600
    lines = ap.run("cat /proc/net/udp", check=True).stdout.splitlines()[1:]
    return any(line.split()[1].endswith(":F600") for line in lines)


def restored_writes(ap, after):
    return [w for w in tarnd_writes(ap, after) if w[:2] in RESTORED_KEYS]


def test_usage_ends_with_status_0(quiet_ap):
    after = quiet_ap.journal_seq()
    # --version has no short form: -V is an unknown option like any other.
    for args, complaint in ((["-d", "-h"], None), (["-x"], "invalid option"),
                            (["-V"], "invalid option")):
        res = quiet_ap.run([TARND, *args], timeout=20)
        assert (res.returncode, res.stdout) == (0, USAGE)
        # The option parser speaks first, in its own words.
        assert complaint in res.stderr if complaint else res.stderr == "", args
    assert quiet_ap.journal(after) == []


def test_bind_failure_ends_with_status_255(quiet_ap):
    """The request port is taken by a socket bound without SO_REUSEADDR."""
    quiet_ap.write_file(PID_FILE, "")
    code = ("import socket,sys\ns=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
            "s.bind(('255.255.255.255',62976))\nprint('bound',flush=True)\nsys.stdin.read()\n")
    holder = subprocess.Popen(quiet_ap.exec_argv(["/usr/bin/python3", "-c", code]),
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "bound\n", "the port holder did not bind"
        # The kept address waits for working sockets: nothing is restored, the file kept.
        quiet_ap.write_file(RESERVED, "10.0.0.5,255.0.0.0,10.0.0.1,")
        after = quiet_ap.journal_seq()
        res = quiet_ap.run([TARND, "-f", "/tmp/cap/first", "--folder", "/tmp/cap/second"],
                           timeout=20)
        # Every folder option runs its mkdir ...
        assert (res.returncode, res.stdout, restored_writes(quiet_ap, after),
                [quiet_ap.exists(p) for p in (RESERVED, "/tmp/cap/first", "/tmp/cap/second")]) == (
            255, "Bind interface 0 failed.\nout of memory\n", [], [True] * 3)
        # ... unless overlong (a cut command would create some components) or
        # outside the safe file-name characters (the shell would run the rest).
        for folder, why, absent in [
                ("/tmp/" + "/".join(["d" * 100] * 11), "is longer than 1014 characters.",
                 ["/tmp/" + "d" * 100]),
                ("/tmp/odd;touch /tmp/ran", "may only hold A-Z a-z 0-9 . _ - + ~ / and may not "
                 "begin with - or ~.", ["/tmp/ran", "/tmp/odd"])]:
            res = quiet_ap.run([TARND, "-f", folder], timeout=20)
            assert (res.returncode, res.stdout.startswith(
                f"Capture folder refused: the path {why}\n")) == (255, True), res
            assert not any(map(quiet_ap.exists, absent)), absent
    finally:
        holder.kill()
        holder.communicate(timeout=5)


def test_no_socket_until_the_management_daemon_is_up(quiet_ap):
    quiet_ap.start_daemon(wait=False, pid_delay=60)
    pid = quiet_ap.wait_until(quiet_ap.daemon_pid, what="tarnd started")
    quiet_ap.wait_output(r"This a \w+ endian system", stream="stderr", timeout=10)
    for _ in range(3):
        assert tarnsim.alive(pid), "tarnd ended while waiting"
        assert (sockets_of(pid), request_port_bound(quiet_ap)) == (0, False)
        time.sleep(0.7)
    assert not quiet_ap.exists(PID_FILE)
    quiet_ap.write_file(PID_FILE, "")
    quiet_ap.wait_until(lambda: request_port_bound(quiet_ap), what="request port bound")
    assert sockets_of(pid) == 2


@pytest.mark.parametrize("content,expected", [
    # A device without a default gateway keeps its address all the same.
    ("192.0.2.50,255.255.255.0,,",
     [("management", "static-ip", "192.0.2.50"),
      ("management", "static-mask", "255.255.255.0"),
      ("static-ip-route", "gateway", ""), ("management", "dhcp-status", "down")]),
    ("192.0.2.50,", []),
])
def test_kept_address_at_start_up(quiet_ap, content, expected):
    quiet_ap.write_file(RESERVED, content)
    after = quiet_ap.journal_seq()
    quiet_ap.start_daemon(args=[], wait=False)
    quiet_ap.wait_until(lambda: not quiet_ap.exists(RESERVED), what="reserved_IP removed")
    assert restored_writes(quiet_ap, after) == expected
    if not expected:
        assert quiet_ap.stdout_text().startswith("Ignoring /etc/reserved_IP: ")
