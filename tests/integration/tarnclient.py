"""The management protocol encoded from its description, not the daemon's code:
a second opinion on the daemon's bytes."""

import base64
import select
import socket
import struct
import time
from collections import namedtuple

PORT_REQUEST = 62976     # requests and announcements
PORT_REPLY = 62992       # replies
BROADCAST = "255.255.255.255"

TYPE_REQUEST = 0xFDFD
TYPE_REPLY = 0xFEEE
TYPE_ANNOUNCE = 0xFFFF

ADDRESSED = 0x7777       # uStatus of an addressed request
STATUS_OK = 0
STATUS_AUTH_FAILED = 2

HEADER_LEN = 22
CRED_LEN = 128
CRED_FIELD = 64
BROADCAST_MAC = b"\xff" * 6
ZERO_IP = b"\0" * 4
DEFAULT_AUTH = ("admin", "tarnadmin")

# Operation code -> (name, credentials required), in the daemon's table order.
OPS = {
    0xA1: ("Discover", False), 0xA2: ("SetBasicInfo", True), 0xA3: ("UserVerify", True),
    0xA4: ("ChangeAdmin", True), 0xA5: ("QuerySupportedFunc", True),
    0xA6: ("GetNetAdvSettings", True), 0xA7: ("SetNetAdvSettings", True),
    0xAA: ("FactoryResetWithoutIP", True), 0xAB: ("FactoryReset", True),
    0xAC: ("GetDateTime", True), 0xAD: ("SetDateTime", True), 0xC0: ("CommitSettings", True),
    0xC9: ("QueryNetStatus", True), 0xD0: ("QueryNeighbor", False),
    0xD1: ("SetMultiSSID_Config", True), 0xD2: ("VLAN_Config", True), 0xD4: ("SNMP_Config", False),
    0xD8: ("GetMultiSSID_Config", True), 0x100: ("FirmwareUpgrade", False),
    0x101: ("ConfigBackup", False), 0x102: ("ConfigUpgrade", False), 0x103: ("Reboot", False),
}
OP = {name: code for code, (name, _) in OPS.items()}

_AUTO = object()
# The 22-byte header: 16-bit fields little-endian, MAC and IPv4 address in network order.
_HEADER = struct.Struct("<HHH6s4sHHH")
Header = namedtuple("Header", "type tag op mac ip status ret_flag body_len")


def header(type_, tag, op, mac, ip, status, ret_flag=0, body_len=0):
    return _HEADER.pack(type_, tag, op, bytes(mac), bytes(ip), status, ret_flag, body_len)


def parse_header(datagram):
    """The header of a datagram; a short one reads as zero-padded."""
    return Header(*_HEADER.unpack(bytes(datagram[:HEADER_LEN]).ljust(HEADER_LEN, b"\0")))


def cred_block(user, password):
    """User name and password, each Base64 text in a zero-padded (or cut) 64-byte field."""
    return b"".join(text_field(base64.b64encode(t.encode()), CRED_FIELD) for t in (user, password))


def request(op, body=b"", *, tag=0x1234, mac=None, ip=None, addressed=True, auth=_AUTO,
            body_len=None):
    """Addressed to `mac` and `ip` or broadcast, with the default credentials if `op` needs them."""
    if auth is _AUTO:
        auth = DEFAULT_AUTH if OPS.get(op, ("", False))[1] else None
    if not addressed:
        mac, ip = BROADCAST_MAC if mac is None else mac, ZERO_IP if ip is None else ip
    creds = cred_block(*auth) if auth is not None else b""
    length = len(body) if body_len is None else body_len
    return header(TYPE_REQUEST, tag, op, _address_bytes(mac, 6), _address_bytes(ip, 4),
                  ADDRESSED if addressed else 0, 0, length) + creds + bytes(body)


def to(device, op, body=b"", **kw):
    """An addressed request for a sandbox AP."""
    return request(op, body, mac=device.mac, ip=device.ip, **kw)


def _address_bytes(value, size):
    value = socket.inet_aton(value) if isinstance(value, str) else bytes(value)
    if len(value) != size:
        raise ValueError(f"expected {size} bytes, got {value!r}")
    return bytes(value)


def text_field(text, width):
    raw = text if isinstance(text, bytes) else text.encode()
    return raw[:width].ljust(width, b"\0")


def mask(datagram, ranges):
    """`datagram` with the (offset, length) ranges zeroed, to compare replies with a tag or clock."""
    out = bytearray(datagram)
    for offset, length in ranges:
        out[offset:offset + length] = bytes(len(out[offset:offset + length]))
    return bytes(out)


TAG = [(2, 2)]   # mask() range of the header's tag


class Client:
    """The utility's end: a socket on the reply port (also sends) and one for announcements."""

    def __init__(self, reply_sock, announce_sock, own_ip):
        self.reply_sock, self.announce_sock, self.own_ip = reply_sock, announce_sock, own_ip

    def close(self):
        self.reply_sock.close()
        self.announce_sock.close()

    def send(self, datagram):
        self.reply_sock.sendto(bytes(datagram), (BROADCAST, PORT_REQUEST))

    def exchange(self, datagram, timeout=2.0, count=None, settle=0.3):
        """The replies to a request: `count` of them, or those until `settle` s pass
        without another; stale datagrams are dropped first."""
        for s in (self.reply_sock, self.announce_sock):
            while select.select([s], [], [], 0)[0]:
                s.recvfrom(65536)
        self.send(datagram)
        got, deadline = [], time.monotonic() + timeout
        while count is None or len(got) < count:
            wait = min(deadline - time.monotonic(), settle if got else timeout)
            if wait <= 0 or not select.select([self.reply_sock], [], [], wait)[0]:
                break
            got.append(self.reply_sock.recvfrom(65536)[0])
        return got

    def result(self, datagram, device):
        """The 32-bit result of `device`'s 38-byte reply, checked to end in twelve zero bytes."""
        h = parse_header(datagram)
        replies = self.exchange(datagram, count=1)
        assert [(r[:HEADER_LEN], r[26:]) for r in replies] == [
            (header(TYPE_REPLY, h.tag, h.op, device.mac, device.ip, 0, 2, 16), bytes(12))], replies
        return struct.unpack_from("<I", replies[0], HEADER_LEN)[0]
