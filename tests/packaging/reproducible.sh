#!/usr/bin/env bash
# Builds the package twice from this source, as two users would: two clones at different
# absolute paths, built one after the other (so at different times) under different umasks,
# time zones and locales. Both must give the same .deb and -dbgsym, byte for byte.
#   reproducible.sh SOURCE_DIR [WORK_DIR]
set -euo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A shared compiler cache would hand the second build the first one's objects, paths and all.
export CCACHE_DISABLE=1
unset SOURCE_DATE_EPOCH

if ! git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
    echo "reproducible.sh: $source_dir is not a git checkout"
    exit 77
fi
# Uncommitted edits and new files travel with each clone, so the check sees the source as it is,
# not only its last commit.
# Both clones take the commit of now: a commit made during the first build would otherwise give
# the second a newer time.
commit=$(git -C "$source_dir" rev-parse HEAD)
git -C "$source_dir" diff "$commit" --binary >"$work/edits.patch"
git -C "$source_dir" ls-files -z --others --exclude-standard >"$work/new-files"

build() { # clone-folder umask TZ LANG
    git clone -q --no-hardlinks "$source_dir" "$1"
    git -C "$1" -c advice.detachedHead=false checkout -q "$commit"
    if [[ -s $work/edits.patch ]]; then
        git -C "$1" apply --whitespace=nowarn "$work/edits.patch"
    fi
    if [[ -s $work/new-files ]]; then
        tar -C "$source_dir" --null -T "$work/new-files" -cf - | tar -C "$1" -xf -
    fi
    (
        cd "$1"
        umask "$2"
        export TZ=$3 LANG=$4 LC_ALL=$4
        cmake --preset default -DBUILD_TESTING=OFF -DWARUKYARA_BENCHMARKS=OFF >"$1.log" 2>&1
        cmake --build --preset default -j 2 >>"$1.log" 2>&1
        cd build/default
        cpack -G DEB >>"$1.log" 2>&1
    ) || { tail -n 40 "$1.log"; return 1; }
}

first=$work/a/warukyara
second=$work/second/build-area/warukyara
mkdir -p "$(dirname "$first")" "$(dirname "$second")"
build "$first" 022 UTC C.UTF-8
build "$second" 002 Asia/Tokyo C

status=0
for pattern in 'warukyara_*.deb' 'warukyara-dbgsym_*.ddeb'; do
    one=$(compgen -G "$first/build/default/$pattern" || true)
    two=$(compgen -G "$second/build/default/$pattern" || true)
    if [[ -z $one || -z $two ]]; then
        echo "no $pattern in one of the builds"
        status=1
        continue
    fi
    sum_one=$(sha256sum <"$one" | cut -d' ' -f1)
    sum_two=$(sha256sum <"$two" | cut -d' ' -f1)
    echo "$(basename "$one"): $sum_one / $sum_two"
    if [[ $sum_one != "$sum_two" ]]; then
        status=1
        if command -v diffoscope >/dev/null; then
            diffoscope --text - --max-report-size 20000 "$one" "$two" || true
        fi
    fi
done
exit $status
