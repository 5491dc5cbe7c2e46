#!/usr/bin/env bash
# Measures a batch: 20 recordings of 10 s at 352x288 with sound (made by zrgen), converted with
# the default compressor at -j 1 and at -j 2; prints each run's summary and its times. The
# machine's load (uptime) comes first: on a shared machine it decides the figures.
#   scripts/batch/throughput.sh [BUILD_DIR] [RECORDINGS] [JOBS...]
set -euo pipefail
build=${1:-build}
count=${2:-20}
shift 2 || true
jobs=("$@")
[ ${#jobs[@]} -gt 0 ] || jobs=(1 2)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/archive/a" "$work/archive/b"
"$build/tools/zrgen/zrgen" --quiet -r 130 -n 250 --rate 25 "$work/first.zr" >/dev/null
for i in $(seq 1 "$count"); do
  cp "$work/first.zr" "$work/archive/$([ $((i % 2)) = 0 ] && echo a || echo b)/cam$i.zr"
done
echo "load: $(uptime)"
for j in "${jobs[@]}"; do
  echo "== zentrova convert archive -o out-j$j -j $j"
  /usr/bin/time -f "wall %e s, user %U s, sys %S s" \
    "$build/src/cli/zentrova" convert "$work/archive" -o "$work/out-j$j" -j "$j" 2>&1 | tail -3
done
