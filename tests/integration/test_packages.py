"""The Debian packages, installed into an AP's overlay root (dpkg writes only
the AP's copy of its database) after removing the sandbox's build copies, so
that everything below runs from the packages. Runs when TARN_DEBS names the
folder `make deb` fills; the CTest test "packages" sets it."""
import json
import os
import subprocess
from pathlib import Path

import pytest
import tarnsim
from conftest import ran

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


def test_the_daemon_package_neither_starts_nor_enables_it_and_takes_either_library(tmp_path):
    """The AP has no systemd, so read what the scripts would ask of it."""
    deb = next(d for d in packages() if d.name.startswith("tarnd_"))
    subprocess.run(["dpkg-deb", "-e", str(deb), str(tmp_path)], check=True)
    scripts = {name: (tmp_path / name).read_text() if (tmp_path / name).exists() else ""
               for name in ("preinst", "postinst", "prerm", "postrm")}
    # An upgrade restarts a daemon that was running, and only that one: it
    # is not stopped before the new files are unpacked and left stopped.
    assert "deb-systemd-invoke try-restart 'tarnd.service'" in scripts["postinst"], scripts
    assert "deb-systemd-invoke stop" not in scripts["preinst"], scripts["preinst"]
    for name, text in scripts.items():
        lines = [l for l in text.splitlines() if not l.lstrip().startswith("#")]
        for n, line in enumerate(lines):
            words = line.split()
            if "deb-systemd-invoke" in words:
                assert words[words.index("deb-systemd-invoke") + 1] in ("try-restart", "stop"), line
            if "systemctl" in words:
                assert "start" not in words and "enable" not in words, (name, line)
            # Links are made again only for a unit the administrator enabled.
            if "deb-systemd-helper" in words and "enable" in words:
                assert "was-enabled" in lines[n - 1], (name, lines[n - 1:n + 1])
    depends = subprocess.run(["dpkg-deb", "-f", str(deb), "Depends"], check=True,
                             capture_output=True, text=True).stdout
    assert [[a.split()[0] for a in d.split("|")] for d in depends.split(",")
            if "liblsqlquery" in d] == [["liblsqlquery-standin", "liblsqlquery1"]], depends


@pytest.fixture
def installed(ap_factory):
    ap = ap_factory(start=False)
    for path in BUILD_COPIES:
        ap.path(path).unlink()
    for lib in ap.path("/usr/lib").glob("liblsqlquery.so*"):
        lib.unlink()
    debs = []
    for deb in packages():
        debs.append(f"/var/cache/tarn-debs/{deb.name}")
        ap.install_file(deb, debs[-1], 0o644)
    ran(ap.run(["dpkg", "-i", *debs], timeout=120))
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

    # Its device cache in the AP's /tmp, not the host's home seen through the overlay.
    cache = {"XDG_CACHE_HOME": "/tmp/cache"}
    found = json.loads(ran(tarnsim.run(["nsenter", "-t", str(ap.holder), "-m", "-u", "-r", "-w",
                                        f"--net=/run/netns/{segment.util_ns}", "--",
                                        "/usr/bin/tarn", "-t", "2", "--json", "discover"],
                                       check=False, env={**tarnsim.AP_ENV, **cache})).stdout)
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

