#!/usr/bin/env bash
# Installs what is needed, builds, lays out the sibling bundles under a system root in the build
# folder, starts the AI service stand-in and the host and text-tool stand-ins, and starts the
# application on the current X11 display (on a virtual one when there is none).
#
# Every program it starts runs in a session of its own, so a Ctrl-C in this terminal reaches only
# the script. Ctrl-C, SIGTERM and SIGHUP (the terminal closed) ask the application to quit the way
# its menu's Quit does (its pages stay alive, so that it can ask about unsaved work, and the script
# waits for it as long as it asks); when the user cancels that quit the script goes on, and the
# next Ctrl-C asks again. A second Ctrl-C while the application asks ends everything at once. A
# closed output (| tee, a closed terminal) never ends the script. When the application has ended,
# the script stops everything it started: the desktop services of a session bus it started end
# with that bus, as at the end of a session, and leave no mount behind.
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

# Messages never end the script: a closed output (the reader of a pipe gone, a terminal closed)
# fails the write and nothing more.
say() { printf 'run: %s\n' "$*" 2>/dev/null || true; }
warn() { printf 'run: %s\n' "$*" >&2 2>/dev/null || true; }

build_dir="$(realpath -m "${QUARN_BUILD_DIR:-$root/build}")"
if [ "$build" -eq 1 ]; then
  if [ "$build_dir" != "$root/build" ]; then
    warn "QUARN_BUILD_DIR is for --no-build; the build itself goes to build/ (preset default)"
    exit 2
  fi
  bash scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build build -j"$(nproc)"
fi
bin="$build_dir/bin"
for program in QuarnAI QuarnHost QuarnGetText QuarnAIService; do
  if [ ! -x "$bin/$program" ]; then
    warn "$bin/$program was not built"
    exit 1
  fi
done

# From here on a closed output (| tee ended by the same Ctrl-C, a terminal closed) must not end
# the script by SIGPIPE, neither at its own messages nor at the shell's reports of a command ended
# by a signal. The programs it starts get the default back (start_program).
trap '' PIPE
start_program() { trap - PIPE; exec setsid "$@"; }

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

# Processes this script started, each the leader of a session of its own (setsid; a bus daemon
# makes its own), stopped in reverse order with everything else in their sessions.
pids=()
names=()
started() { pids+=("$1"); names+=("$2"); }

