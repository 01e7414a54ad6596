#!/usr/bin/env bash
# Makes the side-by-side benchmark's NTFS volume at OUT with mkntfs and
# ntfs-3g: a sparse 3 GiB image holding four 64 MiB files, written first,
# and 1000 folders of 200 files (half of them a few hundred bytes, kept inside
# their MFT records, half a few KiB in clusters of their own), about 200,000
# MFT records. After a remount every other file and the four large ones are
# deleted. The volume is built beside OUT and moved into place, so an
# interrupted run leaves none.
set -euo pipefail
out=${1:?usage: make-compare-ntfs-image.sh OUT}
part="$out.part"
mnt=$(mktemp -d)
log=$(mktemp)
fuse_pid=

unmount() {
  [ -n "$fuse_pid" ] || return 0
  fusermount -u "$mnt" || umount "$mnt"
  # The driver writes its last changes after the unmount returns; the image
  # is complete only once the driver has exited.
  wait "$fuse_pid"
  fuse_pid=
}

cleanup() {
  if [ -n "$fuse_pid" ]; then
    unmount || kill "$fuse_pid"
  fi
  rmdir "$mnt"
  rm -f "$log" "$part"
}
trap cleanup EXIT

mount_image() {
  ntfs-3g -o no_detach "$part" "$mnt" >>"$log" 2>&1 &
  fuse_pid=$!
  for _ in $(seq 1 100); do
    mountpoint -q "$mnt" && return 0
    kill -0 "$fuse_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "make-compare-ntfs-image.sh: cannot mount $part:" >&2
  cat "$log" >&2
  return 1
}

rm -f "$part"
truncate -s 3G "$part"
mkntfs -F -Q -q -c 4096 -L CMPBENCH "$part" >/dev/null 2>&1

mount_image
perl -e '
  use strict;
  my ($root) = @ARGV;
  open(my $rnd, "<", "/dev/urandom") or die "urandom: $!";
  my $blob;
  read($rnd, $blob, 1 << 20) == 1 << 20 or die "urandom: short read";
  for my $i (0 .. 3) {
    open(my $f, ">", "$root/Large deleted file $i.bin") or die "large file $i: $!";
    print $f $blob for 1 .. 64;
    close($f) or die "large file $i: $!";
  }
  for my $d (0 .. 999) {
    my $dir = sprintf("%s/Folder %03d", $root, $d);
    mkdir($dir) or die "$dir: $!";
    for my $n (0 .. 199) {
      # Two of every four stay resident in their MFT records.
      my $size = $n % 4 < 2 ? 200 + $n : 3000 + $n;
      my $name = sprintf("%s/Photo from the trip %03d.jpg", $dir, $n);
      open(my $f, ">", $name) or die "$name: $!";
      print $f substr($blob, ($d * 200 + $n) * 7 % ((1 << 20) - 4096), $size);
      close($f) or die "$name: $!";
    }
  }
' "$mnt"
unmount

mount_image
perl -e '
  use strict;
  my ($root) = @ARGV;
  for my $i (0 .. 3) { unlink("$root/Large deleted file $i.bin") or die "large file $i: $!" }
  for my $d (0 .. 999) {
    for my $n (grep { $_ % 2 } 0 .. 199) {
      my $name = sprintf("%s/Folder %03d/Photo from the trip %03d.jpg", $root, $d, $n);
      unlink($name) or die "$name: $!";
    }
  }
' "$mnt"
unmount
mv "$part" "$out"
