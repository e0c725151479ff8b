"""The daemon built with ASan and UBSan (make check SANITIZE=1) in the
sandbox: every operation from the fuzzers' seed requests, their mutants and
malformed datagrams, then a stop. The daemon's stderr log must hold no
sanitizer report, and the stop must pass through exit() so that the leak
check has run. Skipped for a build without -DTARN_SANITIZE=ON."""

import os
import random
import re
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("TARN_SOURCE") or Path(__file__).resolve().parents[2])
BUILD = Path(os.environ.get("TARN_BUILD") or SOURCE / "build")
SEEDS = SOURCE / "fuzz" / "corpus" / "request"

ADDRESSED = b"\x77\x77"
# Run last: they reset the store or restart the daemon.
LAST = ("aa-", "ab-", "103-")
# Not mutated: transfers block the daemon while their tools run, and a
# mutated basic-info request could move the device to another address.
UNMUTATED = ("100-", "101-", "102-", "a2-")
# Any sanitizer line: a report, or a leak check that could not run.
REPORT = re.compile(r"(Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|"
                    r"ASan runtime")


def _sanitized():
    cache = BUILD / "CMakeCache.txt"
    return cache.exists() and "TARN_SANITIZE:BOOL=ON" in cache.read_text()


pytestmark = pytest.mark.skipif(not _sanitized(),
                                reason="needs a build with -DTARN_SANITIZE=ON")


# The basic-info request sets a static address; it must stay the device's
# own, or every addressed request after it would be dropped.
BASIC_INFO = "a2-"
BASIC_INFO_IP = 150 + 64


def _for_device(name, datagram, ap):
    """A seed request addressed to `ap` when the seed is addressed at all."""
    if datagram[16:18] != ADDRESSED:
        return datagram
    datagram = datagram[:6] + ap.mac + ap.ip + datagram[16:]
    if name.startswith(BASIC_INFO):
        datagram = datagram[:BASIC_INFO_IP] + ap.ip + datagram[BASIC_INFO_IP + 4:]
    return datagram


def _seed_requests(ap):
    names = sorted(p.name for p in SEEDS.iterdir())
    ordered = [n for n in names if not n.startswith(LAST)] + \
              [n for n in names if n.startswith(LAST)]
    return [(n, _for_device(n, (SEEDS / n).read_bytes(), ap)) for n in ordered]


def _mutants(datagrams, rng, count):
    """Seeds with a few bytes flipped, cut short or grown, past the header
    so that most still reach their handler."""
    out = []
    for _ in range(count):
        d = bytearray(rng.choice(datagrams))
        for _ in range(rng.randint(1, 6)):
            pos = rng.randrange(22, max(23, len(d)))
            if pos < len(d):
                d[pos] = rng.randrange(256)
        action = rng.randrange(3)
        if action == 0:
            d = d[:rng.randrange(len(d) + 1)]
        elif action == 1:
            d += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 600)))
        out.append(bytes(d))
    return out


def _garbage(rng, count):
    out = [b"", b"\xfd", b"\xfd\xfd", b"\xfd\xfd" + b"\0" * 19, b"\xee\xfe" + b"\0" * 20,
           b"\xfd\xfd" + b"\xff" * 4094, b"\xfd\xfd" + b"\0" * 6000]
    for _ in range(count):
        out.append(bytes(rng.randrange(256) for _ in range(rng.randrange(0, 300))))
    return out


def test_sanitized_daemon_serves_everything_and_stops_cleanly(ap, client):
    rng = random.Random(0x7A27)
    seeds = _seed_requests(ap)
    quick = [d for n, d in seeds if not n.startswith(LAST + UNMUTATED)]
    for datagram in _garbage(rng, 60) + _mutants(quick, rng, 150):
        client.send(datagram)
    # The daemon serves the queue in order: a discovery answered means it
    # has been through all of it (bounded wait).
    discover = next(d for n, d in seeds if n == "a1-discover-addressed")
    for _ in range(30):
        if client.exchange(discover, timeout=2):
            break
    # Every seed in order, the destructive ones last; each waits for its
    # replies so the daemon is never more than one request behind.
    silent = []
    for name, datagram in seeds:
        if name.startswith(LAST):
            continue
        # Transfers answer only after their tools have given up on the
        # utility side, which runs no servers here.
        if not client.exchange(datagram, timeout=20 if name.startswith(UNMUTATED) else 3):
            silent.append(name)
    assert not silent, f"the sanitized daemon did not answer {silent}"
    pid = ap.daemon_pid()
    assert pid is not None
    for name, datagram in seeds:
        if name.startswith(LAST):
            client.exchange(datagram, timeout=2)
    ap.stop_daemon()

    err = ap.stderr_text()
    found = REPORT.search(err)
    assert found is None, "sanitizer report in tarnd's stderr:\n" + err[max(0, found.start() - 200):][:4000]
    # 143: the daemon left through exit(), where LeakSanitizer checks.
    assert re.search(r"stopped tarnd \(pid \d+, status 143\)", ap.dmand_log()), ap.dmand_log()[-2000:]
