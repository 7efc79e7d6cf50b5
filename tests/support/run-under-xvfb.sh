#!/usr/bin/env bash
# Runs a program on a private X server (Xvfb, one 1440 x 900 screen, 24-bit colour) with a private
# session bus, for the desktop and end-to-end tests. The server picks a free display number
# itself, so several of these can start at once.
#
# The program gets a desktop of its own (test-desktop.sh): a fresh HOME and XDG folders, opening
# goes to a recorder, GIO keeps to local files. The bus starts only the tests' own services
# (session-bus.conf), never what the machine has installed. Whatever the run started must have
# ended with it: a process left running or a mount left under the run's folder fails the run
# (and is ended).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/quarn-xvfb.XXXXXX")"
xvfb_pid=""
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  xvfb_pid=""
}
cleanup() {
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every process of the run carries this mark in its environment.
export QUARN_TEST_RUN="$work"

mkdir "$work/home"
while IFS= read -r line; do
  case "$line" in
    -*) unset "${line#-}" ;;
    *) export "${line?}" ;;
  esac
done < <(bash "$here/test-desktop.sh" "$work/home")

Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 200); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then cat "$work/xvfb.log" >&2; echo "run-under-xvfb: Xvfb did not start" >&2; exit 1; fi
  sleep 0.05
done
[ -s "$work/display" ] || { echo "run-under-xvfb: Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export PYTHONDONTWRITEBYTECODE=1
# Not exec: the server is stopped when the program ends.
set +e
dbus-run-session --config-file="$here/session-bus.conf" -- "$@"
status=$?
stop_xvfb

# The processes of the run still there (the scan itself runs without the mark).
leftovers() {
  local file pid
  while IFS= read -r file; do
    pid="${file#/proc/}"
    pid="${pid%%/*}"
    [ "$pid" != "$$" ] && [ "$pid" != "$BASHPID" ] && [ -e "/proc/$pid" ] && echo "$pid"
  done < <(env -u QUARN_TEST_RUN grep -lzxF "QUARN_TEST_RUN=$work" /proc/[0-9]*/environ 2>/dev/null)
}
mounts() { awk -v under="$work/" 'index($2, under) == 1 { print $2 }' /proc/mounts; }

# What ends on its own (web processes after their application) is given time to.
left=()
for _ in $(seq 1 100); do
  mapfile -t left < <(leftovers)
  [ ${#left[@]} -eq 0 ] && break
  sleep 0.1
done
if [ ${#left[@]} -gt 0 ]; then
  echo "run-under-xvfb: the run left these processes running (now killed):" >&2
  ps -o pid=,args= -p "$(IFS=,; echo "${left[*]}")" >&2 || true
  kill -KILL "${left[@]}" 2>/dev/null || true
  [ "$status" -ne 0 ] || status=1
fi
mapfile -t mounted < <(mounts)
if [ ${#mounted[@]} -gt 0 ]; then
  echo "run-under-xvfb: the run left these mounts (now unmounted): ${mounted[*]}" >&2
  for point in "${mounted[@]}"; do fusermount -u -z "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true; done
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
