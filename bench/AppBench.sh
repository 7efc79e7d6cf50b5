#!/usr/bin/env bash
# Runs bench/AppBench.py on a private X server (Xvfb, one 1440 x 900 screen) with a private
# session bus. Arguments go to AppBench.py (--bin <folder of the built programs>, --runs N, --keep,
# --no-reference), except:
#   --desktop-bus  the bus is configured as the system's session bus is, so the desktop's installed
#                  services (the portal and its back-ends, GVfs) answer as on a desktop; the portal
#                  is started before the first launch, as a desktop's session has it running.
# Without it the bus starts only the tests' own services (tests/support/session-bus.conf).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bus=(--config-file="$here/../tests/support/session-bus.conf")
args=()
for arg in "$@"; do
  if [ "$arg" = --desktop-bus ]; then bus=() args+=(--start-portal); else args+=("$arg"); fi
done
exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" dbus-run-session ${bus[@]+"${bus[@]}"} -- python3 "$here/AppBench.py" "${args[@]}"
