#!/usr/bin/env bash
# Whole conversions against ffmpeg doing the same job, wall-clock rate, both using what cores
# they like (ffmpeg with its default threads).
#
# Both sides start from ffmpeg's testsrc2 pattern. Ours: the frames go through zrgen (the
# recorder's syntax with a 440 Hz tone, an intra picture every 25) and `zentrova convert` turns
# the recording into an AVI file. ffmpeg's: the same frames coded by ffmpeg's H.263 encoder at
# about the same bytes per frame (the `same.h263` of each case), then
#
#   mpeg4    704x576: ffmpeg -i same.h263 -vf scale=704:576:flags=neighbor -c:v mpeg4 -q:v 5
#                     -vtag XVID -c:a pcm_s16le out.avi              (ours: the default, mpeg4 q 90)
#   h264     704x576: ... -c:v libx264 -crf 18 -preset faster -tune zerolatency -bf 0 -g 50
#                     (ours: --codec h264 --quality 90, which maps to CRF 18 with those settings)
#   raw      352x288: ffmpeg -i same.h263 -c:v rawvideo -pix_fmt bgr24 -f avi /dev/null
#   raw      704x576: the same with the scale filter; ours writes to /dev/null through a symlink
#                     named *.avi
#
# The 704x576 cases start from a newer-generation recording (704x288, coded 352x288, enlarged and
# line-doubled by the conversion; ffmpeg gets the 352x288 H.263 and scales it to 704x576), the
# 352x288 case from an older-generation one. Ours also decodes the G.726 sound and writes it;
# ffmpeg has no sound to do. The machine is shared, so the two sides take turns, three times, and
# each side's best run counts, and the median beside it. Everything runs under `nice -n 19`.
#
#   bench/convert/compare_ffmpeg.sh [build-dir] [frames] [cases]
#       defaults: build, 1500, "mpeg4 h264 raw352 raw704"
#   ZENTROVA_BENCH_CPUS=0 bench/convert/compare_ffmpeg.sh ...   # both sides on one core (taskset)
#   ZENTROVA_BENCH_ZENTROVA=PATH ...                           # another build's zentrova (an earlier one)
#   ZENTROVA_BENCH_INTRA=50 ...          # an intra picture every 50 frames (both sides; default 25)
#   ZENTROVA_BENCH_FFMPEG_THREADS=1 ...  # ffmpeg decodes and encodes on one thread (-threads 1)
#   ZENTROVA_BENCH_THREADS=N ...         # ours with --threads N (default: its own choice)
#   ZENTROVA_BENCH_RUNS=N ...            # N turns of each side (default 3)
#   ZENTROVA_BENCH_ONE_THREAD=1 ...      # ours with --threads 1 too, taking turns with the others:
#                                        # what the threads give on this machine, in the same run
#   ZENTROVA_BENCH_PAIR=1 ...            # ours on one core (taskset -c 0), and two such conversions
#                                        # at once, one on each of cores 0 and 1: what two cores
#                                        # give work that shares nothing, the most any threads can
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
frames=${2:-1500}
cases=${3:-"mpeg4 h264 raw352 raw704"}
rate=25
intra=${ZENTROVA_BENCH_INTRA:-25}
ffthreads=()
if [[ -n ${ZENTROVA_BENCH_FFMPEG_THREADS:-} ]]; then ffthreads=(-threads "$ZENTROVA_BENCH_FFMPEG_THREADS"); fi
ourthreads=()
if [[ -n ${ZENTROVA_BENCH_THREADS:-} ]]; then ourthreads=(--threads "$ZENTROVA_BENCH_THREADS"); fi
zrgen=$build/tools/zrgen/zrgen
zentrova=${ZENTROVA_BENCH_ZENTROVA:-$build/src/cli/zentrova}
for tool in "$zrgen" "$zentrova"; do
  [[ -x $tool ]] || { echo "missing $tool: build the default preset first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

pin=()
if [[ -n ${ZENTROVA_BENCH_CPUS:-} ]]; then pin=(taskset -c "$ZENTROVA_BENCH_CPUS"); fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk -v f="$frames" -v r="$rate" 'BEGIN { printf "%.3f", f / r }')
ln -s /dev/null "$work/null.avi"

