#!/usr/bin/env bash
# Builds demo.img.xz: a FAT32 volume holding a few deleted pictures,
# documents and a deleted folder, for trying the program out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC LC_ALL=C.UTF-8
img=$work/demo.img
f=$work/files
mkdir -p "$f"

convert -size 640x480 -seed 7 plasma:steelblue-orange "$f/Beach holiday.jpg"
convert -size 480x320 gradient:navy-gold -swirl 120 "$f/Sunset over the bay.jpg"
convert -size 320x240 -seed 11 plasma:green-white "$f/Garden in May.png"
convert -size 200x150 pattern:checkerboard -fill red -draw 'circle 100,75 100,20' "BMP3:$f/Shed diagram.bmp"
cat >"$f/Letter to Sam.txt" <<'TXT'
Dear Sam,

thank you for the photos from the trip. The beach one is my favourite.
I will send the invoice for the boat next week.

Best regards,
Alex
TXT
printf 'month,amount\nJanuary,1200\nFebruary,950\nMarch,1430\n' >"$f/Budget 2025.csv"
printf 'Plan for the garden shed\n1. foundation\n2. walls\n3. roof\n' >"$f/Garden shed plan.txt"
touch -d '2025-07-14 18:02:11' "$f"/*

mkfs.fat -C -F 32 -s 1 -n MIRELDEMO -i 4D1E2A01 "$img" 34816 >/dev/null
mmd -i "$img" ::/Pictures ::/Documents "::/Old Projects"
mcopy -m -i "$img" "$f/Beach holiday.jpg" "$f/Sunset over the bay.jpg" "$f/Garden in May.png" ::/Pictures/
mcopy -m -i "$img" "$f/Letter to Sam.txt" "$f/Budget 2025.csv" ::/Documents/
mcopy -m -i "$img" "$f/Garden shed plan.txt" "$f/Shed diagram.bmp" "::/Old Projects/"
mdel -i "$img" "::/Pictures/Beach holiday.jpg" "::/Pictures/Sunset over the bay.jpg" "::/Documents/Letter to Sam.txt"
mdeltree -i "$img" "::/Old Projects"

xz -9e -T1 -c "$img" >"$here/demo.img.xz"
ls -l "$here/demo.img.xz"
