#!/usr/bin/env bash
# The run command: installs what is missing (Debian 12, as root), builds the
# two front ends and repairs a copy of the demo access logs with them: the
# window when a display answers, otherwise the console front end. The copy,
# the server configuration that names it and the registry file that names
# the server's folder lie in one temporary folder, removed at the end;
# nothing is written beside the built programs.
#
#   scripts/run.sh [--keep] [--no-build]
#     --keep      keep the temporary folder and say where it is
#     --no-build  use the programs already built in $KV_BUILD_DIR (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
BUILD=${KV_BUILD_DIR:-$ROOT/build/release}
MARK='; Written by scripts/run.sh for the demo.'

keep=no build=yes
for arg in "$@"; do
  case $arg in
    --keep) keep=yes ;;
    --no-build) build=no ;;
    *) echo "usage: scripts/run.sh [--keep] [--no-build]" >&2; exit 2 ;;
  esac
done

. "$ROOT/scripts/lib.sh"
if [ "$build" = yes ]; then
  ensure_packages cmake g++ make libgtest-dev libgmock-dev qt6-base-dev fonts-ipafont-gothic x11-utils
  echo "== build $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j"$JOBS" --target KvAccesslogRepair KvAccesslogUpdater
elif [ -n "${DISPLAY:-}" ]; then
  ensure_packages x11-utils
fi
for program in KvAccesslogRepair KvAccesslogUpdater; do
  [ -x "$BUILD/bin/$program" ] || { echo "$BUILD/bin/$program is not built" >&2; exit 1; }
done

# A document beside the programs comes before the server's own. Older
# versions of this script left one there; any other would hide the demo's.
for name in kestrova.ini config.ini; do
  [ -f "$BUILD/bin/$name" ] || continue
  if [ "$(head -n 1 "$BUILD/bin/$name" | tr -d '\r')" = "$MARK" ]; then
    rm -f "$BUILD/bin/$name"
  else
    echo "$BUILD/bin/$name would be read in place of the demo's configuration: move it away first" >&2
    exit 1
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kv-demo-XXXXXX")
if [ "$keep" = no ]; then trap 'rm -rf "$WORK"' EXIT; fi
DEMO=$WORK/accesslog
cp -R "$ROOT/demo/accesslog" "$DEMO"
# Each log was last written at the end of the day it is named after, so that
# the printout can show a replaced file keeping its time.
declare -A written
while IFS= read -r -d '' file; do
  day=$(basename "$file" | grep -oE '[0-9]{8}' | head -n 1 || true)
  [ -n "$day" ] && touch -d "${day:0:4}-${day:4:2}-${day:6:2} 23:59:59" "$file"
  written[$file]=$(date -r "$file" '+%Y-%m-%d %H:%M:%S')
done < <(find "$DEMO" -type f -print0)
echo "== demo folder: $DEMO"

# The server as the tool finds it: the registry names its installation
# folder, which holds its configuration. The product's data folder (where
# the folders the configuration does not name are made) and the temporary
# folder (where the tool makes its own) are the demo's too.
system_path() { printf '%s' "$1" | tr / '\\'; }
mkdir -p "$WORK/server" "$WORK/htdocs" "$WORK/programdata" "$WORK/tmp"
INI=$WORK/server/kestrova.ini
{
  printf '%s\r\n[Kestrova]\r\n' "$MARK"
  printf 'accesslog_dir=%s\r\n' "$(system_path "$DEMO")"
  printf 'webdocroot=%s\r\n' "$(system_path "$WORK/htdocs")"
} >"$INI"
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ranso Works\\Kestrova\\2.0]\r\n'
  printf '"InstallFolder"="%s"\r\n' "$(system_path "$WORK/server" | sed 's/\\/\\\\/g')"
} >"$WORK/registry.reg"
export KESTROVA_REGISTRY=$WORK/registry.reg KESTROVA_PROGRAMDATA=$WORK/programdata TMPDIR=$WORK/tmp
echo "== configuration: $INI"
cat "$INI"

# True when the X display answers; a window started on a display that does
# not (a stale or forwarded DISPLAY) aborts at once.
display_answers() {
  [ -n "${DISPLAY:-}" ] && timeout 10 xdpyinfo >/dev/null 2>&1
}

status=0
if display_answers; then
  echo "== the window repairs it: press 実行, answer 完了しました, then close the window"
  QT_QPA_PLATFORM=xcb "$BUILD/bin/KvAccesslogUpdater" || status=$?
else
  echo "== no display answers${DISPLAY:+ at DISPLAY=$DISPLAY}: the console front end repairs it"
  "$BUILD/bin/KvAccesslogRepair" || status=$?
fi

echo "== files of $DEMO"
(cd "$ROOT/demo/accesslog" && find . -type f | sort) | while read -r f; do
  name=${f#./}
  if cmp -s "$ROOT/demo/accesslog/$name" "$DEMO/$name"; then
    echo "unchanged: $name"
  else
    now=$(date -r "$DEMO/$name" '+%Y-%m-%d %H:%M:%S')
    if [ "$now" = "${written[$DEMO/$name]}" ]; then
      echo "changed:   $name (last write $now, kept)"
    else
      echo "changed:   $name (last write ${written[$DEMO/$name]}, now $now)"
    fi
  fi
done
if [ "$keep" = yes ]; then echo "== kept: $WORK (the copy, its configuration and registry file)"; fi
if [ "$status" -ne 0 ]; then
  echo "the repair ended with status $status" >&2
  exit "$status"
fi
