#!/usr/bin/env bash
# Builds the JSON reader's fuzz target with libFuzzer under ASan and UBSan and
# runs it for a bounded time (FUZZ_SECONDS, default 25). A crash input is left
# in build/fuzz/ and fails the run; it belongs in the unit tests afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build/fuzz
SECONDS_TO_RUN=${FUZZ_SECONDS:-25}
CXX=${FUZZ_CXX:-clang++}
mkdir -p "$OUT/corpus"

SOURCES=(tests/fuzz/RsJsonFuzz.cpp src/common/RsJson.cpp src/base/NumberParse.cpp src/base/Format.cpp
         src/base/StringList.cpp src/platform/posix/CodePage.cpp src/platform/posix/Locale.cpp)
BIN=$OUT/RsJsonFuzz
stale=0
[ -x "$BIN" ] || stale=1
for f in "${SOURCES[@]}" src/common/RsJson.h src/base/NumberParse.h scripts/fuzz.sh; do
  [ "$stale" = 1 ] || [ "$f" -nt "$BIN" ] && stale=1
done
if [ "$stale" = 1 ]; then
  echo "== build fuzz target"
  "$CXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -fno-omit-frame-pointer -I src -o "$BIN" "${SOURCES[@]}"
fi

echo "== fuzz JSON reader for ${SECONDS_TO_RUN}s"
cp -n tests/fuzz/corpus/* "$OUT/corpus/" 2>/dev/null || true
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$BIN" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
    -dict=tests/fuzz/json.dict -artifact_prefix="$OUT/" -print_final_stats=1 "$OUT/corpus" 2>"$OUT/fuzz.log" ||
  { tail -n 60 "$OUT/fuzz.log" >&2; echo "fuzzing found a failure; see $OUT/fuzz.log" >&2; exit 1; }
grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units)" "$OUT/fuzz.log" || true