# A process that has not ended (a zombie has).
# Read by the shell itself: a command it would start for this could be ended by the same signal.
alive() {
  local stat
  { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
  stat="${stat##*) }"
  [ "${stat:0:1}" != Z ]
}
session_members() { ps -e -o pid=,sid=,stat= | awk -v sid="$1" '$2 == sid && $3 !~ /^Z/ { print $1 }'; }

# Ends the session of a leader: the leader first (SIGTERM, then the others of the session,
# which a bus's services and an application's web processes do by themselves once their bus or
# application has gone), each given `tenths` tenths of a second before it is killed.
end_session() {
  local leader="$1" tenths="$2" t members
  kill -TERM "$leader" 2>/dev/null || true
  for (( t=0; t<tenths; t++ )); do alive "$leader" || break; sleep 0.1; done
  for (( t=0; t<2*tenths; t++ )); do
    members="$(session_members "$leader")"
    [ -n "$members" ] || break
    # shellcheck disable=SC2086
    if [ "$t" -eq "$tenths" ]; then kill -TERM $members 2>/dev/null || true; fi
    sleep 0.1
  done
  members="$(session_members "$leader")"
  # shellcheck disable=SC2086
  if [ -n "$members" ]; then kill -KILL $members 2>/dev/null || true; fi
  kill -KILL "$leader" 2>/dev/null || true
}

# FUSE mounts under HOME and the runtime folder (GVfs's, the document portal's): the desktop
# services of a bus this script started mount there.
user_mounts() {
  awk -v home="$HOME/" -v runtime="${XDG_RUNTIME_DIR:-$HOME}/" \
    '$3 ~ /^fuse/ && (index($2 "/", home) == 1 || index($2 "/", runtime) == 1) { print $2 }' /proc/mounts
}
mounts_before="$(user_mounts)"
bus_started=""

stopping=0
at_once=0
cleanup() {
  [ "$stopping" -eq 1 ] && return
  stopping=1
  trap '' INT TERM HUP
  local i tenths=50 point
  if [ "$at_once" -eq 1 ]; then
    tenths=10
    # The application with everything it started (its web processes), at once.
    if [ -n "$app_pid" ]; then kill -KILL -- "-$app_pid" 2>/dev/null || kill -KILL "$app_pid" 2>/dev/null || true; fi
  else
    say "stopping"
  fi
  for (( i=${#pids[@]}-1; i>=0; i-- )); do end_session "${pids[$i]}" "$tenths"; done
  wait 2>/dev/null || true
  # A service killed before it could unmount leaves its mount behind, no longer served.
  if [ -n "$bus_started" ]; then
    while IFS= read -r point; do
      [ -n "$point" ] || continue
      grep -qxF -- "$point" <<<"$mounts_before" && continue
      warn "unmounting $point, left by a desktop service of the private bus"
      fusermount -u -z "$point" 2>/dev/null || fusermount3 -u -z "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
    done < <(user_mounts)
  fi
  rm -f "$host_fifo" "$tool_fifo"
}
trap cleanup EXIT

# Ctrl-C, SIGTERM and SIGHUP while the application runs ask it to quit as its Quit menu item
# does; the script then waits for it as long as it asks about unsaved work. When the user keeps
# the work, the quit is over and the next request asks again; a Ctrl-C while it asks ends
# everything at once. Before the application runs, they end what has started.
app_pid=""
quit_asked=0
quit_log_offsets=()
app_logs() { printf '%s\n' "$HOME/Library/Logs/QuarnAI.log" "$logs/QuarnAI.log"; }
ask_quit() {
  local file
  quit_asked=1
  quit_log_offsets=()
  while IFS= read -r file; do quit_log_offsets+=("$(stat -c %s "$file" 2>/dev/null || echo 0)"); done < <(app_logs)
  say "asking QuarnAI to quit, as its Quit menu item does; waiting for it to end"
  say "  (it may ask about unsaved work in its windows; Ctrl-C again while it asks ends everything at once)"
  kill -TERM "$app_pid" 2>/dev/null || true
}
# Whether the application logged a line matching the pattern since it was asked to quit.
logged_since_ask() {
  local file i=0
  while IFS= read -r file; do
    if [ -f "$file" ] && tail -c +"$(( ${quit_log_offsets[$i]:-0} + 1 ))" "$file" 2>/dev/null | grep -qE "$1"; then
      return 0
    fi
    i=$((i + 1))
  done < <(app_logs)
  return 1
}
on_signal() {
  local signal="$1"
  printf '\n' 2>/dev/null || true
  if [ -z "$app_pid" ] || ! alive "$app_pid"; then
    say "ending what has started"
    [ "$signal" = INT ] && exit 130
    [ "$signal" = HUP ] && exit 129
    exit 143
  fi
  if [ "$quit_asked" -eq 0 ]; then
    ask_quit
  elif [ "$signal" = INT ]; then
    say "ending everything at once"
    at_once=1
    exit 130
  else
    say "QuarnAI was asked to quit already; waiting for it (Ctrl-C ends everything at once)"
  fi
}
trap 'on_signal INT' INT
trap 'on_signal TERM' TERM
trap 'on_signal HUP' HUP

# Waits until the file has a line matching the pattern, or the process ends.
wait_line() {
  local file="$1" pattern="$2" pid="$3" what="$4"
  for _ in $(seq 1 300); do
    if grep -qE "$pattern" "$file" 2>/dev/null; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      warn "$what ended before it was ready; see $file:"
      tail -n 5 "$file" >&2 2>/dev/null || true
      exit 1
    fi
    sleep 0.1
  done
  warn "$what did not get ready; see $file"
  exit 1
}

# The display: the current one, or a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  if ! command -v Xvfb >/dev/null; then
    warn "no DISPLAY and no Xvfb (bash scripts/install-deps.sh)"
    exit 1
  fi
  # Its own session: Ctrl-C reaches only this script, which stops the application first.
  fresh_log xvfb.log
  # The file goes first: the server's shell empties it only once it runs, and the previous run's
  # number must not be read meanwhile.
  rm -f "$logs/xvfb.display"
  (start_program Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp) 3>"$logs/xvfb.display" 2>"$logs/xvfb.log" &
  started $! Xvfb
  display_number=""
  for _ in $(seq 1 100); do
    display_number="$(head -n1 "$logs/xvfb.display" 2>/dev/null)"
    [[ "$display_number" =~ ^[0-9]+$ ]] && break
    sleep 0.05
  done
  if ! [[ "$display_number" =~ ^[0-9]+$ ]]; then warn "Xvfb did not start; see $logs/xvfb.log"; exit 1; fi
  export DISPLAY=":$display_number"
  say "no DISPLAY: running on the virtual display $DISPLAY (Xvfb, 1440 x 900); look at it with"
  say "  DISPLAY=$DISPLAY import -window root screen.png"
fi

# The session bus: the current one, or a private one.
# The daemon makes a session of its own, which the services it starts share; they end when it
# goes, as at the end of a desktop session.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  bus_info="$(trap - PIPE; exec dbus-daemon --session --fork --print-address=1 --print-pid=1)"
  DBUS_SESSION_BUS_ADDRESS="$(sed -n 1p <<<"$bus_info")"
  bus_started="$(sed -n 2p <<<"$bus_info")"
  export DBUS_SESSION_BUS_ADDRESS
  started "$bus_started" dbus-daemon
  say "no session bus: started a private one ($DBUS_SESSION_BUS_ADDRESS)"
fi

# The AI service: the stand-in unless another one is named.
if [ -z "${QUARN_AI_BASE_URL:-}" ]; then
  service_port="${QUARN_SERVICE_PORT:-8765}"
  fresh_log service.log
  read -r -a service_args <<<"${QUARN_SERVICE_ARGS:-}"
  (start_program "$bin/QuarnAIService" --port "$service_port" "${service_args[@]}") >"$logs/service.log" 2>&1 &
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
(start_program "$host_executable" --control "$host_fifo" --no-stdin) >"$logs/host.log" 2>&1 &
started $! QuarnHost
wait_line "$logs/host.log" '^ready ' "${pids[-1]}" "the host stand-in (is another host running on this bus?)"
fresh_log text-tool.log
(start_program "$bin/QuarnGetText" --control "$tool_fifo" --no-stdin) >"$logs/text-tool.log" 2>&1 &
started $! QuarnGetText
wait_line "$logs/text-tool.log" '^ready ' "${pids[-1]}" "the text-tool stand-in"

fresh_log QuarnAI.log
(start_program "$app_executable") >"$logs/QuarnAI.log" 2>&1 &
app_pid=$!
started "$app_pid" QuarnAI
# From here on without errexit: a command that a Ctrl-C interrupts (and whose trap asked the
# application to quit) must not end the script.
set +e

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

cat 2>/dev/null <<EOF || true
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
run: Ctrl-C asks QuarnAI to quit (as its Quit menu item does); Ctrl-C again while it asks ends everything at once.
EOF

# Watches the application until it ends; the signals' traps run between the short sleeps (a
# check that a signal interrupted is made again).
while alive "$app_pid" || alive "$app_pid"; do
  if [ "$quit_asked" -eq 1 ] && logged_since_ask "terminate cancelled"; then
    quit_asked=0
    say "QuarnAI goes on running: the quit was cancelled in its question (Ctrl-C asks again)"
  fi
  sleep 0.2
done
wait "$app_pid"
status=$?
say "QuarnAI ended (status $status)"
exit "$status"
