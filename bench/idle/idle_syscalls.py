#!/usr/bin/python3
"""Idle cost of tarnd: system calls and memory over a quiet minute.

Starts one simulated access point (sim/tarnsim.py), lets tarnd settle after
its first announcement, then counts its system calls for 60 seconds with
`strace -f -c` while nothing talks to it, and prints the count table and
the RSS and Private_Dirty figures of /proc/<pid>/smaps_rollup. An idle
daemon should show only the announcement's few calls, twice a minute.

Run as root with the build directory in TARN_BUILD (or --build):
    TARN_BUILD=build bench/idle/idle_syscalls.py [--seconds 60]
Prints figures; asserts nothing.
"""

import argparse
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "latency"))

from benchlib import SOURCE, smaps_rollup, tarnsim  # noqa: E402


def count_syscalls(pid, seconds):
    """strace -f -c attached to `pid` for `seconds`; its summary table."""
    proc = subprocess.Popen(["strace", "-f", "-c", "-p", str(pid)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        time.sleep(seconds)
    finally:
        proc.send_signal(signal.SIGINT)
        try:
            _, err = proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            _, err = proc.communicate()
    return err


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.environ.get("TARN_BUILD", str(SOURCE / "build")))
    ap.add_argument("--seconds", type=int, default=60)
    ap.add_argument("--settle", type=float, default=2.0,
                    help="seconds to wait after the first announcement")
    args = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root (network and mount namespaces)")
    if not 1 <= args.seconds <= 600:
        sys.exit("--seconds must lie between 1 and 600")

    with tarnsim.Segment(build=args.build, source=SOURCE) as seg:
        # Without -d: the daemon as it runs on a device.
        dev, = seg.add_devices(1, daemon_args=[])
        pid = dev.daemon_pid()
        if pid is None:
            sys.exit("tarnd did not start:\n" + dev.report())
        time.sleep(args.settle)
        before = smaps_rollup(pid)
        table = count_syscalls(pid, args.seconds)
        after = smaps_rollup(pid)

    print(f"tarnd idle for {args.seconds} s (pid {pid}), system calls:")
    print(table.rstrip())
    print()
    for name in ("Rss", "Pss", "Private_Dirty"):
        print(f"{name:14} {before.get(name, 0):8} kB before  {after.get(name, 0):8} kB after")


if __name__ == "__main__":
    main()
