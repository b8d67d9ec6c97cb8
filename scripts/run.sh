#!/usr/bin/env bash
# The main job: sets up, builds, installs the product into a folder of its own
# as an installer would, and runs the agent the way a user's session does:
# the product's service first, then KelConsole.exe from the product folder,
# driven through kelctl. Prints each step and a summary; non-zero when a
# step failed.
#   scripts/run.sh [--stay] [--screenshot FILE.png]
#   --stay        leave the agent and the service running, to drive them with
#                 scripts/kelctl.sh (the end prints how to stop them)
#   --screenshot  also save a picture of the desktop with the agent's windows
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stay=0
screenshot=""
while [ $# -gt 0 ]; do
  case "$1" in
    --stay) stay=1 ;;
    --screenshot) [ $# -ge 2 ] || { echo "run.sh: --screenshot needs a file" >&2; exit 2; }
                  screenshot=$(realpath -m "$2"); shift ;;
    *) echo "usage: scripts/run.sh [--stay] [--screenshot FILE.png]" >&2; exit 2 ;;
  esac
  shift
done

"$here/setup.sh"
[ -z "$screenshot" ] || "$here/screenshot.sh" --install-only
"$here/build.sh"
source "$here/env.sh"

product=$KEL_BUILD_DIR/product
logs=$KEL_BUILD_DIR/product-logs
bin=$KEL_BUILD_DIR/bin
results=()
failed=0
# step NAME COMMAND...: runs the command, prints its output, records ok/failed.
step() {
  local name=$1; shift
  echo "== $name"
  if "$@"; then results+=("ok      $name"); else results+=("FAILED  $name"); failed=1; fi
}
ctl() { (cd "$bin" && wine kelctl.exe "$@"); }
# ctl_expect TEXT ARGS...: a kelctl call whose output must contain TEXT
# (a failure code too, when TEXT names it).
ctl_expect() {
  local expected=$1; shift
  local out; out=$(ctl "$@" 2>&1) || true
  echo "$out"
  grep -qF "$expected" <<<"$out"
}

if [ -n "$screenshot" ]; then
  # Windows that draw: a prefix whose graphics driver is the real one, on
  # Wine's virtual desktop, on a virtual X display.
  export KEL_WINEPREFIX=$KEL_BUILD_DIR/wineprefix-desktop WINEPREFIX=$KEL_BUILD_DIR/wineprefix-desktop
  display=:$((90 + RANDOM % 10))
  Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=$display
  "$here/wineprefix.sh" --drawing
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -p 2>/dev/null || true
  # The desktop's own process draws the background and the window frames.
  (setsid "$WINELOADER" explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &)
  sleep 2
else
  kel_wine_session_start
