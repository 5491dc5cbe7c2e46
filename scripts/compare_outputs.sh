#!/bin/sh
# Compares the conversions of two builds byte for byte: zrgen's gallery plus a recording of every
# resolution code of both codec generations, each converted raw and FFV1 with both inverse DCTs.
# AFTER_BUILD converts each also with its kernels lowered to every instruction-set level
# (ZENTROVA_CPU_MASK; a build that does not know the variable converts the same way each time).
# Any difference is printed and the exit status is 1.
#
#   scripts/compare_outputs.sh BEFORE_BUILD AFTER_BUILD [WORK_FOLDER]
#
# Each build folder holds src/cli/zentrova; the recordings come from AFTER_BUILD's
# tools/zrgen/zrgen, so both builds read the same files.
set -eu

before=${1:?usage: compare_outputs.sh BEFORE_BUILD AFTER_BUILD [WORK_FOLDER]}
after=${2:?usage: compare_outputs.sh BEFORE_BUILD AFTER_BUILD [WORK_FOLDER]}
work=${3:-$(mktemp -d)}
zrgen=$after/tools/zrgen/zrgen
mkdir -p "$work/recordings" "$work/before" "$work/after"

"$zrgen" --gallery "$work/recordings" >/dev/null
# The older generation is coded at the recording size (version 257); the newer one is coded
# smaller and enlarged by the decoder (version 4096).
for code in 0 1 2 3 128 129 130 131; do
  "$zrgen" --quiet -r "$code" --format-version 257 -n 12 "$work/recordings/code$code-older.zr" >/dev/null
done
for code in 4 5 132 133; do
  "$zrgen" --quiet -r "$code" --format-version 4096 -n 12 "$work/recordings/code$code-newer.zr" >/dev/null
done

compared=0
differing=0
for recording in "$work"/recordings/*.zr; do
  name=$(basename "$recording" .zr)
  for idct in plain vector; do
    for codec in raw ffv1; do
      out=$name-$idct-$codec.avi
      "$before/src/cli/zentrova" convert "$recording" -o "$work/before" --codec "$codec" --idct "$idct" -y -q \
        >/dev/null 2>&1 || true
      # The output takes the recording's name; keep each conversion under its own.
      mv "$work/before/$name.avi" "$work/before/$out" 2>/dev/null || true
      for mask in "" c sse2 ssse3 avx2; do
        ZENTROVA_CPU_MASK=$mask "$after/src/cli/zentrova" convert "$recording" -o "$work/after" --codec "$codec" \
          --idct "$idct" -y -q >/dev/null 2>&1 || true
        mv "$work/after/$name.avi" "$work/after/$out" 2>/dev/null || true
        compared=$((compared + 1))
        if [ ! -f "$work/before/$out" ] && [ ! -f "$work/after/$out" ]; then
          echo "neither build wrote $out"
          differing=$((differing + 1))
        elif ! cmp -s "$work/before/$out" "$work/after/$out"; then
          echo "differs: $out (kernels: ${mask:-all})"
          differing=$((differing + 1))
        fi
        rm -f "$work/after/$out"
      done
    done
  done
done
echo "$compared conversions compared, $differing differing ($(ls "$work/recordings" | wc -l) recordings in $work)"
[ "$differing" -eq 0 ]
