#!/usr/bin/env bash
# Sets up, builds both architectures and runs the tests under Wine: on x86_64
# always, on i686 too where this machine runs 32-bit programs. Extra arguments
# go to ctest (for example: scripts/test.sh -L ipc). KEL_ARCH=x86_64 or
# KEL_ARCH=i686 builds and tests that architecture alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
"$here/setup.sh"

# Each architecture in a shell of its own, so that its settings (build folder,
# prefix, loader) stay its own.
build() { (export KEL_ARCH=$1; "$here/build.sh"); }
# run_tests ARCH [OTHER_BIN] -- CTEST_ARGUMENTS: OTHER_BIN, the other
# architecture's program folder, lets the suite drive that build's kelctl.
run_tests() (
  export KEL_ARCH=$1
  local other_bin=$2
  shift 3
  source "$here/env.sh"
  echo "== tests on $KEL_ARCH ($KEL_BUILD_DIR)"
  kel_wine_session_start
  trap kel_wine_session_stop EXIT
  [ -z "$other_bin" ] || export KEL_OTHER_ARCH_BIN="$(winepath -w "$other_bin")\\"
  cd "$KEL_BUILD_DIR"
  ctest --output-on-failure -j2 "$@"
)

if [ -n "${KEL_ARCH:-}" ]; then
  build "$KEL_ARCH"
  run_tests "$KEL_ARCH" "" -- "$@"
  exit 0
fi
# The i686 build goes beside the x86_64 one, named as env.sh names it.
x86_64_dir=${KEL_BUILD_DIR:-$root/build}
i686_dir=$(source "$here/env.sh" && kel_i686_dir "$x86_64_dir")
build x86_64
KEL_BUILD_DIR=$i686_dir build i686
if ! (source "$here/env.sh" && kel_runs_32bit); then
  run_tests x86_64 "" -- "$@"
  echo "== i686: built, tests not run: this machine cannot run 32-bit programs (/usr/lib/wine/wine --version fails)"
  exit 0
fi
# Both run here: each suite also drives the other build's kelctl against its
# own pipes.
run_tests x86_64 "$i686_dir/bin" -- "$@"
KEL_BUILD_DIR=$i686_dir run_tests i686 "$x86_64_dir/bin" -- "$@"
