#!/usr/bin/python3
"""Init of one simulated access point.

Started by tarnsim inside the AP's network namespace and private mount, UTS
and PID namespaces of its own:

    ip netns exec tarn-ap<i>-<run> unshare --mount --uts --pid --propagation private \
        --fork /usr/bin/python3 apinit.py --root DIR --rw DIR --hostname NAME

It builds the AP's root file system (an overlay over the host's /, with the
writable layer on a tmpfs, so the host's files are read but never written),
mounts fresh /proc, /sys, /dev, /run, /tmp, /var/log and /Volume_1 in it,
removes the device's own paths from it (DEVICE_PATHS), prints
"ready <pid>" (its PID as the host sees it) and chroots into it. Then it
stays alive as the holder of the namespaces: everything else runs in the AP
through `nsenter -t <pid> -m -u -n -p -r -w`, which takes this process's
mount, UTS, network and PID namespace and its root and working directory.

It is process 1 of the AP's PID namespace, so the AP's /proc, `pidof` and
`killall` see the AP's processes only, and a device program that kills by
name cannot reach another AP. As process 1 it reaps the AP's orphans, and
when it ends the kernel ends every process of the AP. When this process and
the programs started in the AP have ended, the mount namespace and every
mount in it are gone; the host never sees them (private propagation).

While alive it also plays the device's console: /dev/console is a FIFO
whose output it appends to /var/log/console.log, since device tools write
their messages to /dev/console.
"""

import argparse
import os
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time

# Character devices a device program may open (major, minor).
DEVICE_NODES = {
    "null": (1, 3),
    "zero": (1, 5),
    "full": (1, 7),
    "random": (1, 8),
    "urandom": (1, 9),
    "tty": (5, 0),
}

CONSOLE_LOG = "/var/log/console.log"

# Paths the device owns. Whatever the host has there must not show through
# the overlay (a stray /etc/reserved_IP would be applied at start-up), so
# they start out missing; removing them in the overlay leaves the host's
# untouched.
DEVICE_PATHS = ("etc/reserved_IP", "system", "splashbin", "etc/config", "etc/tarnsim",
                "var/lib/lsqlquery")


def mount(fstype, target, options=None, source=None):
    cmd = ["mount", "-t", fstype]
    if options:
        cmd += ["-o", options]
    cmd += [source or fstype, target]
    subprocess.run(cmd, check=True)


def build_root(root, rw, volume_size):
    # The writable layer must not be on the host's disk: a tmpfs that lives
    # only in this mount namespace.
    mount("tmpfs", rw, "size=256m,mode=0700")
    for d in ("upper", "work"):
        os.mkdir(os.path.join(rw, d))
    mount("overlay", root,
          f"lowerdir=/,upperdir={rw}/upper,workdir={rw}/work", "overlay")
    # Mounts of the host below / are not part of the overlay: give the AP
    # its own.
    mount("proc", f"{root}/proc")
    # sysfs mounted from inside the network namespace shows the AP's own
    # interfaces.
    mount("sysfs", f"{root}/sys")
    build_dev(f"{root}/dev")
    mount("tmpfs", f"{root}/run", "mode=0755")
    mount("tmpfs", f"{root}/tmp", "mode=1777")
    # Message capture saves only on a separately mounted folder.
    os.makedirs(f"{root}/Volume_1", exist_ok=True)
    mount("tmpfs", f"{root}/Volume_1", f"size={volume_size},mode=0755")
    mount("tmpfs", f"{root}/var/log", "mode=0755")
    # Removing goes to the overlay only: make sure that is what lies there.
    if not is_overlay(root):
        raise SystemExit(f"apinit: {root} is not the overlay; not removing anything")
    for path in DEVICE_PATHS:
        hide(os.path.join(root, path))


def is_overlay(path):
    with open("/proc/self/mounts") as f:
        return any(line.split()[1:3] == [path, "overlay"] for line in f)


def hide(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.unlink(path)


def build_dev(dev):
    mount("tmpfs", dev, "mode=0755,size=1m")
    for name, (major, minor) in DEVICE_NODES.items():
        os.mknod(f"{dev}/{name}", 0o666 | stat.S_IFCHR, os.makedev(major, minor))
        os.chmod(f"{dev}/{name}", 0o666)
    os.mkfifo(f"{dev}/console", 0o622)
    os.mkdir(f"{dev}/shm", 0o1777)
    mount("tmpfs", f"{dev}/shm", "mode=1777")
    for name, target in (("fd", "/proc/self/fd"), ("stdin", "/proc/self/fd/0"),
                         ("stdout", "/proc/self/fd/1"), ("stderr", "/proc/self/fd/2")):
        os.symlink(target, f"{dev}/{name}")


class Stop(Exception):
    pass


def stop(*_):
    raise Stop()


def reap_orphans():
    """Collects the exit status of every ended process that was left to us,
    process 1 of the AP, so that none stays a zombie."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def serve_console(lifetime):
    # Held open for reading and writing, so that writers never block on a
    # missing reader and the FIFO never reports end of file.
    fd = os.open("/dev/console", os.O_RDWR | os.O_NONBLOCK)
    deadline = time.monotonic() + lifetime
    with open(CONSOLE_LOG, "ab", buffering=0) as log:
        try:
            signal.signal(signal.SIGTERM, stop)
            signal.signal(signal.SIGINT, stop)
            while time.monotonic() < deadline:
                reap_orphans()
                ready, _, _ = select.select([fd], [], [], 1.0)
                if ready:
                    try:
                        log.write(os.read(fd, 65536))
                    except BlockingIOError:
                        pass
        except Stop:
            pass


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True, help="mount point of the AP's root")
    ap.add_argument("--rw", required=True, help="mount point of its writable layer")
    ap.add_argument("--volume-size", default="16m", help="size of /Volume_1")
    ap.add_argument("--hostname", required=True, help="the AP's host name (own UTS namespace)")
    ap.add_argument("--lifetime", type=float, default=6 * 3600,
                    help="seconds after which the AP ends by itself (a leak bound)")
    args = ap.parse_args()

    # The host's /proc, still mounted here, names this process as the host
    # sees it; os.getpid() says 1.
    host_pid = int(os.readlink("/proc/self"))
    socket.sethostname(args.hostname)
    build_root(args.root, args.rw, args.volume_size)
    os.chroot(args.root)
    os.chdir("/")
    print(f"ready {host_pid}", flush=True)
    # Whoever started us stops reading now.
    null = os.open("/dev/null", os.O_RDWR)
    for std in (0, 1):
        os.dup2(null, std)
    serve_console(args.lifetime)
    return 0


if __name__ == "__main__":
    sys.exit(main())
