#!/usr/bin/env bash
# How close the lossy compressors' output, as ffmpeg decodes it to 24-bit pictures, stays to the
# pictures of an uncompressed conversion of the same recording: mean PSNR over the clip
# (ffmpeg's psnr filter, all three colour bytes).
#
#   bench/convert/quality.sh [build-dir] [frames] [codecs]   (defaults: build, 100, "mpeg4 mjpeg h264")
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
frames=${2:-100}
codecs=${3:-"mpeg4 mjpeg h264"}
zrgen=$build/tools/zrgen/zrgen
zentrova=$build/src/cli/zentrova
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# case NAME CODE VERSION SIZE
run() {
  local name=$1 code=$2 version=$3 size=$4
  ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames" -pix_fmt yuv420p -f rawvideo - |
    "$zrgen" --quiet --video - -r "$code" --format-version "$version" -n "$frames" --audio none "$work/$name.zr" >/dev/null
  "$zentrova" convert -y --codec raw "$work/$name.zr" "$work/$name.raw.avi" >/dev/null
  for codec in $codecs; do
    "$zentrova" convert -y --codec "$codec" "$work/$name.zr" "$work/$name.$codec.avi" >/dev/null
    local psnr
    psnr=$(ffmpeg -nostdin -hide_banner -i "$work/$name.$codec.avi" -i "$work/$name.raw.avi" \
      -lavfi "[0:v]format=bgr24[a];[1:v]format=bgr24[b];[a][b]psnr" -f null - 2>&1 |
      sed -n 's/.*PSNR r:\([0-9.inf]*\) g:\([0-9.inf]*\) b:\([0-9.inf]*\) average:\([0-9.inf]*\).*/r \1 g \2 b \3 mean \4/p')
    printf '%-8s %-6s %s\n' "$name" "$codec" "$psnr"
  done
}

echo "mean PSNR (dB) against --codec raw, $frames frames of testsrc2"
run newer704 133 4096 704x288
run older352 130 257 352x288
