#!/usr/bin/env bash
# The man pages against --help. Every command of `mirel --help` has its
# subsection under COMMANDS, in the same order, and documents exactly the
# options its help lists (those under FILTERS count for a command whose
# synopsis takes [FILTER...], those under SOURCES for every command that takes
# a SOURCE); -h and --help are said once for all. The
# OPTIONS of mirel-gui(1) are those of `mirel-gui --help`.
# manpage-options.sh ROOT
set -euo pipefail
root=$1
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# "SECTION<tab>SUBSECTION<tab>OPTION" for each option named in the tag of a
# .TP item of the man page on standard input.
man_options() {
  awk '
    /^\.SH / { sh = $0; sub(/^\.SH +/, "", sh); gsub(/"/, "", sh); ss = ""; next }
    /^\.SS / { ss = $0; sub(/^\.SS +/, "", ss); gsub(/"/, "", ss); next }
    /^\.TP/ { tag = 1; next }
    tag {
      tag = 0
      line = $0
      gsub(/\\-/, "-", line)
      while (match(line, /(^|[ "])--?[a-z][a-z-]*/)) {
        option = substr(line, RSTART, RLENGTH)
        sub(/^[ "]/, "", option)
        print sh "\t" ss "\t" option
        line = substr(line, RSTART + RLENGTH)
      }
    }'
}

# The options of a help text's "Options:" part, one a line.
help_options() {
  awk '/^Options:/ { on = 1; next }
       on && /^$/ { exit }
       on { sub(/^ +/, ""); split($0, part, / /); n = split(part[1], names, ",")
            for (i = 1; i <= n; i++) print names[i] }'
}

same() {  # WHAT EXPECTED ACTUAL: both sorted lists
  if [ "$2" != "$3" ]; then
    fail "$1: only in --help: [$(comm -23 <(echo "$2") <(echo "$3") | xargs)]" \
      "only in the man page: [$(comm -13 <(echo "$2") <(echo "$3") | xargs)]"
  fi
}

mirel=$root/usr/bin/mirel
page=$(zcat "$root/usr/share/man/man1/mirel.1.gz")
documented=$(man_options <<<"$page")
commands=$("$mirel" --help | awk '/^Subcommands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')
sections=$(awk '/^\.SH / { on = ($2 == "COMMANDS") } on && /^\.SS / { gsub(/"/, ""); print $3 }' <<<"$page")
[ "$commands" = "$sections" ] ||
  fail "the commands of mirel --help ($(echo $commands)) are not the subsections of COMMANDS ($(echo $sections))"

filters=$(awk -F'\t' '$1 == "FILTERS" { print $3 }' <<<"$documented")
[ -n "$filters" ] || fail "no options under FILTERS"
source_options=$(awk -F'\t' '$1 == "SOURCES" { print $3 }' <<<"$documented")
for command in $commands; do
  help=$("$mirel" "$command" --help)
  expected=$(help_options <<<"$help" | { grep -vx -e -h -e --help || true; } | LC_ALL=C sort -u)
  actual=$(awk -F'\t' -v c="mirel $command" '$1 == "COMMANDS" && index($2, c " ") == 1 { print $3 }' <<<"$documented")
  grep -q "^usage: mirel $command .*\[FILTER\.\.\.\]" <<<"$help" && actual+=$'\n'$filters
  grep -q "^usage: mirel $command \[\?SOURCE[] .]" <<<"$help" && actual+=$'\n'$source_options
  actual=$(sed '/^$/d' <<<"$actual" | LC_ALL=C sort -u)
  same "mirel $command" "$expected" "$actual"
done
grep -qx '\.B \\-\\-version' <<<"$page" || fail "mirel.1 does not show --version"

gui=$root/usr/bin/mirel-gui
if [ -e "$gui" ]; then
  expected=$(env -u DISPLAY -u WAYLAND_DISPLAY "$gui" --help | help_options | LC_ALL=C sort -u)
  actual=$(zcat "$root/usr/share/man/man1/mirel-gui.1.gz" | man_options | awk -F'\t' '$1 == "OPTIONS" { print $3 }' |
    LC_ALL=C sort -u)
  same "mirel-gui" "$expected" "$actual"
fi

exit $((failures > 0))
