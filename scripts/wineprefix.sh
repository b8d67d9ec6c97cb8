#!/usr/bin/env bash
# Creates the project's 64-bit Wine prefix on first use, with the null graphics
# driver so that top-level windows work without a display. Safe to run again.
set -euo pipefail
source "$(dirname "$0")/env.sh"
stamp=$KEL_WINEPREFIX/.kel-ready
[ -f "$stamp" ] && exit 0
mkdir -p "$(dirname "$KEL_WINEPREFIX")"
exec 9>"$KEL_WINEPREFIX.lock"
flock 9
[ -f "$stamp" ] && exit 0
echo "Creating Wine prefix $KEL_WINEPREFIX" >&2
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$stamp"
