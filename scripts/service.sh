#!/usr/bin/env bash
# Sets up, builds and runs the product's service (SystemProviderHost) on the
# system pipe until Ctrl+C or `scripts/kelctl.sh stop-service`. Arguments go to
# the service, e.g. --config answers.json (see docs/system-provider-host.md).
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh" >/dev/null
"$here/build.sh" >/dev/null
source "$here/env.sh"
kel_wine_session_start
cd "$KEL_BUILD_DIR/bin"
exec "$WINELOADER" SystemProviderHost.exe "$@"
