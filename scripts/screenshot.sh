#!/usr/bin/env bash
# Takes docs/screenshot.png: runs the desktop application in a virtual X server (Xvfb), lets it
# convert a generated recording and saves the window while the frames are converted (the bar
# at about 40 percent with the time left, Cancel showing).
#   scripts/screenshot.sh [BUILD_DIR]    (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
gui="$build/src/app/zentrova-gui"
zrgen="$build/tools/zrgen/zrgen"

for tool in "$gui" "$zrgen"; do
  if [ ! -x "$tool" ]; then
    echo "screenshot: $tool is missing; build first (cmake --build --preset default)" >&2
    exit 1
  fi
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (package xvfb)" >&2; exit 1; }

# A fixed folder, so the names in the window read the same on every run, and settings of its own.
work=/tmp/zentrova-demo
rm -rf "$work"
mkdir -p "$work/config"
trap 'rm -rf "$work"' EXIT
# 60 s of the moving pattern at 704 x 576 (line-doubled), long enough to be caught mid-way.
"$zrgen" --quiet -r 131 --format-version 257 -n 1500 --rate 25 --intra-period 25 --audio tone "$work/cam1.zr"

XDG_CONFIG_HOME="$work/config" \
ZENTROVA_AUTORUN_INPUT="$work/cam1.zr" \
ZENTROVA_AUTORUN_OUTPUT="$work/cam1.avi" \
ZENTROVA_AUTORUN_CODEC=mpeg4 \
ZENTROVA_AUTORUN_SCREENSHOT="$root/docs/screenshot.png" \
ZENTROVA_AUTORUN_SCREENSHOT_AT=40 \
QT_QPA_PLATFORM=xcb \
  timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$gui"

[ -s "$root/docs/screenshot.png" ] || { echo "screenshot: no picture was written" >&2; exit 1; }
[ -s "$work/cam1.avi" ] || { echo "screenshot: the conversion wrote no AVI file" >&2; exit 1; }
echo "screenshot: wrote $root/docs/screenshot.png"
