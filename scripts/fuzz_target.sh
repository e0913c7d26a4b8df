#!/usr/bin/env bash
# Builds one fuzz target of tests/fuzz/NAME with libFuzzer under ASan and
# UBSan, replays its corpus (seeds and every crash input found so far, kept
# as regression cases) and fuzzes it for FUZZ_SECONDS (default 30).
# Usage: scripts/fuzz_target.sh NAME [OUTPUT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
NAME=$1
OUT=${2:-$PWD/build/fuzz}/$NAME
SECONDS_TO_RUN=${FUZZ_SECONDS:-30}
CXX=${FUZZ_CXX:-clang++-14}
command -v "$CXX" >/dev/null || CXX=clang++

BASE=(src/base/StringList.cpp src/base/Format.cpp src/platform/posix/CodePage.cpp src/platform/posix/Locale.cpp)
case $NAME in
  csv) SOURCES=(tests/fuzz/csv/CsvFuzz.cpp src/csv/RsCsvUtil.cpp src/csv/CsvScanPaths.cpp src/platform/BackgroundFile.cpp
                src/platform/posix/File.cpp src/platform/posix/Path.cpp src/platform/posix/Error.cpp
                src/platform/posix/FileTime.cpp "${BASE[@]}") ;;
  tspacket) SOURCES=(tests/fuzz/tspacket/TSPacketFuzz.cpp tools/TSDispatcher/TSPacket.cpp src/common/RsJson.cpp
                     src/base/NumberParse.cpp "${BASE[@]}") ;;
  inisection) SOURCES=(tests/fuzz/inisection/IniSectionFuzz.cpp src/config/*.cpp src/common/*.cpp src/diagnostics/*.cpp
                       src/base/*.cpp src/platform/*.cpp src/platform/posix/*.cpp) ;;
  inidocument) SOURCES=(tests/fuzz/inidocument/IniDocumentFuzz.cpp src/config/*.cpp src/common/*.cpp
                        src/diagnostics/*.cpp src/base/*.cpp src/platform/*.cpp src/platform/posix/*.cpp) ;;
  *) echo "unknown fuzz target: $NAME" >&2; exit 2 ;;
esac
CORPUS=tests/fuzz/corpus/$NAME
BIN=$OUT/fuzz_$NAME
mkdir -p "$OUT/work"
stale=0
[ -x "$BIN" ] || stale=1
for f in "${SOURCES[@]}" src/*/*.h src/platform/posix/*.h tools/*/*.h scripts/fuzz_target.sh; do
  [ "$stale" = 1 ] || [ "$f" -nt "$BIN" ] && stale=1
done
if [ "$stale" = 1 ]; then
  echo "== build fuzz target $NAME"
  "$CXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -fno-omit-frame-pointer -I src -I tools -o "$BIN" "${SOURCES[@]}"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Files a target writes stay in its output folder.
mkdir -p "$OUT/tmp"
export TMPDIR=$OUT/tmp
FLAGS=(-max_len=4096 -timeout=10 -rss_limit_mb=1024 -artifact_prefix="$OUT/")
echo "== replay corpus of $NAME"
"$BIN" "${FLAGS[@]}" -runs=0 "$CORPUS" >"$OUT/replay.log" 2>&1 ||
  { tail -n 40 "$OUT/replay.log" >&2; echo "a corpus input of $NAME fails" >&2; exit 1; }
echo "== fuzz $NAME for ${SECONDS_TO_RUN}s"
"$BIN" "${FLAGS[@]}" -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 "$OUT/work" "$CORPUS" \
  >"$OUT/fuzz.log" 2>&1 ||
  { tail -n 60 "$OUT/fuzz.log" >&2; echo "fuzzing $NAME found a failure; the input is in $OUT/" >&2; exit 1; }
grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units)" "$OUT/fuzz.log" || true
