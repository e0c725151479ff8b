"""Fleet backups with tarn's own file servers into a git work tree."""
import json
import subprocess

from conftest import TARN, ran, wait_restart


def git(repo, *args):
    return subprocess.run(["git", "-C", str(repo), *args], check=True, capture_output=True,
                          text=True, timeout=30).stdout


def backup_name(dev):
    return dev.mac_text.replace(":", "-") + ".cfg"


def test_backups_of_three_devices_are_committed_and_restored(ap_factory, tarn, tmp_path):
    three = ap_factory(count=3)
    repo = tmp_path / "backups"
    repo.mkdir()
    git(repo, "init", "-q")
    ran(tarn("backup", "--all", "--to", str(repo)))
    assert git(repo, "log", "--format=%s") == "backup: 3 added\n"
    manifest = json.loads((repo / "manifest.json").read_text())
    assert [(m["mac"], m["file"], m["outcome"]) for m in manifest] == \
        [(d.mac_text, backup_name(d), "added") for d in three]
    assert sorted(p.name for p in repo.iterdir()) == sorted(
        [".git", "manifest.json"] + [backup_name(d) for d in three])

    changed = three[1]
    old_name = changed.store_get("system", "system-name")
    changed.store_set("system", "system-name", "renamed-ap")
    # The user's own staged change stays staged, out of the backup's commit.
    (repo / "notes.txt").write_text("mine\n")
    git(repo, "add", "notes.txt")
    ran(tarn("backup", "--all", "--to", str(repo)))
    assert git(repo, "status", "--porcelain") == "A  notes.txt\n"
    message = git(repo, "log", "-1", "--format=%B")
    assert message.startswith("backup: 1 changed, 2 unchanged\n") and \
        f"changed:\n  {changed.mac_text} " in message, message
    assert sorted(git(repo, "show", "--name-only", "--format=", "HEAD").split()) == \
        sorted([backup_name(changed), "manifest.json"])

    # The name from before the change comes back from the first commit.
    old_pid = changed.daemon_pid()
    ran(tarn("-d", changed.ip_text, "restore", "--from", str(repo), "--at", "HEAD~1",
             "--wait-timeout", "30"), stdout="restored its configuration")
    wait_restart(changed, old_pid)
    assert changed.store_get("system", "system-name") == old_name
    ran(tarn("-d", changed.ip_text, "restore", "--from", str(repo), "--at", "nosuchcommit"), 2,
        "no commit nosuchcommit in")


def test_faults_are_told_in_a_sentence(ap, at, tmp_path):
    for name, why in (("bad name.cfg", 'the device refuses the file name "bad name.cfg": it takes '
                                       "only letters, digits and . _ - + ~ /."),
                      ("f" * 78, "it takes at most 77 characters for this transfer")):
        (tmp_path / name).write_text("x")
        ran(at("config", "restore", "--from", str(tmp_path / name)), 2, why)


def test_a_full_disk_leaves_nothing_half_written(ap, segment, tmp_path):
    """A 4 KiB tmpfs in a mount namespace of its own cannot hold a configuration."""
    full = tmp_path / "full"
    full.mkdir()
    script = (f'mount -t tmpfs -o size=4k tmpfs {full} && '
              f'env TARN_PASSWORD=tarnadmin {TARN} -d {ap.ip_text} backup --to {full} >/dev/null; '
              f'echo "status $?"; ls -A {full}; cat {full}/manifest.json')
    res = segment.util_run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script],
                           timeout=90)
    status, listing, manifest = res.stdout.split("\n", 2)
    assert status == "status 1", res.stdout + res.stderr
    assert ("No space left on device (the disk is full); nothing was kept." in res.stderr, listing,
            [m["outcome"] for m in json.loads(manifest)]) == (True, "manifest.json", ["failed"]), res
