#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds, default 20),
# starting from its seed corpus in fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all

status=0
for target in build-fuzz/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  seeds=()
  if [ -d "fuzz/corpus/$name" ]; then seeds+=("fuzz/corpus/$name"); fi
  echo "-- $name for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -print_final_stats=0 "$work" "${seeds[@]}" >"build-fuzz/$name.log" 2>&1; then
    echo "!! $name found a fault:"; tail -n 60 "build-fuzz/$name.log"; status=1
  else
    grep -E '^#[0-9]+.*(DONE|pulse)' "build-fuzz/$name.log" | tail -n 1 || true
  fi
done
exit $status
