"""Start-up of the daemon inside a simulated access point: the command line,
the wait for the management daemon, the failure path of its sockets, and the
management address kept across a factory reset.

Most cases use an AP whose management daemon is not running, so that the
test decides when "/var/run/dman.pid" appears. The daemon only looks for the
file; it is written empty so that no stand-in takes its text for a PID.
"""
import os
import subprocess
import time

import pytest

import tarnclient
import tarnsim

USAGE = "main:\n\t-d, --debug: set debug level\n"
TARND = "/usr/sbin/tarnd"
PID_FILE = "/var/run/dman.pid"
RESERVED = "/etc/reserved_IP"
RESTORED_KEYS = [("management", "static-ip"), ("management", "static-mask"),
                 ("static-ip-route", "gateway"), ("management", "dhcp-status")]


@pytest.fixture
def quiet_ap(ap_factory):
    """An AP with a seeded store whose management daemon is not started."""
    return ap_factory(start=False)


def sockets_of(pid):
    """How many sockets the process holds."""
    count = 0
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            count += os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:")
        except OSError:
            pass
    return count


def request_port_bound(ap):
    """Whether a UDP socket of the AP is bound to port 62976 (hex F600)."""
    lines = ap.run("cat /proc/net/udp", check=True).stdout.splitlines()[1:]
    return any(line.split()[1].endswith(":F600") for line in lines)


@pytest.fixture
def held_port(quiet_ap):
    """The quiet AP with the PID file present and the request port taken by
    a socket bound without SO_REUSEADDR: the daemon parses its options,
    opens its sockets, fails to bind and ends with status 255."""
    quiet_ap.write_file(PID_FILE, "")
    code = ("import socket,sys\n"
            "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
            "s.bind(('255.255.255.255',62976))\n"
            "print('bound',flush=True)\n"
            "sys.stdin.read()\n")
    holder = subprocess.Popen(quiet_ap.exec_argv(["/usr/bin/python3", "-c", code]),
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "bound\n", "the port holder did not bind"
        yield quiet_ap
    finally:
        holder.stdin.close()
        try:
            holder.wait(timeout=5)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait(timeout=5)


def restored_writes(ap, after):
    return [(e.section, e.key, e.value) for e in ap.journal(after)
            if e.writer == "tarnd" and (e.section, e.key) in RESTORED_KEYS]


@pytest.mark.parametrize("args,complaint", [
    (["-d", "-h"], None),
    (["-x"], "invalid option"),
    (["--folder"], "requires an argument"),
])
def test_usage_ends_with_status_0(quiet_ap, args, complaint):
    after = quiet_ap.journal_seq()
    res = quiet_ap.run([TARND, *args], timeout=20)
    assert res.returncode == 0
    assert res.stdout == USAGE
    if complaint is None:
        assert res.stderr == ""
    else:
        # The option parser speaks first, in its own words.
        assert complaint in res.stderr
    assert quiet_ap.journal(after) == []


def test_bind_failure_ends_with_status_255(held_port):
    # The kept address waits for working sockets: nothing is restored.
    held_port.write_file(RESERVED, "10.0.0.5,255.0.0.0,10.0.0.1,")
    after = held_port.journal_seq()
    res = held_port.run([TARND], timeout=20)
    assert res.returncode == 255
    assert res.stdout == "Bind interface 0 failed.\nout of memory\n"
    assert restored_writes(held_port, after) == []
    assert held_port.exists(RESERVED)


def test_every_folder_option_runs_its_mkdir_unless_overlong(held_port):
    res = held_port.run([TARND, "-f", "/tmp/cap/first", "--folder", "/tmp/cap/second"],
                        timeout=20)
    assert res.returncode == 255
    assert held_port.exists("/tmp/cap/first")
    assert held_port.exists("/tmp/cap/second")
    # Components short enough for mkdir: a cut command would create some.
    res = held_port.run([TARND, "-f", "/tmp/" + "/".join(["d" * 100] * 11)], timeout=20)
    assert res.returncode == 255
    assert res.stdout.startswith("Capture folder refused: the path is longer than 1014 "
                                 "characters.\n")
    assert not held_port.exists("/tmp/" + "d" * 100)


def test_no_socket_until_the_management_daemon_is_up(quiet_ap):
    quiet_ap.start_daemon(wait=False, pid_delay=60)
    pid = quiet_ap.wait_until(quiet_ap.daemon_pid, what="tarnd started")
    quiet_ap.wait_output(r"This a little endian", stream="stderr", timeout=10)
    for _ in range(3):
        assert tarnsim.alive(pid), "tarnd ended while waiting"
        assert sockets_of(pid) == 0
        assert not request_port_bound(quiet_ap)
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


def test_command_tracing_follows_the_marker_file(ap, client):
    def vlan(n):
        return tarnclient.to(ap, 0xD2, bytes(32) + n.to_bytes(4, "little") + bytes(166 - 36))

    marker = "/system/cfg/debug"
    ap.run(f"mkdir -p {os.path.dirname(marker)} && touch {marker}", check=True)
    assert client.exchange(vlan(5))
    ap.wait_output(r"SYSCMD: submit SET_IPADDRESS\nSYSCMD: submit COMMIT\n", timeout=5)
    traced = ap.stdout_text().count("SYSCMD: ")

    # Removed: the next commands run untraced, without a restart.
    ap.run(f"rm -f {marker}", check=True)
    before = ap.submit_log()
    assert client.exchange(vlan(6))
    ap.wait_until(lambda: ap.submit_log() != before, timeout=5, what="submit ran again")
    assert ap.stdout_text().count("SYSCMD: ") == traced
