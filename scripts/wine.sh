# Wine for the Windows programs, sourced by the project's scripts: a private
# prefix whose ANSI code page is 932 as on the target machines, and an X
# display for the windows the programs create.
#
#   wine_run STATE COMMAND...   sets up STATE (prefix, locale), starts Xvfb
#                               and a persistent wineserver, runs the
#                               command, and stops both whatever it returns.

# Exports the environment and creates what is missing in STATE.
wine_environment() {
  local state=$1
  mkdir -p "$state"
  export WINEPREFIX=$state/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  # Wine takes its ANSI code page from the Unix locale; a Japanese one is
  # generated privately so that nothing of the machine's changes.
  export LOCPATH=$state/locale
  if [ ! -f "$LOCPATH/ja_JP.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$LOCPATH"
    localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8"
  fi
  # Only Wine's processes take it: this shell would look for it before
  # LOCPATH reaches its own C library, and warn.
  KV_WINE_LOCALE=(env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
  if [ ! -f "$WINEPREFIX/.kv-ready" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    "${KV_WINE_LOCALE[@]}" wineboot -i >/dev/null 2>&1 || true
    # Windows placed by the program itself, as on Windows, not by the X
    # server's window manager; the window's font maps to a font of the same
    # metrics that Debian has.
    "${KV_WINE_LOCALE[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    "${KV_WINE_LOCALE[@]}" wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.kv-ready"
  fi
  # The title bars' buttons are symbols of the font in Debian's fonts-wine,
  # which Wine does not take from its own data folder here: without a copy
  # in the prefix they show as the letters "0 1 r".
  local symbols=/usr/share/wine/fonts/marlett.ttf
  if [ -f "$symbols" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$symbols" "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
}

# Starts Xvfb on a free display and exports DISPLAY.
wine_start_display() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  KV_XVFB_PID=$!
  read -r display <"$fifo"
  rm -f "$fifo"
  export DISPLAY=:$display
}

wine_run() {
  local state=$1 rc=0
  shift
  wine_environment "$state"
  wine_start_display
  # A persistent server and one finished program before the tests: otherwise
  # each test program starts the server and Wine's background processes,
  # which keep the test's pipes open and stall the run.
  "${KV_WINE_LOCALE[@]}" wineserver -p
  "${KV_WINE_LOCALE[@]}" wine cmd /c exit >/dev/null 2>&1 || true
  "${KV_WINE_LOCALE[@]}" "$@" || rc=$?
  wineserver -k || true
  kill "$KV_XVFB_PID" 2>/dev/null || true
  wait "$KV_XVFB_PID" 2>/dev/null || true
  return $rc
}
