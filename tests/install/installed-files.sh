#!/usr/bin/env bash
# What an install puts where, and the installed programs run from there: the
# file list, the version the build was given, icons of their nominal sizes,
# and a debug log that stays out of the bin folder even for root.
# installed-files.sh ROOT VERSION LIST...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$1 version=$2
shift 2
. "$(dirname "$0")/checks.sh"

(cd "$here" && cat "$@") | LC_ALL=C sort >"$work/expected"
(cd "$root" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort >"$work/installed"
diff "$work/expected" "$work/installed" >"$work/diff" ||
  fail "the installed files differ from $* (< missing, > not listed):$(printf '\n%s' "$(cat "$work/diff")")"

# Nothing installed is writable by others, and the programs are executable.
bad=$(cd "$root" && find . -perm /022 ! -type l)
[ -z "$bad" ] || fail "writable by group or others: $bad"
for p in "$root"/usr/bin/*; do
  [ -x "$p" ] || fail "$p is not executable"
done

got=$("$root/usr/bin/mirel" --version)
[ "$got" = "mirel $version" ] || fail "mirel --version says '$got', the build is $version"
if [ -e "$root/usr/bin/mirel-gui" ]; then
  # Answered without a display.
  got=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/mirel-gui" --version 2>&1)
  [ "$got" = "mirel-gui $version" ] || fail "mirel-gui --version says '$got', the build is $version"
  for png in "$root"/usr/share/icons/hicolor/*x*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    file -b "$png" | grep -q "^PNG image data, ${size/x/ x }," || fail "$png: $(file -b "$png"), not $size"
  done
fi

# A FAT boot sector with a sector size no volume has: the scan logs why. The
# installed program writes that to the state folder, never beside itself.
mkfs.fat -C "$work/bad.img" 1440 >/dev/null
printf '\xbc\x02' | dd of="$work/bad.img" bs=1 seek=11 conv=notrunc status=none
status=0
env -u MIREL_DEBUG_LOG XDG_STATE_HOME="$work/state" "$root/usr/bin/mirel" scan "$work/bad.img" \
  2>"$work/err" || status=$?
[ "$status" = 2 ] || fail "scan of a bad boot sector ended with $status, not 2: $(cat "$work/err")"
[ ! -e "$root/usr/bin/debug.log" ] || fail "the installed mirel wrote $root/usr/bin/debug.log"
[ -s "$work/state/mirel/debug.log" ] || fail "no debug log in \$XDG_STATE_HOME/mirel: $(cat "$work/err")"
grep -q "debug log $work/state/mirel/debug.log" "$work/err" || fail "the log's place is not named: $(cat "$work/err")"

exit $((failures > 0))
