#!/usr/bin/env bash
# Peak resident memory of a conversion with the default compressor, for recordings of growing
# length: it should stay flat (nothing kept per frame).
#
# The recordings are zrgen's built-in moving pattern with a tone, newer generation 704x288
# (converted to 704x576), one block per 25 frames. The peak is GNU time's maximum resident set
# size of `zentrova convert`.
#
#   bench/convert/peak_memory.sh [build-dir] [frame counts]   (defaults: build, "1000 10000 100000")
#   ZENTROVA_BENCH_RECORDINGS=DIR ...   keep the recordings in DIR and reuse them on the next run
#   ZENTROVA_BENCH_ZENTROVA=PATH ...    measure another build's zentrova (an earlier one, say)
#   ZENTROVA_BENCH_THREADS=N ...        convert with --threads N (16 on two cores: the memory of a
#                                       16-core machine's conversion, at two cores' speed)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
counts=${2:-"1000 10000 100000"}
zrgen=$build/tools/zrgen/zrgen
zentrova=${ZENTROVA_BENCH_ZENTROVA:-$build/src/cli/zentrova}
threads=()
if [[ -n ${ZENTROVA_BENCH_THREADS:-} ]]; then threads=(--threads "$ZENTROVA_BENCH_THREADS"); fi
for tool in "$zrgen" "$zentrova"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
recordings=${ZENTROVA_BENCH_RECORDINGS:-$work}
mkdir -p "$recordings"

echo "peak resident memory of zentrova convert (default compressor, 704x288 newer generation -> 704x576, threads: ${ZENTROVA_BENCH_THREADS:-default})"
for n in $counts; do
  rec=$recordings/memory-$n.zr
  [[ -s $rec ]] || nice -n 19 "$zrgen" --quiet -r 133 --format-version 4096 -n "$n" --audio tone "$rec" >/dev/null
  nice -n 19 /usr/bin/time -f '%M %e' -o "$work/time.txt" "$zentrova" convert -y "${threads[@]}" "$rec" "$work/out.avi" \
    >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; exit 1; }
  read -r kb secs <"$work/time.txt"
  printf '%7d frames: peak %6.1f MB   (%s s, output %s MB)\n' "$n" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" \
    "$secs" "$(awk -v s="$(stat -c %s "$work/out.avi")" 'BEGIN { printf "%.0f", s / 1048576 }')"
  rm -f "$work/out.avi"
done
