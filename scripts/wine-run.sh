#!/usr/bin/env bash
# Runs a Windows program in the Wine prefix of one build; CMake's
# cross-compiling emulator, so ctest, gtest discovery and benchmarks all go
# through here.
#   wine-run.sh ARCH BUILD_DIR PROGRAM [ARGUMENTS...]
set -euo pipefail
export KEL_ARCH=$1 KEL_BUILD_DIR=$2
shift 2
unset KEL_WINEPREFIX   # the build's own prefix, whatever the caller's was
source "$(dirname "$0")/env.sh"
"$KEL_ROOT/scripts/wineprefix.sh" >/dev/null
exec "$WINELOADER" "$@"
