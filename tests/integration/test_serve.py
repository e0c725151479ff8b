"""tarn's TFTP and HTTP servers against busybox's tftp, tftp-hpa and wget in the sandbox."""
import pytest

from conftest import BUILD, ran
from tarnsim import UTIL_IPV4, UTIL_IPV6


@pytest.mark.parametrize("address, cases", [(UTIL_IPV4, "Served.*"), (UTIL_IPV6, "Served.Tftp*")])
def test_servers_against_the_devices_clients(segment, address, cases):
    res = ran(segment.util_run(["env", f"TARN_SERVE_ADDRESS={address}",
                                str(BUILD / "tests/unit/test_tarn_serve"),
                                f"--gtest_filter={cases}"], timeout=180))
    assert "SKIPPED" not in res.stdout and "PASSED" in res.stdout, res.stdout
