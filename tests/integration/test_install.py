"""The install rule and what it installs: the files a device ships, and
the files the sandbox runs.

The daemon runs as root and parses datagrams from anyone on the segment, so
a build change must not silently drop its hardening, load a library from a
folder it does not own, or need a C++ runtime that the device lacks: this
checks the staged files themselves rather than the build's settings. The
stage is the one the sandbox installs into its access points (sim/stage.py),
built for the target under test ($TARN_TARGET).
"""
import json
import os
import re
import subprocess
from pathlib import Path

import pytest

import stage as staging
from conftest import SOURCE, ran


# What the daemon may need at run time: the C library (on armhf with its
# dynamic loader, from which ARM's C library exports the stack protector's
# guard), libcrypto, libcrypt and the store library; no C++ runtime, no
# libgcc_s.
DAEMON_NEEDED = re.compile(r"^(libc\.so\.6|ld-linux-armhf\.so\.3|libcrypto\.so\.3"
                           r"|libcrypt\.so\.1|liblsqlquery\.so\.1)$")


def cache_entry(build, name):
    cache = build / "CMakeCache.txt"
    if not cache.is_file():
        return None
    m = re.search(rf"^{name}:[A-Z]+=(.*)$", cache.read_text(), re.M)
    return m.group(1) if m else None


def shippable(build):
    # A sanitized tree is never shipped and goes without the fortified
    # calls on purpose: the hardening is checked on a release tree instead.
    return cache_entry(build, "CMAKE_INSTALL_PREFIX") == "/usr" \
        and cache_entry(build, "TARN_SANITIZE") != "ON"


@pytest.fixture(scope="module")
def build(tmp_path_factory):
    """The tree under test when it is configured for /usr (as `make` does)
    and not sanitized; otherwise a release tree configured and built here."""
    tree = Path(os.environ.get("TARN_BUILD", SOURCE / "build"))
    if shippable(tree):
        return tree
    tree = tmp_path_factory.mktemp("install") / "build"
    subprocess.run(["cmake", "-S", SOURCE, "-B", tree, "-DCMAKE_INSTALL_PREFIX=/usr",
                    "-DTARN_BUILD_TESTS=OFF"], check=True, capture_output=True, timeout=300)
    subprocess.run(["cmake", "--build", tree, "-j2"], check=True, capture_output=True,
                   timeout=1200)
    return tree


@pytest.fixture(scope="module")
def stage(build):
    return staging.stage(build)


@pytest.fixture(scope="module")
def elf_files(stage):
    return [p for p, _ in staging.staged_files(stage)
            if p.is_file() and not p.is_symlink() and staging.elf_header(p)]


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], capture_output=True, text=True,
                          check=True).stdout


def dynamic_entries(path, tag):
    """The values of the dynamic section's `tag` entries (NEEDED, RUNPATH...)."""
    return re.findall(rf"\({tag}\)\s+[^\[]*\[(.*)\]", readelf("-d", path))


def test_no_staged_binary_searches_a_relative_or_empty_path(elf_files):
    # An empty entry is the current directory: a daemon run from /tmp would
    # load whatever library a transfer had just put there.
    assert elf_files
    bad = {}
    for p in elf_files:
        for tag in ("RUNPATH", "RPATH"):
            for value in dynamic_entries(p, tag):
                entries = value.split(":")
                if any(not e or not (e.startswith("/") or e.startswith("$ORIGIN/"))
                       for e in entries):
                    bad[str(p)] = f"{tag} {value!r}"
    assert not bad


def test_daemon_needs_no_cxx_runtime(stage):
    needed = dynamic_entries(stage / "usr/sbin/tarnd", "NEEDED")
    assert needed and "liblsqlquery.so.1" in needed
    assert [n for n in needed if not DAEMON_NEEDED.match(n)] == []


@pytest.mark.parametrize("what,args,pattern", [
    ("position independent", ("-h",), r"DYN \(Position-Independent Executable file\)"),
    ("bind now", ("-d",), "BIND_NOW"),
    ("relro segment", ("-l",), "GNU_RELRO"),
    ("stack not executable", ("-l",), r"GNU_STACK .* RW +0x"),
    ("stack protector", ("--dyn-syms",), "__stack_chk_fail"),
    ("fortified libc calls", ("--dyn-syms",), "_chk@"),
])
def test_daemon_is_hardened(stage, what, args, pattern):
    assert re.search(pattern, readelf(*args, stage / "usr/sbin/tarnd")), what


def test_daemon_sources_are_compiled_hardened(build):
    # What a binary cannot show: checked C++ library preconditions, and
    # control-flow protection where the processor has it (x86).
    commands = json.loads((build / "compile_commands.json").read_text())
    daemon = [c["command"] for c in commands if "/tarnd/" in c["file"]]
    assert daemon
    arch = staging.expected_arch(build)
    wanted = ["-D_FORTIFY_SOURCE=3", "-D_GLIBCXX_ASSERTIONS"]
    if arch in ("amd64", "i386"):
        wanted.append("-fcf-protection")
    for flag in wanted:
        assert all(flag in c.split() for c in daemon), flag


def test_sandbox_runs_the_staged_files(ap, stage):
    """The AP's daemon is the staged file, and maps nothing from the build."""
    assert ap.read_bytes("/usr/sbin/tarnd") == (stage / "usr/sbin/tarnd").read_bytes()
    pid = ap.daemon_pid()
    maps = Path(f"/proc/{pid}/maps").read_text()
    assert "/usr/sbin/tarnd" in maps
    assert re.search(r"/usr/lib/\S*liblsqlquery\.so", maps)
    assert str(ap.segment.build) not in maps
    # The daemon's own byte-order self-test (with -d) agrees with its ELF header.
    order = "big" if staging.elf_header(stage / "usr/sbin/tarnd").data == 2 else "little"
    ap.wait_output(rf"This a {order} endian system", stream="stderr")
    sysroot = staging.target_env(ap.segment.build).get("QEMU_LD_PREFIX")
    if sysroot:
        # Under emulation the process is QEMU's, and the target's libraries
        # come from the sysroot.
        assert "qemu" in os.readlink(f"/proc/{pid}/exe")
        assert sysroot in maps


def test_systemd_unit_verifies(stage, tmp_path):
    unit = (SOURCE / "packaging/systemd/tarnd.service").read_text()
    assert "\nExecStart=/usr/sbin/tarnd\n" in unit
    # systemd-analyze checks that the program exists: the staged one here.
    copy = tmp_path / "tarnd.service"
    copy.write_text(unit.replace("ExecStart=/usr/sbin/tarnd", f"ExecStart={stage}/usr/sbin/tarnd"))
    # and that the manual page it names exists: the staged one too.
    res = ran(subprocess.run(["systemd-analyze", "verify", str(copy)], capture_output=True,
                             text=True, timeout=60,
                             env={**os.environ, "MANPATH": f"{stage}/usr/share/man"}))
    assert "tarnd.service" not in res.stderr


def test_procd_init_script_parses_and_starts_the_installed_daemon(stage):
    script = SOURCE / "packaging/openwrt/tarnd/files/tarnd.init"
    ran(subprocess.run(["sh", "-n", str(script)], capture_output=True, text=True))
    prog = re.search(r"^PROG=(\S+)$", script.read_text(), re.M).group(1)
    assert (stage / prog.lstrip("/")).is_file()
