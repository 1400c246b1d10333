# tests/wine-env.sh -- to be sourced: a headless wine session for the Windows-side tests.
#
#   . tests/wine-env.sh        # from bash, anywhere inside the repository
#
# Starts a private Xvfb on a display nobody else uses, points wine at a prefix
# inside the build tree (created once, offline and without prompts), keeps one
# wineserver alive for the whole session so that every test start is fast, and
# registers sfx_wine_cleanup on EXIT, which stops both again. A caller that
# needs its own EXIT trap calls sfx_wine_cleanup from it.
#
# Overridable before sourcing: WINEPREFIX (default <repo>/build/wineprefix).
# Exported: DISPLAY, WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, WINEARCH, SFX_WINE
# (the wine command to run 64-bit programs with).
# A shell that already runs inside a session (sourced twice, or a test started
# by scripts/test, which exports its session) reuses it and owns no cleanup.
# Sessions started side by side on one prefix share its wineserver: the last
# one to end stops it (a shared lock on <prefix>.session counts them).

if [ -n "${SFX_WINE_SESSION:-}" ] && [ -n "${DISPLAY:-}" ] && [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ]; then
  return 0
fi

sfx_repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

export WINEDEBUG=-all
# No Mono or Gecko installers: the prefix must build offline and without dialogs.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
export WINEPREFIX="${WINEPREFIX:-$sfx_repo_root/build/wineprefix}"
export SFX_WINE="${SFX_WINE:-wine}"

# Finds a display number that neither has a socket nor a lock file, then starts
# Xvfb on it. Numbers from 70 up keep clear of the low displays people use by
# hand; losing a race for a number just moves on to the next one.
sfx_start_xvfb() {
  local n log
  log=$(mktemp "${TMPDIR:-/tmp}/sfx-xvfb.XXXXXX")
  for n in $(seq 70 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 &
    SFX_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        rm -f "$log"
        return 0
      fi
      kill -0 "$SFX_XVFB_PID" 2>/dev/null || break   # lost a race for this number
      sleep 0.05
    done
    kill "$SFX_XVFB_PID" 2>/dev/null
    wait "$SFX_XVFB_PID" 2>/dev/null
    SFX_XVFB_PID=
  done
  echo "wine-env: could not start Xvfb: $(cat "$log")" >&2
  rm -f "$log"
  return 1
}

sfx_wine_cleanup() {
  if [ -n "${SFX_WINE_SESSION:-}" ]; then
    if [ -n "${SFX_SESSION_FD:-}" ]; then
      flock -u "$SFX_SESSION_FD"
      # Only the last session of this prefix stops the server.
      if flock -xn "$WINEPREFIX.session" true; then
        wineserver -k >/dev/null 2>&1 || true
      fi
      eval "exec $SFX_SESSION_FD>&-"
      SFX_SESSION_FD=
    fi
    if [ -n "${SFX_XVFB_PID:-}" ]; then
      kill "$SFX_XVFB_PID" 2>/dev/null || true
      wait "$SFX_XVFB_PID" 2>/dev/null || true
    fi
    SFX_XVFB_PID=
    SFX_WINE_SESSION=
  fi
}

# Creates the prefix once. A lock keeps two sessions of the same tree from
# building it at the same time; a marker written at the end tells a complete
# prefix from one that an interrupted run left half made.
sfx_make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.sfx-ready" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine-env: creating wine prefix $WINEPREFIX" >&2
      if ! wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1 || ! wineserver -w; then
        echo "wine-env: wineboot failed, see $WINEPREFIX.log" >&2
        exit 1
      fi
      touch "$WINEPREFIX/.sfx-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

sfx_start_xvfb || return 1
SFX_WINE_SESSION=$$
trap sfx_wine_cleanup EXIT
sfx_make_prefix || { sfx_wine_cleanup; return 1; }
exec {SFX_SESSION_FD}>"$WINEPREFIX.session"
flock -s "$SFX_SESSION_FD"
# Persistent until killed: every wine start of the session attaches to it.
# wine's own service processes are started here too, with their output on
# /dev/null: started by a test instead, they would inherit that test's pipes
# and keep whoever reads them waiting until the session ends.
wineserver -p </dev/null >/dev/null 2>&1
$SFX_WINE wineboot </dev/null >/dev/null 2>&1 || true
export SFX_WINE_SESSION
