#!/usr/bin/env bash
# Plays songs with qplay, first installing (apt) and building whatever is missing.
#   play.sh                   the karaoke demo, examples/twinkle.kar
#   play.sh [qplay options] SOURCE...
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh play
if [ ! -f build/default/CMakeCache.txt ]; then
  cmake --preset default
fi
log=build/default/qplay-build.log
echo "building qplay (log: $log)"
if ! cmake --build --preset default --target qplay -j"$(nproc)" >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  exit 1
fi

[ $# -gt 0 ] || set -- examples/twinkle.kar
exec build/default/tools/qplay/qplay "$@"
