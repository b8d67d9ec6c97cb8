# Shared settings of the project's scripts; sourced, not run.
#
# KEL_ARCH picks the architecture the scripts build and run:
#   x86_64 (default) 64-bit binaries under wine64; runs on every machine;
#   i686             the 32-bit build, under WOW64 in a 64-bit prefix; runs only
#                    where the machine runs 32-bit programs (kel_runs_32bit).
# Each architecture has a build folder of its own, with its own Wine prefix.
KEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KEL_ARCH=${KEL_ARCH:-x86_64}
# The i686 build folder is named after the x86_64 one: build-i686/ beside build/.
kel_i686_dir() { echo "$1-i686"; }
case "$KEL_ARCH" in
  x86_64) kel_default_build_dir=$KEL_ROOT/build ;;
  i686)   kel_default_build_dir=$(kel_i686_dir "$KEL_ROOT/build") ;;
  *) echo "KEL_ARCH must be x86_64 or i686, not '$KEL_ARCH'" >&2; return 2 2>/dev/null || exit 2 ;;
esac
export KEL_BUILD_DIR=${KEL_BUILD_DIR:-$kel_default_build_dir}
export KEL_WINEPREFIX=${KEL_WINEPREFIX:-$KEL_BUILD_DIR/wineprefix}
export WINEPREFIX=$KEL_WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Debian's `wine` script takes the 32-bit loader whenever wine32 is installed,
# even where the kernel refuses 32-bit programs; so the scripts call the
# loader of the build's architecture themselves. Wine starts a program of the
# other architecture through the loader named by WINELOADER, with or without
# its "64".
KEL_WINE64=/usr/lib/wine/wine64
KEL_WINE32=/usr/lib/wine/wine
case "$KEL_ARCH" in
  x86_64) export WINELOADER=$KEL_WINE64 ;;
  i686)   export WINELOADER=$KEL_WINE32 ;;
esac
# The build names the C++ runtime DLLs of its architecture here.
KEL_RUNTIME_DLLS_FILE=$KEL_BUILD_DIR/runtime-dlls.txt

wine()     { "$WINELOADER" "$@"; }
winepath() { "$WINELOADER" winepath.exe "$@"; }

# True where this machine runs 32-bit programs: asks the 32-bit loader itself,
# since a kernel may have the emulation built in and switched off.
kel_runs_32bit() { "$KEL_WINE32" --version >/dev/null 2>&1; }

# Starts one persistent wineserver for the prefix and brings up Wine's own
# services once, with their output detached: services inherit the standard
# handles of the process that starts them, and a test runner would otherwise
# wait for a pipe that never closes.
kel_wine_session_start() {
  "$KEL_ROOT/scripts/wineprefix.sh"
  wineserver -p 2>/dev/null || true   # already running is fine
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kel_wine_session_stop() {
  wineserver -k 2>/dev/null || true
}
