#!/usr/bin/env bash
# Uncompressed writing through the AVI layer against dd copying the same bytes (an AVI file made
# before the timing starts, read from the page cache) into the same folder, both flushed to the
# disk at the end (sync FILE). dd copies a real file rather than reading /dev/zero because a
# virtual disk may treat blocks of zeros specially. The disk is shared and its speed wanders, so
# the two take turns going first, with a pause for the disk to settle, and the best and the
# median time of each count. Prints the rates and their ratios (above 1: the AVI layer was faster).
# Usage: bench/avi/throughput.sh [BUILD_DIR] [SCRATCH_DIR] [FRAMES] [ROUNDS]
set -euo pipefail
build=${1:-build}
scratch=${2:-/tmp}
frames=${3:-1500}  # 704 x 576 frames: about 1.8 GB
rounds=${4:-4}
source="$scratch/zentrova-throughput-source.avi"
avi="$scratch/zentrova-throughput.avi"
copy="$scratch/zentrova-throughput.dd"
trap 'rm -f "$source" "$avi" "$copy"' EXIT

now() { date +%s.%N; }
min() { awk "BEGIN{print ($1 == 0 || $2 < $1) ? $2 : $1}"; }
settle() { sync; sleep 5; }

read -r bytes _ < <("$build/bench/avi/avi_raw_write" "$source" "$frames")
cat "$source" >/dev/null  # into the page cache

best_avi=0
best_dd=0
all_avi=()
all_dd=()
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
time_avi() {
  settle
  local start t
  start=$(now)
  "$build/bench/avi/avi_raw_write" "$avi" "$frames" >/dev/null
  sync "$avi"
  t=$(awk "BEGIN{print $(now) - $start}")
  best_avi=$(min "$best_avi" "$t")
  all_avi+=("$t")
  rm -f "$avi"
  echo "  AVI layer: $t s"
}
time_dd() {
  settle
  local start t
  start=$(now)
  dd if="$source" of="$copy" bs=1M status=none
  sync "$copy"
  t=$(awk "BEGIN{print $(now) - $start}")
  best_dd=$(min "$best_dd" "$t")
  all_dd+=("$t")
  rm -f "$copy"
  echo "  dd copy:   $t s"
}

for ((r = 1; r <= rounds; r++)); do
  echo "round $r"
  if ((r % 2)); then time_avi; time_dd; else time_dd; time_avi; fi
done

avi_rate=$(awk "BEGIN{printf \"%.1f\", $bytes / $best_avi / 1048576}")
dd_rate=$(awk "BEGIN{printf \"%.1f\", $bytes / $best_dd / 1048576}")
echo "AVI layer (raw): $bytes bytes in $best_avi s = $avi_rate MiB/s"
echo "dd bs=1M copy:   $bytes bytes in $best_dd s = $dd_rate MiB/s"
echo "ratio AVI/dd (best times): $(awk "BEGIN{printf \"%.3f\", $avi_rate / $dd_rate}")"
med_avi=$(median "${all_avi[@]}")
med_dd=$(median "${all_dd[@]}")
echo "median times: AVI layer $med_avi s, dd $med_dd s; ratio AVI/dd (medians): $(awk "BEGIN{printf \"%.3f\", $med_dd / $med_avi}")"
