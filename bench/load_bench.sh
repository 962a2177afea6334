#!/usr/bin/env bash
# Times the engine's whole-process load of the large generated song (qmid-dump --summary:
# start, load, count, exit) against midicsv parsing the same file, and reports peak memory.
# usage: bench/load_bench.sh [BUILD_DIR] [RUNS]   (default build/default, 5 runs)
set -euo pipefail
build=${1:-build/default}
runs=${2:-5}
song=$(mktemp --suffix=.mid)
trap 'rm -f "$song"' EXIT
"$build/bench/make-large-smf" "$song" >/dev/null

best() {  # best wall time and its peak RSS over $runs runs of the command
  local best_t=999 best_m=0 out t m
  for _ in $(seq "$runs"); do
    out=$( { /usr/bin/time -f "%e %M" "$@" >/dev/null; } 2>&1 | tail -n 1)
    t=${out% *}; m=${out#* }
    if awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; best_m=$m; fi
  done
  echo "$best_t $best_m"
}

read -r ours ours_kb < <(best "$build/tools/qmid-dump/qmid-dump" --summary "$song")
words=$("$build/tools/qmid-dump/qmid-dump" --summary "$song" | awk '/^eventWords/{print $2}')
size=$(stat -c %s "$song")
echo "song: $size bytes, event list $((words * 4)) bytes"
echo "qmid-dump --summary: ${ours} s, peak ${ours_kb} KB" \
     "($(awk "BEGIN{printf \"%.2f\", $ours_kb*1024/($size+$words*4)}") x (file + event list))"
if command -v midicsv >/dev/null; then
  read -r peer peer_kb < <(best midicsv "$song")
  echo "midicsv: ${peer} s, peak ${peer_kb} KB; qmid-dump is $(awk "BEGIN{printf \"%.2f\", $peer/$ours}") x faster"
fi
