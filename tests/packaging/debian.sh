#!/usr/bin/env bash
# The Debian package: built with CPack, unpacked into a scratch root, it holds the program,
# the tune, the desktop entry, the metainfo and the icons, declares what it needs, and the
# unpacked program finds its tune in the installed data folder.
set -euo pipefail
here=$(dirname "$0")
build=$1

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }
E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/e2e.XXXXXXXX")
trap 'rm -rf "$E2E_DIR"' EXIT
(cd "$E2E_DIR" && timeout 120 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$E2E_DIR/deb" \
  >"$E2E_DIR/cpack.log" 2>&1) || { cat "$E2E_DIR/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$E2E_DIR"/deb/warukyara_1.00_*.deb) || fail "no package named warukyara_1.00_*.deb"
pass "built $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6multimedia6 fonts-ipafont-gothic; do
  grep -q "$needed" <<<"$depends" || fail "the package does not depend on $needed: $depends"
done
pass "depends on: $depends"

root=$E2E_DIR/root
dpkg -x "$deb" "$root"
for file in usr/bin/warukyara usr/share/warukyara/sky.wav \
  usr/share/applications/jp.warukyara.Warukyara.desktop \
  usr/share/metainfo/jp.warukyara.Warukyara.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/warukyara.svg; do
  [[ -s $root/$file ]] || fail "the package lacks $file"
done
for size in 16 32 48 64 128 256; do
  [[ -s $root/usr/share/icons/hicolor/${size}x${size}/apps/warukyara.png ]] ||
    fail "the package lacks the ${size}x${size} icon"
done
cmp -s "$root/usr/share/warukyara/sky.wav" "$here/../../sound/sky.wav" || fail "the packaged tune differs"
pass "program, tune, desktop entry, metainfo and icons are in place"

# A recorded game under a private X and sound server: the loudness before and after はじまり.
read -r _ after < <(/usr/bin/python3 "$here/../e2e/harness.py" tune "$root/usr/bin/warukyara") ||
  fail "the packaged game could not be played"
/usr/bin/python3 -c 'import sys; sys.exit(float(sys.argv[1]) <= 0.02)' "$after" ||
  fail "the packaged game played no tune (RMS $after)"
pass "the unpacked game finds its tune in share/warukyara (RMS $after)"
