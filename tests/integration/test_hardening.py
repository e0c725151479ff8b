"""What a host on the segment or a local user could turn against the daemon."""

import os
import stat

import tarnclient as tc

CAPTURE = "/Volume_1"  # the daemon's default capture folder, in the sandbox
VLAN = 0xD2


def test_capture_files_are_private_and_never_follow_links(ap, client):
    """Capture numbers 0 and 1 are taken by a planted link and a FIFO (refused without
    waiting for a reader); the third is saved readable by root alone."""
    ap.run(f"ln -s /etc/tarn-planted {CAPTURE}/tarn_req_0000 && mkfifo {CAPTURE}/tarn_req_0001",
           check=True)
    requests = [tc.to(ap, 0x99, tag=tag) for tag in (1, 2, 3)]
    assert [len(client.exchange(req, count=1)) for req in requests] == [1, 1, 1]
    folder = ap.path(CAPTURE)
    ap.wait_until(lambda: (folder / "tarn_req_0002").exists(), what="third capture file")
    modes = [os.lstat(folder / f"tarn_req_000{n}").st_mode for n in range(3)]
    assert ([stat.S_IFMT(m) for m in modes], stat.S_IMODE(modes[2]), ap.exists("/etc/tarn-planted"),
            (folder / "tarn_req_0002").read_bytes()) == (
        [stat.S_IFLNK, stat.S_IFIFO, stat.S_IFREG], 0o600, False, requests[2])


def test_device_programs_inherit_no_descriptor(ap, client):
    """A stand-in for `submit` lists the descriptors it was started with."""
    ap.write_file("/usr/sbin/submit", "#!/usr/bin/python3\n"
                  "import os\n"
                  "fds = {fd: os.readlink(f'/proc/self/fd/{fd}') for fd in os.listdir('/proc/self/fd')\n"
                  "       if os.path.exists(f'/proc/self/fd/{fd}')}\n"
                  "with open('/tmp/inherited', 'a') as out:\n"
                  "    out.writelines(f'{fd} {target}\\n' for fd, target in fds.items())\n",
                  mode=0o755)
    body = tc.text_field(b"", 32) + (5).to_bytes(4, "little") + bytes(130)
    assert len(client.exchange(tc.to(ap, VLAN, body), count=1)) == 1
    listed = [line.split(" ", 1) for line in ap.read_file("/tmp/inherited", "").splitlines()]
    assert len([fd for fd, _ in listed if fd == "0"]) == 2, listed  # both submit calls ran
    assert {target for fd, target in listed if fd not in ("0", "1", "2")} == set()
