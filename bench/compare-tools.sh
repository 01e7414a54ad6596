#!/usr/bin/env bash
# Side-by-side benchmark: mirel against other recovery tools on a 1 GiB FAT32
# volume (50,000 files, half deleted) and an NTFS volume of about 200,000 MFT
# records (half deleted), each measured beside its limits: reading the
# volume's metadata (metadata_read) and reading the whole image (cat).
#
# For every tool it prints the median wall time of several runs on a warm
# page cache, the read calls it issued (strace) and its peak resident memory
# (GNU time), then the ratios with their targets. A missed target is printed
# as such; the script fails only when a tool cannot run.
#
# Images are made once and kept in MIREL_BENCH_CACHE (default
# /tmp/mirel-bench). MIREL_BENCH_RUNS sets the runs per figure (default 5).
set -euo pipefail
export LC_ALL=C

usage="usage: compare-tools.sh BUILD_DIR"
cache=${MIREL_BENCH_CACHE:-/tmp/mirel-bench}
runs=${MIREL_BENCH_RUNS:-5}
dest=/dev/shm/mirel-compare-tools.$$
large_mask="Large deleted file*"
work=

# Figures of the last measure call.
median_s=0 peak_kib=0 read_calls=0

die() {
  echo "compare-tools.sh: $*" >&2
  exit 1
}

empty_dest() {
  rm -rf "$dest"
  mkdir -p "$dest"
}

no_prepare() { :; }

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Exit statuses that mean the tool ran; ntfsundelete ends with 1 also after
# a complete scan, so its output is checked once beforehand instead.
ok_status=0

# Runs the command once, stdout discarded; stops the script when it fails.
run_checked() {
  local status=0
  "$@" >/dev/null 2>"$work/stderr" || status=$?
  if [[ " $ok_status " != *" $status "* ]]; then
    echo "compare-tools.sh: failed: $*" >&2
    tail -n 20 "$work/stderr" >&2
    exit 1
  fi
}

# measure PREPARE CMD...: median wall time and peak RSS over $runs runs
# (PREPARE runs before each, untimed), then the read calls of one traced run.
measure() {
  local prepare=$1 i start end
  shift
  : >"$work/times"
  : >"$work/rss"
  for ((i = 0; i < runs; i++)); do
    "$prepare"
    start=$EPOCHREALTIME
    run_checked /usr/bin/time -f %M -o "$work/time.out" "$@"
    end=$EPOCHREALTIME
    calc "$end - $start" >>"$work/times"
    tail -n 1 "$work/time.out" >>"$work/rss"
  done
  median_s=$(median <"$work/times")
  peak_kib=$(median <"$work/rss")
  "$prepare"
  run_checked strace -f -c -e trace=pread64,read,preadv,readv -o "$work/strace" "$@"
  read_calls=$(count_read_calls "$work/strace")
}

# The read calls in a summary of strace -c (its total line left out).
count_read_calls() {
  awk '$NF ~ /^(pread64|read|preadv|readv)$/ { n += $4 } END { print n + 0 }' "$1"
}

# Figures per row label, filled by row and read by the ratio lines; the
# command-line scan's time per image, which the GUI scan is held against.
declare -A time_of rss_of scan_time_of

row() {  # LABEL: prints the last measure's figures under LABEL
  time_of[$1]=$median_s
  rss_of[$1]=$peak_kib
  printf '  %-38s %9.3f s %11d %10.1f MiB\n' "$1" "$median_s" "$read_calls" "$(calc "$peak_kib / 1024")"
}

header() {
  printf '  %-38s %11s %11s %14s\n' "tool" "median" "read calls" "peak RSS"
}

# verdict VALUE OP TARGET: "met" or "MISSED" (OP: <= or >=).
verdict() {
  if awk -v v="$1" -v t="$3" -v op="$2" 'BEGIN { exit !((op == "<=") ? v <= t : v >= t) }'; then
    echo "met"
  else
    echo "MISSED"
  fi
}

