#!/usr/bin/env bash
# Runs a program on a private X server (Xvfb, one 1440 x 900 screen) with a private session bus.
set -euo pipefail
exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" dbus-run-session -- "$@"
