"""The Debian package as a distribution would take it: the binary packages dpkg-buildpackage
made (scripts/package), their contents and relations read back, and the unpacked game played.
lintian, autopkgtest and reprotest check the rest, from scripts/test."""
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
import harness  # noqa: E402
PACKAGES = Path(os.environ.get("WARUKYARA_DEB_DIR", SOURCE / "build" / "deb")).resolve()
APP_ID = "jp.warukyara.Warukyara"


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, timeout=240,
                          **kwargs).stdout


@pytest.fixture(scope="module")
def packages():
    """The package and its debug symbols, as scripts/package left them."""
    debs = sorted(PACKAGES.glob("warukyara_1.00-*_*.deb"))
    dbgsyms = sorted(PACKAGES.glob("warukyara-dbgsym_1.00-*_*.deb"))
    found = sorted(path.name for path in PACKAGES.glob("*")) if PACKAGES.is_dir() else []
    assert len(debs) == 1, f"expected one warukyara_1.00-*.deb in {PACKAGES}: {found}"
    return {"deb": debs[0], "dbgsym": dbgsyms[0] if dbgsyms else None}


@pytest.fixture(scope="module")
def deb(packages):
    return packages["deb"]


@pytest.fixture(scope="module")
def unpacked(deb, tmp_path_factory):
    root = tmp_path_factory.mktemp("root")
    run("dpkg", "-x", str(deb), str(root))
    return root


def field(deb, name):
    return run("dpkg-deb", "-f", str(deb), name).strip()


def relations(text):
    """'a (>= 1), b | c' as [['a'], ['b', 'c']]: package names only, per alternative group."""
    return [[re.sub(r"\s*\(.*\)", "", alt).strip() for alt in group.split("|")]
            for group in text.split(",") if group.strip()]


def test_files_are_where_debian_keeps_them(deb, unpacked):
    listed = {line.split()[-1].lstrip(".") for line in run("dpkg-deb", "-c", str(deb)).splitlines()}
    expected = [
        "/usr/games/warukyara",
        "/usr/share/warukyara/sky.wav",
        "/usr/share/man/man6/warukyara.6.gz",
        "/usr/share/doc/warukyara/copyright",
        "/usr/share/doc/warukyara/changelog.Debian.gz",
        f"/usr/share/applications/{APP_ID}.desktop",
        f"/usr/share/metainfo/{APP_ID}.metainfo.xml",
        "/usr/share/icons/hicolor/scalable/apps/warukyara.svg",
    ] + [f"/usr/share/icons/hicolor/{s}x{s}/apps/warukyara.png" for s in (16, 32, 48, 64, 128, 256)] \
      + [f"/usr/share/icons/hicolor/{s}x{s}@2/apps/warukyara.png" for s in (16, 32)]
    missing = [path for path in expected if path not in listed]
    assert not missing, f"the package lacks {missing}"
    assert not [path for path in listed if path.startswith("/usr/bin/")], "a program in /usr/bin"
    assert (unpacked / "usr/share/warukyara/sky.wav").read_bytes() == \
        (SOURCE / "sound/sky.wav").read_bytes()
    assert (unpacked / "usr/share/doc/warukyara/copyright").read_text().startswith(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")


def test_the_program_is_stripped_and_hardened(unpacked, packages):
    program = unpacked / "usr/games/warukyara"
    sections = run("readelf", "-S", "-W", str(program))
    assert ".debug_info" not in sections and ".symtab" not in sections, "not stripped"
    # The debug symbols travel in their own package, under the program's build id.
    build_id = re.search(r"Build ID: ([0-9a-f]+)", run("readelf", "-n", str(program))).group(1)
    assert packages["dbgsym"], "no debug-symbols package"
    debug_files = run("dpkg-deb", "-c", str(packages["dbgsym"]))
    assert f"/usr/lib/debug/.build-id/{build_id[:2]}/{build_id[2:]}.debug" in debug_files
    headers = run("readelf", "-l", "-d", "-W", str(program))
    assert "GNU_RELRO" in headers, "no read-only relocations (-z relro)"
    assert re.search(r"FLAGS.*\bBIND_NOW\b|FLAGS_1.*\bNOW\b", headers), "no -z now"
    symbols = run("readelf", "--dyn-syms", "-W", str(program))
    assert "__stack_chk_fail" in symbols, "no stack protector"
    assert re.search(r"__\w+_chk\b", symbols.replace("__stack_chk_fail", "")), \
        "no fortified libc call"


def test_depends_cover_every_linked_library_and_the_font(deb, unpacked):
    depends = relations(field(deb, "Depends"))
    names = {name for group in depends for name in group}
    assert ["fonts-ipafont-gothic", "fonts-japanese-gothic"] in depends
    # Every library the program links must come from a package it depends on: a hand-written
    # list goes stale as soon as the program links something new.
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                        run("readelf", "-d", str(unpacked / "usr/games/warukyara")))
    assert any(lib.startswith("libQt6Widgets") for lib in needed), needed
    for library in needed:
        owners = run("dpkg-query", "-S", f"*/{library}").splitlines()
        providers = {owner.split(":")[0] for owner in owners}
        assert providers & names, f"{library} comes from {providers}, not in Depends {names}"
    assert re.search(r"libc6 \(>= [0-9.]+\)", field(deb, "Depends")), "libc6 without a version"
    recommends = relations(field(deb, "Recommends"))
    assert ["qt6-wayland"] in recommends
    assert any("pulseaudio" in group and len(group) > 1 for group in recommends), recommends


