#!/usr/bin/python3
"""Captures a management session with simulated access points, for the
Wireshark dissector's checked-in sample (tests/data/tarn-session.pcap).

    TARN_BUILD=build-dir tools/wireshark/capture_session.py [OUT.pcap]

Runs as root: three APs in the device sandbox (sim/tarnsim.py), dumpcap on
the utility side's bridge, and one request of every operation from the
utility side, plus refusals and malformed datagrams. The APs restart at the
end (reboot and the two factory resets), after their replies have been
captured. The capture stops after the session, at the latest after
CAPTURE_LIMIT seconds.

The test suite imports this module for its live capture.
"""

import contextlib
import os
import re
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

SOURCE = Path(os.environ.get("TARN_SOURCE") or Path(__file__).resolve().parents[2])
sys.path.insert(0, str(SOURCE / "sim"))
sys.path.insert(0, str(SOURCE / "tests" / "integration"))

import tarnclient as tc  # noqa: E402
import tarnsim  # noqa: E402

CAPTURE_LIMIT = 180          # seconds; dumpcap stops by itself after this
START_TIMEOUT = 10.0         # seconds for dumpcap to open the interface
STOP_TIMEOUT = 30.0          # seconds for the awaited datagrams to reach the file
CAPTURE_FILTER = f"udp port {tc.PORT_REQUEST} or udp port {tc.PORT_REPLY}"
DEFAULT_OUT = SOURCE / "tests" / "data" / "tarn-session.pcap"

# Tags of the session's requests, so that readers of the capture can pick a
# message without relying on frame numbers.
TAG = {
    "discover": 0x0101, "neighbor": 0x0102, "supported": 0x0103, "discover_ap1": 0x0104,
    "verify": 0x0201, "verify_bad_password": 0x0202, "set_basic": 0x0203,
    "change_admin": 0x0204, "change_admin_not_admin": 0x0205,
    "ddns_get": 0x0301, "ddns_set": 0x0302, "time_get": 0x0303, "time_set": 0x0304,
    "commit": 0x0305, "net_status": 0x0306, "vlan": 0x0307, "vlan_refused": 0x0308,
    "snmp": 0x0309,
    "wlan_set": 0x0401, "wlan_get": 0x0402,
    "firmware_query": 0x0501, "firmware_bad_server": 0x0502, "backup_query": 0x0503,
    "restore_query": 0x0504, "restore_v6_bad_server": 0x0505,
    "short_header": 0x0601, "unknown_op": 0x0602, "body_len_mismatch": 0x0603,
    "bad_addressing": 0x0604, "unknown_type": 0x0605,
    "reboot": 0x0701, "reset_keep_ip": 0x0702, "reset": 0x0703,
}

STATIC = {"mask": "255.255.255.0", "gateway": "192.0.2.1", "dns1": "192.0.2.53",
          "dns2": "192.0.2.54", "ipv6": "2001:db8::11", "ipv6_prefix": 64}
DDNS = {"user": "ddns-user", "password": "ddns-secret", "domain": "ap1.example.net"}
SNMP = {"ro": "public-ro", "rw": "private-rw"}
WLAN_MAIN = {"ssid": "tarn-main", "vlan": "12", "security": "4", "key": "main-passphrase"}
WLAN_VAP3 = {"ssid": "tarn-guest", "vlan": "300", "security": "6", "key": ""}
NTP_SERVER = "ntp.example.net"
FILE_NAME = "image.bin"


