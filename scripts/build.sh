#!/usr/bin/env bash
# Configures and builds everything for KEL_ARCH (default x86_64) into
# $KEL_BUILD_DIR (default build/, build-i686/ for i686).
set -euo pipefail
source "$(dirname "$0")/env.sh"
cmake -S "$KEL_ROOT" -B "$KEL_BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$KEL_ROOT/cmake/toolchain-$KEL_ARCH-mingw.cmake" \
  -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$KEL_BUILD_DIR"
