#!/usr/bin/env bash
# The installed bash completion, loaded the way bash-completion loads it:
# commands, options, --format and --on-exists values, folders for --to and
# files for SOURCE, all read from the installed mirel's help. Reading the help
# leaves the debug log of the last run alone.
# completion.sh ROOT
set -uo pipefail
root=$1
. "$(dirname "$0")/checks.sh"

source /usr/share/bash-completion/bash_completion
export PATH=$root/usr/bin:$PATH
export MIREL_DEBUG_LOG=$work/debug.log
echo "a line of an earlier run" >"$MIREL_DEBUG_LOG"
# As bash-completion does on first use of the command.
source "$root/usr/share/bash-completion/completions/mirel"
[[ $(complete -p mirel) == "complete -F _mirel mirel" ]] || fail "complete -p mirel: $(complete -p mirel 2>&1)"

# What completing LINE (words as bash splits them, "=" a word of its own)
# offers, sorted, on one line.
offers() {
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"${COMP_LINE//=/ = }"
  [[ $COMP_LINE == *[\ =] ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _mirel
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | xargs
}

expect() {  # EXPECTED LINE
  local got
  got=$(cd "$work" && offers "$2")
  [ "$got" = "$1" ] || fail "'$2' offers '$got', not '$1'"
}

mkdir "$work/out" "$work/photos"
touch "$work/card.img" "$work/card.dd"
expect "scan" "mirel sc"
expect "cat erase list mount recover scan" "mirel "
expect "--help --version" "mirel --"
expect "--format" "mirel scan card.img --fo"
expect "bodyfile csv json table" "mirel scan card.img --format "
expect "json" "mirel scan card.img --format j"
expect "json" "mirel scan card.img --format=j"
expect "ask overwrite rename skip" "mirel recover card.img --on-exists "
expect "--on-exists" "mirel recover card.img --to out --on"
expect "--until" "mirel recover card.img --to out --u"
expect "out photos" "mirel recover card.img --to "
expect "card.dd card.img" "mirel scan card."
expect "card.dd card.img" "mirel recover --to out --all card."
expect "--stream" "mirel cat card.img --s"
expect "out photos" "mirel mount card.img "
# A date or a mask is the user's to type, and cat's PATH lies on the volume.
expect "" "mirel scan card.img --from "
expect "" "mirel cat card.img "

[ -e "$MIREL_DEBUG_LOG" ] || fail "completion removed the debug log of the last run"
mirel scan --bogus >/dev/null 2>&1
[ -e "$MIREL_DEBUG_LOG" ] || fail "a usage error removed the debug log of the last run"
mirel list "$work/card.img" >/dev/null 2>&1
[ ! -e "$MIREL_DEBUG_LOG" ] || fail "a command that ran kept the debug log of the last run"

exit $((failures > 0))
