#!/usr/bin/env bash
# Decode rate of our video decoder against ffmpeg's H.263 decoder on the same pictures.
#
# Both sides start from ffmpeg's testsrc2 pattern. Ours: the frames go through zrgen (the
# recorder's syntax, an intra picture every 25) and video_decode_rate decodes the recording to
# 24-bit pictures. ffmpeg's: the same frames encoded by ffmpeg's H.263 encoder (H.263+ for
# 704x288, which plain H.263 cannot code) at about the same bytes per frame, decoded with
# `ffmpeg -threads 1 -benchmark -i x.h263 -pix_fmt bgr24 -f null -`. Both rates are frames per
# second of processor time (ffmpeg's utime), so a busy machine hurts neither side more; each side
# runs three times and its best rate counts.
#
#   bench/video/compare_ffmpeg.sh [build-dir] [frames]      (defaults: build, 1000)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
frames=${2:-1000}
rate=25
zrgen=$build/tools/zrgen/zrgen
ours=$build/bench/video/video_decode_rate
for tool in "$zrgen" "$ours"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk -v f="$frames" -v r="$rate" 'BEGIN { printf "%.3f", f / r }')

# run_case NAME WIDTHxHEIGHT RESOLUTION_CODE VERSION FFMPEG_ENCODER
run_case() {
  local name=$1 size=$2 code=$3 version=$4 encoder=$5
  local zr=$work/$name.zr h263=$work/$name.h263

  ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=$rate" -t "$seconds" -pix_fmt yuv420p -f rawvideo - |
    "$zrgen" --quiet --video - -r "$code" --format-version "$version" -n "$frames" -q 8 -g 3 --intra-period 25 \
      --audio none --idct auto "$zr" >"$work/$name.zrgen.txt"
  local bytes
  bytes=$(sed -n 's/.*video \([0-9.]*\) bytes\/frame.*/\1/p' "$work/$name.zrgen.txt")
  local kbits
  kbits=$(awk -v b="$bytes" -v r="$rate" 'BEGIN { printf "%d", b * 8 * r / 1000 }')

  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$rate" -t "$seconds" -c:v "$encoder" \
    -b:v "${kbits}k" -maxrate "${kbits}k" -bufsize "$((kbits * 2))k" -g 25 -f h263 "$h263"
  local theirBytes
  theirBytes=$(awk -v s="$(stat -c %s "$h263")" -v f="$frames" 'BEGIN { printf "%.0f", s / f }')

  local ourFps=0 theirFps=0 run fps bench utime
  for run in 1 2 3; do
    fps=$("$ours" "$zr" 3 auto | tail -1 | awk '{ print $2 }')
    ourFps=$(awk -v a="$ourFps" -v b="$fps" 'BEGIN { print (b > a) ? b : a }')
    bench=$(ffmpeg -hide_banner -nostats -threads 1 -benchmark -i "$h263" -pix_fmt bgr24 -f null - 2>&1 | grep 'bench: utime')
    utime=$(sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p' <<<"$bench")
    fps=$(awk -v f="$frames" -v u="$utime" 'BEGIN { printf "%.1f", f / u }')
    theirFps=$(awk -v a="$theirFps" -v b="$fps" 'BEGIN { print (b > a) ? b : a }')
  done

  printf '%-22s ours %8.1f fps (%5.0f bytes/frame)   ffmpeg h263 %8.1f fps (%5.0f bytes/frame)   ratio %.2f\n' \
    "$name $size" "$ourFps" "$bytes" "$theirFps" "$theirBytes" "$(awk -v a="$ourFps" -v b="$theirFps" 'BEGIN { print a / b }')"
}

echo "frames per second of processor time, $frames frames of testsrc2, decoded to 24-bit pictures on one thread"
run_case older 352x288 130 257 h263
run_case newer 704x288 133 4096 h263p
