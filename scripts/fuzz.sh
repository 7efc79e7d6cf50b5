#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (optimised, with debug information and the sanitizers)
# and runs each from its seed corpus in fuzz/corpus/<target>, keeping what it learns in
# build-fuzz/corpus/<target>.
#
#   scripts/fuzz.sh [SECONDS]                   every target for SECONDS (default 20), one process
#   scripts/fuzz.sh --total TIME [--jobs N]     a campaign: TIME (seconds, or with m/h) shared
#                                               equally by the targets, each on N processes
#                                               (default: all cores)
#   scripts/fuzz.sh ... --only NAME             only the targets whose name contains NAME
#
# Prints the inputs each target ran; exits 1 when a target found a fault (its log is shown;
# the input is saved as build-fuzz/crash-*).
set -euo pipefail
cd "$(dirname "$0")/.."

per_target=20
total=""
jobs=1
only=""
seconds_of() {
  case "$1" in
    *h) echo $(( ${1%h} * 3600 )) ;;
    *m) echo $(( ${1%m} * 60 )) ;;
    *s) echo "${1%s}" ;;
    *) echo "$1" ;;
  esac
}
while [ $# -gt 0 ]; do
  case "$1" in
    --total) total=$(seconds_of "$2"); jobs=$(nproc); shift 2 ;;
    --jobs) jobs_given="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) per_target=$(seconds_of "$1"); shift ;;
  esac
done
jobs="${jobs_given:-$jobs}"

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all

targets=()
for target in build-fuzz/bin/fuzz_*; do
  [ -x "$target" ] || continue
  case "$(basename "$target")" in *"$only"*) targets+=("$target") ;; esac
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz target matches \"$only\""; exit 1; }
if [ -n "$total" ]; then
  per_target=$(( total / ${#targets[@]} ))
  [ "$per_target" -ge 1 ] || per_target=1
fi

status=0
summary=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  work="build-fuzz/corpus/$name"
  log="build-fuzz/$name.log"
  mkdir -p "$work"
  seeds=()
  if [ -d "fuzz/corpus/$name" ]; then seeds+=("fuzz/corpus/$name/"); fi
  options=(-max_total_time="$per_target" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/)
  # More than one job: libFuzzer's fork mode, whose processes share one corpus.
  if [ "$jobs" -gt 1 ]; then options+=(-fork="$jobs" -ignore_crashes=0); fi
  echo "-- $name for ${per_target}s on $jobs process(es)"
  if ! ASAN_OPTIONS=detect_leaks=1 "$target" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
    echo "!! $name found a fault:"; tail -n 60 "$log"; status=1
  fi
  # Inputs run: the final statistics of one process, or the last total line of fork mode.
  if [ "$jobs" -gt 1 ]; then
    runs=$( (grep -oE '^#[0-9]+' "$log" || true) | tail -n 1 | tr -d '#')
  else
    runs=$( (grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" || true) | awk '{s += $2} END {print s + 0}')
  fi
  summary+=("$(printf '%-24s %12s inputs in %ss (%s/s)' "$name" "${runs:-0}" "$per_target" \
    "$(( ${runs:-0} / per_target ))")")
done
echo "-- inputs per target"
printf '%s\n' "${summary[@]}"
exit $status
