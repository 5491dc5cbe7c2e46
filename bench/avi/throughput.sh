#!/usr/bin/env bash
# Uncompressed writing through the AVI layer against dd writing the same number of bytes to the
# same folder, both flushed to the disk at the end. The disk is shared and its speed wanders, so
# the two alternate for a few rounds and the best time of each counts. Prints both rates and
# their ratio (above 1: the AVI layer was faster).
# Usage: bench/avi/throughput.sh [BUILD_DIR] [SCRATCH_DIR] [FRAMES] [ROUNDS]
set -euo pipefail
build=${1:-build}
scratch=${2:-/tmp}
frames=${3:-1500}  # 704 x 576 frames: about 1.8 GB
rounds=${4:-3}
avi="$scratch/zentrova-throughput.avi"
raw="$scratch/zentrova-throughput.dd"
trap 'rm -f "$avi" "$raw"' EXIT

now() { date +%s.%N; }
min() { awk "BEGIN{print ($1 == 0 || $2 < $1) ? $2 : $1}"; }

best_avi=0
best_dd=0
bytes=0
for ((r = 1; r <= rounds; r++)); do
  sync
  start=$(now)
  read -r bytes _ < <("$build/bench/avi/avi_raw_write" "$avi" "$frames")
  sync "$avi"
  t=$(awk "BEGIN{print $(now) - $start}")
  best_avi=$(min "$best_avi" "$t")
  rm -f "$avi"

  sync
  start=$(now)
  dd if=/dev/zero of="$raw" bs=1M count="$bytes" iflag=count_bytes conv=fsync status=none
  t=$(awk "BEGIN{print $(now) - $start}")
  best_dd=$(min "$best_dd" "$t")
  rm -f "$raw"
  echo "round $r: AVI layer $best_avi s, dd $best_dd s (best so far)"
done

avi_rate=$(awk "BEGIN{printf \"%.1f\", $bytes / $best_avi / 1048576}")
dd_rate=$(awk "BEGIN{printf \"%.1f\", $bytes / $best_dd / 1048576}")
echo "AVI layer (raw): $bytes bytes in $best_avi s = $avi_rate MiB/s"
echo "dd bs=1M:        $bytes bytes in $best_dd s = $dd_rate MiB/s"
echo "ratio AVI/dd: $(awk "BEGIN{printf \"%.3f\", $avi_rate / $dd_rate}")"
