#!/usr/bin/env bash
# The installed desktop entry, AppStream data, MIME types and man pages as
# their own tools see them: no error and no warning (hints pass).
# validate-installed.sh ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/checks.sh"

for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings -l $page:"$'\n'"$warnings"
done

desktop=$root/usr/share/applications/org.example.mirel.desktop
if [ ! -e "$root/usr/bin/mirel-gui" ]; then
  echo "no desktop program built: only the man pages are checked"
  exit $((failures > 0))
fi

out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
if grep -E "error:|warning:" <<<"$out" >&2; then fail "desktop-file-validate complains"; fi
# The metainfo alone, then with the desktop entry and icon it names.
out=$(appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml 2>&1) || fail "appstreamcli validate:"$'\n'"$out"
out=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "appstreamcli validate-tree:"$'\n'"$out"

# Every MIME type the entry opens is known to the MIME database with our
# package added; a name with a typo would leave "Open with" empty.
mkdir -p "$work/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$root"/usr/share/mime/packages/*.xml "$work/mime/packages/"
out=$(PKGSYSTEM_ENABLE_FSYNC=0 XDG_DATA_DIRS=$work update-mime-database "$work/mime" 2>&1) || fail "update-mime-database: $out"
[ -z "$out" ] || fail "update-mime-database: $out"
IFS=';' read -ra types <<<"$(sed -n 's/^MimeType=//p' "$desktop")"
for t in "${types[@]}"; do
  grep -qx "$t" "$work/mime/types" || fail "the desktop entry opens $t, which no MIME package defines"
done
# A name can have several types (*.vhd is VHDL source too); the file's
# content decides, so one of them must be ours.
opens=" ${types[*]} "
for glob in '*.img' '*.dd' '*.e01' '*.vhd'; do
  found=$(awk -F: -v g="$glob" '$3 == g { print $2 }' "$work/mime/globs2")
  ours=false
  for type in $found; do
    [[ $opens == *" $type "* ]] && ours=true
  done
  $ours || fail "a $glob file is of type $(echo ${found:-none}), which the desktop entry does not open"
done

exit $((failures > 0))
