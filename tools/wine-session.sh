# Sourced by the tools: one Wine prefix with a persistent wineserver and a
# private Xvfb display, and their orderly stop.
#   wine_session_start <prefix>   exports WINEPREFIX, WINEDEBUG,
#                                 WINEDLLOVERRIDES, DISPLAY
#   wine_session_stop             stops the wineserver and Xvfb it started

WINE64=/usr/lib/wine/wine64
_wine_session_xvfb_pid=

wine_session_start() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINEARCH

  local display_file
  display_file=$(mktemp)
  # -displayfd picks a free display number and writes it when ready.
  setsid Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$display_file" \
    </dev/null >/dev/null 2>&1 &
  _wine_session_xvfb_pid=$!
  local i
  for i in $(seq 1 100); do
    [[ -s $display_file ]] && break
    sleep 0.1
  done
  export DISPLAY=:$(head -n1 "$display_file")
  rm -f "$display_file"

  mkdir -p "$WINEPREFIX"
  # Wine's services inherit the first Wine process's stdio; with all three
  # on /dev/null nothing holds a pipe of the caller (CTest) open.
  setsid wineserver -p </dev/null >/dev/null 2>&1
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    "$WINE64" wineboot --init </dev/null >/dev/null 2>&1 || true
  fi
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  if [[ -n ${WINEPREFIX:-} ]]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
  if [[ -n $_wine_session_xvfb_pid ]]; then
    kill "$_wine_session_xvfb_pid" 2>/dev/null || true
    wait "$_wine_session_xvfb_pid" 2>/dev/null || true
    _wine_session_xvfb_pid=
  fi
}
