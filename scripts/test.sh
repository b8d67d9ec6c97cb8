#!/usr/bin/env bash
# Sets up, builds and runs the tests under Wine. Extra arguments go to ctest
# (for example: scripts/test.sh -L ipc).
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"
kel_wine_session_start
trap kel_wine_session_stop EXIT
cd "$KEL_BUILD_DIR"
ctest --output-on-failure -j2 "$@"
