#!/usr/bin/env bash
# Runs kelctl in the project's Wine prefix (built on first use). Examples:
#   scripts/kelctl.sh send 13 0x1F000005
#   scripts/kelctl.sh listen 2
#   scripts/kelctl.sh broadcast 0x00020001
set -euo pipefail
here=$(dirname "$0")
source "$here/env.sh"
[ -x "$KEL_BUILD_DIR/bin/kelctl.exe" ] || { "$here/setup.sh" >/dev/null; "$here/build.sh" >/dev/null; }
cd "$KEL_BUILD_DIR/bin"
exec "$WINELOADER" kelctl.exe "$@"
