#!/usr/bin/env bash
# Sets up, builds and runs the project's main job under Wine.
# The agent itself does not exist yet: until it does, this runs kelenv, which
# shows what the agent would see on this machine (Windows version tests,
# WOW64, session, product settings, debug-log configuration) and writes one
# line through the tracing library QvDbg32.dll.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"
kel_wine_session_start
trap kel_wine_session_stop EXIT
cd "$KEL_BUILD_DIR/bin"
wine kelenv.exe
