"""What the sandbox puts on a simulated access point: the files that
`cmake --install` stages from a build, as a device image is made, never the
build tree. Build-tree programs carry a RUNPATH into the build (CMake even
leaves an empty entry, which means the current directory); the staged ones
are the very files that ship.

A build for another processor (cmake/toolchains/) runs under QEMU's user
emulation through binfmt_misc. Its programs find the target's dynamic loader
and libraries through QEMU_LD_PREFIX, the sysroot the build was made
against: `target_env` gives the variable, and the sandbox passes it to every
program it runs in an AP (the AP's root is an overlay over the host's, so
the sysroot is visible there). Every staged ELF file is checked against the
expected target first, so a native build can never pass for a cross one.

The sandbox's own stand-ins of the platform (the management daemon) are
Python and run natively; the management daemon reads the store through the
store library with ctypes. For a cross build it gets the host's build of
that library ($TARN_HOST_BUILD, default <source>/build), installed under the
host's multiarch folder, where no target program looks.

Python 3.11 standard library only.
"""

import fcntl
import os
import subprocess
import sys
from pathlib import Path
from typing import NamedTuple

STAGE = "stage"                    # <build>/stage
TARGET_FILE = "tarn-target.txt"    # written by CMake: arch=, sysroot=
INSTALL_TIMEOUT = 300


class Elf(NamedTuple):
    machine: int    # e_machine
    elf_class: int  # EI_CLASS: 1 = 32-bit, 2 = 64-bit
    data: int       # EI_DATA: 1 = little-endian, 2 = big-endian


# By Debian architecture name.
ELF_OF_ARCH = {
    "amd64": Elf(62, 2, 1),
    "arm64": Elf(183, 2, 1),
    "armhf": Elf(40, 1, 1),
    "s390x": Elf(22, 2, 2),
}


class StageError(RuntimeError):
    pass


def elf_header(path):
    """The Elf of `path`, or None when it is not an ELF file."""
    with open(path, "rb") as f:
        head = f.read(20)
    if len(head) < 20 or head[:4] != b"\x7fELF":
        return None
    order = "big" if head[5] == 2 else "little"
    return Elf(int.from_bytes(head[18:20], order), head[4], head[5])


def build_target(build):
    """The build's own record of its target: {"arch": ..., "sysroot": ...}."""
    info = {}
    try:
        text = (Path(build) / TARGET_FILE).read_text()
    except FileNotFoundError:
        raise StageError(f"{build} is not a configured build (no {TARGET_FILE})") from None
    for line in text.splitlines():
        key, _, value = line.partition("=")
        info[key] = value
    return info


def host_arch():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def expected_arch(build):
    """The architecture the tests expect: $TARN_TARGET (make check TARGET=...)
    when set, else the build's own; "native" is the host's."""
    arch = os.environ.get("TARN_TARGET") or build_target(build)["arch"]
    return host_arch() if arch == "native" else arch


def target_env(build):
    """Environment for the build's programs: QEMU_LD_PREFIX for a cross build."""
    sysroot = build_target(build).get("sysroot", "")
    return {"QEMU_LD_PREFIX": sysroot} if sysroot else {}


def host_store_files(build, source):
    """For a cross build: (host path, AP path) of the host's store library
    and its links, for the native stand-ins; nothing for a native build."""
    if not target_env(build):
        return []
    host = Path(os.environ.get("TARN_HOST_BUILD") or Path(source) / "build")
    libs = sorted(host.glob("platform/lsqlquery/liblsqlquery.so*"))
    if not libs:
        raise StageError(f"the sandbox's management daemon runs natively and needs the host's "
                         f"store library: cmake --build {host} --target lsqlquery")
    multiarch = subprocess.run(["gcc", "-print-multiarch"], capture_output=True, text=True,
                               check=True).stdout.strip()
    return [(p, f"/usr/lib/{multiarch}/{p.name}") for p in libs]


def check_elf(path, arch):
    """Refuses an ELF file that is not built for `arch`."""
    want = ELF_OF_ARCH.get(arch)
    if want is None:
        raise StageError(f"unknown target architecture {arch!r}")
    got = elf_header(path)
    if got is not None and got != want:
        raise StageError(f"{path} is not a {arch} binary: ELF machine {got.machine}, "
                         f"class {got.elf_class}, data {got.data}; expected {tuple(want)}")


def stage(build):
    """Stages the build's install rule into <build>/stage (prefix /usr, as on
    a device) and returns that folder. The install rewrites only files that
    changed; a lock keeps two runs on one build from staging at once."""
    build = Path(build)
    dest = build / STAGE
    with open(build / ".stage.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        res = subprocess.run(["cmake", "--install", str(build), "--prefix", "/usr"],
                             capture_output=True, text=True, timeout=INSTALL_TIMEOUT,
                             env={**os.environ, "DESTDIR": str(dest)})
    if res.returncode != 0:
        raise StageError(f"cmake --install {build} failed: {res.stderr.strip()}")
    return dest


def staged_files(stage_dir):
    """(path in the stage, path on the device) of every staged file and link."""
    stage_dir = Path(stage_dir)
    found = []
    for dirpath, dirnames, filenames in os.walk(stage_dir):
        dirnames.sort()
        for name in sorted(filenames + [d for d in dirnames
                                        if (Path(dirpath) / d).is_symlink()]):
            p = Path(dirpath) / name
            found.append((p, "/" + str(p.relative_to(stage_dir))))
    return found


def main(argv):
    """stage.py BUILD: checks that every program and library built in BUILD
    is built for the expected target."""
    build = Path(argv[1])
    arch = expected_arch(build)
    count = 0
    for dirpath, dirnames, filenames in os.walk(build):
        dirnames[:] = [d for d in dirnames if d not in ("CMakeFiles", STAGE)]
        for name in filenames:
            p = Path(dirpath) / name
            if p.is_file() and not p.is_symlink() and elf_header(p):
                try:
                    check_elf(p, arch)
                except StageError as e:
                    print(e, file=sys.stderr)
                    return 1
                count += 1
    print(f"{count} binaries in {build}, all {arch}")
    return 0 if count else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
