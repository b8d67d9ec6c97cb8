#!/usr/bin/env bash
# Saves a picture of a desktop showing the agent's management console and the
# add-on console: Xvfb, Wine's virtual desktop in a prefix of its own whose
# graphics driver draws (the tests' prefix has the null driver), the product
# installed in the build's binary folder, and workspace_demo.exe.
# Usage: scripts/screenshot.sh [FILE.png]   (default build/screenshot.png)
#        scripts/screenshot.sh --install-only   (Xvfb and ImageMagick only)
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
source "$here/env.sh"
for p in xvfb imagemagick; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends xvfb imagemagick
    break
  fi
done
# run.sh --screenshot needs only the packages.
[ "${1:-}" = --install-only ] && exit 0
out=$(realpath -m "${1:-$KEL_BUILD_DIR/screenshot.png}")
"$here/build.sh"

export KEL_WINEPREFIX=$KEL_BUILD_DIR/wineprefix-desktop WINEPREFIX=$KEL_BUILD_DIR/wineprefix-desktop
display=:$((90 + RANDOM % 10))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=$display
sleep 1
"$here/wineprefix.sh" --drawing

# The product as installed: pages beside the program, English texts.
bin=$(winepath -w "$KEL_BUILD_DIR/bin")
wine reg add 'HKLM\Software\Quorvane\NORDAL' /v ProductPath /d "$bin\\" /f /reg:64 >/dev/null 2>&1
wine reg add 'HKLM\Software\Quorvane\NORDAL' /v Language /d EN-US /f /reg:64 >/dev/null 2>&1

cd "$KEL_BUILD_DIR/bin"
wine explorer /desktop=kel,1024x768 workspace_demo.exe 20 &
demo=$!
sleep 10   # a cold Wine start, then both consoles shown
import -window root "$out"
wait "$demo" || true
echo "Saved $out"
