#!/usr/bin/env bash
# A 30-second clip from the middle of a one-hour recording against converting the whole hour,
# same compressor, wall-clock time of each, and the ratio. The clip finds its intra picture
# through the block index, so it should cost about its share of the hour (0.8 %) plus the
# opening of the recording; the goal is at most 2 %.
#
#   bench/convert/clip_time.sh [build-dir] [frames] [resolution-code] [codec]
#       defaults: build, 90000 (an hour at 25 frames a second), 0 (160x112), mpeg4
#
# The recording comes from zrgen (moving pattern, 440 Hz tone, an intra picture every 25 frames,
# blocks of 25 frames, its counter wrapping on the way). Everything runs under `nice -n 19`; the
# whole hour runs once, the clip three times and its best run counts.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
frames=${2:-90000}
code=${3:-0}
codec=${4:-mpeg4}
zrgen=$build/tools/zrgen/zrgen
zentrova=$build/src/cli/zentrova
for tool in "$zrgen" "$zentrova"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=1199923200  # 2008-01-10T00:00:00Z
nice -n 19 "$zrgen" --quiet -n "$frames" -r "$code" --start-time "$start" --create-tick 4294000000 \
  "$work/hour.zr" >/dev/null

now() { date +%s.%N; }
seconds_of() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

t0=$(now)
nice -n 19 "$zentrova" convert "$work/hour.zr" "$work/hour.avi" --codec "$codec" --no-srt -y >/dev/null
t1=$(now)
whole=$(seconds_of "$t0" "$t1")

# The middle of the recording, in UTC: 30 seconds from half its length on.
middle=$(( frames / 25 / 2 ))
from=$(date -u -d "@$((start + middle))" +%Y-%m-%dT%H:%M:%SZ)
to=$(date -u -d "@$((start + middle + 30))" +%Y-%m-%dT%H:%M:%SZ)
best=""
for run in 1 2 3; do
  t0=$(now)
  nice -n 19 "$zentrova" convert "$work/hour.zr" "$work/clip.avi" --codec "$codec" --no-srt -y \
    --from "$from" --to "$to" >/dev/null
  t1=$(now)
  s=$(seconds_of "$t0" "$t1")
  if [[ -z $best ]] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$s; fi
done
clipFrames=750

echo "recording: $frames frames, resolution code $code, codec $codec"
echo "whole:     $whole s"
echo "clip:      $best s (30 s from $from, $clipFrames frames; best of 3)"
awk -v c="$best" -v w="$whole" 'BEGIN { printf "ratio:     %.2f %% of the whole (goal: at most 2 %%)\n", 100 * c / w }'
