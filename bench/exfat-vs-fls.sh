#!/usr/bin/env bash
# The scan of an exFAT volume of 50,000 files (half of them deleted) by mirel
# beside fls -r -d on the same volume: the median wall time of several runs on
# a warm cache, and their ratio against its target (mirel at least 10 times
# faster). The volume is made once (make-exfat-bench-image.sh) and kept in
# /tmp/mirel-bench. usage: exfat-vs-fls.sh MIREL_BINARY [RUNS]
set -euo pipefail
mirel=${1:?usage: exfat-vs-fls.sh MIREL_BINARY [RUNS]}
runs=${2:-5}
cache=${MIREL_BENCH_CACHE:-/tmp/mirel-bench}
image=$cache/exfat-50k.img
mkdir -p "$cache"
[ -f "$image" ] || bash "$(dirname "$0")/make-exfat-bench-image.sh" "$image"

median() {  # CMD...: median wall seconds of $runs runs
  local times=()
  "$@" >/dev/null 2>&1 || true
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

mirel_s=$(median "$mirel" scan "$image" --format csv)
fls_s=$(median fls -r -d "$image")
deleted=$("$mirel" scan "$image" --format csv 2>/dev/null | tail -n +2 | wc -l)
fls_deleted=$(fls -r -d "$image" | wc -l)
printf 'mirel scan      %8.3f s  (%s entries)\n' "$mirel_s" "$deleted"
printf 'fls -r -d       %8.3f s  (%s entries)\n' "$fls_s" "$fls_deleted"
ratio=$(echo "$fls_s / $mirel_s" | bc -l)
printf 'fls / mirel     %8.1f x  (target >= 10)\n' "$ratio"
awk -v r="$ratio" 'BEGIN { exit !(r >= 10) }' || echo "target missed" >&2
