#!/bin/sh
# Rate and quality of zrgen's encoder over quantisers: mean PSNR of the decoded pictures against
# the source and bytes per frame, on the built-in pattern (and on ffmpeg's testsrc2 when ffmpeg
# is installed). Usage: bench/zrgen/quality.sh [build-dir]
BUILD=${1:-build}
ZRGEN=$BUILD/tools/zrgen/zrgen
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
printf '%-10s %4s %12s %10s %10s %10s\n' source q bytes/frame "PSNR Y" "PSNR Cb" "PSNR Cr"
run() {
  label=$1; q=$2; shift 2
  "$ZRGEN" --quiet -r 130 -n 50 -q "$q" --idct plain --audio none "$@" "$OUT/q.zr" |
    awk -v label="$label" -v q="$q" '
      /video/ { bytes = $4 }
      /^PSNR/ { printf "%-10s %4d %12s %10s %10s %10s\n", label, q, bytes, $3, $8, $11 }'
}
for q in 2 4 6 8 12 16 24 31; do run pattern "$q"; done
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -t 2 -pix_fmt yuv420p -f rawvideo "$OUT/src.yuv"
  for q in 2 4 6 8 12 16 24 31; do run testsrc2 "$q" --video "$OUT/src.yuv"; done
fi