# make_recording NAME ZR_SIZE CODE VERSION CODED_SIZE: NAME.zr and NAME.h263 (CODED_SIZE pictures)
make_recording() {
  local name=$1 size=$2 code=$3 version=$4 coded=$5
  ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=$rate" -t "$seconds" -pix_fmt yuv420p -f rawvideo - |
    "$zrgen" --quiet --video - -r "$code" --format-version "$version" -n "$frames" -q 8 -g 3 --intra-period "$intra" \
      --audio tone "$work/$name.zr" >"$work/$name.zrgen.txt"
  local bytes kbits
  bytes=$(sed -n 's/.*video \([0-9.]*\) bytes\/frame.*/\1/p' "$work/$name.zrgen.txt")
  kbits=$(awk -v b="$bytes" -v r="$rate" 'BEGIN { printf "%d", b * 8 * r / 1000 }')
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$coded:rate=$rate" -t "$seconds" -c:v h263 \
    -b:v "${kbits}k" -maxrate "${kbits}k" -bufsize "$((kbits * 2))k" -g "$intra" -f h263 "$work/$name.h263"
  printf '%-6s %s: ours %.0f bytes/frame, ffmpeg h263 %.0f bytes/frame\n' "$name" "$size" "$bytes" \
    "$(awk -v s="$(stat -c %s "$work/$name.h263")" -v f="$frames" 'BEGIN { print s / f }')"
}

# wall SECONDS of a command (its output thrown away); fails when the command fails
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  nice -n 19 "${pin[@]}" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }'
}

runs=${ZENTROVA_BENCH_RUNS:-3}
oneThread=${ZENTROVA_BENCH_ONE_THREAD:-}
pair=${ZENTROVA_BENCH_PAIR:-}

# wall SECONDS until two conversions, one on core 0 and one on core 1, have both ended
wall_pair() {
  local t0 t1 first second
  t0=$(date +%s.%N)
  nice -n 19 taskset -c 0 "$@" "$work/first.avi" >/dev/null 2>"$work/stderr.txt" &
  first=$!
  nice -n 19 taskset -c 1 "$@" "$work/second.avi" >/dev/null 2>"$work/stderr2.txt" &
  second=$!
  wait "$first" || { cat "$work/stderr.txt" >&2; return 1; }
  wait "$second" || { cat "$work/stderr2.txt" >&2; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }'
}

# best and median of the times given: "BEST MEDIAN"
best_median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END {
  m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; print t[1], m }'; }

# rate LABEL TIMES...: "LABEL best fps (median fps)"
rate() {
  local label=$1
  shift
  read -r b m < <(best_median "$@")
  awk -v l="$label" -v f="$frames" -v b="$b" -v m="$m" 'BEGIN { printf "%s %7.1f fps (median %7.1f)", l, f / b, f / m }'
}

# ratio A_TIMES B_TIMES: how many times faster A is than B, best against best (median against median)
ratio() {
  local a b
  read -r -a a <<<"$(best_median $1)"
  read -r -a b <<<"$(best_median $2)"
  awk -v ab="${a[0]}" -v am="${a[1]}" -v bb="${b[0]}" -v bm="${b[1]}" 'BEGIN { printf "%.2f (median %.2f)", bb / ab, bm / am }'
}