@contextlib.contextmanager
def capture(segment, out, op, tag=None):
    """dumpcap on the utility side's bridge, writing classic pcap to
    `out`, for the duration of the block. At its end the capture goes on
    until the file holds a reply to `op` (with `tag`, when given), at most
    STOP_TIMEOUT seconds, and raises RuntimeError if none came: dumpcap
    drops what it has not yet written when it is interrupted."""
    out = Path(out)
    out.unlink(missing_ok=True)
    proc = segment.util_popen(["dumpcap", "-q", "-p", "-P", "-i", tarnsim.BRIDGE, "-f", CAPTURE_FILTER,
                               "-a", f"duration:{CAPTURE_LIMIT}", "-w", str(out)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        _wait_started(proc, out)
        yield out
        _wait_reply_written(out, op, tag)
    finally:
        _stop(proc)


def _wait_reply_written(out, op, tag):
    # A reply's header begins with these six bytes in wire order; dumpcap
    # writes what it has read at short intervals.
    tag_bytes = re.escape(tag.to_bytes(2, "little")) if tag is not None else b".."
    pattern = re.compile(b"\xee\xfe" + tag_bytes + re.escape(op.to_bytes(2, "little")), re.S)
    deadline = time.monotonic() + STOP_TIMEOUT
    while not pattern.search(out.read_bytes()):
        if time.monotonic() >= deadline:
            raise RuntimeError(f"no reply to 0x{op:04x} captured within {STOP_TIMEOUT:g} s")
        time.sleep(0.05)


def _wait_started(proc, out):
    # dumpcap writes the file header once the interface is open and its
    # filter set: from then on it sees every datagram.
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError(f"dumpcap ended: {proc.stderr.read().decode(errors='replace')}")
        if out.exists() and out.stat().st_size >= 24:
            return
        time.sleep(0.05)
    raise RuntimeError(f"dumpcap did not start within {START_TIMEOUT} s")


def _stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGINT)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=10)
    proc.stderr.close()


# ---- request bodies -----------------------------------------------------------

def _ip(text):
    return socket.inet_pton(socket.AF_INET6 if ":" in text else socket.AF_INET, text)


def basic_info_body(dev):
    """Static addressing that keeps the AP's address, static DNS, static
    IPv6."""
    return (tc.text_field(f"{dev.name}-renamed", 64) + dev.ip + bytes(3) + b"\x01"
            + _ip(STATIC["mask"]) + _ip(STATIC["gateway"]) + _ip(STATIC["dns1"])
            + _ip(STATIC["dns2"]) + b"\x00" + _ip(STATIC["ipv6"])
            + bytes([STATIC["ipv6_prefix"]]) + bytes(16) + bytes(32) + b"\x00")


def net_adv_body():
    return (bytes(129) + b"\x02\x00\xff" + tc.text_field(DDNS["user"], 64)
            + tc.text_field(DDNS["password"], 64) + tc.text_field(DDNS["domain"], 64)
            + b"\x00" + bytes(200))


def datetime_body():
    return (tc.text_field("20240229235958", 16) + b"\x05\x00\x01\x01"
            + tc.text_field(NTP_SERVER, 64))


def vlan_body(vlan_id, opt1_flag=0):
    return bytes(32) + vlan_id.to_bytes(4, "little") + bytes([opt1_flag]) + bytes(64 + 1 + 64)


def snmp_body():
    return b"\x01" + tc.text_field(SNMP["ro"], 32) + tc.text_field(SNMP["rw"], 32)


def wlan_entry(ssid="", vlan="", security="", key=""):
    return (tc.text_field(ssid, 32) + tc.text_field(vlan, 4) + tc.text_field(security, 4)
            + tc.text_field(key, 16))


def wlan_set_body():
    entries = [wlan_entry(**WLAN_MAIN)] + [wlan_entry() for _ in range(7)]
    entries[3] = wlan_entry(**WLAN_VAP3)
    return b"\x00\x01" + b"".join(entries)


def transfer_body(sub, server, addr_type, addr, name):
    return bytes([sub, server, addr_type]) + _ip(addr) + tc.text_field(name, 128)


# ---- the session ---------------------------------------------------------------