def test_metadata_for_software_centres_validates(unpacked):
    metainfo = unpacked / f"usr/share/metainfo/{APP_ID}.metainfo.xml"
    result = subprocess.run(["appstreamcli", "validate", "--pedantic", "--no-net", str(metainfo)],
                            capture_output=True, text=True, timeout=60)
    # The component id keeps the capital of the desktop id that the running window carries;
    # that one pedantic note is the only remark allowed.
    remarks = [line for line in result.stdout.splitlines() if re.match(r"^[EWIP]: ", line)
               and "cid-contains-uppercase-letter" not in line]
    assert result.returncode == 0 and not remarks, result.stdout + result.stderr
    text = metainfo.read_text()
    for needed in ("<project_license>MIT</project_license>", "<developer_name>",
                   '<release version="1.00"', "<screenshot type=\"default\">"):
        assert needed in text, f"the metainfo lacks {needed}"
    # Each screenshot is a README picture, published as docs/NAME.png of its release.
    shots = re.findall(r'<image type="source" width="(\d+)" height="(\d+)">'
                       r'https://warukyara\.jp/screenshots/1\.00/(\w+)\.png</image>', text)
    assert len(shots) == len(re.findall(r"<screenshot[ >]", text)), text
    for width, height, name in shots:
        with Image.open(SOURCE / "docs" / f"{name}.png") as picture:
            assert picture.size == (int(width), int(height)), f"{name}.png is {picture.size}"
    man = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                          str(unpacked / "usr/share/man/man6/warukyara.6.gz")],
                         capture_output=True, text=True, timeout=60)
    assert man.returncode == 0 and not man.stderr, man.stderr


def test_the_unpacked_game_plays_its_installed_tune(unpacked, tmp_path):
    # Only the installed data folder holds the tune: the program must find it from /usr/games.
    program = unpacked / "usr/games/warukyara"
    assert not (program.parent / "sky.wav").exists()
    (tmp_path / "pulse").mkdir()
    env = harness.isolated_env(tmp_path)
    games = []

    def start():
        games.append(harness.Game(program, env, tmp_path, cwd=tmp_path))
        return games[-1].wait_window()

    with harness.Xvfb(tmp_path) as xvfb, harness.Pulse(tmp_path / "pulse") as pulse:
        env["DISPLAY"] = xvfb.display
        env.update(pulse.env)
        try:
            tune_at = harness.play_recorded_game(start, pulse, tmp_path / "game.wav")
        finally:
            for game in games:
                game.stop()
        loudness = harness.rms(tmp_path / "game.wav", tune_at, 1)
        assert loudness > 0.02, f"the packaged game played no tune (RMS {loudness:.4f}): " \
            + games[0].stderr_text()
