#!/bin/bash
# `zentrova hash` against a raw conversion of the same recording (to a file on the same disk),
# and `convert --report` against a plain conversion: the median of RUNS runs each, in seconds.
# Usage: bench/evidence/hash_rate.sh [FRAMES] [RUNS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
ZENTROVA=${ZENTROVA:-$ROOT/build/src/cli/zentrova}
ZRGEN=${ZRGEN:-$ROOT/build/tools/zrgen/zrgen}
FRAMES=${1:-750}
RUNS=${2:-5}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/hash-rate.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$WORK"' EXIT

"$ZRGEN" --quiet "$WORK/a.zr" -n "$FRAMES" -r 130 >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() {  # seconds of one run of the command
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
run() {  # NAME COMMAND...: the median of RUNS runs
  local name=$1
  shift
  local times=()
  for _ in $(seq "$RUNS"); do rm -f "$WORK"/out*; times+=("$(seconds "$@")"); done
  printf '%-28s %.3f s\n' "$name" "$(printf '%s\n' "${times[@]}" | median)"
}

echo "$FRAMES frames of 352x288, median of $RUNS runs"
run "hash" "$ZENTROVA" hash "$WORK/a.zr"
run "hash --format sha256" "$ZENTROVA" hash "$WORK/a.zr" --format sha256
run "convert --codec raw" "$ZENTROVA" convert "$WORK/a.zr" "$WORK/out.avi" --codec raw
run "convert --codec ffv1" "$ZENTROVA" convert "$WORK/a.zr" "$WORK/out.avi" --codec ffv1
run "convert --codec ffv1 --report" "$ZENTROVA" convert "$WORK/a.zr" "$WORK/out.avi" --codec ffv1 --report
"$ZENTROVA" convert "$WORK/a.zr" "$WORK/v.avi" --codec ffv1 >/dev/null 2>&1
run "verify (ffv1)" "$ZENTROVA" verify "$WORK/v.avi" "$WORK/a.zr"
