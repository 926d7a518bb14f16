# PASS and FAIL lines and their count, for the test runners written in shell (tests/wine,
# tests/package). Sourced; `report LABEL` prints the closing line and fails a run that
# checked nothing.
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() {  # check NAME COMMAND...
  local name="$1"; shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
report() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}
