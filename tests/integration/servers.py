"""File servers on the utility side of the sandbox, for the transfer tests.

An access point downloads firmware and configuration files from, and
uploads backups to, servers that the management utility names by address.
These run in the utility namespace (192.0.2.1 and 2001:db8::1 on the
segment bridge), serve a private temporary folder, run in the foreground
and are stopped by PID.

  * HTTP: busybox httpd on port 80;
  * TFTP: tftpd-hpa's in.tftpd on port 69, one per address family, with
    uploads of new files allowed (as a backup needs).
"""
import os
import shutil
import socket
import subprocess
import time
from pathlib import Path

import pytest

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
                       "-a", bind, "-c", "-s", "-u", "root", "-U", "022", str(root)],
                      [("udp", 69)])


def _segment_of(request):
    """The segment of the test's access point."""
    ap = request.getfixturevalue("ap")
    return ap.segment


@pytest.fixture
def http(request, tmp_path):
    server = http_server(_segment_of(request), tmp_path / "http").start()
    yield server
    server.stop()


@pytest.fixture
def tftp(request, tmp_path):
    server = tftp_server(_segment_of(request), tmp_path / "tftp", UTIL_IPV4).start()
    yield server
    server.stop()


@pytest.fixture
def tftp6(request, tmp_path):
    server = tftp_server(_segment_of(request), tmp_path / "tftp6", UTIL_IPV6).start()
    yield server
    server.stop()


def ipv4_bytes(text=UTIL_IPV4):
    return socket.inet_pton(socket.AF_INET, text)


def ipv6_bytes(text=UTIL_IPV6):
    return socket.inet_pton(socket.AF_INET6, text)
