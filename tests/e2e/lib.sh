# Shared by the end-to-end scripts: a temporary folder T removed on exit,
# check NAME EXPECTED ACTUAL, and finish, which prints the tally and fails
# when anything failed.
T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT
passed=0 failed=0
check() {
  if [ "$2" = "$3" ]; then echo "ok   $1"; passed=$((passed + 1));
  else echo "FAIL $1: expected [$2], got [$3]"; failed=$((failed + 1)); fi
}
finish() {
  echo "$(basename "$0" .sh): $passed passed, $failed failed"
  [ "$failed" = 0 ]
}
