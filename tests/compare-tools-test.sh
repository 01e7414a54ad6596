#!/usr/bin/env bash
# The side-by-side benchmark's helpers: the figures it prints and the failures
# it stops on. Exits 77 (skipped) where strace is not installed.
set -euo pipefail
source "$(dirname "$0")/../bench/compare-tools.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {  # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected '$2', got '$3'" >&2
    failures=$((failures + 1))
  fi
}

expect "median of an odd count, unsorted" 3 "$(printf '5\n1\n3\n' | median)"
expect "median of an even count" 2.5 "$(printf '10\n1\n2\n3\n' | median)"
expect "median of decimals sorts them as numbers" 0.9 "$(printf '0.9\n10.1\n0.25\n' | median)"

expect "a ratio on its upper target meets it" met "$(verdict 0.5 "<=" 0.5)"
expect "a ratio above its upper target" MISSED "$(verdict 0.51 "<=" 0.5)"
expect "a speed share under its lower target" MISSED "$(verdict 0.69 ">=" 0.7)"
expect "a speed share over its lower target" met "$(verdict 12 ">=" 0.7)"

# A tool that fails stops the benchmark; an exit status declared as success
# does not.
expect "failing tool" 1 "$( (run_checked false) 2>/dev/null && echo 0 || echo $?)"
expect "status 1 accepted where declared" 0 "$( (ok_status="0 1" run_checked false) && echo 0 || echo $?)"
expect "status 2 still fails there" 1 "$( (ok_status="0 1" run_checked sh -c 'exit 2') 2>/dev/null && echo 0 || echo $?)"

if ! command -v strace >/dev/null; then
  echo "strace not installed: read-call counting not tested"
  [ "$failures" -eq 0 ] && exit 77
else
  # Ten more reads of dd, counted once each, the summary's total left out.
  calls() {
    strace -f -c -e trace=pread64,read,preadv,readv -o "$work/s" sh -c "dd if=/dev/zero of=/dev/null bs=4k count=$1 2>/dev/null"
    count_read_calls "$work/s"
  }
  expect "read calls of ten 4 KiB reads" 10 $(($(calls 10) - $(calls 0)))
fi
[ "$failures" -eq 0 ]
