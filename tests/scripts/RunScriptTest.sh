#!/usr/bin/env bash
# scripts/run.sh without a display and with DISPLAY naming one that does not
# answer: the window would abort at its start, so the console front end
# repairs the demo; the replaced logs keep their time, and nothing is left
# behind, neither the demo's copy nor anything beside the built programs.
#   RunScriptTest.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
ROOT=$1 BUILD=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A display number with neither a socket nor a lock: no server there.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
bin_before=$(ls -A "$BUILD/bin")

for display in "" ":$n"; do
  echo "== DISPLAY=$display"
  status=0
  out=$(env -u WAYLAND_DISPLAY DISPLAY="$display" KV_BUILD_DIR="$BUILD" bash "$ROOT/scripts/run.sh" --no-build 2>&1) ||
    status=$?
  echo "$out"
  [ "$status" -eq 0 ] || fail "run.sh ended with status $status"
  grep -q "^== no display answers.*: the console front end repairs it$" <<<"$out" || fail "no fallback to the console"
  grep -qx "チェック数: 4 / 4" <<<"$out" || fail "not every log was checked"
  for line in "changed:   access_20261201.log (last write 2026-12-01 23:59:59, kept)" \
    "changed:   access_20261204.log (last write 2026-12-04 23:59:59, kept)" \
    "unchanged: access_20261202.log" "unchanged: old.log/access_20261130.log"; do
    grep -qxF "$line" <<<"$out" || fail "missing: $line"
  done
  [ -z "$(ls -A "$TMPDIR")" ] || fail "left behind: $(ls -A "$TMPDIR")"
  [ "$(ls -A "$BUILD/bin")" = "$bin_before" ] || fail "the build's bin/ changed"
done
echo "== passed"
