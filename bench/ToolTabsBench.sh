#!/usr/bin/env bash
# Runs bench/ToolTabsBench.py on a private X server (Xvfb, one 1440 x 900 screen) with a private
# session bus. Arguments go to ToolTabsBench.py (--bin <folder of the built programs>, --tabs N).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" dbus-run-session --config-file="$here/../tests/support/session-bus.conf" -- python3 "$here/ToolTabsBench.py" "$@"
