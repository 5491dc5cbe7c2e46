#!/usr/bin/env bash
# Converts a recording into an uncompressed AVI file of more than 4 GiB and checks with ffprobe
# that it is read to the last frame with the right frame count and audio length.
# Usage: bench/avi/large_file.sh [BUILD_DIR] [SCRATCH_DIR]   (needs about 9 GB free)
set -euo pipefail
build=${1:-build}
scratch=${2:-/tmp}
frames=3700   # 704 x 576 x 3 bytes each: 4.19 GiB of pictures
seconds=148   # 3700 / 148 + 1 = 26 frames per second
zr="$scratch/zentrova-large.zr"
avi="$scratch/zentrova-large.avi"
trap 'rm -f "$zr" "$avi"' EXIT

"$build/bench/avi/zr_long_recording" "$zr" 133 "$frames" "$seconds"
start=$(date +%s.%N)
"$build/src/cli/zentrova" convert "$zr" "$avi" --codec raw >/dev/null
end=$(date +%s.%N)
bytes=$(stat -c %s "$avi")
echo "converted $frames frames into $bytes bytes in $(awk "BEGIN{print $end - $start}") s"

read -r vpackets width height < <(ffprobe -v error -select_streams v:0 -count_packets \
  -show_entries stream=nb_read_packets,width,height -of csv=p=0 "$avi" | tr ',' ' ' | awk '{print $3, $1, $2}')
apackets=$(ffprobe -v error -select_streams a:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$avi")
samples=$(ffmpeg -v error -i "$avi" -map 0:a -f s16le - | wc -c)
samples=$((samples / 2))
last=$(ffmpeg -v error -i "$avi" -map 0:v -ss 142.2 -f rawvideo -pix_fmt bgr24 - | wc -c)
echo "ffprobe: video ${width}x${height}, $vpackets frames; audio $apackets chunks, $samples samples"
echo "decoded after 142.2 s: $((last / (704 * 576 * 3))) frames"
status=0
[ "$bytes" -gt $((4 * 1024 * 1024 * 1024)) ] || { echo "FAIL: file not over 4 GiB"; status=1; }
[ "$vpackets" -eq "$frames" ] || { echo "FAIL: expected $frames frames"; status=1; }
[ "$samples" -eq $((frames * 800)) ] || { echo "FAIL: expected $((frames * 800)) samples"; status=1; }
[ "$last" -gt 0 ] || { echo "FAIL: the end of the file does not decode"; status=1; }
[ $status -eq 0 ] && echo "OK"
exit $status
