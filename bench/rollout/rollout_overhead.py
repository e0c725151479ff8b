#!/usr/bin/python3
"""What tarn rollout adds to the devices' own upgrade time.

Starts N simulated access points (sim/tarnsim.py) and busybox httpd in the
utility namespace, then measures in one run:

  * the floor: each device upgraded on its own by a bare protocol client,
    one after another: the start (answered after the download and the
    validation), firmware queries every 0.2 s (the query after the flash
    lets the device reboot), and discovery every 0.2 s until the device
    reports the new version;
  * tarn rollout --canary 0 --wave 1 over the same devices (one after
    another, as the floor), and --wave N (all at once), each to a new
    version from the same server.

Prints the seconds of each next to the floor and the overhead (rollout
minus the sum of the floor's devices); asserts nothing. Run as root with
the build directory in TARN_BUILD (or --build):

    TARN_BUILD=build bench/rollout/rollout_overhead.py [--devices 3]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "sim"))
sys.path.insert(0, str(SOURCE / "tests" / "integration"))

import tarnclient  # noqa: E402
import tarnsim  # noqa: E402
from servers import HTTP, OP_FIRMWARE, FileServer, query_body, start_body, transfer  # noqa: E402

PASSWORD = "tarnadmin"
LIMIT = 300  # seconds for one device, generous for sanitizer builds


def make_image(build, folder, version):
    payload, image = folder / f"payload-{version}", folder / f"fw-{version}.bin"
    payload.write_bytes(os.urandom(20000))
    subprocess.run([build / "platform/device/mkfwimage", version, payload, image], check=True,
                   timeout=30)
    return image


def version_of(client, dev):
    replies = client.exchange(tarnclient.to(dev, 0xA1, auth=None), timeout=0.2, count=1)
    return replies[0][22 + 160:22 + 192].split(b"\0", 1)[0].decode() if replies else None


def floor_upgrade(client, dev, name, version):
    """One device's own upgrade time, driven by the bare client."""
    start = time.monotonic()
    assert transfer(client, dev, OP_FIRMWARE, start_body(HTTP, name), LIMIT)[1] == 0
    while time.monotonic() - start < LIMIT:
        client.exchange(tarnclient.to(dev, OP_FIRMWARE, query_body()), timeout=0.2, count=1)
        if version_of(client, dev) == version:
            return time.monotonic() - start
    raise SystemExit(f"{dev.name} did not come back with {version} within {LIMIT} s")


def timed_rollout(seg, tarn, image, extra):
    start = time.monotonic()
    res = seg.util_run(["env", f"TARN_PASSWORD={PASSWORD}", tarn, "rollout", str(image), "--http",
                        tarnsim.UTIL_IPV4, "--all", "--canary", "0", "--state",
                        str(image) + ".state", *extra], timeout=LIMIT * 4)
    if res.returncode != 0:
        raise SystemExit(f"tarn rollout failed: {res.stderr}")
    return time.monotonic() - start


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.environ.get("TARN_BUILD", str(SOURCE / "build")))
    ap.add_argument("--devices", type=int, default=3)
    args = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root (network and mount namespaces)")
    if not 1 <= args.devices <= 10:
        sys.exit("--devices must lie between 1 and 10")
    build = Path(args.build).resolve()
    tarn = str(build / "tarn" / "tarn")

    with tempfile.TemporaryDirectory() as tmp, tarnsim.Segment(build=build, source=SOURCE) as seg:
        root = Path(tmp) / "http"
        devs = seg.add_devices(args.devices)
        httpd = FileServer(seg, root, ["busybox", "httpd", "-f", "-p", "80", "-h", str(root)],
                           "tcp", 80).start()
        client = tarnclient.Client(seg.socket(tarnclient.PORT_REPLY),
                                   seg.socket(tarnclient.PORT_REQUEST), tarnsim.UTIL_IPV4)
        try:
            floor_image = make_image(build, root, "2.0.0")
            floor = [floor_upgrade(client, d, floor_image.name, "2.0.0") for d in devs]
            one = timed_rollout(seg, tarn, make_image(build, root, "3.0.0"), ["--wave", "1"])
            all_at_once = timed_rollout(seg, tarn, make_image(build, root, "4.0.0"),
                                        ["--wave", str(args.devices)])
        finally:
            client.close()
            httpd.stop()

    total = sum(floor)
    print(f"devices: {args.devices}")
    print(f"floor, each device on its own:  {', '.join(f'{t:.1f}' for t in floor)} s "
          f"(sum {total:.1f} s, longest {max(floor):.1f} s)")
    print(f"rollout, one at a time:         {one:.1f} s, overhead {one - total:+.1f} s "
          f"({(one - total) / args.devices:+.1f} s a device)")
    print(f"rollout, all at once:           {all_at_once:.1f} s "
          f"(against the longest device {all_at_once - max(floor):+.1f} s)")


if __name__ == "__main__":
    main()
