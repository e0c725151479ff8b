"""The daemon built with ASan and UBSan (skipped otherwise): malformed datagrams and the
fuzzers' seed requests, then an exit() so that the leak check runs; no report in stderr."""

import re

import pytest

from conftest import BUILD, SOURCE

CACHE = BUILD / "CMakeCache.txt"
SEEDS = SOURCE / "fuzz" / "corpus" / "request"
# Sent last: they reset the store or restart the daemon.
LAST = ("aa-", "ab-", "103-")
# Given 20 s: transfers answer once their tools give up (no servers), basic-info once applied.
SLOW = ("100-", "101-", "102-", "a2-")
BASIC_INFO_IP = 150 + 64  # the basic-info body's address field
REPORT = re.compile(r"(Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|ASan runtime")

pytestmark = pytest.mark.skipif(
    not (CACHE.exists() and "TARN_SANITIZE:BOOL=ON" in CACHE.read_text()),
    reason="needs a build with -DTARN_SANITIZE=ON")


def _seed_requests(ap):
    """Destructive seeds last; addressed ones to `ap`; basic-info keeps the AP's address."""
    out = []
    for name in sorted(p.name for p in SEEDS.iterdir()):
        d = (SEEDS / name).read_bytes()
        if d[16:18] == b"\x77\x77":
            d = d[:6] + ap.mac + ap.ip + d[16:]
            if name.startswith("a2-"):
                d = d[:BASIC_INFO_IP] + ap.ip + d[BASIC_INFO_IP + 4:]
        out.append((name, d))
    return sorted(out, key=lambda seed: seed[0].startswith(LAST))


def test_sanitized_daemon_serves_everything_and_stops_cleanly(ap, client):
    seeds = _seed_requests(ap)
    for datagram in (b"", b"\xfd", b"\xfd\xfd", b"\xfd\xfd" + b"\0" * 19, b"\xee\xfe" + b"\0" * 20,
                     b"\xfd\xfd" + b"\xff" * 4094, b"\xfd\xfd" + b"\0" * 6000):
        client.send(datagram)
    # The queue is served in order: a discovery answered means all of it was.
    discover = dict(seeds)["a1-discover-addressed"]
    for _ in range(30):
        if client.exchange(discover, timeout=2):
            break
    # Each seed waits for its replies, so the daemon is never far behind.
    silent = [n for n, d in seeds if not n.startswith(LAST)
              and not client.exchange(d, timeout=20 if n.startswith(SLOW) else 3)]
    assert not silent, f"the sanitized daemon did not answer {silent}"
    assert ap.daemon_pid() is not None
    for name, datagram in seeds:
        if name.startswith(LAST):
            client.exchange(datagram, timeout=2)
    ap.stop_daemon()

    err = ap.stderr_text()
    found = REPORT.search(err)
    assert found is None, "sanitizer report in tarnd's stderr:\n" + err[max(0, found.start() - 200):][:4000]
    # 143: the daemon left through exit(), where LeakSanitizer checks.
    assert re.search(r"stopped tarnd \(pid \d+, status 143\)", ap.dmand_log()), ap.dmand_log()[-2000:]
