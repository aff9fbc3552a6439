#!/usr/bin/env bash
# Runs every test layer and ends with one line: "N passed, M failed".
#   1. native unit tests (codecs, html) under ASan/UBSan, and bounded fuzz runs;
#   2. Windows unit and integration tests under Wine, against loopback servers;
#   3. VBScript and JScript tests run by cscript against the registered DLL;
#   4. the examples and the demo run as a user runs them, and the package
#      layer: both shipped DLLs (x86 and x64) checked as files (what make dist
#      requires) and registered side by side where Wine can run them;
#   5. the docs: every text of the reference's error tables asserted by a test.
# The whole run goes on in a private mount namespace where Wine trusts the
# test CA of the TLS servers (scripts/tls-trust.sh); where that cannot be set
# up, the run goes on without it and counts one failure.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh
export SERVERS_RUN=${SERVERS_RUN:-$ROOT/build/servers}
source scripts/tls-trust.sh
[ -n "${KESTREL_TLS_TRUSTED:-}${KESTREL_TLS_TRUST_PROBLEM:-}" ] ||
  tls_trust_exec "$SERVERS_RUN" bash "$ROOT/scripts/run-tests.sh" "$@"
LOGDIR=$ROOT/build/test-logs
rm -rf "$LOGDIR"; mkdir -p "$LOGDIR"
PASSED=0; FAILED=0

# count_gtest LOG RC NAME: adds a GoogleTest run's counts to the totals.
count_gtest() {
  local log=$1 rc=$2 name=$3 p f
  p=$(grep -aoE '^\[  PASSED  \] [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || true)
  f=$(grep -aoE '^\[  FAILED  \] [0-9]+ tests?, listed below' "$log" | tail -1 | grep -oE '[0-9]+' | head -1 || true)
  p=${p:-0}; f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
    f=1; echo "  $name: exited with $rc without a test summary (crash or time-out); see $log"
  fi
  grep -a '^\[  FAILED  \] [A-Za-z]' "$log" | sort -u | sed 's/^/  /'
  echo "$name: $p passed, $f failed"
  PASSED=$((PASSED + p)); FAILED=$((FAILED + f))
}

# count_marked LOG RC NAME: adds a run's "PASS ..." and "FAIL ..." lines to
# the totals; a run without its final DONE line counts one failure more.
count_marked() {
  local log=$1 rc=$2 name=$3 p f
  p=$(grep -ac '^PASS ' "$log"); f=$(grep -ac '^FAIL ' "$log")
  if ! grep -aq '^DONE' "$log"; then
    f=$((f + 1)); echo "  $name: no DONE marker (script error, exit $rc); see $log"
  fi
  grep -a '^FAIL ' "$log" | sed 's/^/  /'
  echo "$name: $p passed, $f failed"
  PASSED=$((PASSED + p)); FAILED=$((FAILED + f))
}

echo "== native unit tests"
for t in build/native/tests/test_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t"); log=$LOGDIR/$name.log
  timeout -k 5 600 "$t" >"$log" 2>&1; rc=$?
  count_gtest "$log" $rc "$name"
done

echo "== fuzz runs"
# Each target first replays its whole seed corpus (regression cases included,
# see fuzz/CMakeLists.txt), then fuzzes for KESTREL_FUZZ_SECONDS; a finding is
# saved as crash-* or timeout-* in the target's work folder.
for f in build/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f"); log=$LOGDIR/$name.log
  corpus=$ROOT/fuzz/corpus/${name#fuzz_}
  work=$ROOT/build/fuzz/work-$name; rm -rf "$work"; mkdir -p "$work/corpus"
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work/corpus"/ 2>/dev/null
  timeout -k 5 120 "$f" -max_total_time=${KESTREL_FUZZ_SECONDS:-12} -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$work/" "$work/corpus" >"$log" 2>&1; rc=$?
  runs=$(grep -aoE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' || true)
  if [ $rc -eq 0 ]; then PASSED=$((PASSED + 1)); echo "$name: 1 passed, 0 failed (${runs:-?} executions)";
  else FAILED=$((FAILED + 1)); echo "$name: 0 passed, 1 failed (exit $rc); see $log and $work"; fi
done

echo "== Windows tests under Wine ($KESTREL_WINE_ARCH)"
kestrel_wine_prefix
source tests/servers/servers.sh
servers_start || { echo "servers failed to start"; FAILED=$((FAILED + 1)); }
trap servers_stop EXIT
if [ "${KESTREL_TLS_TRUSTED:-}" != 1 ]; then
  echo "TLS trust could not be set up: ${KESTREL_TLS_TRUST_PROBLEM:-unknown}"; FAILED=$((FAILED + 1))
fi
log=$LOGDIR/check-servers.log
timeout -k 5 300 bash tests/servers/check-servers.sh >"$log" 2>&1; rc=$?
count_marked "$log" $rc "test servers"
for t in "$KESTREL_TEST_TREE"/tests/test_*.exe; do
  [ -f "$t" ] || continue
  name=$(basename "$t" .exe); log=$LOGDIR/$name.log
  (cd "$KESTREL_TEST_TREE/tests" && KESTREL_WINE_TIMEOUT=600 "$ROOT/scripts/wine-run.sh" "./$name.exe") >"$log" 2>&1; rc=$?
  count_gtest "$log" $rc "$name"
done

# The script and example layers use the DLL as users do: registered once
# (the Windows tests above unregister and register it again).
if [ -f "$KESTREL_TEST_TREE/Kestrel.dll" ]; then
  bash scripts/register.sh >"$LOGDIR/register.log" 2>&1 || echo "  registration failed; see $LOGDIR/register.log"
fi

echo "== script tests under cscript"
if [ -f "$KESTREL_TEST_TREE/Kestrel.dll" ] && ls tests/scripts/*.vbs tests/scripts/*.js >/dev/null 2>&1; then
  CSCRIPT="$WINEPREFIX/drive_c/windows/system32/cscript.exe"
  for s in tests/scripts/*.vbs tests/scripts/*.js; do
    [ -f "$s" ] || continue
    name=$(basename "$s"); log=$LOGDIR/$name.log
    (cd tests/scripts && timeout -k 5 300 "$KESTREL_WINE" "$CSCRIPT" //nologo "$name") >"$log" 2>&1; rc=$?
    count_marked "$log" $rc "$name"
  done
fi

echo "== examples and package"
if [ -f "$KESTREL_TEST_TREE/Kestrel.dll" ]; then
  log=$LOGDIR/examples.log
  KESTREL_SITE_DIR=$SERVERS_RUN/site timeout -k 5 900 bash tests/examples/run-examples.sh >"$log" 2>&1; rc=$?
  count_marked "$log" $rc examples
fi
# Both shipped DLLs: imports and the files themselves, and registration of
# each width that can run here, side by side.
log=$LOGDIR/package.log
timeout -k 5 600 bash tests/package/run-package.sh >"$log" 2>&1; rc=$?
count_marked "$log" $rc package

echo "== docs"
# A message changed in the DLL fails the test that asserts it; this keeps
# every documented text among those asserted.
log=$LOGDIR/error-texts.log
timeout -k 5 120 python3 tests/docs/check-error-texts.py "$ROOT" >"$log" 2>&1; rc=$?
grep -a '^UNTESTED ' "$log" | sed 's/^/  /'
count_marked "$log" $rc "error texts of the reference"

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ] && [ "$PASSED" -gt 0 ]