# run_case LABEL RECORDING OURS_OUTPUT "OUR OPTIONS" "FFMPEG OPTIONS..."
run_case() {
  local label=$1 rec=$2 out=$3 ourOptions=$4 theirOptions=$5
  local ours=() theirs=() one=() core=() pairs=() run
  rm -f "$work/first.avi" "$work/second.avi"
  if [[ -L $out ]]; then ln -s /dev/null "$work/first.avi" && ln -s /dev/null "$work/second.avi"; fi
  for ((run = 1; run <= runs; ++run)); do
    # shellcheck disable=SC2086
    ours+=("$(wall "$zentrova" convert -y "${ourthreads[@]}" $ourOptions "$work/$rec.zr" "$out")")
    # shellcheck disable=SC2086
    theirs+=("$(wall ffmpeg -nostdin -hide_banner -v error -y "${ffthreads[@]}" -i "$work/$rec.h263" "${ffthreads[@]}" $theirOptions)")
    if [[ -n $oneThread ]]; then
      # shellcheck disable=SC2086
      one+=("$(wall "$zentrova" convert -y --threads 1 $ourOptions "$work/$rec.zr" "$out")")
    fi
    if [[ -n $pair ]]; then
      # shellcheck disable=SC2086
      core+=("$(wall taskset -c 0 "$zentrova" convert -y $ourOptions "$work/$rec.zr" "$out")")
      # shellcheck disable=SC2086
      pairs+=("$(wall_pair "$zentrova" convert -y $ourOptions "$work/$rec.zr")")
    fi
  done
  printf '%-34s %s   %s   ratio %s\n' "$label" "$(rate ours "${ours[@]}")" "$(rate ffmpeg "${theirs[@]}")" \
    "$(ratio "${ours[*]}" "${theirs[*]}")"
  if [[ -n $oneThread ]]; then
    printf '%-34s %s   threads give %s\n' "" "$(rate "ours --threads 1" "${one[@]}")" "$(ratio "${ours[*]}" "${one[*]}")"
  fi
  if [[ -n $pair ]]; then
    # Two conversions in the time `pairs` take as much as one in the time `core` takes: the
    # machine's own rate on two cores against one, for work with nothing to share or wait for.
    local halves=() t
    for t in "${pairs[@]}"; do halves+=("$(awk -v t="$t" 'BEGIN { printf "%.4f", t / 2 }')"); done
    printf '%-34s %s   two cores give %s; two one-core conversions at once give %s\n' "" \
      "$(rate "ours on one core" "${core[@]}")" "$(ratio "${ours[*]}" "${core[*]}")" "$(ratio "${halves[*]}" "${core[*]}")"
  fi
}

echo "frames per second of wall-clock time, $frames frames of testsrc2, best of $runs (cpus: ${ZENTROVA_BENCH_CPUS:-all}, intra every $intra, ffmpeg threads: ${ZENTROVA_BENCH_FFMPEG_THREADS:-default}, ours: ${ZENTROVA_BENCH_THREADS:-default})"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
trap 'echo "load average at the end: $(cut -d" " -f1-3 /proc/loadavg)"; rm -rf "$work"' EXIT
need704=0 need352=0
for c in $cases; do
  case $c in
    mpeg4 | h264 | raw704) need704=1 ;;
    raw352) need352=1 ;;
  esac
done
[[ $need704 == 1 ]] && make_recording newer 704x288 133 4096 352x288
[[ $need352 == 1 ]] && make_recording older 352x288 130 257 352x288

for c in $cases; do
  case $c in
    mpeg4)
      run_case "mpeg4 q5 704x576 (default)" newer "$work/out.avi" "" \
        "-vf scale=704:576:flags=neighbor -c:v mpeg4 -q:v 5 -vtag XVID -c:a pcm_s16le $work/ff.avi" ;;
    h264)
      run_case "h264 crf18 704x576" newer "$work/out.avi" "--codec h264 --quality 90" \
        "-vf scale=704:576:flags=neighbor -c:v libx264 -crf 18 -preset faster -tune zerolatency -bf 0 -g 50 $work/ff.avi" ;;
    raw352)
      run_case "raw bgr24 352x288 to /dev/null" older "$work/null.avi" "--codec raw" \
        "-c:v rawvideo -pix_fmt bgr24 -f avi /dev/null" ;;
    raw704)
      run_case "raw bgr24 704x576 to /dev/null" newer "$work/null.avi" "--codec raw" \
        "-vf scale=704:576:flags=neighbor -c:v rawvideo -pix_fmt bgr24 -f avi /dev/null" ;;
    *) echo "unknown case $c" >&2; exit 2 ;;
  esac
done
