#!/usr/bin/env bash
# recover-bench.img: a FAT32 volume holding one deleted 160 MiB file and 2,000
# deleted 8 KiB files, for the recovery benchmark.
set -euo pipefail
out=$1
[ -f "$out" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
img=$work/img
mkfs.fat -C -F 32 -s 8 -n RECBENCH "$img" $((400 * 1024)) >/dev/null
head -c $((160 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
mcopy -i "$img" "$work/big.bin" ::/big.bin
mkdir "$work/small"
for i in $(seq 1 2000); do head -c 8192 /dev/urandom >"$work/small/f$i.dat"; done
mmd -i "$img" ::/small
mcopy -i "$img" "$work"/small/* ::/small/
mdel -i "$img" ::/big.bin
mdel -i "$img" "::/small/*"
mv "$img" "$out"
