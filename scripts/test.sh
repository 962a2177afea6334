#!/usr/bin/env bash
# The whole test run: dependencies, the suite in a normal build, the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# then a bounded fuzzing run of the reader.
# FUZZ_SECONDS (default 60) bounds the fuzzing; 0 skips it.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
./scripts/install-deps.sh

for preset in default asan; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== tsan: the threaded tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -L threaded

fuzz_seconds=${FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzz: ${fuzz_seconds} s"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target midifile_fuzz make_fuzz_seeds
  ./scripts/fuzz.sh "$fuzz_seconds"
fi
