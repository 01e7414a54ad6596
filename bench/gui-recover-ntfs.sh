#!/usr/bin/env bash
# The window's recovery against `mirel recover` on the NTFS benchmark volume
# (about 100,000 deleted small files among 200,000 MFT records; made once by
# make-compare-ntfs-image.sh into /tmp/mirel-bench, which needs ntfs-3g and
# FUSE). Usage: gui-recover-ntfs.sh BUILD-DIR
set -euo pipefail
build=$(cd "${1:?usage: gui-recover-ntfs.sh BUILD-DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
image=/tmp/mirel-bench/compare-ntfs-200k.img
mkdir -p /tmp/mirel-bench
[ -f "$image" ] || bash "$here/make-compare-ntfs-image.sh" "$image"
exec "$build/bench/gui_recover_bench" "$build/mirel" "$image"
