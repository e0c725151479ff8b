"""File servers in the sandbox's utility namespace for the transfer tests, each serving a
private folder in the foreground, stopped by PID: busybox httpd on port 80, and in.tftpd on
port 69 per address family (-c: uploads of new files, as a backup needs; -p: plain Unix
permissions, so an upload need not be world-writable).
Each TFTP transfer runs from one fixed port (-R): a client that resends its request while the
first is served (busybox's tftp does after 50 ms) meets a port in use, not a second transfer
truncating the file the first is writing. A finished transfer holds the port about 2 s; the
client resends.
"""
import os
import shutil
import socket
import subprocess
import time
from collections import namedtuple
from pathlib import Path

import pytest

import tarnclient
from conftest import firmware_image
from tarnsim import UTIL_IPV4, UTIL_IPV6, kill_and_wait

START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0


class FileServer:
    """A server process in the utility namespace serving `root`, up once it
    listens on `port` (`proto` "tcp" or "udp")."""

    def __init__(self, segment, root, argv, proto, port):
        self.segment, self.root, self.argv = segment, Path(root), argv
        self.proto, self.port, self.proc = proto, port, None

    def start(self):
        self.root.mkdir(parents=True, exist_ok=True)
        # Both servers may drop privileges; uploads need a writable folder.
        os.chmod(self.root, 0o777)
        self.proc = self.segment.util_popen(self.argv, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + START_TIMEOUT
        while f":{self.port} " not in self.segment.util_run(["ss", "-Hln" + self.proto[0]]).stdout:
            if self.proc.poll() is not None:
                raise RuntimeError(f"{self.argv[0]} ended: {self.proc.stderr.read()!r}")
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"{self.argv[0]} not listening within {START_TIMEOUT}s")
            time.sleep(0.05)
        return self

    def stop(self):
        kill_and_wait([self.proc.pid])
        self.proc.wait(timeout=STOP_TIMEOUT)
        self.proc.stderr.close()

    def put(self, name, data):
        path = self.path(name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.chmod(path, 0o644)

    def path(self, name):
        return self.root / name

    def offer_image(self, name, version):
        """Offers a new firmware image of `version` as `name`; returns its bytes."""
        image = firmware_image(self.root.parent, version).read_bytes()
        self.put(name, image)
        return image

    def wait_file(self, name, timeout=15.0):
        """The content of an uploaded file once its size has settled."""
        path, deadline, last = self.path(name), time.monotonic() + timeout, -1
        while time.monotonic() < deadline:
            size = path.stat().st_size if path.exists() else -1
            if size > 0 and size == last:
                return path.read_bytes()
            last = size
            time.sleep(0.2)
        raise AssertionError(f"{name} did not arrive on the server within {timeout}s")


def tftp_server(segment, root, address):
    ipv6 = ":" in address
    bind = f"[{address}]:69" if ipv6 else f"{address}:69"
    transfer_port = "6901:6901" if ipv6 else "6900:6900"
    return FileServer(segment, root,
                      [shutil.which("in.tftpd") or "/usr/sbin/in.tftpd", "-L", "-6" if ipv6 else "-4",
                       "-a", bind, "-R", transfer_port, "-c", "-p", "-s", "-u", "root",
                       "-U", "022", str(root)],
                      "udp", 69)


def _serving(server):
    yield server.start()
    server.stop()


@pytest.fixture
def http(segment, tmp_path):
    root = tmp_path / "http"
    yield from _serving(FileServer(segment, root, [shutil.which("busybox"), "httpd", "-f", "-p",
                                                   "80", "-h", str(root)], "tcp", 80))


@pytest.fixture
def tftp(segment, tmp_path):
    yield from _serving(tftp_server(segment, tmp_path / "tftp", UTIL_IPV4))


@pytest.fixture
def tftp6(segment, tmp_path):
    yield from _serving(tftp_server(segment, tmp_path / "tftp6", UTIL_IPV6))


# ---- transfer requests (0x100 firmware, 0x101 backup, 0x102 restore) ------

OP_FIRMWARE, OP_BACKUP, OP_RESTORE = 0x100, 0x101, 0x102
SST_CONFIG, SST_QUERY = 1, 2
TFTP, HTTP = 1, 2
REPLY_LEN = 152
TransferReply = namedtuple("TransferReply", "sst result message")


def start_body(server, name, address=UTIL_IPV4):
    """The server by type and address, the file name in its 128-byte field."""
    family, addr_type = (socket.AF_INET6, 2) if ":" in address else (socket.AF_INET, 1)
    return (bytes([SST_CONFIG, server, addr_type]) + socket.inet_pton(family, address)
            + tarnclient.text_field(name, 128))


def query_body():
    return bytes([SST_QUERY])


def transfer(client, device, op, body, timeout=30.0):
    """`device`'s reply; a start over HTTP answers only after the download, hence the timeout."""
    replies = client.exchange(tarnclient.to(device, op, body), timeout=timeout, count=1)
    assert [len(r) for r in replies] == [REPLY_LEN], (f"op {op:#x}", replies)
    body = replies[0][22:]
    return TransferReply(body[0], body[1], body[2:130].split(b"\0", 1)[0].decode())
