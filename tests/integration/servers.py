"""File servers on the utility side of the sandbox, for the transfer tests.

An access point downloads firmware and configuration files from, and
uploads backups to, servers that the management utility names by address.
These run in the utility namespace (192.0.2.1 and 2001:db8::1 on the
segment bridge), serve a private temporary folder, run in the foreground
and are stopped by PID.

  * HTTP: busybox httpd on port 80;
  * TFTP: tftpd-hpa's in.tftpd on port 69, one per address family, with
    uploads of new files allowed (as a backup needs) and plain Unix
    permissions (-p: an uploaded file need not be world-writable).
"""
import os
import shutil
import socket
import subprocess
import time
from pathlib import Path

import pytest

import tarnclient

UTIL_IPV4 = "192.0.2.1"
UTIL_IPV6 = "2001:db8::1"
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0


class FileServer:
    """A server process in the utility namespace serving `root`."""

    def __init__(self, segment, root, argv, ports):
        self.segment = segment
        self.root = Path(root)
        self.argv = argv
        self.ports = ports  # (proto, port) pairs that show it is up
        self.proc = None

    def start(self):
        self.root.mkdir(parents=True, exist_ok=True)
        # Both servers may drop privileges; uploads need a writable folder.
        os.chmod(self.root, 0o777)
        self.proc = self.segment.util_popen(self.argv, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL,
                                            stderr=subprocess.PIPE)
        deadline = time.monotonic() + START_TIMEOUT
        while not self._listening():
            if self.proc.poll() is not None:
                raise RuntimeError(f"{self.argv[0]} ended: {self.proc.stderr.read()!r}")
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"{self.argv[0]} not listening within {START_TIMEOUT}s")
            time.sleep(0.05)
        return self

    def _listening(self):
        res = self.segment.util_run(["ss", "-Hlnu" if self.ports[0][0] == "udp" else "-Hlnt"])
        return all(f":{port} " in res.stdout for _, port in self.ports)

    def stop(self):
        if self.proc is None:
            return
        self.proc.terminate()
        try:
            self.proc.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=STOP_TIMEOUT)
        self.proc.stderr.close()
        self.proc = None

    def put(self, name, data):
        """Offers `data` (bytes) as `name`."""
        path = self.root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.chmod(path, 0o644)
        return path

    def path(self, name):
        return self.root / name

    def wait_file(self, name, timeout=15.0):
        """The content of an uploaded file once its size has settled."""
        path = self.root / name
        deadline = time.monotonic() + timeout
        last = -1
        while time.monotonic() < deadline:
            size = path.stat().st_size if path.exists() else -1
            if size > 0 and size == last:
                return path.read_bytes()
            last = size
            time.sleep(0.2)
        raise AssertionError(f"{name} did not arrive on the server within {timeout}s")


def http_server(segment, root):
    busybox = shutil.which("busybox")
    return FileServer(segment, root, [busybox, "httpd", "-f", "-p", "80", "-h", str(root)],
                      [("tcp", 80)])


def tftp_server(segment, root, address):
    bind = f"[{address}]:69" if ":" in address else f"{address}:69"
    family = "-6" if ":" in address else "-4"
    return FileServer(segment, root,
                      [shutil.which("in.tftpd") or "/usr/sbin/in.tftpd", "-L", family,
                       "-a", bind, "-c", "-p", "-s", "-u", "root", "-U", "022", str(root)],
                      [("udp", 69)])


@pytest.fixture
def http(segment, tmp_path):
    server = http_server(segment, tmp_path / "http").start()
    yield server
    server.stop()


@pytest.fixture
def tftp(segment, tmp_path):
    server = tftp_server(segment, tmp_path / "tftp", UTIL_IPV4).start()
    yield server
    server.stop()


@pytest.fixture
def tftp6(segment, tmp_path):
    server = tftp_server(segment, tmp_path / "tftp6", UTIL_IPV6).start()
    yield server
    server.stop()


def ipv4_bytes(text=UTIL_IPV4):
    return socket.inet_pton(socket.AF_INET, text)


def ipv6_bytes(text=UTIL_IPV6):
    return socket.inet_pton(socket.AF_INET6, text)


# ---- transfer requests (0x100 firmware, 0x101 backup, 0x102 restore) ------

OP_FIRMWARE = 0x100
OP_BACKUP = 0x101
OP_RESTORE = 0x102
SST_CONFIG, SST_QUERY = 1, 2
TFTP, HTTP = 1, 2
REPLY_LEN = 152


def start_body(server, name, address=UTIL_IPV4):
    """A start request body: the server by type and address, the file name
    in its 128-byte field."""
    if ":" in address:
        addr_type, raw = 2, ipv6_bytes(address)
    else:
        addr_type, raw = 1, ipv4_bytes(address)
    field = name if isinstance(name, bytes) else name.encode()
    return bytes([SST_CONFIG, server, addr_type]) + raw + field[:128].ljust(128, b"\0")


def query_body():
    return bytes([SST_QUERY])


class TransferReply:
    def __init__(self, datagram):
        assert len(datagram) == REPLY_LEN, datagram
        body = datagram[22:]
        self.sst, self.result = body[0], body[1]
        self.message = body[2:130].split(b"\0", 1)[0].decode()

    def __repr__(self):
        return f"TransferReply(sst={self.sst}, result={self.result}, message={self.message!r})"


def transfer(client, device, op, body, timeout=30.0):
    """Sends one transfer request to `device` and returns its reply. A start
    over HTTP answers only after the download, hence the long timeout."""
    replies = client.exchange(tarnclient.to(device, op, body), timeout=timeout, count=1)
    assert len(replies) == 1, f"no reply to op {op:#x}"
    return TransferReply(replies[0])
