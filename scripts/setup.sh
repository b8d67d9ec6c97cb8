#!/usr/bin/env bash
# Installs everything the build and the tests need, for both architectures,
# and creates the Wine prefix of the build. Idempotent.
set -euo pipefail
# wine32 runs the i686 build where the kernel runs 32-bit programs; where it
# does not, it installs all the same (its scripts say "Exec format error").
packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
          nlohmann-json3-dev googletest cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "Installing ${missing[*]}" >&2
  fail() {
    echo "setup.sh: $1 failed (see the lines above)." >&2
    echo "Check that this is Debian 12 with its package sources reachable and that you may use apt (root or sudo), then run it again." >&2
    exit 1
  }
  $sudo dpkg --add-architecture i386 || fail "dpkg --add-architecture i386"
  $sudo apt-get update || fail "apt-get update"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" ||
    fail "apt-get install ${missing[*]}"
fi
"$(dirname "$0")/wineprefix.sh"