fi
cleanup() {
  [ "$stay" = 1 ] && return
  wineserver -k 2>/dev/null || true
  [ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

install_product() {
  rm -rf "$product" && mkdir -p "$product"
  local runtime; mapfile -t runtime <"$KEL_RUNTIME_DLLS_FILE"
  cp "$bin"/KelConsole.exe "$bin"/ProviderManager32.dll "$bin"/SecureFrame.dll "$bin"/QvDbg32.dll \
     "${runtime[@]/#/$bin/}" "$bin"/ManagementConsole.html "$bin"/BHOConsole.html "$product"/
  cp -r "$bin"/Resource "$product"/
  find "$product" -type f | sed "s|^$product/|  |" | sort
}
reg64() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f /reg:64 >/dev/null; }
write_settings() {
  rm -rf "$logs" && mkdir -p "$logs"
  local key='HKLM\Software\Quorvane\NORDAL' log='HKLM\Software\Quorvane\NORDAL\1\DebugLog\InteractiveSession'
  reg64 "$key" ProductPath REG_SZ "$(winepath -w "$product")\\" &&
  reg64 "$key" Language REG_SZ EN-US &&
  reg64 "$log" Enable REG_DWORD 1 && reg64 "$log" Level REG_DWORD 0x111 &&
  reg64 "$log" LogProcess REG_DWORD 0 && reg64 "$log" LogUnitType REG_DWORD 0 &&
  reg64 "$log" LogFolder REG_SZ "$(winepath -w "$logs")\\" &&
  echo "  installed folder $(winepath -w "$product")\\, language EN-US, debug log into $(winepath -w "$logs")\\"
}
start_service() {
  (cd "$bin" && exec setsid "$WINELOADER" SystemProviderHost.exe --journal "$(winepath -w "$logs")\\service.journal" </dev/null >"$logs/service.out" 2>&1) &
  service=$!
  for _ in $(seq 1 300); do
    grep -q 'serving' "$logs/service.out" 2>/dev/null && { cat "$logs/service.out"; return 0; }
    kill -0 "$service" 2>/dev/null || break
    sleep 0.2
  done
  cat "$logs/service.out"; return 1
}
start_agent() {
  local started=$(date +%s.%N)
  (cd "$product" && exec setsid "$WINELOADER" KelConsole.exe -s </dev/null >/dev/null 2>&1) &
  agent=$!
  for _ in $(seq 1 120); do
    if ctl send 6 0x18000021 >/dev/null 2>&1; then
      printf '  the session pipe answered %.2f s after the start (each try is a kelctl process)\n' \
        "$(echo "$(date +%s.%N) - $started" | bc)"
      return 0
    fi
    kill -0 "$agent" 2>/dev/null || { echo "  the agent ended"; return 1; }
    sleep 0.25
  done
  return 1
}
agent_exit_code() {
  local code=0
  wait "$agent" || code=$?
  echo "  exit code $code"
  [ "$code" = 0 ]
}
take_screenshot() { sleep 2; import -window root "$screenshot" && echo "  saved $screenshot"; }

balloon='{"BrowserName":"IE","WindowId":"1001","TabId":"1","BalloonPageName":"BHOConsole.html"}'
balloon_id='{"BrowserName":"IE","WindowId":"1001","TabId":"1"}'
step "lay out the product folder" install_product
step "write the product's settings" write_settings
step "start the product's service" start_service
# Silent ("-s"), as the agent starts itself again: its console opens on request.
step "start KelConsole.exe -s" start_agent
step "console status" ctl_expect '"ConsoleUiStatus":false' send 6 0x18000021
step "open the management console" ctl_expect 'result 0x00000000' send 6 0x18000008
step "console status" ctl_expect '"ConsoleUiStatus":true' send 6 0x18000021
step "show a balloon" ctl_expect 'result 0x00000000' send 6 0x18000005 "$balloon"
step "balloon status" ctl_expect '"BalloonIsShow":true' send 6 0x1800000E "$balloon_id"
step "move the balloon" ctl_expect 'result 0x00000000' send 6 0x18000010 \
  '{"BrowserName":"IE","WindowId":"1001","TabId":"1","BalloonPosX":420,"BalloonPosY":300}'
[ -z "$screenshot" ] || step "screenshot" take_screenshot
step "close the balloon" ctl_expect 'result 0x00000000' send 6 0x18000007 "$balloon_id"
step "balloon status (0x10000005: no such balloon)" ctl_expect 'result 0x10000005' send 6 0x1800000E "$balloon_id"
step "window count" ctl_expect '"ActivatedUiCnt":1' send 6 0x18000022
if [ "$stay" = 0 ]; then
  step "exit message 0x1800001B" ctl_expect 'result 0x00000000' send 6 0x1800001B
  step "the agent's exit code" agent_exit_code
  step "stop the service" ctl_expect 'result 0x00000000' stop-service
  wait "$service" 2>/dev/null || true
fi

echo
echo "Summary"
printf '  %s\n' "${results[@]}"
for file in "$logs"/KelConsole_*.log; do
  [ -f "$file" ] && echo "  agent's log: $file ($(wc -l <"$file") lines)"
done
[ -f "$logs/service.journal" ] && echo "  service's journal: $logs/service.journal ($(wc -l <"$logs/service.journal") messages)"
if [ "$stay" = 1 ]; then
  prefix_note=""
  [ -z "$screenshot" ] || prefix_note="KEL_WINEPREFIX=$KEL_WINEPREFIX "
  cat <<EOF

The agent and the service keep running (prefix $WINEPREFIX). Drive them with
  ${prefix_note}scripts/kelctl.sh send 6 0x18000022          (window count; any message of the workspace, class 6)
  ${prefix_note}scripts/kelctl.sh listen 0x1102 --count 1   (notifications of another process)
Stop them with
  ${prefix_note}scripts/kelctl.sh send 6 0x1800001B && ${prefix_note}scripts/kelctl.sh stop-service
EOF
fi
exit $failed
