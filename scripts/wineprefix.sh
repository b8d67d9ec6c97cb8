#!/usr/bin/env bash
# Creates the project's 64-bit Wine prefix ($KEL_WINEPREFIX) on first use, with
# the null graphics driver so that top-level windows work without a display.
# Safe to run again.
#   wineprefix.sh [--drawing]   --drawing keeps Wine's own graphics driver, for
#                               screenshots on a virtual X display
set -euo pipefail
source "$(dirname "$0")/env.sh"
drawing=0
[ "${1:-}" = --drawing ] && drawing=1
stamp=$KEL_WINEPREFIX/.kel-ready
[ -f "$stamp" ] && exit 0
if [ "$KEL_ARCH" = i686 ] && ! kel_runs_32bit; then
  echo "This machine cannot run 32-bit programs ($KEL_WINE32 --version fails), so the i686 build cannot run here." >&2
  echo "Use the default x86_64 build (unset KEL_ARCH), or a machine whose kernel runs 32-bit programs." >&2
  exit 1
fi
mkdir -p "$(dirname "$KEL_WINEPREFIX")"
exec 9>"$KEL_WINEPREFIX.lock"
flock 9
[ -f "$stamp" ] && exit 0
echo "Creating Wine prefix $KEL_WINEPREFIX" >&2
log=$KEL_WINEPREFIX.create.log
# The prefix is 64-bit on both architectures, so the 64-bit loader makes it.
wine64() { WINELOADER=$KEL_WINE64 "$KEL_WINE64" "$@" >>"$log" 2>&1; }
: >"$log"
if ! wine64 wineboot.exe -i ||
   { [ "$drawing" = 0 ] && ! wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f; }; then
  echo "Creating the Wine prefix failed; Wine said (from $log):" >&2
  tail -n 15 "$log" >&2
  echo "Check that wine64 is installed (scripts/setup.sh), then remove $KEL_WINEPREFIX and try again." >&2
  exit 1
fi
wineserver -w
touch "$stamp"
