"""The install rule and the hardening of what it installs.

The daemon runs as root and parses datagrams from anyone on the segment, so
a build change must not silently drop its hardening: this checks the staged
binary itself rather than the compiler flags.
"""
import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("TARN_SOURCE", Path(__file__).resolve().parents[2]))


def configured_for_usr(build):
    cache = build / "CMakeCache.txt"
    if not cache.is_file():
        return False
    text = cache.read_text()
    # A sanitized tree is never shipped and goes without the fortified
    # calls on purpose: the hardening is checked on a release tree instead.
    return "CMAKE_INSTALL_PREFIX:PATH=/usr\n" in text and "TARN_SANITIZE:BOOL=ON" not in text


@pytest.fixture(scope="module")
def stage(tmp_path_factory):
    """Stage the install rule: configure with prefix /usr, build, install with DESTDIR.

    The tree under test is reused when it was configured for /usr (as
    `make` does) and is not sanitized; otherwise a release tree is
    configured and built here.
    """
    root = tmp_path_factory.mktemp("install")
    build = Path(os.environ.get("TARN_BUILD", root / "build"))
    if not configured_for_usr(build):
        build = root / "build"
        subprocess.run(["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_INSTALL_PREFIX=/usr",
                        "-DTARN_BUILD_TESTS=OFF"], check=True, capture_output=True, timeout=300)
        subprocess.run(["cmake", "--build", build, "-j2"], check=True, capture_output=True,
                       timeout=1200)
    stage = root / "stage"
    subprocess.run(["cmake", "--install", build], check=True, capture_output=True, timeout=120,
                   env={**os.environ, "DESTDIR": str(stage)})
    return stage


def multiarch():
    return subprocess.run(["gcc", "-print-multiarch"], capture_output=True, text=True,
                          check=True).stdout.strip()


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], capture_output=True, text=True,
                          check=True).stdout


def test_install_rule_stages_daemon_library_and_tool(stage):
    assert (stage / "usr/sbin/tarnd").is_file()
    assert (stage / "usr/bin/lsql").is_file()
    libs = list((stage / "usr/lib" / multiarch()).glob("liblsqlquery.so*"))
    assert libs, "liblsqlquery.so not staged under the multiarch library folder"


def test_daemon_links_the_settings_library_dynamically(stage):
    assert "liblsqlquery.so" in readelf("-d", stage / "usr/sbin/tarnd")


@pytest.mark.parametrize("what,args,needle", [
    ("position independent", ("-h",), "DYN (Position-Independent Executable file)"),
    ("bind now", ("-d",), "BIND_NOW"),
    ("relro segment", ("-l",), "GNU_RELRO"),
    ("stack protector", ("--dyn-syms",), "__stack_chk_fail"),
    ("fortified libc calls", ("--dyn-syms",), "_chk@"),
])
def test_daemon_is_hardened(stage, what, args, needle):
    assert needle in readelf(*args, stage / "usr/sbin/tarnd"), what


def test_daemon_stack_is_not_executable(stage):
    stack = [l for l in readelf("-l", stage / "usr/sbin/tarnd").splitlines() if "GNU_STACK" in l]
    assert stack and "RWE" not in stack[0]
