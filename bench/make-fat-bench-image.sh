#!/usr/bin/env bash
# Makes the FAT scan benchmark's volume at OUT with mkfs.fat and mtools: a
# 256 MiB FAT32 volume with 2 KiB clusters holding 100 folders of 500 files
# (3000 bytes each, long names), of which every other one is then deleted:
# 50,000 files, 25,000 of them deleted. Takes about two minutes.
set -euo pipefail
out=${1:?usage: make-fat-bench-image.sh OUT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
img=$work/bench.img
mkfs.fat -C -F 32 -s 4 -n BENCH -i 0BE4C400 "$img" 262144 >/dev/null
for d in $(seq -w 0 99); do
  mkdir "$work/d$d"
  head -c 1500000 /dev/urandom >"$work/blob"
  (cd "$work/d$d" && split -a 3 -d -b 3000 ../blob "Photo from the trip ")
  mmd -i "$img" "::/Folder $d"
  mcopy -i "$img" "$work/d$d"/* "::/Folder $d/"
  rm -rf "$work/d$d"
done
for d in $(seq -w 0 99); do
  mdel -i "$img" "::/Folder $d/Photo from the trip *[13579]"
done
mv "$img" "$out"
