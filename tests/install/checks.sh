# Sourced by the install checks: a scratch folder removed at exit, and fail,
# which counts a failure and names it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
