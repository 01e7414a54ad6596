#!/usr/bin/env bash
# Seed corpora for the fuzz targets, cut from the test fixture images.
# usage: make-seeds.sh FIXTURE_DIR OUT_DIR
set -euo pipefail
fix=$1
out=$2
mkdir -p "$out"/{fat_boot_fuzz,ntfs_boot_fuzz,fat_dir_fuzz,exfat_dir_fuzz,mft_record_fuzz,runlist_fuzz,lznt1_fuzz,volume_scan_fuzz}

le() {  # le FILE OFFSET BYTES: an unsigned little-endian field
  od -An -tu"$3" -j "$2" -N "$3" --endian=little "$1" | tr -d ' '
}
cut_bytes() {  # cut_bytes FILE OFFSET COUNT OUT
  dd if="$1" of="$4" bs=512 iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none
}

for img in fat12 fat12c4 fat16 fat16c1 fat32; do
  f=$fix/$img.img
  bps=$(le "$f" 11 2) spc=$(le "$f" 13 1) rsv=$(le "$f" 14 2) nf=$(le "$f" 16 1) re=$(le "$f" 17 2)
  fatsz=$(le "$f" 22 2)
  [ "$fatsz" = 0 ] && fatsz=$(le "$f" 36 4)
  root=$(( (rsv + nf * fatsz) * bps ))
  data=$(( root + (re * 32 + bps - 1) / bps * bps ))
  cluster=$(( spc * bps ))
  cut_bytes "$f" 0 8192 "$out/fat_boot_fuzz/$img"
  # The root directory (its region, or cluster 2 on FAT32) and the next
  # clusters, where the fixtures keep their folders.
  if [ "$re" != 0 ]; then
    cut_bytes "$f" "$root" 4096 "$out/fat_dir_fuzz/$img-root"
  fi
  for i in 0 1 2 3; do
    cut_bytes "$f" $(( data + i * cluster )) 4096 "$out/fat_dir_fuzz/$img-cluster$i"
  done
  # The volume up to a few clusters into its data region.
  cut_bytes "$f" 0 $(( data + 8 * cluster )) "$out/volume_scan_fuzz/$img"
done

for img in ntfs ntfs-c512; do
  f=$fix/$img.img
  bps=$(le "$f" 11 2) spc=$(le "$f" 13 1)
  mft=$(( $(le "$f" 48 8) * bps * spc ))
  for n in 0 3 5 6 $(seq 64 92); do
    cut_bytes "$f" $(( mft + n * 1024 )) 1024 "$out/mft_record_fuzz/$img-$n"
  done
  cut_bytes "$f" 0 512 "$out/fat_boot_fuzz/$img"
  cut_bytes "$f" 0 512 "$out/ntfs_boot_fuzz/$img"
  cut_bytes "$f" 0 $(( mft + 96 * 1024 )) "$out/volume_scan_fuzz/$img"
done

# exFAT: the root folder's entries after its bitmap entry.
f=$fix/exfat.img
if [ -f "$f" ]; then
  bps=$((1 << $(le "$f" 108 1))) cluster=$((bps << $(le "$f" 109 1)))
  root=$(( $(le "$f" 88 4) * bps + ($(le "$f" 96 4) - 2) * cluster ))
  cut_bytes "$f" $(( root + 32 )) 4064 "$out/exfat_dir_fuzz/exfat-root"
fi

# Run lists: a starting VCN of eight bytes, then the mapping pairs.
seed() { printf "$2" >"$out/$1"; }
seed runlist_fuzz/plain '\0\0\0\0\0\0\0\0\x21\x10\x00\x01\x01\x05\x11\x02\xff\x00'
seed runlist_fuzz/zero-offset '\0\0\0\0\0\0\0\0\x21\x04\x00\x01\x11\x03\x00\x01\x05\x00'
seed runlist_fuzz/wide '\x10\0\0\0\0\0\0\0\x48\xff\xff\xff\xff\xff\xff\xff\x7f\x31\x01\x00\x00\x80\x00'
seed runlist_fuzz/past-end '\0\0\0\0\0\0\0\0\x21\x04\x10\x00\x88\x01'
# LZNT1 units: the first byte picks the output room.
seed lznt1_fuzz/backref '\x00\x04\xb0\x04ab\x07\x10\0\0\0\0\0\0\0\0'
seed lznt1_fuzz/widening '\x00\x15\xb0\x00ABCDEFGH\x00IJKLMNOP\x02Q\x00\x80\0\0'
{ printf '\x00\xff\x3f'; head -c 4096 /dev/zero | tr '\0' 'x'; } >"$out/lznt1_fuzz/stored"
seed lznt1_fuzz/short-room '\x03\x04\xb0\x04ab\x07\x10\x04\xb0\x04cd\x07\x10'
