#!/usr/bin/env bash
# A picture of the Windows program's window as it opens: the cross-built
# KvAccesslogUpdater.exe under Wine on a virtual X display, configured for
# a copy of the demo access logs in a folder whose name holds Japanese and
# underscores, photographed before anyone presses 実行.
#
#   scripts/screenshot-windows.sh [OUTPUT.png]   (default docs/window-windows.png)
set -euo pipefail
if [ "${1:-}" != --shoot ]; then OUTPUT=$(realpath -m "${1:-$(dirname "$0")/../docs/window-windows.png}"); fi
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
BUILD=${BUILD:-$ROOT/build/windows}

shoot() {
  local WORK=$1 OUTPUT=$2
  local caption='アクセスログ自動修正プログラム' program geometry x y w h i
  wine "$WORK/bin/KvAccesslogUpdater.exe" >/dev/null 2>&1 &
  program=$!
  for i in $(seq 1 60); do
    geometry=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$caption\"" | head -n 1 || true)
    [ -n "$geometry" ] && break
    sleep 0.5
  done
  if [ -z "$geometry" ]; then
    echo "the window did not appear" >&2
    kill "$program" 2>/dev/null || true
    return 1
  fi
  sleep 1 # the first paint
  # "WxH+X+Y" of the top-level window, with a margin of 12 pixels around it.
  read -r w h x y < <(printf '%s\n' "$geometry" | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -n 1 |
    tr 'x+' '  ')
  mkdir -p "$(dirname "$OUTPUT")"
  import -window root -crop "$((w + 24))x$((h + 24))+$((x - 12))+$((y - 12))" +repage "$OUTPUT"
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
}

# Inside the Wine environment: the picture only.
if [ "${1:-}" = --shoot ]; then
  shoot "$2" "$3"
  exit
fi

. "$ROOT/scripts/lib.sh"
ensure_packages cmake g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-ipafont-gothic locales xvfb \
  x11-utils imagemagick
. "$ROOT/scripts/wine.sh"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" -j"$JOBS" --target KvAccesslogUpdater

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kv-shot-XXXXXX")
LOGS=$WORK/Kestrova_データ/web_application_access_logs
mkdir -p "$WORK/bin" "$WORK/htdocs" "$(dirname "$LOGS")"
cp -Rp "$ROOT/demo/accesslog" "$LOGS"
cp "$BUILD/bin/KvAccesslogUpdater.exe" "$WORK/bin/"
# Wine shows the Linux root as drive Z:; the program reads the configuration
# in its code page, 932.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
{
  printf '[Kestrova]\r\n'
  printf 'accesslog_dir=%s\r\n' "$(windows_path "$LOGS")"
  printf 'webdocroot=%s\r\n' "$(windows_path "$WORK/htdocs")"
} | iconv -f UTF-8 -t CP932 >"$WORK/bin/kestrova.ini"

wine_run "$BUILD/wine" "$ROOT/scripts/screenshot-windows.sh" --shoot "$WORK" "$OUTPUT"
rm -rf "$WORK"
echo "== $OUTPUT"
