#!/usr/bin/env bash
# Runs a libFuzzer target for CTest.
#   run-fuzzer.sh replay FUZZER SOURCE_DIR             every file in corpus/ and regressions/ once
#   run-fuzzer.sh fuzz FUZZER SOURCE_DIR WORK_DIR SEC [LIMIT]
#                                  fuzz for SEC seconds from the seeds, LIMIT seconds an input
set -euo pipefail
mode=$1
fuzzer=$2
source_dir=$3

case $mode in
replay)
  mapfile -t inputs < <(find "$source_dir/corpus" "$source_dir/regressions" -type f \
    ! -name README.md | sort)
  ((${#inputs[@]} > 0)) || { echo "no inputs to replay" >&2; exit 1; }
  # Named files are run once each, without fuzzing.
  "$fuzzer" "${inputs[@]}"
  echo "replayed ${#inputs[@]} inputs"
  ;;
fuzz)
  work=$4
  seconds=$5
  limit=${6:-10}
  dicts=("$source_dir"/*.dict)
  dict_option=()
  [[ -f ${dicts[0]} ]] && dict_option=(-dict="${dicts[0]}")
  # New inputs go to the first folder only, so the committed seeds stay as they are.
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  "$fuzzer" -max_total_time="$seconds" -timeout="$limit" -rss_limit_mb=2048 -max_len=4096 \
    "${dict_option[@]}" \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$source_dir/corpus" "$source_dir/regressions"
  echo "corpus grown to $(find "$work/corpus" -type f | wc -l) new inputs in $work/corpus"
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac
