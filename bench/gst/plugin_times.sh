#!/usr/bin/env bash
# The GStreamer plugin's figures: pictures decoded per second on one core (704x576, the newer
# generation's 704x288 line-doubled), a flushing seek in a one-hour recording, and the thumbnail
# of that recording.
#   bench/gst/plugin_times.sh BUILD_DIR [FRAMES_OF_THE_DECODE_RUN]
set -euo pipefail
build=$(cd "$1" && pwd)
frames=${2:-1500}
work=${ZENTROVA_BENCH_RECORDINGS:-$(mktemp -d)}
mkdir -p "$work"
zrgen=$build/tools/zrgen/zrgen
plugin=$build/src/gst/libgstzentrova.so
export GST_PLUGIN_PATH=$build/src/gst
export GST_REGISTRY=$work/registry.bin

[ -e "$work/decode.zr" ] || "$zrgen" --quiet -r 133 --format-version 4096 -n "$frames" "$work/decode.zr" >/dev/null
# One hour at 25 pictures a second (352x288, an intra picture every 25, a tone): a minute of
# the moving pattern, its blocks chained sixty times over.
if [ ! -e "$work/hour.zr" ]; then
  "$zrgen" --quiet -r 130 -n 1500 "$work/minute.zr" >/dev/null
  python3 "$(dirname "$0")/repeat_recording.py" "$work/minute.zr" "$work/hour.zr" 60
fi

echo "decode: $frames pictures of 704x576 on one core"
for format in I420 BGR; do
  start=$(date +%s.%N)
  taskset -c 0 gst-launch-1.0 -q filesrc location="$work/decode.zr" ! zrdemux ! zrvideodec ! \
    video/x-raw,format=$format ! fakesink sync=false
  end=$(date +%s.%N)
  awk -v f="$frames" -v s="$start" -v e="$end" -v fmt="$format" \
    'BEGIN { t = e - s; printf "  %s: %.2f s, %.0f pictures/s, %.1f x real time\n", fmt, t, f / t, f / 25 / t }'
done

echo "one hour ($(du -h "$work/hour.zr" | cut -f1)):"
taskset -c 0 "$build/bench/gst/zentrova_gst_seek_times" "$plugin" "$work/hour.zr" | sed 's/^/  /'
for i in 1 2 3; do
  start=$(date +%s.%N)
  "$build/src/gst/zentrova-thumbnailer" -s 256 "$work/hour.zr" "$work/hour.png"
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "  thumbnail: %.1f ms\n", (e - s) * 1000 }'
done
