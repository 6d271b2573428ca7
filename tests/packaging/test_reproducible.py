"""Builds the package twice from this source, as two users would: two clones at different
absolute paths, built one after the other (so at different times) under different umasks, time
zones and locales. Both must give the same .deb and -dbgsym, byte for byte; where they do not,
diffoscope (if installed) says how.

    python3 -m pytest -s tests/packaging/test_reproducible.py"""
import hashlib
import os
import shutil
import subprocess
from pathlib import Path

import pytest

PACKAGES = ("warukyara_*.deb", "warukyara-dbgsym_*.ddeb")


def git(source, *args, **kwargs):
    return subprocess.run(["git", "-C", str(source), *args], check=True, capture_output=True,
                          **kwargs).stdout


def build(source, commit, edits, new_files, clone, umask, tz, lang):
    git(source, "clone", "-q", "--no-hardlinks", str(source), str(clone))
    git(clone, "-c", "advice.detachedHead=false", "checkout", "-q", commit)
    if edits:
        git(clone, "apply", "--whitespace=nowarn", input=edits)
    for name in new_files:
        (clone / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source / name, clone / name)
    env = dict(os.environ, TZ=tz, LANG=lang, LC_ALL=lang)
    log = clone.with_suffix(".log")
    steps = [["cmake", "--preset", "default", "-DBUILD_TESTING=OFF", "-DWARUKYARA_BENCHMARKS=OFF"],
             ["cmake", "--build", "--preset", "default", "-j", "2"],
             ["cpack", "-G", "DEB"]]
    old = os.umask(umask)
    try:
        with open(log, "w") as out:
            for i, step in enumerate(steps):
                where = clone / "build" / "default" if i == 2 else clone
                if subprocess.run(step, cwd=where, env=env, stdout=out,
                                  stderr=subprocess.STDOUT).returncode != 0:
                    pytest.fail(f"{' '.join(step)} failed in {clone}:\n"
                                + "".join(log.read_text().splitlines(True)[-40:]))
    finally:
        os.umask(old)
    return clone / "build" / "default"


def test_two_builds_in_two_places_give_the_same_packages(tmp_path):
    source = Path(os.environ.get("WARUKYARA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
    # A shared compiler cache would hand the second build the first one's objects, paths and all.
    os.environ["CCACHE_DISABLE"] = "1"
    os.environ.pop("SOURCE_DATE_EPOCH", None)
    if subprocess.run(["git", "-C", str(source), "rev-parse", "--git-dir"],
                      capture_output=True).returncode != 0:
        pytest.skip(f"{source} is not a git checkout")
    # Both clones take the commit of now (a commit made during the first build would give the
    # second a newer time), with the uncommitted edits and new files of the source as it is.
    commit = git(source, "rev-parse", "HEAD", text=True).strip()
    edits = git(source, "diff", commit, "--binary")
    new_files = [n for n in git(source, "ls-files", "-z", "--others", "--exclude-standard",
                                text=True).split("\0") if n]
    first = build(source, commit, edits, new_files, tmp_path / "a" / "warukyara",
                  0o022, "UTC", "C.UTF-8")
    second = build(source, commit, edits, new_files,
                   tmp_path / "second" / "build-area" / "warukyara", 0o002, "Asia/Tokyo", "C")
    differ = []
    for pattern in PACKAGES:
        one, two = sorted(first.glob(pattern)), sorted(second.glob(pattern))
        assert len(one) == 1 and len(two) == 1, f"no single {pattern} in each build"
        sums = [hashlib.sha256(p.read_bytes()).hexdigest() for p in (one[0], two[0])]
        print(f"{one[0].name}: {sums[0]} / {sums[1]}")
        if sums[0] != sums[1]:
            differ.append(one[0].name)
            if shutil.which("diffoscope"):
                subprocess.run(["diffoscope", "--text", "-", "--max-report-size", "20000",
                                str(one[0]), str(two[0])])
    assert not differ, f"{differ} differ between the two builds"
