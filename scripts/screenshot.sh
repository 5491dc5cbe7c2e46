#!/usr/bin/env bash
# Takes the pictures of the desktop application in docs/: runs it in a virtual X server (Xvfb),
# lets it convert generated recordings and saves the window: screenshot.png at the default size
# while the frames are converted (the bar at about 40 percent with the time left, Cancel showing),
# screenshot-maximized.png the same maximized, screenshot-queue.png after a queue of three.
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

# run NAME [VARIABLE=VALUE...]: one run of the application, its picture saved as docs/NAME.
run() {
  local name="$1"
  shift
  rm -rf "$work/config"
  mkdir -p "$work/config"
  env XDG_CONFIG_HOME="$work/config" ZENTROVA_AUTORUN_CODEC=mpeg4 \
    ZENTROVA_AUTORUN_SCREENSHOT="$root/docs/$name" QT_QPA_PLATFORM=xcb "$@" \
    timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$gui"
  [ -s "$root/docs/$name" ] || { echo "screenshot: no picture was written for $name" >&2; exit 1; }
  echo "screenshot: wrote $root/docs/$name"
}

run screenshot.png ZENTROVA_AUTORUN_INPUT="$work/cam1.zr" ZENTROVA_AUTORUN_OUTPUT="$work/cam1.avi" \
  ZENTROVA_AUTORUN_SCREENSHOT_AT=40
[ -s "$work/cam1.avi" ] || { echo "screenshot: the conversion wrote no AVI file" >&2; exit 1; }
run screenshot-maximized.png ZENTROVA_AUTORUN_INPUT="$work/cam1.zr" ZENTROVA_AUTORUN_OUTPUT="$work/cam1.avi" \
  ZENTROVA_AUTORUN_SCREENSHOT_AT=40 ZENTROVA_AUTORUN_WINDOW=maximized

# Three short recordings converted one after another into one folder.
mkdir -p "$work/queue/out"
for cam in north south gate; do
  "$zrgen" --quiet -r 130 -n 100 --rate 25 --audio tone "$work/queue/$cam.zr"
done
run screenshot-queue.png ZENTROVA_AUTORUN_INPUT="$work/queue/north.zr:$work/queue/south.zr:$work/queue/gate.zr" \
  ZENTROVA_AUTORUN_OUTPUT="$work/queue/out/north.mkv"
