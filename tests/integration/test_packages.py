"""The Debian packages, installed into a fresh root and run from there.

The root is an access point of the device sandbox: an overlay of the host's
/ in a private mount namespace, so dpkg writes only the AP's own copy of
the package database and the host never sees the packages. The sandbox put
the build's daemon, library and tool into the AP; they are removed first,
so that everything that runs below comes from the packages (the device
programs, such as the management daemon stand-in, are the platform's and
are not packaged).

Runs when TARN_DEBS names the folder that `make deb` fills (<build>-deb);
the CTest test "packages" builds them first and sets it.
"""
import json
import os
from pathlib import Path

import pytest
import tarnsim

DEBS = os.environ.get("TARN_DEBS")
PACKAGES = ("tarn", "tarnd", "liblsqlquery-standin")

pytestmark = pytest.mark.skipif(
    not DEBS, reason="TARN_DEBS is not set: `make deb`, then the CTest test packages")

BUILD_COPIES = ("/usr/sbin/tarnd", "/usr/bin/lsql")


def packages():
    found = {p: sorted(Path(DEBS).glob(f"{p}_*.deb")) for p in PACKAGES}
    missing = [p for p, debs in found.items() if len(debs) != 1]
    assert not missing, f"not exactly one package in {DEBS}: {', '.join(missing)}"
    return [debs[0] for debs in found.values()]


def running_programs(ap):
    names = []
    for pid in ap.ap_pids():
        try:
            names.append(Path(f"/proc/{pid}/comm").read_text().strip())
        except OSError:
            pass
    return names


@pytest.fixture
def installed(ap_factory):
    """An AP whose daemon, settings library and lsql are the packages'."""
    ap = ap_factory(start=False)
    for path in BUILD_COPIES:
        ap.path(path).unlink()
    for lib in ap.path("/usr/lib").glob("liblsqlquery.so*"):
        lib.unlink()
    debs = []
    for deb in packages():
        debs.append(f"/var/cache/tarn-debs/{deb.name}")
        ap.install_file(deb, debs[-1], 0o644)
    res = ap.run(["dpkg", "-i", *debs], timeout=120)
    assert res.returncode == 0, res.stdout + res.stderr
    return ap


def test_packages_install_into_a_fresh_root_and_run_there(installed, segment):
    ap = installed
    versions = ap.run(["dpkg-query", "-W", "-f", "${Version}\\n", *PACKAGES]).stdout.split()
    assert len(set(versions)) == 1, versions
    version = versions[0]

    # One version everywhere: the packages', and what both programs print.
    assert ap.run(["tarn", "--version"]).stdout == f"tarn {version}\n"
    assert ap.run(["/usr/sbin/tarnd", "--version"]).stdout == f"tarnd {version}\n"

    # Installed, but neither enabled nor started by the package.
    unit = [f for f in ap.run(["dpkg", "-L", "tarnd"]).stdout.split()
            if f.endswith("/systemd/system/tarnd.service")]
    assert unit and ap.exists(unit[0])
    assert not list(ap.path("/etc/systemd/system").glob("*.wants/tarnd.service"))
    assert "tarnd" not in running_programs(ap)

    # The daemon from the package, on the package's settings library.
    ldd = ap.run(["ldd", "/usr/sbin/tarnd"]).stdout
    lib = next(l for l in ldd.splitlines() if "liblsqlquery.so.1" in l)
    # /lib is a link to /usr/lib, where dpkg knows the file.
    path = ap.run(["readlink", "-f", lib.split("=>")[1].split()[0]]).stdout.strip()
    owner = ap.run(["dpkg", "-S", path])
    assert owner.stdout.startswith("liblsqlquery-standin"), ldd
    ap.start_daemon()
    assert "tarnd" in running_programs(ap)

    # The utility from the package, on the sandbox's segment; its device
    # cache in the AP's fresh /tmp, not in the host's home seen through the
    # overlay.
    cache = {"XDG_CACHE_HOME": "/tmp/cache"}
    res = tarnsim.run(["nsenter", "-t", str(ap.holder), "-m", "-u", "-r", "-w",
                       f"--net=/run/netns/{segment.util_ns}", "--",
                       "/usr/bin/tarn", "-t", "2", "--json", "discover"],
                      check=False, env={**tarnsim.AP_ENV, **cache})
    assert res.returncode == 0, res.stderr
    found = json.loads(res.stdout)
    assert [(d["mac"], d["ipv4"], d["name"]) for d in found] == \
        [(ap.mac_text, ap.ip_text, "tarn-ap1")]

    # The installed bash completion offers the device that discovery cached.
    line = "tarn -d "
    res = ap.run(["env", f"XDG_CACHE_HOME={cache['XDG_CACHE_HOME']}", "bash", "-c",
                  "source /usr/share/bash-completion/bash_completion\n"
                  "source /usr/share/bash-completion/completions/tarn\n"
                  f"COMP_WORDS=(tarn -d ''); COMP_CWORD=2; COMP_LINE='{line}'; "
                  f"COMP_POINT={len(line)}\n"
                  "_tarn; printf '%s\\n' \"${COMPREPLY[@]}\""])
    assert res.stdout == f"{ap.mac_text}\n", res.stderr

