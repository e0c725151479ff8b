"""Reboot on request: the reply leaves first, then the trigger is set and dmand reboots the AP."""

import tarnclient as tc
import tarnsim
from conftest import wait_restart

REBOOT = 0x103


def test_reboot_replies_then_the_daemon_restarts(ap, client):
    """The request carries no credentials: the operation takes none."""
    pid = ap.daemon_pid()
    tarnsim.drain(ap.segment.watcher)
    assert client.result(tc.to(ap, REBOOT, b"any body at all", tag=0x0103), ap) == 0
    # The second call, which sets the trigger, comes after the reply left.
    ap.wait_output(r"tarnd: FUNC:funcReboot\.\.\.\ntarnd: sending reply\(cnt=38\)\.\.\.\n"
                   r"tarnd: FUNC:funcReboot\.\.\.\n", stream="stderr")
    wait_restart(ap, pid)
    assert ap.wait_announcement(timeout=15)[6:12] == ap.mac
    ap.wait_output(r"reboot", stream="dmand")
    assert ap.store_get("system", "reboot") is None, "the trigger is cleared, or it reboots again"
    # The restarted daemon serves requests.
    assert len(client.exchange(tc.request(0xA1, addressed=False), count=1)) == 1
