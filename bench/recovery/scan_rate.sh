#!/bin/bash
# The scan of a disk image against `cat IMAGE > /dev/null` of the same cached file, in one run:
# an image of SIZE_MB megabytes (default 2048) of random and zero stretches with recordings laid
# among them, scanned by `zentrova recover --list` (which reads and reports, writing nothing).
# Prints each run, the median rates, the ratio scan/cat (goal: at least 0.8) and the scan's peak
# memory. Usage: bench/recovery/scan_rate.sh [SIZE_MB] [RUNS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
ZENTROVA=${ZENTROVA:-$ROOT/build/src/cli/zentrova}
ZRGEN=${ZRGEN:-$ROOT/build/tools/zrgen/zrgen}
SIZE_MB=${1:-2048}
RUNS=${2:-5}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/scan-rate.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$WORK"' EXIT

"$ZRGEN" "$WORK/a.zr" -n 750 -r 130 >/dev/null
"$ZRGEN" "$WORK/b.zr" -n 500 -r 133 --format-version 4096 >/dev/null
python3 - "$WORK/image" "$SIZE_MB" "$WORK/a.zr" "$WORK/b.zr" <<'PY'
import os, random, sys
path, size_mb, recordings = sys.argv[1], int(sys.argv[2]), [open(p, "rb").read() for p in sys.argv[3:]]
random.seed(1)
chunk = 16 << 20
noise = os.urandom(chunk)
placed = 0
with open(path, "wb") as out:
    written = 0
    while written < size_mb << 20:
        kind = random.random()
        if kind < 0.45:
            data = noise[random.randrange(1 << 20):][: random.randrange(1 << 20, chunk - (1 << 20))]
        elif kind < 0.9:
            data = bytes(random.randrange(1 << 20, 8 << 20))
        else:
            data = recordings[placed % len(recordings)]
            placed += 1
        pad = (-len(data)) % 4096
        out.write(data + bytes(pad))
        written += len(data) + pad
print(f"image: {written >> 20} MB, {placed} recordings placed", file=sys.stderr)
PY

cat "$WORK/image" >/dev/null  # into the page cache
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
cat_times=() scan_times=() peak=0
for run in $(seq "$RUNS"); do
  t=$( { /usr/bin/time -f "%e" cat "$WORK/image" >/dev/null; } 2>&1 | tail -1 )
  cat_times+=("$t")
  out=$( { /usr/bin/time -f "%e %M" "$ZENTROVA" recover --list --json "$WORK/image" >"$WORK/found.json"; } 2>&1 | tail -1 )
  scan_times+=("${out% *}")
  kb=${out#* }
  [ "$kb" -gt "$peak" ] && peak=$kb
  echo "run $run: cat ${t} s, scan ${out% *} s ($(wc -l <"$WORK/found.json") recordings found)"
done
cat_s=$(printf '%s\n' "${cat_times[@]}" | median)
scan_s=$(printf '%s\n' "${scan_times[@]}" | median)
awk -v mb="$SIZE_MB" -v c="$cat_s" -v s="$scan_s" -v peak="$peak" 'BEGIN {
  printf "cat:  median %.2f s, %.0f MB/s\n", c, mb / c
  printf "scan: median %.2f s, %.0f MB/s\n", s, mb / s
  printf "scan/cat rate: %.2f (goal >= 0.8); scan peak memory %.1f MB\n", c / s, peak / 1024 }'
