#!/usr/bin/env bash
# Makes the exFAT scan benchmark's volume at OUT with mkfs.exfat, written
# through exfat-fuse on a loop device (run as root): 512 MiB, 4 KiB clusters,
# 100 folders of 500 files of 1500 bytes with long names; every other file is
# then deleted (25,000 deleted, 25,000 live). Built beside OUT and moved into
# place, so an interrupted run leaves none.
set -euo pipefail
out=${1:?usage: make-exfat-bench-image.sh OUT}
part="$out.part"
work=$(mktemp -d)
loop=
cleanup() {
  mountpoint -q "$work/mnt" && fusermount -u "$work/mnt"
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work" "$part"
}
trap cleanup EXIT
mkdir -p "$work/mnt"
rm -f "$part"
truncate -s 512M "$part"
mkfs.exfat -c 4K -L EXBENCH "$part" >/dev/null
loop=$(losetup -f --show "$part")
mount.exfat-fuse "$loop" "$work/mnt" >/dev/null
python3 - "$work/mnt" <<'PY'
import os, sys
root = sys.argv[1]
data = os.urandom(1500)
for d in range(100):
    folder = os.path.join(root, f"Camera roll folder {d:03d}")
    os.mkdir(folder)
    for f in range(500):
        with open(os.path.join(folder, f"Holiday picture number {f:04d} taken abroad.jpg"), "wb") as fh:
            fh.write(data)
for d in range(100):
    folder = os.path.join(root, f"Camera roll folder {d:03d}")
    for f in range(0, 500, 2):
        os.remove(os.path.join(folder, f"Holiday picture number {f:04d} taken abroad.jpg"))
PY
sync
fusermount -u "$work/mnt"
losetup -d "$loop"
loop=
mv "$part" "$out"
