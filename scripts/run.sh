#!/usr/bin/env bash
# Installs what is needed, builds, lays out the sibling bundles under a system root in the build
# folder, and starts the application. Ctrl-C stops everything this script started.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build -j"$(nproc)"

sysroot="$root/build/sysroot"
host_bundle="$sysroot/Applications/Morvane Quarn.app"
mkdir -p "$host_bundle/Contents/MacOS"

export QUARN_SYSTEM_ROOT="$sysroot"
export QUARN_RESOURCES_DIR="$root/resources"
export QUARN_AI_BASE_URL="${QUARN_AI_BASE_URL:-http://127.0.0.1:8765/}"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  echo "run: no session bus; starting a private one"
  eval "$(dbus-launch --sh-syntax)"
  pids+=("$DBUS_SESSION_BUS_PID")
fi

if [ ! -x build/bin/QuarnAI ]; then
  echo "run: build/bin/QuarnAI was not built" >&2
  exit 1
fi
echo "run: starting QuarnAI (system root $QUARN_SYSTEM_ROOT, AI service $QUARN_AI_BASE_URL)"
build/bin/QuarnAI &
pids+=("$!")
wait "${pids[-1]}"
