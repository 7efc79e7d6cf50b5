#!/usr/bin/env bash
# Installs what is needed, builds, lays out the sibling bundles under a system root in the build
# folder, starts the AI service stand-in and the host and text-tool stand-ins, and starts the
# application on the current X11 display (on a virtual one when there is none).
#
# Every program it starts runs in a session of its own, so a Ctrl-C in this terminal reaches only
# the script: the first asks the application to quit the way its menu's Quit does (its pages stay
# alive, so that it can ask about unsaved work, and the script waits for it), a second ends
# everything at once. When the application has ended, the script stops what it started.
#
#   bash scripts/run.sh                         # against the local AI service stand-in
#   QUARN_SERVICE_PORT=0 bash scripts/run.sh    # the stand-in on a free port instead of 8765
#   QUARN_SERVICE_ARGS=--work-unsaved bash scripts/run.sh   # more arguments for the stand-in
#   QUARN_AI_BASE_URL=https://... bash scripts/run.sh   # against another AI service
#   bash scripts/run.sh --no-build              # skip installing and building
#   QUARN_BUILD_DIR=build-x bash scripts/run.sh --no-build   # the programs of another build folder
#
# The application uses your own HOME: its settings go to
# ~/Library/Application Support/QuarnAI/config/QuarnAIConfig.plist.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

build=1
for arg in "$@"; do
  case "$arg" in
    --no-build) build=0 ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "run: unknown argument $arg (try --help)" >&2; exit 2 ;;
  esac
done

say() { echo "run: $*"; }

build_dir="$(realpath -m "${QUARN_BUILD_DIR:-$root/build}")"
if [ "$build" -eq 1 ]; then
  if [ "$build_dir" != "$root/build" ]; then
    echo "run: QUARN_BUILD_DIR is for --no-build; the build itself goes to build/ (preset default)" >&2
    exit 2
  fi
  bash scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build build -j"$(nproc)"
fi
bin="$build_dir/bin"
for program in QuarnAI QuarnHost QuarnGetText QuarnAIService; do
  if [ ! -x "$bin/$program" ]; then
    echo "run: $bin/$program was not built" >&2
    exit 1
  fi
done

sysroot="$build_dir/sysroot"
bash peers/layout-sysroot.sh "$sysroot" --bin "$bin" --resources "$root/resources" >/dev/null
host_bundle="$sysroot/Applications/Morvane Quarn.app"
app_executable="$host_bundle/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI"
host_executable="$host_bundle/Contents/MacOS/Morvane Quarn"

logs="$build_dir/run-logs"
mkdir -p "$logs"
# Each log starts empty; the previous run's stays beside it as NAME.previous.log.
fresh_log() {
  local file="$logs/$1"
  if [ -s "$file" ]; then mv -f "$file" "${file%.log}.previous.log"; fi
  : >"$file"
}
host_fifo="$logs/host.fifo"
tool_fifo="$logs/text-tool.fifo"

export QUARN_SYSTEM_ROOT="$sysroot"
export QUARN_RESOURCES_DIR="$root/resources"
unset QUARN_HOST_CONTROL QUARN_HOST_OUTPUT QUARN_GETTEXT_CONTROL QUARN_GETTEXT_OUTPUT

# Processes this script started, stopped in reverse order.
pids=()
names=()
started() { pids+=("$1"); names+=("$2"); }