def run_session(client, aps):
    """Every operation group, refusals and malformed datagrams; the APs
    restart at the end."""
    ap1 = aps[0]

    def to(op, body=b"", *, tag, dev=ap1, **kw):
        return client.exchange(tc.request(op, body, tag=tag, mac=dev.mac, ip=dev.ip, **kw))

    def broadcast(op, tag):
        return client.exchange(tc.request(op, tag=tag, addressed=False), count=len(aps))

    op = tc.OP
    # Discovery
    broadcast(op["Discover"], TAG["discover"])
    broadcast(op["QueryNeighbor"], TAG["neighbor"])
    broadcast(op["QuerySupportedFunc"], TAG["supported"])
    to(op["Discover"], tag=TAG["discover_ap1"])
    # Identity and account
    to(op["UserVerify"], tag=TAG["verify"])
    to(op["UserVerify"], tag=TAG["verify_bad_password"], auth=("admin", "wrong-password"))
    to(op["SetBasicInfo"], basic_info_body(ap1), tag=TAG["set_basic"])
    # The same password again: the account stays usable for the rest.
    to(op["ChangeAdmin"], tc.cred_block("admin", tc.DEFAULT_AUTH[1]), tag=TAG["change_admin"])
    to(op["ChangeAdmin"], tc.cred_block("root", "other"), tag=TAG["change_admin_not_admin"])
    # Network and maintenance
    to(op["GetNetAdvSettings"], tag=TAG["ddns_get"])
    to(op["SetNetAdvSettings"], net_adv_body(), tag=TAG["ddns_set"])
    to(op["GetDateTime"], tag=TAG["time_get"])
    to(op["SetDateTime"], datetime_body(), tag=TAG["time_set"])
    to(op["CommitSettings"], tag=TAG["commit"])
    to(op["QueryNetStatus"], tag=TAG["net_status"])
    to(op["VLAN_Config"], vlan_body(100), tag=TAG["vlan"])
    to(op["VLAN_Config"], vlan_body(200, opt1_flag=1), tag=TAG["vlan_refused"])
    to(op["SNMP_Config"], snmp_body(), tag=TAG["snmp"])
    # Wireless
    to(op["SetMultiSSID_Config"], wlan_set_body(), tag=TAG["wlan_set"])
    to(op["GetMultiSSID_Config"], b"\x00", tag=TAG["wlan_get"])
    # Transfers: queries and refused starts, which run nothing on the AP
    to(op["FirmwareUpgrade"], b"\x02", tag=TAG["firmware_query"])
    to(op["FirmwareUpgrade"], transfer_body(1, 7, 1, "192.0.2.1", FILE_NAME),
       tag=TAG["firmware_bad_server"])
    to(op["ConfigBackup"], b"\x02", tag=TAG["backup_query"])
    to(op["ConfigUpgrade"], b"\x02", tag=TAG["restore_query"])
    to(op["ConfigUpgrade"], transfer_body(1, 9, 2, "2001:db8::1", FILE_NAME),
       tag=TAG["restore_v6_bad_server"])
    # Malformed and refused datagrams
    client.send(tc.request(op["Discover"], tag=TAG["short_header"], addressed=False)[:10])
    to(0x99, tag=TAG["unknown_op"])
    to(op["GetDateTime"], tag=TAG["body_len_mismatch"], body_len=16)
    client.exchange(tc.header(tc.TYPE_REQUEST, TAG["bad_addressing"], op["Discover"],
                              tc.BROADCAST_MAC, tc.ZERO_IP, 0x1234), timeout=0.5)
    client.send(tc.header(0xABCD, TAG["unknown_type"], op["Discover"], ap1.mac, ap1.ip,
                          tc.ADDRESSED))
    # Restarts last: each reply leaves before its AP acts on it.
    to(op["Reboot"], tag=TAG["reboot"])
    to(op["FactoryResetWithoutIP"], tag=TAG["reset_keep_ip"], dev=aps[1])
    to(op["FactoryReset"], tag=TAG["reset"], dev=aps[2])


def main(argv):
    out = Path(argv[1]) if len(argv) > 1 else DEFAULT_OUT
    with tarnsim.Segment() as segment:
        client = tc.Client(segment.socket(tc.PORT_REPLY), segment.socket(tc.PORT_REQUEST),
                           tarnsim.UTIL_IPV4)
        try:
            with capture(segment, out.with_suffix(".tmp"), tc.OP["FactoryReset"], TAG["reset"]) as tmp:
                aps = segment.add_devices(3)
                run_session(client, aps)
        finally:
            client.close()
    tmp.replace(out)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
