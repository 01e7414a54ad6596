#!/usr/bin/env bash
# Makes the side-by-side benchmark's FAT32 volume at OUT with mkfs.fat and
# mtools: 1 GiB, 4 KiB clusters, four 64 MiB files written first (so each is
# contiguous), then 100 folders of 500 files of 3000 bytes with long names;
# every other small file and all four large ones are then deleted. The volume
# is built beside OUT and moved into place, so an interrupted run leaves none.
set -euo pipefail
out=${1:?usage: make-compare-fat-image.sh OUT}
work=$(mktemp -d)
part="$out.part"
trap 'rm -rf "$work" "$part"' EXIT
source "$(dirname "$0")/fat-photo-folders.sh"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC

rm -f "$part"
mkfs.fat -C -F 32 -s 8 -n CMPBENCH -i 0BE4C401 "$part" $((1024 * 1024)) >/dev/null
for i in 0 1 2 3; do
  head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/Large deleted file $i.bin"
done
mcopy -i "$part" "$work"/Large* ::/
rm -f "$work"/Large*
fill_photo_folders "$part" "$work"
mdel -i "$part" "::/Large deleted file *"
mv "$part" "$out"
