"""Start-up of the daemon inside a simulated access point: the command line,
the wait for the management daemon, the sockets and their failure path, and
the management address kept across a factory reset.

Most cases start tarnd by hand in an AP whose management daemon is not
running, so that the test decides when "/var/run/dman.pid" appears.
"""
import os
import signal
import subprocess
import time

import pytest

USAGE = "main:\n\t-d, --debug: set debug level\n"
TARND = "/usr/sbin/tarnd"
OUT = "/var/log/tarnd.out"
ERR = "/var/log/tarnd.err"
PID_FILE = "/var/run/dman.pid"
RESERVED = "/etc/reserved_IP"
RESTORED_KEYS = [("management", "static-ip"), ("management", "static-mask"),
                 ("static-ip-route", "gateway"), ("management", "dhcp-status")]


# Files of the AP are written, tested and read by commands inside it: a path
# such as /var/run goes through an absolute symbolic link, which the host
# would resolve against its own root.
def ap_write(ap, path, content):
    ap.run(["/bin/sh", "-c", 'printf %s "$1" >"$2"', "sh", content, path], check=True)


def ap_exists(ap, path):
    return ap.run(["test", "-e", path]).returncode == 0


def ap_read(ap, path):
    return ap.run(["cat", path]).stdout


@pytest.fixture
def quiet_ap(ap_factory):
    """An AP with a seeded store whose management daemon is not started."""
    return ap_factory(start=False)


def start_by_hand(ap, *args):
    """Starts tarnd in the AP in the background; its PID."""
    quoted = " ".join(f"'{a}'" for a in args)
    res = ap.run(f"{TARND} {quoted} >{OUT} 2>{ERR} </dev/null & echo $!", check=True)
    return int(res.stdout.strip())


def stop_by_hand(pid):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    for _ in range(50):
        if not os.path.exists(f"/proc/{pid}") or _state(pid) == "Z":
            return
        time.sleep(0.1)
    os.kill(pid, signal.SIGKILL)


