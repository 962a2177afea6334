#!/usr/bin/env bash
# A bounded fuzzing run of the MIDI file reader: the saved crash inputs first, then SECONDS of
# libFuzzer from the generated seeds. Builds nothing: build the fuzz preset first.
# FUZZ_BUILD_DIR (default build/fuzz) is the build directory that holds the fuzz targets.
# Exits non-zero on any crash and says where the crashing input was saved.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
build=${FUZZ_BUILD_DIR:-build/fuzz}

find_binary() {
  local found
  found=$(find "$build" -type f -name "$1" -perm -u+x 2>/dev/null | head -n 1)
  if [ -z "$found" ]; then
    echo "fuzz: $1 not found under $build (build the fuzz preset first)" >&2
    exit 2
  fi
  echo "$found"
}
fuzzer=$(find_binary midifile_fuzz)
seeder=$(find_binary make_fuzz_seeds)

seeds=$build/corpus-seeds
corpus=$build/corpus
artifacts=$build/artifacts
mkdir -p "$seeds" "$corpus" "$artifacts"
"$seeder" "$seeds"

# The reader's own error texts would flood the log: the target's standard error is closed,
# while libFuzzer and the sanitizers keep reporting.
common=(-close_fd_mask=2 -artifact_prefix="$artifacts/" -timeout=10 -rss_limit_mb=2048)

# One at a time, so that a failure names its input.
failed=0
for f in fuzz/regressions/*; do
  [ -f "$f" ] || continue
  if ! "$fuzzer" "${common[@]}" "$f" >/dev/null 2>"$build/regression.log"; then
    cat "$build/regression.log" >&2
    echo "fuzz: the saved crash input $f still crashes the reader" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1

echo "== fuzz: ${seconds} s from $seeds"
started=$build/.fuzz-started
touch "$started"
if ! "$fuzzer" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "$seeds"; then
  echo "fuzz: the reader crashed; the input was saved as:" >&2
  find "$artifacts" -type f -newer "$started" | sed 's/^/  /' >&2
  exit 1
fi
