#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, one after the other,
# each over its seed corpus; prints each one's speed. A finding stops the run.
# usage: run-fuzzers.sh BUILD_DIR [SECONDS] [TARGET...]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-20}
shift $(( $# < 2 ? $# : 2 ))
src=$(cd "$(dirname "$0")/.." && pwd)

bash "$src/tests/fixtures/make-images.sh" "$build/fixtures" >/dev/null
bash "$src/fuzz/make-seeds.sh" "$build/fixtures" "$build/fuzz-seeds"

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fat_boot_fuzz fat_dir_fuzz ntfs_boot_fuzz exfat_dir_fuzz mft_record_fuzz runlist_fuzz lznt1_fuzz volume_scan_fuzz)
for t in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$t
  mkdir -p "$corpus" "$build/fuzz-findings"
  log=$build/fuzz-findings/$t.log
  max_len=4096
  case $t in
    fat_dir_fuzz) max_len=4608 ;;
    volume_scan_fuzz) max_len=$((768 * 1024)) ;;
  esac
  echo "== $t: $seconds s"
  if ! (cd "$build/fuzz-findings" && "$build/fuzz/$t" -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$build/fuzz-seeds/$t" >"$log" 2>&1); then
    tail -n 40 "$log"
    echo "$t: finding, see $log and $build/fuzz-findings" >&2
    exit 1
  fi
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|cov:" "$log" | tail -n 3
done
