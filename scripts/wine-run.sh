#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix; CMake's cross-compiling
# emulator, so ctest, gtest discovery and benchmarks all go through here.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$KEL_ROOT/scripts/wineprefix.sh" >/dev/null
exec wine "$@"
