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
# Both ways pages can be composited: in shared memory (what a display without direct rendering
# gets) and through GPU buffers (what one with it gets; here through a software GL if need be).
for rendering in software accelerated; do
  echo "== the application, $rendering compositing: hot key to first frame; memory, launch, CPU and idle against the floor"
  QUARN_WEB_RENDERING=$rendering cmake --build build-release --target bench_app_run
done
echo "== the application: memory per tool-window tab"
cmake --build build-release --target bench_tool_tabs_run
