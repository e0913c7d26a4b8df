#!/usr/bin/env bash
# The run command: installs what is missing (Debian 12, as root), builds the
# two front ends, writes a server configuration beside them that names a fresh
# copy of the demo access logs, and starts the configured tool: the window
# when a display is available, otherwise the console front end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
BUILD=$ROOT/build/release

PACKAGES=(cmake g++ make libgtest-dev libgmock-dev qt6-base-dev fonts-ipafont-gothic)
. "$ROOT/scripts/lib.sh"
ensure_packages "${PACKAGES[@]}"

echo "== build $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target KvAccesslogRepair
use_window=no
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && cmake --build "$BUILD" -j"$JOBS" --target KvAccesslogUpdater; then
  use_window=yes
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kv-demo-XXXXXX")
DEMO=$WORK/accesslog
cp -Rp "$ROOT/demo/accesslog" "$DEMO"
echo "== demo folder: $DEMO"

# The server's folders of the demo: its web documents, and the data folder
# where the folders the configuration does not name are made.
mkdir -p "$WORK/htdocs" "$WORK/programdata"
export KESTROVA_PROGRAMDATA=$WORK/programdata
# Paths inside the configuration are written the server's way, with '\'.
system_path() { printf '%s' "$1" | tr / '\\'; }
INI=$BUILD/bin/kestrova.ini
{
  printf '; Written by scripts/run.sh for the demo.\r\n[Kestrova]\r\n'
  printf 'accesslog_dir=%s\r\n' "$(system_path "$DEMO")"
  printf 'webdocroot=%s\r\n' "$(system_path "$WORK/htdocs")"
} >"$INI"
echo "== configuration: $INI"
cat "$INI"

if [ "$use_window" = yes ]; then
  echo "== the window repairs it: press 実行, answer 完了しました, then close the window"
  "$BUILD/bin/KvAccesslogUpdater"
else
  echo "== no display: the console front end repairs it"
  status=0
  "$BUILD/bin/KvAccesslogRepair" || status=$?
  [ "$status" -eq 0 ] || { echo "KvAccesslogRepair ended with status $status" >&2; exit "$status"; }
fi

echo "== files of $DEMO"
(cd "$ROOT/demo/accesslog" && find . -type f | sort) | while read -r f; do
  name=${f#./}
  if cmp -s "$ROOT/demo/accesslog/$name" "$DEMO/$name"; then
    echo "unchanged: $name"
  else
    echo "changed:   $name (last write kept at $(date -r "$DEMO/$name" '+%Y-%m-%d %H:%M:%S'))"
  fi
done
