"""The committed pictures and icons, checked as art/check checks them after every render:
formats, sizes, frames, delays, transparency and content of each normal picture, and each
twin drawn for twice the density against its normal picture."""

import importlib.machinery
import importlib.util
import os

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load_check():
    path = os.path.join(ROOT, "art", "check")
    loader = importlib.machinery.SourceFileLoader("art_check", path)
    found = importlib.util.spec_from_loader("art_check", loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    # its own default comes from the command line, which here is pytest's
    module.ROOT = ROOT
    module.PICS = os.path.join(ROOT, "form", "pictures")
    module.ICONS = os.path.join(ROOT, "packaging", "icons")
    return module


art = load_check()


@pytest.fixture
def failures(monkeypatch):
    """Runs art/check's checks, keeping the failed ones instead of printing them."""
    failed = []
    passed = []

    def check(name, ok, detail=""):
        (passed if ok else failed).append(name + (": " + detail if detail and not ok else ""))

    monkeypatch.setattr(art, "check", check)
    yield failed
    assert passed, "no check ran"


@pytest.mark.parametrize("group", [
    "encoder", "background", "title", "character0", "character1", "character2",
    "character3", "character4", "icons",
])
def test_normal_pictures(group, failures):
    getattr(art, "check_" + group)()
    assert failures == []


@pytest.mark.parametrize("name", ["title.gif", "character0.gif", "character2.gif",
                                  "character3.gif"])
def test_gif_twins(name, failures):
    art.check_gif_twin(name)
    assert failures == []


@pytest.mark.parametrize("name", ["character1.jpg", "character4.jpg"])
def test_jpeg_twins(name, failures):
    art.check_jpeg_twin(name)
    assert failures == []


def test_sky_and_icon_twins(failures):
    art.check_background_twin()
    art.check_icon_twins()
    assert failures == []


def test_every_picture_has_its_twin():
    """A picture added without a twin would be drawn enlarged on dense screens."""
    pics = os.listdir(art.PICS)
    normal = sorted(p for p in pics if "@2x" not in p)
    twins = sorted(p for p in pics if "@2x" in p)
    assert len(normal) == 7
    for name in normal:
        stem = os.path.splitext(name)[0]
        assert [t for t in twins if t.startswith(stem + "@2x.")], name
    assert len(twins) == len(normal)


def test_a_wrong_twin_is_caught(tmp_path, failures):
    """The twin checks fail on an enlarged copy of the title (the fault they are there for)
    and on a twin of the wrong size."""
    import shutil
    import subprocess
    pics = tmp_path / "pictures"
    pics.mkdir()
    shutil.copy(os.path.join(art.PICS, "character2.gif"), pics / "character2.gif")
    # a twin of the wrong size: the normal picture under the twin's name
    shutil.copy(os.path.join(art.PICS, "character2.gif"), pics / "character2@2x.gif")
    old = art.PICS
    art.PICS = str(pics)
    try:
        art.check_gif_twin("character2.gif")
        assert any("twice the size" in f for f in failures), failures
        failures.clear()
        # the background twin enlarged from the normal sky: right size, coarse spray
        subprocess.run([art.CONVERT, os.path.join(old, "background.bmp"), "-sample", "200%",
                        "-colors", "2", "-define", "png:bit-depth=1", "-define",
                        "png:color-type=3", str(pics / "background@2x.png")], check=True)
        shutil.copy(os.path.join(old, "background.bmp"), pics / "background.bmp")
        art.check_background_twin()
        assert any("fine grid" in f for f in failures), failures
    finally:
        art.PICS = old
    failures.clear()
