#!/usr/bin/env bash
# Copying every deleted file out of `mirel mount` with `cp -r`, against
# `mirel recover` of the same files into the same kind of folder (tmpfs).
#
# Both scan first; the figures compared are the copies alone: the time cp -r
# takes once the mount is there, and the time recover prints for its own
# writing after its scan. Each run mounts anew, so the mount's page cache
# starts empty; the image itself is read once beforehand (warm cache). The
# first run's two trees are compared with diff -r.
#
#   mount-vs-recover.sh BUILD_DIR [IMAGE]
#
# IMAGE defaults to the side-by-side benchmark's 1 GiB FAT32 volume in
# MIREL_BENCH_CACHE (default /tmp/mirel-bench), made once when missing.
# MIREL_BENCH_RUNS sets the runs (default 5).
set -euo pipefail
export LC_ALL=C

usage="usage: mount-vs-recover.sh BUILD_DIR [IMAGE]"
cache=${MIREL_BENCH_CACHE:-/tmp/mirel-bench}
runs=${MIREL_BENCH_RUNS:-5}
work= dest= mnt= server=

die() {
  echo "mount-vs-recover.sh: $*" >&2
  exit 1
}

calc() { awk "BEGIN { print $1 }"; }

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

cleanup() {
  if [ -n "$mnt" ] && mountpoint -q "$mnt"; then fusermount3 -u -z "$mnt" || true; fi
  if [ -n "$server" ]; then wait "$server" 2>/dev/null || true; fi
  rm -rf "$work" "$dest"
}

# Recovers every deleted file into $1 (FILTER options after it); prints the
# time recover gives for its writing, after its scan.
recover_into() {
  local into=$1
  shift
  "$mirel" recover "$image" --to "$into" "$@" 2>"$work/recover.err" >/dev/null ||
    die "recover failed: $(tail -n 3 "$work/recover.err")"
  sed -n 's/.* files written (.*) to .* in \([0-9.]*\) s,.*/\1/p' "$work/recover.err"
}

# Mounts (FILTER options after $1), copies everything with cp -r into $1,
# unmounts; prints the copy's time and the time from start to the mount
# being there.
copy_from_mount_into() {
  local into=$1 start mounted end i status=0
  shift
  start=$EPOCHREALTIME
  "$mirel" mount "$image" "$mnt" "$@" 2>"$work/mount.err" &
  server=$!
  for ((i = 0; i < 6000; i++)); do
    mountpoint -q "$mnt" && break
    kill -0 "$server" 2>/dev/null || die "mount ended: $(tail -n 3 "$work/mount.err")"
    sleep 0.01
  done
  mountpoint -q "$mnt" || die "the mount did not come up"
  mounted=$EPOCHREALTIME
  cp -r "$mnt/." "$into" || die "cp -r failed"
  end=$EPOCHREALTIME
  fusermount3 -u "$mnt" || die "cannot unmount $mnt"
  wait "$server" || status=$?
  server=
  [ "$status" -eq 0 ] || die "mount ended with $status: $(tail -n 3 "$work/mount.err")"
  echo "$(calc "$end - $mounted") $(calc "$mounted - $start")"
}

# compare LABEL [FILTER...]: $runs runs of both, the figures and the ratio.
compare() {
  local label=$1 i recover_s copy_s scan_s files bytes ratio
  shift
  : >"$work/recover"
  : >"$work/copy"
  : >"$work/scan"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$dest" && mkdir -p "$dest/recovered" "$dest/copied"
    recover_into "$dest/recovered" "$@" >>"$work/recover"
    read -r copy_s scan_s < <(copy_from_mount_into "$dest/copied" "$@")
    echo "$copy_s" >>"$work/copy"
    echo "$scan_s" >>"$work/scan"
    if [ "$i" -eq 0 ]; then
      diff -r "$dest/recovered" "$dest/copied" >"$work/diff" 2>&1 ||
        die "the mount's copy differs from recover's: $(head -n 5 "$work/diff")"
    fi
  done
  files=$(find "$dest/copied" -type f | wc -l)
  bytes=$(find "$dest/copied" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
  recover_s=$(median <"$work/recover")
  copy_s=$(median <"$work/copy")
  scan_s=$(median <"$work/scan")
  echo
  echo "== $label: $files files, $(calc "$bytes / 1000000") MB, median of $runs runs =="
  if [ "$files" -eq 0 ]; then
    echo "  nothing to copy"
    return 0
  fi
  printf '  %-52s %8.3f s  %7.1f MB/s\n' "mirel recover (its writing, after the scan)" "$recover_s" \
    "$(calc "$bytes / 1000000 / $recover_s")"
  printf '  %-52s %8.3f s  %7.1f MB/s\n' "cp -r out of mirel mount (after the mount is up)" "$copy_s" \
    "$(calc "$bytes / 1000000 / $copy_s")"
  printf '  %-52s %8.3f s\n' "mirel mount: start to mount (the scan)" "$scan_s"
  ratio=$(calc "$recover_s / $copy_s")
  printf '  %-52s %8.2f  (target >= 0.80: %s)\n' "cp -r from the mount speed / recover speed" "$ratio" \
    "$(awk -v r="$ratio" 'BEGIN { print (r >= 0.8) ? "met" : "MISSED" }')"
}

main() {
  [ $# -ge 1 ] && [ $# -le 2 ] && [ -d "$1" ] || { echo "$usage" >&2; exit 2; }
  local here build
  here=$(cd "$(dirname "$0")" && pwd)
  build=$(cd "$1" && pwd)
  mirel=$build/mirel
  image=${2:-$cache/compare-fat32-1g.img}
  [ -x "$mirel" ] || die "$mirel not built"
  for tool in fusermount3 mountpoint cp diff; do command -v "$tool" >/dev/null || die "$tool not installed"; done
  if [ ! -f "$image" ]; then
    [ $# -eq 1 ] || die "$image: no such image"
    mkdir -p "$cache"
    echo "making $image (once; it is kept for later runs) ..."
    bash "$here/make-compare-fat-image.sh" "$image" || die "cannot make $image"
  fi
  work=$(mktemp -d)
  dest=/dev/shm/mirel-mount-bench.$$
  mnt=$work/mnt
  mkdir -p "$mnt"
  trap cleanup EXIT
  cat "$image" >/dev/null

  echo "$(basename "$image"): every deleted file, then the large ones and the small ones apart"
  compare "all deleted files"
  # What the benchmark volumes hold: large files read in FUSE's largest
  # requests, small ones cost a few requests each (open, read, release).
  compare "large files (Large*)" --mask "Large*"
  compare "small files (Photo*)" --mask "Photo*"
}

main "$@"