ratio_line() {  # TEXT VALUE OP TARGET
  printf '  %-70s %8.2f  (target %s %s: %s)\n' "$1" "$2" "$3" "$4" "$(verdict "$2" "$3" "$4")"
}

# Arithmetic on decimals, which the shell has none of.
calc() { awk "BEGIN { print $1 }"; }

ensure_image() {  # KIND PATH
  [ -f "$2" ] && return 0
  mkdir -p "$(dirname "$2")"
  echo "making $2 (once; it is kept for later runs) ..."
  local start=$EPOCHREALTIME
  bash "$here/make-compare-$1-image.sh" "$2" || die "cannot make $2"
  printf 'made %s in %.0f s\n' "$2" "$(calc "$EPOCHREALTIME - $start")"
}

# Entries mirel lists for an image (the CSV header line aside).
entries_listed() {
  "$mirel" scan "$1" --format csv 2>/dev/null | tail -n +2 | wc -l
}

compare() {  # KIND IMAGE
  local kind=$1 image=$2 size bytes others=() fastest="" t
  size=$(stat -c %s "$image")
  echo
  echo "== $kind: $(basename "$image") ($((size / 1048576)) MiB), median of $runs runs =="
  cat "$image" >/dev/null
  header

  measure no_prepare "$mirel" scan "$image"
  row "mirel scan"
  scan_time_of[$image]=$median_s
  local scan_rss=$peak_kib
  measure no_prepare fls -r -d "$image"
  row "fls -r -d"
  others+=("fls -r -d")
  if [ "$kind" = ntfs ]; then
    ntfsundelete --scan --percentage 0 "$image" >"$work/listing" 2>&1 || true
    grep -q "^Files with potentially recoverable content" "$work/listing" ||
      die "ntfsundelete cannot scan $image: $(tail -n 3 "$work/listing")"
    ok_status="0 1" measure no_prepare ntfsundelete --scan --percentage 0 "$image"
    row "ntfsundelete --scan --percentage 0"
    others+=("ntfsundelete --scan --percentage 0")
  fi
  measure no_prepare "$metadata_read" "$image"
  row "metadata read (limit)"
  measure no_prepare cat "$image"
  row "cat image (limit)"

  measure empty_dest "$mirel" recover "$image" --to "$dest"
  row "mirel recover (all deleted)"
  measure empty_dest tsk_recover "$image" "$dest"
  row "tsk_recover (all deleted)"
  measure empty_dest "$mirel" recover "$image" --to "$dest" --mask "$large_mask"
  row "mirel recover (large files)"
  bytes=$(find "$dest" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
  [ "$bytes" -gt 0 ] || die "no large file recovered from $image"
  # The recovery's own time, which mirel prints after the scan that precedes it.
  local copy_s
  copy_s=$(for ((i = 0; i < runs; i++)); do
    empty_dest
    "$mirel" recover "$image" --to "$dest" --mask "$large_mask" 2>&1 >/dev/null |
      sed -n 's/.* files written (.*) to .* in \([0-9.]*\) s,.*/\1/p'
  done | median)
  # What writing as many bytes into the destination costs at best: one
  # kernel copy of the image's first bytes.
  measure empty_dest dd if="$image" of="$dest/copy" bs=1M count=$(((bytes + 1048575) / 1048576)) status=none
  row "dd into the destination (limit)"

  for t in "${others[@]}"; do
    if [ -z "$fastest" ] || awk -v a="${time_of[$t]}" -v b="${time_of[$fastest]}" 'BEGIN { exit !(a < b) }'; then
      fastest=$t
    fi
  done
  local large_mbs cat_mbs copy_mbs entries tiny_rss
  large_mbs=$(calc "$bytes / 1000000 / $copy_s")
  copy_mbs=$(calc "$bytes / 1000000 / ${time_of[dd into the destination (limit)]}")
  cat_mbs=$(calc "$size / 1000000 / ${time_of[cat image (limit)]}")
  entries=$(entries_listed "$image")
  measure no_prepare "$mirel" scan "$tiny_image"
  tiny_rss=$peak_kib

  echo
  printf '  large files: %.0f MB recovered at %.0f MB/s (after the scan); cat reads the image at %.0f MB/s,\n' \
    "$(calc "$bytes / 1000000")" "$large_mbs" "$cat_mbs"
  printf '  dd copies as many bytes into %s at %.0f MB/s\n' "$dest" "$copy_mbs"
  printf '  scan memory: %d KiB peak on this image, %d KiB on %s, %d entries listed\n' \
    "$scan_rss" "$tiny_rss" "$(basename "$tiny_image")" "$entries"
  ratio_line "mirel scan / $fastest (fastest other tool)" \
    "$(calc "${time_of[mirel scan]} / ${time_of[$fastest]}")" "<=" 0.5
  ratio_line "mirel scan / metadata read" "$(calc "${time_of[mirel scan]} / ${time_of[metadata read (limit)]}")" "<=" 3
  ratio_line "large-file recovery MB/s / cat MB/s" "$(calc "$large_mbs / $cat_mbs")" ">=" 0.7
  printf '  %-70s %8.2f  (no target)\n' "large-file recovery MB/s / dd into the destination MB/s" \
    "$(calc "$large_mbs / $copy_mbs")"
  ratio_line "scan memory per entry beyond the base (bytes)" \
    "$(calc "($scan_rss - $tiny_rss) * 1024 / $((entries > 0 ? entries : 1))")" "<=" 1024
  printf '  %-70s %8.2f  (no target)\n' "mirel recover / tsk_recover" \
    "$(calc "${time_of[mirel recover (all deleted)]} / ${time_of[tsk_recover (all deleted)]}")"
}

gui_ratio() {  # IMAGE
  echo
  if [ ! -x "$gui_bench" ]; then
    echo "== GUI scan: $gui_bench not built (no Qt), skipped =="
    return 0
  fi
  echo "== GUI scan of $(basename "$1"): gui_scan_bench, best of 3 =="
  "$gui_bench" "$1" >"$work/gui" 2>"$work/stderr" || { cat "$work/stderr" >&2; die "gui_scan_bench failed"; }
  sed 's/^/  /' "$work/gui" | grep -v "ratio"
  local shown
  shown=$(awk '/scan in the window:/ { print $5 }' "$work/gui")
  printf '  %-70s %8.2f  (no target)\n' "scan in the window / engine scan in the same process" \
    "$(awk '/ratio window\/engine/ { print $3 }' "$work/gui")"
  if [ -n "${scan_time_of[$1]:-}" ]; then
    ratio_line "scan in the window / mirel scan" "$(calc "$shown / ${scan_time_of[$1]}")" "<=" 1.3
  fi
}

main() {
  local tool
  [ $# -eq 1 ] && [ -d "$1" ] || { echo "$usage" >&2; exit 2; }
  here=$(cd "$(dirname "$0")" && pwd)
  build=$(cd "$1" && pwd)
  mirel=$build/mirel
  metadata_read=$build/bench/metadata_read
  gui_bench=$build/bench/gui_scan_bench
  tiny_image=$build/demo.img
  work=$(mktemp -d)
  trap 'rm -rf "$work" "$dest"' EXIT

  for tool in "$mirel" "$metadata_read"; do [ -x "$tool" ] || die "$tool not built"; done
  for tool in fls tsk_recover ntfsundelete strace /usr/bin/time mkntfs ntfs-3g mkfs.fat mcopy; do
    command -v "$tool" >/dev/null || die "$tool not installed"
  done
  [ -f "$tiny_image" ] || die "$tiny_image missing (make $tiny_image)"
  ensure_image fat "$cache/compare-fat32-1g.img"
  ensure_image ntfs "$cache/compare-ntfs-200k.img"
  compare fat "$cache/compare-fat32-1g.img"
  compare ntfs "$cache/compare-ntfs-200k.img"
  gui_ratio "$cache/compare-fat32-1g.img"
  gui_ratio "$cache/compare-ntfs-200k.img"
}

# Sourced by the tests for its helpers; run, it benchmarks.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  main "$@"
fi
