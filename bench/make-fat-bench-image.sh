#!/usr/bin/env bash
# Makes the FAT scan benchmark's volume at OUT with mkfs.fat and mtools: a
# 256 MiB FAT32 volume with 2 KiB clusters holding 100 folders of 500 files
# (3000 bytes each, long names), of which every other one is then deleted:
# 50,000 files, 25,000 of them deleted. Takes about two minutes.
set -euo pipefail
out=${1:?usage: make-fat-bench-image.sh OUT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/fat-photo-folders.sh"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
img=$work/bench.img
mkfs.fat -C -F 32 -s 4 -n BENCH -i 0BE4C400 "$img" 262144 >/dev/null
fill_photo_folders "$img" "$work"
mv "$img" "$out"