def _state(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return "Z"


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


class PortHolder:
    """A socket in the AP bound to 255.255.255.255:62976 without
    SO_REUSEADDR, so that the daemon's bind fails."""

    CODE = ("import socket,sys,time\n"
            "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
            "s.bind(('255.255.255.255',62976))\n"
            "print('bound',flush=True)\n"
            "sys.stdin.read()\n")

    def __init__(self, ap):
        self.proc = subprocess.Popen(ap.exec_argv(["/usr/bin/python3", "-c", self.CODE]),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line != "bound\n":
            self.close()
            raise AssertionError(f"the port holder did not bind: {line!r}")

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=5)


@pytest.fixture
def held_port(quiet_ap):
    """The quiet AP with the management daemon's PID file present and the
    request port taken: the daemon parses its options, opens its sockets,
    fails to bind and ends with status 255."""
    ap_write(quiet_ap, PID_FILE, "1\n")
    holder = PortHolder(quiet_ap)
    yield quiet_ap
    holder.close()


# ---------------------------------------------------------------- options

@pytest.mark.parametrize("args,complaint", [
    (["-h"], None),
    (["--help"], None),
    (["-d", "-h"], None),
    (["-x"], "invalid option"),
    (["--bogus"], "unrecognized option"),
    (["-f"], "requires an argument"),
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
    # Nothing was touched: no store write.
    assert quiet_ap.journal(after) == []


def test_bind_failure_ends_with_status_255(held_port):
    res = held_port.run([TARND], timeout=20)
    assert res.returncode == 255
    assert res.stdout == "Bind interface 0 failed.\nout of memory\n"


def test_every_folder_option_runs_its_mkdir(held_port):
    res = held_port.run([TARND, "-f", "/tmp/cap/first", "--folder", "/tmp/cap/second"],
                        timeout=20)
    assert res.returncode == 255
    assert ap_exists(held_port, "/tmp/cap/first")
    assert ap_exists(held_port, "/tmp/cap/second")


def test_overlong_folder_is_refused_not_cut(held_port):
    # Components short enough for mkdir: a cut command would create some.
    path = "/tmp/" + "/".join(["d" * 100] * 11)
    res = held_port.run([TARND, "-f", path], timeout=20)
    assert res.returncode == 255
    assert res.stdout.startswith("Capture folder refused: the path is longer than 1014 "
                                 "characters.\n")
    assert not ap_exists(held_port, "/tmp/" + "d" * 100)


def test_debug_prints_build_line_and_byte_order(held_port):
    res = held_port.run([TARND, "-d", "5"], timeout=20)
    assert res.returncode == 255
    lines = res.stderr.splitlines(keepends=True)
    assert lines[0].startswith("tarnd: ") and lines[0].endswith("\n")
    # "Oct  3 2014 11:05:51"
    assert time.strptime(lines[0][len("tarnd: "):-1], "%b %d %Y %H:%M:%S")
    assert lines[1:5] == ["tarnd: This a little endian system.\n",
                          "tarnd: buf= 01 02 03 04, value=04030201\n",
                          "tarnd: value(be32toh)=01020304\n",
                          "tarnd: value(le32toh)=01020304\n"]


def test_quiet_without_debug(held_port):
    res = held_port.run([TARND], timeout=20)
    assert res.returncode == 255
    assert res.stderr == ""


# ---------------------------------------------------------------- the wait

def test_no_socket_until_the_management_daemon_is_up(quiet_ap):
    assert not ap_exists(quiet_ap, PID_FILE)
    pid = start_by_hand(quiet_ap, "-d")
    try:
        quiet_ap.wait_until(lambda: "This a little endian" in ap_read(quiet_ap, ERR),
                            timeout=10, what="start-up trace")
        for _ in range(3):
            assert _state(pid) != "Z", "tarnd ended while waiting"
            assert sockets_of(pid) == 0
            assert not request_port_bound(quiet_ap)
            time.sleep(0.7)
        ap_write(quiet_ap, PID_FILE, "1\n")
        quiet_ap.wait_until(lambda: request_port_bound(quiet_ap), timeout=10,
                            what="request port bound")
        assert sockets_of(pid) == 2
    finally:
        stop_by_hand(pid)


# ---------------------------------------------------------------- kept address

def restored_writes(ap, after):
    return [(e.section, e.key, e.value) for e in ap.journal(after)
            if e.writer == "tarnd" and (e.section, e.key) in RESTORED_KEYS]


def test_kept_address_waits_for_working_sockets(held_port):
    ap_write(held_port, RESERVED, "10.0.0.5,255.0.0.0,10.0.0.1,")
    after = held_port.journal_seq()
    res = held_port.run([TARND], timeout=20)
    assert res.returncode == 255
    assert restored_writes(held_port, after) == []
    assert ap_exists(held_port, RESERVED)


@pytest.mark.parametrize("content,expected", [
    ("10.0.0.5,255.0.0.0,10.0.0.1,",
     [("management", "static-ip", "10.0.0.5"), ("management", "static-mask", "255.0.0.0"),
      ("static-ip-route", "gateway", "10.0.0.1"), ("management", "dhcp-status", "down")]),
    # A device without a default gateway keeps its address all the same.
    ("192.0.2.50,255.255.255.0,,",
     [("management", "static-ip", "192.0.2.50"),
      ("management", "static-mask", "255.255.255.0"),
      ("static-ip-route", "gateway", ""), ("management", "dhcp-status", "down")]),
    ("192.0.2.50,", []),
    ("192.0.2.50,255.255.255.0,gateway,", []),
])
def test_kept_address_at_start_up(quiet_ap, content, expected):
    ap_write(quiet_ap, PID_FILE, "1\n")
    ap_write(quiet_ap, RESERVED, content)
    after = quiet_ap.journal_seq()
    pid = start_by_hand(quiet_ap)
    try:
        quiet_ap.wait_until(lambda: not ap_exists(quiet_ap, RESERVED), timeout=10,
                            what="reserved_IP removed")
        assert restored_writes(quiet_ap, after) == expected
        if not expected:
            assert ap_read(quiet_ap, OUT).startswith("Ignoring /etc/reserved_IP: ")
    finally:
        stop_by_hand(pid)


def test_kept_address_through_the_management_daemon(ap):
    ap_write(ap, RESERVED, "192.0.2.60,255.255.255.0,192.0.2.1,")
    after = ap.journal_seq()
    ap.restart_daemon(wait=False)
    ap.wait_until(lambda: not ap_exists(ap, RESERVED), timeout=15, what="reserved_IP removed")
    assert restored_writes(ap, after) == [
        ("management", "static-ip", "192.0.2.60"),
        ("management", "static-mask", "255.255.255.0"),
        ("static-ip-route", "gateway", "192.0.2.1"),
        ("management", "dhcp-status", "down")]


# ---------------------------------------------------------------- tracing

MARKER = "/system/cfg/debug"


def vlan_request(ap, vlan_id):
    import tarnclient
    body = bytes(32) + vlan_id.to_bytes(4, "little") + bytes(166 - 36)
    return tarnclient.to(ap, 0xD2, body)


def test_command_tracing_follows_the_marker_file(ap, client):
    ap.run(f"mkdir -p {MARKER.rsplit('/', 1)[0]} && touch {MARKER}", check=True)
    assert client.exchange(vlan_request(ap, 5))
    ap.wait_output(r"SYSCMD: submit SET_IPADDRESS\nSYSCMD: submit COMMIT\n", timeout=5)
    traced = ap.stdout_text().count("SYSCMD: ")

    # Removed: the next commands run untraced, without a restart.
    ap.run(f"rm -f {MARKER}", check=True)
    before = ap.submit_log()
    assert client.exchange(vlan_request(ap, 6))
    ap.wait_until(lambda: ap.submit_log() != before, timeout=5, what="submit ran again")
    assert ap.stdout_text().count("SYSCMD: ") == traced
