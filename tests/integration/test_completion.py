"""tarn's bash and zsh completion (zsh's helpers replaced by printers) and its device cache."""
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import SOURCE, TARN

BASH_SCRIPT = SOURCE / "tarn" / "completion" / "tarn.bash"
ZSH_SCRIPT = SOURCE / "tarn" / "completion" / "_tarn"
BASH_COMPLETION = Path("/usr/share/bash-completion/bash_completion")

# Readline ends a word at these characters and makes them words of their own.
WORD_BREAKS = "\"'><=;|&(:"
WORD = re.compile(rf"[^\s{re.escape(WORD_BREAKS)}]+|[{re.escape(WORD_BREAKS)}]+")

CACHED = [("02:00:00:00:00:01", "192.0.2.11", "lobby"),
          ("02:00:00:00:00:02", "192.0.2.12", "attic"),
          ("0a:00:00:00:00:03", "192.0.2.13", "cellar")]


def bash_complete(line, cwd=None, env=None, program=TARN):
    """COMPREPLY at the end of `line` ("tarn ..."), the program typed as `program`."""
    words = WORD.findall(line)
    if line.endswith(" "):
        words.append("")
    words[0] = program
    line = program + line[len("tarn"):]
    quoted = " ".join("'" + w.replace("'", "'\\''") + "'" for w in words)
    script = (f"source {BASH_COMPLETION}; source {BASH_SCRIPT}\n"
              f"COMP_WORDS=({quoted}); COMP_CWORD={len(words) - 1}\n"
              f"COMP_LINE='{line}'; COMP_POINT={len(line)}\n"
              "_tarn; printf '%s\\n' \"${COMPREPLY[@]}\"\n")
    res = subprocess.run(["bash", "-c", script], capture_output=True, text=True, timeout=30,
                         cwd=cwd, env=env)
    assert res.returncode == 0, res.stderr
    return sorted(filter(None, res.stdout.split("\n")))


def help_commands():
    out = subprocess.run([TARN, "--help"], capture_output=True, text=True, check=True).stdout
    return sorted(re.findall(r"^  ([a-z][a-z-]*) ", out.split("commands:\n")[1], re.M))


@pytest.fixture
def cache_home(tmp_path, monkeypatch):
    (tmp_path / "tarn").mkdir()
    (tmp_path / "tarn" / "devices").write_text(
        "".join(f"{m}\t{ip}\t{name}\n" for m, ip, name in CACHED))
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path))
    return tmp_path


def test_commands_options_and_file_names(tmp_path):
    offered = bash_complete("tarn ")
    assert offered == help_commands() and "__complete" not in offered
    get = set(bash_complete("tarn -d 192.0.2.11 wlan get --"))
    assert {"--radio", "--show-keys", "--json", "--password-file"} <= get and "--vap" not in get, get
    assert {"--vap", "--ssid", "--security", "--key"} <= set(
        bash_complete("tarn wlan set --radio 2.4 --"))
    assert "-d" in bash_complete("tarn discover -")
    for name in ("secret.txt", "other"):
        (tmp_path / name).write_text("x\n")
    assert bash_complete("tarn --password-file sec", cwd=tmp_path) == ["secret.txt"]
    assert bash_complete("tarn passwd --new-password-file o", cwd=tmp_path) == ["other"]
    # A program typed with a tilde completes itself.
    (tmp_path / "bin").mkdir()
    shutil.copy(TARN, tmp_path / "bin" / "tarn")
    assert bash_complete("tarn wl", env={**os.environ, "HOME": str(tmp_path)},
                         program="~/bin/tarn") == ["wlan"]


