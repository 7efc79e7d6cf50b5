#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test:
#   1. the normal build (warnings as errors) and all its tests, end-to-end ones included;
#   2. clang-tidy on every translation unit (scripts/lint.sh --all), no finding allowed;
#   3. the sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) and the unit tests;
#   4. the fuzz targets (clang, libFuzzer), each for a short bounded time.
# Options: --quick runs only step 1. FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
jobs=$(nproc)

echo "== normal build"
cmake --preset ci >/dev/null
cmake --build build -j"$jobs"
echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs")

if [ "$quick" -eq 1 ]; then exit 0; fi

echo "== lint"
bash scripts/lint.sh --all

echo "== sanitizer build"
cmake --preset asan >/dev/null
cmake --build build-asan -j"$jobs"
echo "== unit tests under the sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" -L unit)

echo "== fuzz targets"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
echo "== all tests passed"
