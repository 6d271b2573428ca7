"""Builds the package a second time from this source, as another user would: a clone at another
absolute path, built later, under another umask, time zone and locale. Its .deb and -dbgsym must
be the same, byte for byte, as those packed from the build folder the tests run from (which must
be built from this source as it stands); where they differ, diffoscope (if installed) says how.
One fresh build instead of two: the build folder is already one build of the same source.

    WARUKYARA_BUILD_DIR=build/default python3 -m pytest -s tests/packaging/test_reproducible.py"""
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


def pack(build_dir, out):
    """The packages CPack makes from a built folder, written to out."""
    out.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cpack", "-G", "DEB", "--config", str(build_dir / "CPackConfig.cmake"),
                    "-B", str(out)], cwd=out, check=True, capture_output=True)
    return out


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


def test_a_second_build_elsewhere_gives_the_same_packages(tmp_path):
    source = Path(os.environ.get("WARUKYARA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
    built = Path(os.environ.get("WARUKYARA_BUILD_DIR", source / "build" / "default")).resolve()
    # A shared compiler cache would hand the second build the first one's objects, paths and all.
    os.environ["CCACHE_DISABLE"] = "1"
    os.environ.pop("SOURCE_DATE_EPOCH", None)
    if subprocess.run(["git", "-C", str(source), "rev-parse", "--git-dir"],
                      capture_output=True).returncode != 0:
        pytest.skip(f"{source} is not a git checkout")
    if not (built / "CPackConfig.cmake").exists():
        pytest.skip(f"{built} is not a configured build folder")
    # The clone takes the commit of now, with the uncommitted edits and new files of the source
    # as it is, which is what the build folder was built from.
    commit = git(source, "rev-parse", "HEAD", text=True).strip()
    edits = git(source, "diff", commit, "--binary")
    new_files = [n for n in git(source, "ls-files", "-z", "--others", "--exclude-standard",
                                text=True).split("\0") if n]
    first = pack(built, tmp_path / "first")
    # Whatever the first build's umask, time zone and locale were, the second's differ.
    umask = os.umask(0o022)
    os.umask(umask)
    tz = "Asia/Tokyo" if os.environ.get("TZ") != "Asia/Tokyo" else "UTC"
    lang = "C" if os.environ.get("LANG") != "C" else "C.UTF-8"
    second = build(source, commit, edits, new_files,
                   tmp_path / "second" / "build-area" / "warukyara", umask ^ 0o020, tz, lang)
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
