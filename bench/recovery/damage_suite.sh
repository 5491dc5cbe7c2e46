#!/bin/bash
# The damage suite: natural recordings damaged the way recorders and disks do (zrgen damage, the
# truth known frame by frame), converted, and scored against the conversions of the originals.
# Measures --recover when the build has it, else the plain conversion (today's baseline).
#
# Usage: bench/recovery/damage_suite.sh            (from the source tree, after a build)
# Env:   ZENTROVA (default build/src/cli/zentrova), ZRGEN (default build/tools/zrgen/zrgen),
#        KEEP=1 keeps the work folder and names it,
#        HINTS=1 adds to each case the options its scan asks for where the bytes cannot tell
#        (the user's knowledge of the recorder), and scores that as its own mode.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
ZENTROVA=${ZENTROVA:-$ROOT/build/src/cli/zentrova}
ZRGEN=${ZRGEN:-$ROOT/build/tools/zrgen/zrgen}
PYTHON=${PYTHON:-/usr/bin/python3}
for tool in "$ZENTROVA" "$ZRGEN"; do
  [ -x "$tool" ] || { echo "damage_suite: $tool not found (build first, or set ZENTROVA / ZRGEN)" >&2; exit 2; }
done
for tool in ffmpeg ffprobe "$PYTHON"; do
  command -v "$tool" >/dev/null || { echo "damage_suite: $tool is needed" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/damage-suite.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then echo "work folder: $WORK" >&2; else trap 'rm -rf "$WORK"' EXIT; fi
mkdir -p "$WORK/orig" "$WORK/cases"

if "$ZENTROVA" convert --help 2>&1 | grep -q -- '--recover'; then MODE=recover; else MODE=plain; fi
[ "${HINTS:-0}" = 1 ] && [ "$MODE" = recover ] && MODE=recover-with-hints

# 1. Natural recordings: both generations, a few sizes, sound, an intra picture every 25 or 50
# frames, blocks of 25 frames, a few hundred frames each.
#    name  code version frames intra-period
ORIGINALS=(
  "a352  130 257  300 25"
  "b160  0   257  250 50"
  "c240  1   257  200 25"
  "d352n 132 4096 275 50"
  "e320n 4   4096 225 25"
)
for spec in "${ORIGINALS[@]}"; do
  read -r name code version frames period <<<"$spec"
  "$ZRGEN" --quiet -r "$code" --format-version "$version" -n "$frames" --intra-period "$period" \
    --frames-per-block 25 --idct plain --audio tone --start-time 1700000000 \
    --text1 "suite $name" "$WORK/orig/$name.zr" >/dev/null &
done
wait
for spec in "${ORIGINALS[@]}"; do
  read -r name _ <<<"$spec"
  [ -s "$WORK/orig/$name.zr" ] || { echo "damage_suite: zrgen did not write $name" >&2; exit 2; }
  "$ZENTROVA" convert "$WORK/orig/$name.zr" "$WORK/orig/$name.avi" --codec raw --idct plain -y \
    >/dev/null 2>&1 || { echo "damage_suite: the original $name does not convert" >&2; exit 2; }
done

# 2. Damaged cases: every class, several seeds.
#    case class seed inputs...
CASES=(
  "pl1  power-loss       1 a352"
  "pl2  power-loss       2 d352n"
  "pl3  power-loss       3 e320n"
  "pl4  power-loss       4 b160"
  "bb1  bad-sector-block 1 a352"
  "bb2  bad-sector-block 2 b160"
  "bb3  bad-sector-block 3 d352n"
  "bf1  bad-sector-frame 1 a352"
  "bf2  bad-sector-frame 2 c240"
  "bf3  bad-sector-frame 3 e320n"
  "bv1  bad-sector-video 1 a352"
  "bv2  bad-sector-video 2 d352n"
  "bv3  bad-sector-video 3 b160"
  "lh1  lost-header      1 a352"
  "lh2  lost-header      2 c240"
  "lh3  lost-header      3 d352n"
  "tr1  truncated        1 b160"
  "tr2  truncated        2 e320n"
  "cc1  concatenated     1 a352 b160"
  "cc2  concatenated     2 d352n c240"
  "di1  disk-image       1 a352"
  "di2  disk-image       2 b160 e320n"
  "di3  disk-image       3 c240"
  "di4  disk-image       4 d352n a352 e320n"
)
# What a user adds when the scan says it guessed: a headless newer-generation 352x288 recording
# codes its pictures at 176x144, a size the older generation records too, and nothing in the
# bytes tells the two apart.
declare -A HINT=([lh3]="--generation newer")
for spec in "${CASES[@]}"; do
  read -r name class seed inputs <<<"$spec"
  args=()
  for input in $inputs; do args+=("$WORK/orig/$input.zr"); done
  "$ZRGEN" damage "$class" "$WORK/cases/$name.zr" "${args[@]}" --seed "$seed" --image-mb 8 >/dev/null
done

# 3. Convert each damaged file; one job at a time per core.
convert_case() {
  local name=$1 status=0
  local flags=()
  [ "$MODE" != plain ] && flags=(--recover)
  # shellcheck disable=SC2206
  [ "$MODE" = recover-with-hints ] && flags+=(${HINT[$name]:-})
  timeout 120 "$ZENTROVA" convert "${flags[@]}" "$WORK/cases/$name.zr" "$WORK/cases/$name.avi" \
    --codec raw --idct plain -y >"$WORK/cases/$name.log" 2>&1 || status=$?
  echo "$status" >"$WORK/cases/$name.status"
}
running=0
for spec in "${CASES[@]}"; do
  read -r name _ <<<"$spec"
  convert_case "$name" &
  running=$((running + 1))
  if [ "$running" -ge 2 ]; then wait -n; running=$((running - 1)); fi
done
wait

# 4. Score.
printf '%s\n' "${CASES[@]}" >"$WORK/cases.txt"
"$PYTHON" "$HERE/score_recovery.py" "$WORK" "$MODE"
