# Functions shared by wine-run and scripts/test: the prefix, the X display, screenshots and
# cleaning up. Sourced, not run.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Every prefix is a 64-bit one, also the win32 build's: its 32-bit programs run there under
# WoW64, as the deployment build does on the clinics' 64-bit Windows (registry and system folder
# redirection included). Each build tree still has its own prefix.
export WINEARCH=win64

# Debian's two loaders: the 32-bit one (package wine32:i386) and the 64-bit one (wine64). With
# both installed, `wine` is the 32-bit loader, which hands 64-bit programs on to the other.
QUILO_WINE32_LOADER="${QUILO_WINE32_LOADER:-/usr/lib/wine/wine}"
QUILO_WINE64_LOADER="${QUILO_WINE64_LOADER:-/usr/lib/wine/wine64}"

# quilo_wine_has32: true when 32-bit Wine is installed.
quilo_wine_has32() { [ -x "$QUILO_WINE32_LOADER" ]; }

# quilo_wine_pe_machine EXE: prints i386, x86_64 or unknown (the machine of a PE file).
quilo_wine_pe_machine() {
  local off m
  off="$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')"
  [ -n "$off" ] || { echo unknown; return; }
  m="$(od -An -tx1 -j"$((off + 4))" -N2 "$1" 2>/dev/null | tr -d ' ')"
  case "$m" in 4c01) echo i386 ;; 6486) echo x86_64 ;; *) echo unknown ;; esac
}

# quilo_wine_fingerprint: what the Wine installation looks like (which loaders, which build).
# A prefix remembers the fingerprint it was made or last checked with.
quilo_wine_fingerprint() {
  local l
  for l in "$QUILO_WINE32_LOADER" "$QUILO_WINE64_LOADER"; do
    if [ -x "$l" ]; then stat -Lc '%n %s %Y' "$l"; else echo "$l absent"; fi
  done
}

# quilo_wine_prefix_whole PREFIX: the prefix has the system libraries every installed loader
# starts from (a 64-bit prefix made before 32-bit Wine was installed has an empty syswow64).
quilo_wine_prefix_whole() {
  local w="$1/drive_c/windows" f
  for f in kernel32.dll ntdll.dll; do
    [ -s "$w/system32/$f" ] || return 1
    if quilo_wine_has32; then [ -s "$w/syswow64/$f" ] || return 1; fi
  done
}

# quilo_wine_probe: starts a program with each installed loader in $WINEPREFIX and checks that
# it ran (its exit code comes back). Prints what Wine said when one could not start.
quilo_wine_probe() {
  local l out rc
  for l in "$QUILO_WINE64_LOADER" "$QUILO_WINE32_LOADER"; do
    [ -x "$l" ] || continue
    out="$(timeout 120 "$l" cmd /c exit 7 2>&1 8>&- 9>&-)"
    rc=$?
    if [ "$rc" -ne 7 ]; then
      echo "$(basename "$l") exit code $rc${out:+: $(head -n 3 <<<"$out" | tr '\n' ' ' | sed 's/ *$//')}"
      return 1
    fi
  done
}

# quilo_wine_make_prefix PREFIX: a new prefix (wineboot -i), then the probe.
quilo_wine_make_prefix() {
  rm -rf "$1"
  wineboot -i >/dev/null 2>&1 8>&- 9>&-
  wineserver -w
  local why
  if ! why="$(quilo_wine_probe)"; then
    wineserver -w
    echo "wine-env: the new Wine prefix $1 cannot start a program ($why)" >&2
    quilo_wine_has32 || echo "wine-env: (32-bit Wine is not installed; scripts/setup installs it)" >&2
    return 1
  fi
  wineserver -w
  quilo_wine_fingerprint >"$1/.quilo-ready"
}

# quilo_wine_prefix START_DIR: sets WINEPREFIX (QUILO_WINEPREFIX, or <build dir>/wineprefix
# found from START_DIR or the current folder) and makes the prefix once. A prefix that cannot
# start a program (for instance one made before 32-bit Wine was installed: "could not load
# kernel32.dll, status c0000135") is made afresh, once, with a note; if that fails too, or the
# new prefix cannot start a program either, this fails.
#
# The check costs nothing while the Wine installation is the one the prefix was made (or last
# checked) with and its system libraries are in place; otherwise a program is started with each
# loader (about a second) to find out.
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
  # One wineboot (or check) at a time. Wine's processes must not inherit the lock: `9>&-`.
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.quilo-ready" ]; then
      echo "wine-env: creating the Wine prefix $prefix (once)" >&2
      quilo_wine_make_prefix "$prefix" || exit 1
    elif [ "$(cat "$prefix/.quilo-ready")" != "$(quilo_wine_fingerprint)" ] ||
         ! quilo_wine_prefix_whole "$prefix"; then
      if why="$(quilo_wine_probe)"; then
        wineserver -w
        quilo_wine_fingerprint >"$prefix/.quilo-ready"
      else
        wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
        echo "wine-env: the Wine prefix $prefix cannot start a program ($why);" \
             "it was made by another Wine set-up or is damaged: making it afresh (once)" >&2
        quilo_wine_make_prefix "$prefix" || exit 1
      fi
    fi
  ) 9>"$prefix.lock" || return 1
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
