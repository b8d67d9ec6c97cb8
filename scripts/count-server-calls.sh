#!/usr/bin/env bash
# Counts the wineserver requests (Wine's kernel calls) of one query of 100
# characters, per request name, for the raw baseline, the library's peer and
# the library's client: ipc_bench runs the kind twice, with 20 and 120
# queries, under the server trace of a wineserver of its own, and the
# difference of the two runs divided by 100 is one query's worth. The
# calls-fanout-* kinds broadcast to 10 listener processes instead: divided by
# 1,000, one notification's worth.
#   scripts/count-server-calls.sh [calls-raw|calls-raw-handover|calls-library|calls-client|
#     calls-fanout-raw|calls-fanout-handover|calls-fanout-library ...]
# Uses the Release build in $KEL_BUILD_DIR (default build/) and a copy of its
# prefix, so that the trace sees no other program.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kinds=("$@"); [ ${#kinds[@]} -gt 0 ] || kinds=(calls-raw calls-raw-handover calls-library calls-client calls-fanout-raw calls-fanout-handover calls-fanout-library)
prefix=$(mktemp -d /tmp/kel-count-XXXXXX)
trap 'WINEPREFIX=$prefix/pfx wineserver -k 2>/dev/null || true; [ -n "${KEL_KEEP_TRACE:-}" ] || rm -rf "$prefix"' EXIT
"$KEL_ROOT/scripts/wineprefix.sh" >/dev/null
cp -a "$KEL_WINEPREFIX" "$prefix/pfx"
export WINEPREFIX=$prefix/pfx
# One trace of N queries of a kind: request names, counted.
trace() {
  WINEDEBUG=+server wineserver -k 2>/dev/null || true
  (cd "$KEL_BUILD_DIR/bin" && WINEDEBUG=+server wine ipc_bench.exe --count "$2" "$1" >/dev/null 2>"$prefix/$1.$2.trace")
  wineserver -w
  grep -v ") = " "$prefix/$1.$2.trace" | sed -n "s/^[0-9a-f]\{4\}: \([a-z_]*\)(.*/\1/p" | sort | uniq -c >"$prefix/$1.$2.counts"
}
for kind in "${kinds[@]}"; do
  trace "$kind" 20
  trace "$kind" 120
  per=100; what=query
  case $kind in calls-fanout-*) per=1000; what=notification ;; esac
  echo "== $kind: wineserver requests per $what (all processes)"
  join -1 2 -2 2 -a 1 -a 2 -e 0 -o 0,1.1,2.1 <(sort -k2 "$prefix/$kind.20.counts") <(sort -k2 "$prefix/$kind.120.counts") |
    awk -v per="$per" '{ d = ($3 - $2) / per; if (d >= 0.05) { printf "%8.2f %s\n", d, $1; total += d } } END { printf "%8.2f total\n", total }' |
    sort -rn
done
