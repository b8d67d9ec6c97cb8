#!/usr/bin/env bash
# Sets up, builds and runs the benchmarks under Wine; prints their figures.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
CMAKE_BUILD_TYPE=Release "$here/build.sh"
source "$here/env.sh"
kel_wine_session_start
trap kel_wine_session_stop EXIT
cd "$KEL_BUILD_DIR/bin"
for bench in ipc_bench agent_bench; do
  wine "$bench.exe"
done
