#!/usr/bin/env bash
# Takes docs/screenshot.png: runs the desktop application in a virtual X server (Xvfb), lets it
# convert a small generated recording with the uncompressed compressor, and saves the window as
# it looks after "File saved!".
#   scripts/screenshot.sh [BUILD_DIR]    (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
gui="$build/src/app/zentrova-gui"
sample="$build/tools/zrsample"

for tool in "$gui" "$sample"; do
  if [ ! -x "$tool" ]; then
    echo "screenshot: $tool is missing; build first (cmake --build --preset default)" >&2
    exit 1
  fi
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (package xvfb)" >&2; exit 1; }

# A fixed folder, so the names in the log read the same on every run.
work=/tmp/zentrova-demo
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
"$sample" "$work/cam1.zr"

ZENTROVA_AUTORUN_INPUT="$work/cam1.zr" \
ZENTROVA_AUTORUN_OUTPUT="$work/cam1.avi" \
ZENTROVA_AUTORUN_CODEC=raw \
ZENTROVA_AUTORUN_SCREENSHOT="$root/docs/screenshot.png" \
QT_QPA_PLATFORM=xcb \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" "$gui"

[ -s "$root/docs/screenshot.png" ] || { echo "screenshot: no picture was written" >&2; exit 1; }
[ -s "$work/cam1.avi" ] || { echo "screenshot: the conversion wrote no AVI file" >&2; exit 1; }
echo "screenshot: wrote $root/docs/screenshot.png"
