"""The built-in TFTP and HTTP servers against busybox's tftp, tftp-hpa's tftp
and wget, in the utility namespace: the cases of test_tarn_serve bind there
only, on the segment's IPv4 and IPv6 addresses."""
import pytest

from conftest import BUILD, ran
from tarnsim import UTIL_IPV4, UTIL_IPV6


@pytest.mark.parametrize("address, cases", [(UTIL_IPV4, "Served.*"), (UTIL_IPV6, "Served.Tftp*")])
def test_servers_against_the_devices_clients(segment, address, cases):
    res = ran(segment.util_run(["env", f"TARN_SERVE_ADDRESS={address}",
                                str(BUILD / "tests/unit/test_tarn_serve"),
                                f"--gtest_filter={cases}"], timeout=180))
    assert "SKIPPED" not in res.stdout and "PASSED" in res.stdout, res.stdout