@pytest.mark.parametrize("line,expected", [
    ("tarn -t 3 wl", ["wlan"]),
    ("tarn -u set wlan ", ["get", "set"]),  # "set" is -u's value, "wlan" the command
    ("tarn -d 192.0.2.11 wlan ", ["get", "set"]),
    ("tarn config ", ["backup", "restore"]),
    ("tarn snmp ", ["off", "on"]),
    ("tarn wlan set --radio ", ["2.4", "5"]),
    ("tarn -d 192.0.2.11 wlan set --radio 5 --vap 1 --security wpa2",
     ["wpa2-enterprise", "wpa2-personal"]),
    ("tarn time set --dst ", ["off", "on"]),
    ("tarn time set --dst=o", ["off", "on"]),
    ("tarn time set --date ", ["now"]),
    ("tarn -i lo", ["lo"]),
    ("tarn -d ", sorted(m for m, _, _ in CACHED)),  # devices come from the cache
    ("tarn -d 02:00:00:00:00:0", ["01", "02"]),     # bash completes after a MAC's last colon
    ("tarn -d 0a", ["0a:00:00:00:00:03"]),
])
def test_words_and_option_values(cache_home, line, expected):
    assert bash_complete(line) == expected


def test_zsh_function_describes_words_and_escapes_colons(cache_home):
    def zsh(*words, program=TARN, home=os.environ.get("HOME", "/")):
        script = (f"HOME={home!r}; words=({' '.join(repr(w) for w in (program,) + words)}); "
                  f"CURRENT={len(words) + 1}\n"
                  "_describe() { print -rl -- \"${(@P)${@[-1]}}\" }\n"
                  "_files() { print -r -- FILES }\n"
                  f"source {ZSH_SCRIPT}\n")
        res = subprocess.run(["zsh", "-f", "-c", script], capture_output=True, text=True,
                             timeout=30)
        assert res.returncode == 0, res.stderr
        return res.stdout.splitlines()

    assert zsh("wl") == ["wlan:read or change the eight wireless networks of a radio"]
    assert zsh("-d", "02") == ["02\\:00\\:00\\:00\\:00\\:01:192.0.2.11 lobby",
                               "02\\:00\\:00\\:00\\:00\\:02:192.0.2.12 attic"]
    assert zsh("wlan", "get", "--radio", "") == ["2.4", "5"]
    assert zsh("--password-file", "") == ["FILES"]
    # As typed: a program under ~, a word in quotes.
    assert zsh("'wl'", program="~/tarn", home=str(Path(TARN).parent)) == zsh("wl")


def discover(util_run, home):
    return util_run(f"XDG_CACHE_HOME={home} {TARN} -t 1 discover")


def test_discover_puts_the_devices_found_first_keeps_the_cache_bounded_or_is_silent(
        ap_factory, util_run, tmp_path):
    ap_factory(2)
    (tmp_path / "tarn").mkdir()
    old = [f"0a:00:00:00:{i // 256:02x}:{i % 256:02x}\t198.51.100.1\told{i}" for i in range(80)]
    old.insert(5, "02:00:00:00:00:02\t192.0.2.99\tformer name")
    (tmp_path / "tarn" / "devices").write_text("\n".join(old) + "\n")

    res = discover(util_run, tmp_path)
    assert res.returncode == 0, res.stderr
    lines = (tmp_path / "tarn" / "devices").read_text().splitlines()
    assert lines[:2] == ["02:00:00:00:00:01\t192.0.2.11\ttarn-ap1",
                         "02:00:00:00:00:02\t192.0.2.12\ttarn-ap2"]
    assert (len(lines), lines[2:]) == (64, [l for l in old if not l.startswith("02:")][:62])
    assert list((tmp_path / "tarn").iterdir()) == [tmp_path / "tarn" / "devices"]

    env = {**os.environ, "XDG_CACHE_HOME": str(tmp_path)}
    assert bash_complete("tarn -d 02", env=env) == ["02:00:00:00:00:01", "02:00:00:00:00:02"]

    blocker = tmp_path / "file"
    blocker.write_text("not a folder\n")
    res = discover(util_run, blocker)
    assert (res.returncode, res.stderr, "02:00:00:00:00:01" in res.stdout) == (0, "", True), res
    # No cache, no offer.
    assert bash_complete("tarn -d ", env={**os.environ, "XDG_CACHE_HOME": str(blocker)}) == []
