#!/usr/bin/env bash
# Installs everything the build and the tests need. Idempotent.
set -euo pipefail
packages=(g++-mingw-w64-i686-posix wine wine32:i386 wine64
          nlohmann-json3-dev googletest cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo dpkg --add-architecture i386
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
"$(dirname "$0")/wineprefix.sh"
