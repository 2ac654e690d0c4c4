# Functions shared by wine-run and scripts/test: the prefix, the X display, screenshots and
# cleaning up. Sourced, not run.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# quilo_wine_prefix START_DIR: sets WINEPREFIX (QUILO_WINEPREFIX, or <build dir>/wineprefix
# found from START_DIR or the current folder) and makes the prefix once.
quilo_wine_prefix() {
  local prefix="${QUILO_WINEPREFIX:-}" dir
  if [ -z "$prefix" ]; then
    for dir in "$1" "$PWD"; do
      while [ -n "$dir" ] && [ "$dir" != "/" ]; do
        if [ -f "$dir/CMakeCache.txt" ]; then prefix="$dir/wineprefix"; break 2; fi
        dir="$(dirname "$dir")"
      done
    done
  fi
  if [ -z "$prefix" ]; then
    echo "wine-env: no build folder found above $1; set QUILO_WINEPREFIX" >&2
    return 1
  fi
  export WINEPREFIX="$prefix"
  mkdir -p "$(dirname "$prefix")"
  # One wineboot at a time, and only once per prefix.
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.quilo-ready" ]; then
      echo "wine-env: creating the Wine prefix $prefix (once)" >&2
      rm -rf "$prefix"
      wineboot -i >/dev/null 2>&1
      wineserver -w
      touch "$prefix/.quilo-ready"
    fi
  ) 9>"$prefix.lock"
  # Every run holds a shared lock while it uses the prefix; the last one out ends its
  # wineserver (so `ctest -j` does not pull the server from under a running test). Wine's own
  # processes must not inherit descriptor 8: start them with `8>&-`.
  exec 8>"$prefix.users"
  flock -s 8
}

# quilo_wine_free_display: prints a display number that no X server uses.
quilo_wine_free_display() {
  local n
  for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}

# quilo_wine_start_xvfb: starts Xvfb on a free display; sets DISPLAY and QUILO_XVFB_PID.
quilo_wine_start_xvfb() {
  local n tries
  for tries in 1 2 3; do
    n="$(quilo_wine_free_display)" || { echo "wine-env: no free X display" >&2; return 1; }
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QUILO_XVFB_PID=$!
    local waited=0
    while [ $waited -lt 50 ]; do
      [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
      kill -0 "$QUILO_XVFB_PID" 2>/dev/null || break
      sleep 0.1
      waited=$((waited + 1))
    done
    kill "$QUILO_XVFB_PID" 2>/dev/null
    QUILO_XVFB_PID=""
  done
  echo "wine-env: Xvfb did not start" >&2
  return 1
}

# quilo_wine_display: uses QUILO_WINE_DISPLAY when it is set, or starts a private Xvfb.
quilo_wine_display() {
  QUILO_XVFB_PID=""
  if [ -n "${QUILO_WINE_DISPLAY:-}" ]; then
    export DISPLAY="$QUILO_WINE_DISPLAY"
    return 0
  fi
  quilo_wine_start_xvfb
}

# quilo_wine_screenshot PNG: the whole virtual screen as a PNG.
quilo_wine_screenshot() {
  mkdir -p "$(dirname "$1")"
  if import -display "$DISPLAY" -window root "$1" 2>/dev/null; then
    echo "screenshot: $1"
  else
    echo "wine-env: the screenshot $1 could not be taken" >&2
  fi
}

# quilo_wine_cleanup: ends this run's wineserver (unless QUILO_WINE_KEEP=1) and private Xvfb.
quilo_wine_cleanup() {
  flock -u 8 2>/dev/null
  if [ "${QUILO_WINE_KEEP:-0}" != 1 ] && [ -n "${WINEPREFIX:-}" ]; then
    if flock -xn 8 2>/dev/null; then
      wineserver -k 2>/dev/null
      wineserver -w 2>/dev/null
    fi
  fi
  if [ -n "${QUILO_XVFB_PID:-}" ]; then
    kill "$QUILO_XVFB_PID" 2>/dev/null
    wait "$QUILO_XVFB_PID" 2>/dev/null
    QUILO_XVFB_PID=""
  fi
}
