#!/usr/bin/env bash
# Builds the benchmarks in the release build and runs them all; each prints its figures and its
# ratio against a reference measured in the same run. Extra arguments go to every benchmark
# (e.g. --benchmark_filter=Settings).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build build-release -j"$(nproc)" --target bench_all
for bench in build-release/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
echo "== the application: hot key to first frame; memory, launch, CPU and idle against the floor"
cmake --build build-release --target bench_app_run
echo "== the application: memory per tool-window tab"
cmake --build build-release --target bench_tool_tabs_run
