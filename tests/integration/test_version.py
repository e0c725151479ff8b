"""The one version CMake took for the build (tarn and tarnd print it with --version)."""
import re
import subprocess

from conftest import BUILD, SOURCE


def test_the_version_is_git_describe_in_debian_form():
    version = (BUILD / "tarn-version").read_text().strip()
    # X.Y.Z, "~rc1", then "+N.gHASH" after a tag or "~N.gHASH" before any, and ".dirty".
    assert re.fullmatch(r"\d+\.\d+\.\d+(~[0-9a-z]+)*([+~][0-9a-z.]+)?", version), version
    # Taken when CMake configured: HEAD then, so HEAD now or one before it.
    commit = re.search(r"\.g([0-9a-f]{7,})", version)
    inside = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--show-toplevel"],
                            capture_output=True, text=True)
    if commit and inside.returncode == 0:
        assert subprocess.run(["git", "-C", SOURCE, "merge-base", "--is-ancestor",
                               commit.group(1), "HEAD"]).returncode == 0, version


def test_the_changelog_names_the_project_version():
    # Without git the version falls back to the changelog's, then the project's.
    project = re.search(r"project\(tarnd VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text())
    changelog = re.match(r"tarnd \(([^)]+)\)", (SOURCE / "debian" / "changelog").read_text())
    assert project and changelog and changelog.group(1) == project.group(1), (project, changelog)
