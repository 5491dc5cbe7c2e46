#!/usr/bin/env bash
# Uncompressed writing through the AVI layer against dd (bs=1M) and cp writing the same bytes
# into the same folder. The peers copy an AVI file made before the timing starts and kept in
# memory (/dev/shm when there is one), so that they only write; they copy a real file rather
# than /dev/zero because a virtual disk may treat blocks of zeros specially. Every run ends with
# `sync FILE`, inside the timing. The disk is shared and its speed wanders, so the three take
# turns going first, with a pause for the disk to settle, and the best and the median time of
# each are reported, with their ratios (above 1: the AVI layer was faster).
# Usage: bench/avi/throughput.sh [BUILD_DIR] [SCRATCH_DIR] [FRAMES] [ROUNDS]
set -euo pipefail
build=${1:-build}
scratch=${2:-/tmp}
frames=${3:-1500}  # 704 x 576 frames: about 1.8 GB
rounds=${4:-3}
memory=/dev/shm
[ -d "$memory" ] && [ -w "$memory" ] || memory=$scratch
source="$memory/zentrova-throughput-source.avi"
out="$scratch/zentrova-throughput.out"
trap 'rm -f "$source" "$out"' EXIT

read -r bytes _ < <("$build/bench/avi/avi_raw_write" "$source" "$frames")

run_avi() { "$build/bench/avi/avi_raw_write" "$out" "$frames" >/dev/null; }
run_dd() { dd if="$source" of="$out" bs=1M status=none; }
run_cp() { cp "$source" "$out"; }

declare -A times
timed() {  # NAME: runs run_NAME, flushes, records the seconds
  sync
  sleep 3
  local start end
  start=$(date +%s.%N)
  "run_$1"
  sync "$out"
  end=$(date +%s.%N)
  rm -f "$out"
  times[$1]+="$(awk "BEGIN{print $end - $start}") "
}

order=(avi dd cp)
for ((r = 0; r < rounds; r++)); do
  for ((k = 0; k < 3; k++)); do timed "${order[(r + k) % 3]}"; done
  echo "round $((r + 1)): avi ${times[avi]}| dd ${times[dd]}| cp ${times[cp]}"
done

best() { printf '%s\n' $1 | sort -g | head -n 1; }
median() { printf '%s\n' $1 | sort -g | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
echo "bytes written per run: $bytes"
for name in avi dd cp; do
  b=$(best "${times[$name]}")
  m=$(median "${times[$name]}")
  printf '%-3s best %7.3f s (%7.1f MiB/s)  median %7.3f s\n' "$name" "$b" "$(awk "BEGIN{print $bytes / $b / 1048576}")" "$m"
done
for peer in dd cp; do
  rb=$(awk "BEGIN{printf \"%.3f\", $(best "${times[$peer]}") / $(best "${times[avi]}")}")
  rm=$(awk "BEGIN{printf \"%.3f\", $(median "${times[$peer]}") / $(median "${times[avi]}")}")
  echo "ratio AVI layer / $peer speed: best $rb, median $rm"
done
