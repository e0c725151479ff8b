"""The staged files the sandbox's APs run, not the build's settings: a root daemon parsing anyone's
datagrams keeps its hardening, loads libraries only from its own folders, needs no C++ runtime."""
import json
import os
import re
import subprocess
from pathlib import Path

import pytest

import stage as staging
from conftest import SOURCE, ran


# No C++ runtime, no libgcc_s; armhf's loader exports the stack protector's guard.
DAEMON_NEEDED = re.compile(r"^(libc\.so\.6|ld-linux-armhf\.so\.3|libcrypto\.so\.3"
                           r"|libcrypt\.so\.1|liblsqlquery\.so\.1)$")


def cache_entry(build, name):
    cache = build / "CMakeCache.txt"
    m = cache.is_file() and re.search(rf"^{name}:[A-Z]+=(.*)$", cache.read_text(), re.M)
    return m.group(1) if m else None


def shippable(build):
    # A sanitized tree is never shipped and goes without the fortified
    # calls on purpose: the hardening is checked on a release tree instead.
    return cache_entry(build, "CMAKE_INSTALL_PREFIX") == "/usr" \
        and cache_entry(build, "TARN_SANITIZE") != "ON"


@pytest.fixture(scope="module")
def build(tmp_path_factory):
    """The tree under test if shippable, else a release tree built here."""
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
    return re.findall(rf"\({tag}\)\s+[^\[]*\[(.*)\]", readelf("-d", path))


def test_staged_binaries_load_only_what_they_own_and_the_daemon_is_hardened(elf_files, stage):
    # An empty entry is the current directory: a daemon run from /tmp would
    # load whatever library a transfer had just put there.
    assert elf_files
    assert {str(p): f"{tag} {value!r}" for p in elf_files for tag in ("RUNPATH", "RPATH")
            for value in dynamic_entries(p, tag)
            if any(not e or not e.startswith(("/", "$ORIGIN/")) for e in value.split(":"))} == {}
    daemon = stage / "usr/sbin/tarnd"
    needed = dynamic_entries(daemon, "NEEDED")
    assert "liblsqlquery.so.1" in needed and [n for n in needed if not DAEMON_NEEDED.match(n)] == []
    for args, pattern in ((("-h",), r"DYN \(Position-Independent Executable file\)"),
                          (("-d",), "BIND_NOW"), (("-l",), "GNU_RELRO"),
                          (("-l",), r"GNU_STACK .* RW +0x"),  # stack not executable
                          (("--dyn-syms",), "__stack_chk_fail"), (("--dyn-syms",), "_chk@")):
        assert re.search(pattern, readelf(*args, daemon)), pattern


def test_daemon_sources_are_compiled_hardened(build):
    # What a binary cannot show: checked C++ library preconditions, and
    # control-flow protection where the processor has it (x86).
    commands = json.loads((build / "compile_commands.json").read_text())
    daemon = [c["command"] for c in commands if "/tarnd/" in c["file"]]
    assert daemon
    wanted = ["-D_FORTIFY_SOURCE=3", "-D_GLIBCXX_ASSERTIONS"] + (
        ["-fcf-protection"] if staging.expected_arch(build) in ("amd64", "i386") else [])
    for flag in wanted:
        assert all(flag in c.split() for c in daemon), flag


def test_sandbox_runs_the_staged_files(ap, stage):
    assert ap.read_bytes("/usr/sbin/tarnd") == (stage / "usr/sbin/tarnd").read_bytes()
    pid = ap.daemon_pid()
    maps = Path(f"/proc/{pid}/maps").read_text()
    assert ("/usr/sbin/tarnd" in maps, bool(re.search(r"/usr/lib/\S*liblsqlquery\.so", maps)),
            str(ap.segment.build) in maps) == (True, True, False), maps
    # The daemon's own byte-order self-test (with -d) agrees with its ELF header.
    order = "big" if staging.elf_header(stage / "usr/sbin/tarnd").data == 2 else "little"
    ap.wait_output(rf"This a {order} endian system", stream="stderr")
    sysroot = staging.target_env(ap.segment.build).get("QEMU_LD_PREFIX")
    if sysroot:  # under emulation
        assert "qemu" in os.readlink(f"/proc/{pid}/exe") and sysroot in maps


def test_systemd_unit_and_procd_script_start_the_installed_daemon(stage, tmp_path):
    unit = (SOURCE / "packaging/systemd/tarnd.service").read_text()
    assert "\nExecStart=/usr/sbin/tarnd\n" in unit
    # systemd-analyze checks that the program and the manual page it names exist: the staged ones.
    copy = tmp_path / "tarnd.service"
    copy.write_text(unit.replace("ExecStart=/usr/sbin/tarnd", f"ExecStart={stage}/usr/sbin/tarnd"))
    res = ran(subprocess.run(["systemd-analyze", "verify", str(copy)], capture_output=True,
                             text=True, timeout=60,
                             env={**os.environ, "MANPATH": f"{stage}/usr/share/man"}))
    assert "tarnd.service" not in res.stderr
    script = SOURCE / "packaging/openwrt/tarnd/files/tarnd.init"
    ran(subprocess.run(["sh", "-n", str(script)], capture_output=True, text=True))
    prog = re.search(r"^PROG=(\S+)$", script.read_text(), re.M).group(1)
    assert (stage / prog.lstrip("/")).is_file()