stopping=0
at_once=0
cleanup() {
  [ "$stopping" -eq 1 ] && return
  stopping=1
  trap - INT TERM
  local i
  if [ "$at_once" -eq 1 ]; then
    # Each program with everything it started (the application's web processes among them).
    for (( i=${#pids[@]}-1; i>=0; i-- )); do
      kill -KILL -- "-${pids[$i]}" 2>/dev/null || kill -KILL "${pids[$i]}" 2>/dev/null || true
    done
  else
    say "stopping"
    for (( i=${#pids[@]}-1; i>=0; i-- )); do
      kill -TERM "${pids[$i]}" 2>/dev/null || true
      for _ in $(seq 1 50); do
        kill -0 "${pids[$i]}" 2>/dev/null || break
        sleep 0.1
      done
      kill -KILL "${pids[$i]}" 2>/dev/null || true
    done
  fi
  wait 2>/dev/null || true
  rm -f "$host_fifo" "$tool_fifo"
}
trap cleanup EXIT

# The first Ctrl-C while the application runs asks it to quit; any other ends everything now.
app_pid=""
quit_asked=0
interrupted() {
  echo
  if [ "$quit_asked" -eq 0 ] && [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    quit_asked=1
    say "asking QuarnAI to quit, as its Quit menu item does; waiting for it to end"
    say "  (it may ask about unsaved work in its windows; Ctrl-C again ends everything at once)"
    kill -TERM "$app_pid" 2>/dev/null || true
    return
  fi
  say "ending everything at once"
  at_once=1
  exit 130
}
trap interrupted INT
trap 'exit 143' TERM

# Waits until the file has a line matching the pattern, or the process ends.
wait_line() {
  local file="$1" pattern="$2" pid="$3" what="$4"
  for _ in $(seq 1 300); do
    if grep -qE "$pattern" "$file" 2>/dev/null; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "run: $what ended before it was ready; see $file:" >&2
      tail -n 5 "$file" >&2 || true
      exit 1
    fi
    sleep 0.1
  done
  echo "run: $what did not get ready; see $file" >&2
  exit 1
}

# The display: the current one, or a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  if ! command -v Xvfb >/dev/null; then
    echo "run: no DISPLAY and no Xvfb (bash scripts/install-deps.sh)" >&2
    exit 1
  fi
  # Its own session: Ctrl-C reaches only this script, which stops the application first.
  fresh_log xvfb.log
  setsid Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$logs/xvfb.display" 2>"$logs/xvfb.log" &
  started $! Xvfb
  for _ in $(seq 1 100); do [ -s "$logs/xvfb.display" ] && break; sleep 0.05; done
  if [ ! -s "$logs/xvfb.display" ]; then echo "run: Xvfb did not start; see $logs/xvfb.log" >&2; exit 1; fi
  export DISPLAY=":$(head -n1 "$logs/xvfb.display")"
  say "no DISPLAY: running on the virtual display $DISPLAY (Xvfb, 1440 x 900); look at it with"
  say "  DISPLAY=$DISPLAY import -window root screen.png"
fi

# The session bus: the current one, or a private one.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  eval "$(setsid dbus-launch --sh-syntax)"
  started "$DBUS_SESSION_BUS_PID" dbus-daemon
  say "no session bus: started a private one ($DBUS_SESSION_BUS_ADDRESS)"
fi

# The AI service: the stand-in unless another one is named.
if [ -z "${QUARN_AI_BASE_URL:-}" ]; then
  service_port="${QUARN_SERVICE_PORT:-8765}"
  fresh_log service.log
  read -r -a service_args <<<"${QUARN_SERVICE_ARGS:-}"
  setsid "$bin/QuarnAIService" --port "$service_port" "${service_args[@]}" >"$logs/service.log" 2>&1 &
  started $! QuarnAIService
  wait_line "$logs/service.log" '^listening ' "${pids[-1]}" "the AI service stand-in (port $service_port busy?)"
  QUARN_AI_BASE_URL="$(sed -n 's/^listening .*"baseAddress":"\([^"]*\)".*/\1/p' "$logs/service.log" | head -n1)"
  export QUARN_AI_BASE_URL
  say "AI service stand-in at $QUARN_AI_BASE_URL (its pages, and ${QUARN_AI_BASE_URL}__status)"
else
  say "AI service at $QUARN_AI_BASE_URL (QUARN_AI_BASE_URL; no stand-in started)"
fi

# The host and the text tool, each with a control FIFO.
rm -f "$host_fifo" "$tool_fifo"
fresh_log host.log
setsid "$host_executable" --control "$host_fifo" --no-stdin >"$logs/host.log" 2>&1 &
started $! QuarnHost
wait_line "$logs/host.log" '^ready ' "${pids[-1]}" "the host stand-in (is another host running on this bus?)"
fresh_log text-tool.log
setsid "$bin/QuarnGetText" --control "$tool_fifo" --no-stdin >"$logs/text-tool.log" 2>&1 &
started $! QuarnGetText
wait_line "$logs/text-tool.log" '^ready ' "${pids[-1]}" "the text-tool stand-in"

fresh_log QuarnAI.log
setsid "$app_executable" >"$logs/QuarnAI.log" 2>&1 &
app_pid=$!
started "$app_pid" QuarnAI

# The host gives a new user its default hot keys after its own first run; the stand-in does the
# same here for a user who has none saved: Ctrl+Alt+K shows the side window, Ctrl+Alt+A takes a
# screenshot. A saved hot key is kept.
default_hotkey() {
  local id="$1" type="$2" code="$3" keys="$4"
  local saved="$HOME/Library/Application Support/QuarnAI/config/shortcut/$id"
  if [ -e "$saved" ]; then
    say "$type hot key: the one saved before"
    return
  fi
  # The application takes it once its notification observers are up; it saves it then.
  for _ in $(seq 1 15); do
    kill -0 "$app_pid" 2>/dev/null || return 0
    # Never blocks on a FIFO whose reader has gone.
    timeout 2 sh -c 'echo "$1" >"$2"' _ "shortcut $type $code control+option" "$host_fifo" || true
    for _ in $(seq 1 20); do
      if [ -e "$saved" ]; then say "$type hot key: $keys"; return; fi
      sleep 0.1
    done
  done
  say "$type hot key: the application did not take $keys (see $logs/host.log)"
}
default_hotkey 1 side 0x28 Ctrl+Alt+K
default_hotkey 2 screenshot 0x00 Ctrl+Alt+A

cat <<EOF
run: QuarnAI is running (pid $app_pid, system root $QUARN_SYSTEM_ROOT, HOME $HOME, display $DISPLAY)
run: logs in $logs (the previous run's as *.previous.log):
run:   QuarnAI.log (the application; it writes to ~/Library/Logs/QuarnAI.log instead when that folder exists)
run:   host.log, text-tool.log (what the stand-ins send and receive), service.log (the AI service's requests)
run: default hot keys (given when none is saved): Ctrl+Alt+K shows the side window, Ctrl+Alt+A takes a screenshot
run: commands for the host stand-in (help lists them all):
run:   echo "status on" > "$host_fifo"                              # the status item in the tray
run:   echo "shortcut side 0x28 control+option" > "$host_fifo"     # another side-window hot key (here Ctrl+Alt+K)
run: commands for the text-tool stand-in:
run:   echo "side 2 what is a stand-in" > "$tool_fifo"
run: Ctrl-C asks QuarnAI to quit (as its Quit menu item does); Ctrl-C again ends everything at once.
EOF

# A Ctrl-C interrupts the wait (status above 128) while the application goes on asking. Without
# errexit: with it, bash ends the script when a trap interrupts wait.
set +e
status=0
while :; do
  if wait "$app_pid"; then status=0; else status=$?; fi
  if [ "$status" -gt 128 ] && kill -0 "$app_pid" 2>/dev/null; then continue; fi
  break
done
say "QuarnAI ended (status $status)"
exit "$status"
