# Shared settings of the project's scripts; sourced, not run.
KEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KEL_BUILD_DIR=${KEL_BUILD_DIR:-$KEL_ROOT/build}
export KEL_WINEPREFIX=${KEL_WINEPREFIX:-$KEL_BUILD_DIR/wineprefix}
export WINEPREFIX=$KEL_WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Starts one persistent wineserver for the prefix and brings up Wine's own
# services once, with their output detached: services inherit the standard
# handles of the process that starts them, and a test runner would otherwise
# wait for a pipe that never closes.
kel_wine_session_start() {
  "$KEL_ROOT/scripts/wineprefix.sh"
  wineserver -p 2>/dev/null || true   # already running is fine
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kel_wine_session_stop() {
  wineserver -k 2>/dev/null || true
}
