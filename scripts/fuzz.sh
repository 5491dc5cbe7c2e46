#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan, writes their seeds (zrgen's
# fixture gallery and stress streams, and the frames inside them) and runs each target in turn.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Targets: fuzz_recording fuzz_video_decoder fuzz_audio fuzz_conversion fuzz_avi_writer
# fuzz_command_line fuzz_scan fuzz_media_writer, each also as NAME_failing_alloc (allocations fail
# after N). Without targets all sixteen run.
# Environment: FUZZ_RUNS=N stops each target after N executions instead of the time;
# FUZZ_TIMEOUT (default 1) is the seconds one input may take: on a machine shared with busy
# neighbours a niced run can be starved that long, so long runs use more, and the script then
# replays the final corpus and prints the slowest input, which must stay under a second;
# FUZZ_JOBS (default 2) is the build's parallelism. Runs are niced. A finding lands in
# build-fuzz/findings/TARGET/ and makes the script exit 1; the grown corpus stays in
# build-fuzz/corpus/TARGET for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/bootstrap.sh  # clang and its libFuzzer runtime are among its packages
all=(fuzz_recording fuzz_video_decoder fuzz_audio fuzz_conversion fuzz_avi_writer fuzz_command_line fuzz_scan
     fuzz_media_writer)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "${all[@]}"; do targets+=("$t" "${t}_failing_alloc"); done
fi

# Warnings as errors are for the GCC builds; clang warns about other things.
ZENTROVA_WERROR=${FUZZ_WERROR:-0} cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZENTROVA_FUZZ=ON -DZENTROVA_SANITIZE=ON \
  -DZENTROVA_BUILD_GUI=OFF -DZENTROVA_BUILD_BENCH=OFF >/dev/null
nice -n 19 cmake --build build-fuzz -j "${FUZZ_JOBS:-2}" --target zrgen "${targets[@]}" >/dev/null

# Seeds: the gallery (fixtures and stress streams) as recordings, and the frames inside them in
# the shapes the decoder targets read.
seeds=build-fuzz/seeds
if [ ! -e "$seeds/stamp" ]; then
  rm -rf "$seeds"
  mkdir -p "$seeds/gallery" "$seeds/video" "$seeds/audio"
  ASAN_OPTIONS=detect_leaks=0 nice -n 19 build-fuzz/tools/zrgen/zrgen --gallery "$seeds/gallery" >/dev/null
  python3 - "$seeds" <<'PY'
import os, struct, sys
seeds = sys.argv[1]
for name in sorted(os.listdir(seeds + "/gallery")):
    if not name.endswith(".zr"):
        continue
    b = open(f"{seeds}/gallery/{name}", "rb").read()
    version = struct.unpack_from("<H", b, 2)[0]
    offset = struct.unpack_from("<I", b, 28)[0]
    videos, audios = [], []
    seen = set()
    while offset + 16 <= len(b) and offset not in seen:
        seen.add(offset)
        nxt, count = struct.unpack_from("<iH", b, offset + 4)
        p = offset + 16
        for _ in range(count):
            if p + 12 > len(b):
                break
            flags, vbytes = struct.unpack_from("<H2xI", b, p + 2)
            head = 16 if flags & 0x8000 else 12
            abytes = struct.unpack_from("<I", b, p + 12)[0] if flags & 0x8000 else 0
            if not flags & 1:
                videos.append(b[p + head:p + head + vbytes])
            audios.append(b[p + head + vbytes:p + head + vbytes + abytes])
            p += head + vbytes + abytes
        if nxt == -1 or nxt >= len(b):
            break
        offset = nxt
    newer = 1 if version == 4096 else 0
    stem = name[:-3]
    for transform in (0, 2):
        out = bytearray([newer | transform])
        for v in videos[:16]:
            out += struct.pack("<H", len(v)) + v
        open(f"{seeds}/video/{stem}-idct{transform >> 1}", "wb").write(out)
    data = b"".join(audios)[:6000]
    open(f"{seeds}/audio/{stem}", "wb").write(bytes([len(audios[0]) - 1 if audios and audios[0] else 2]) + data)
PY
  touch "$seeds/stamp"
fi
declare -A seeds_of=([recording]="tests/fuzz/corpus/recording tests/corpus/files $seeds/gallery"
                     [conversion]="tests/fuzz/corpus/recording tests/corpus/files $seeds/gallery"
                     [scan]="tests/fuzz/corpus/recording tests/corpus/files $seeds/gallery"
                     [video_decoder]="tests/fuzz/corpus/video $seeds/video"
                     [audio]="tests/fuzz/corpus/audio $seeds/audio"
                     [avi_writer]="tests/fuzz/corpus/avi"
                     [media_writer]="tests/fuzz/corpus/media"
                     [command_line]="tests/fuzz/corpus/command_line")

status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  name=${name%_failing_alloc}
  corpus=build-fuzz/corpus/$t
  findings=build-fuzz/findings/$t
  mkdir -p "$corpus" "$findings"
  limit=(-max_total_time="$seconds")
  if [ -n "${FUZZ_RUNS:-}" ]; then limit=(-runs="$FUZZ_RUNS"); fi
  echo "== $t (${FUZZ_RUNS:+$FUZZ_RUNS runs}${FUZZ_RUNS:-${seconds}s})"
  set +e
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    nice -n 19 build-fuzz/tests/fuzz/$t "${limit[@]}" -timeout="${FUZZ_TIMEOUT:-1}" -rss_limit_mb=512 -malloc_limit_mb=512 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" ${seeds_of[$name]} \
    >"build-fuzz/$t.log" 2>&1
  rc=$?
  set -e
  grep -E '^#[0-9]+ ' "build-fuzz/$t.log" | tail -1 || true
  grep -E '^Done ' "build-fuzz/$t.log" | tail -1 || true
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "build-fuzz/$t.log" | tr '\n' ' ' || true
  echo "corpus: $(ls "$corpus" | wc -l) files, $(du -sk "$corpus" | cut -f1) KB"
  if [ "${FUZZ_TIMEOUT:-1}" != 1 ] && [ $rc -eq 0 ]; then
    # Each input of the final corpus once, timed by libFuzzer itself.
    find "$corpus" -type f -print0 | xargs -0 -n 200 env ASAN_OPTIONS=detect_leaks=0 nice -n 19 \
      build-fuzz/tests/fuzz/$t 2>&1 | grep -E '^Executed .* in [0-9]+ ms' |
      sort -t' ' -k4 -n | tail -1 | sed 's/^Executed/slowest input:/'
  fi
  if [ $rc -ne 0 ]; then
    echo "!! $t failed (exit $rc); log build-fuzz/$t.log, input in $findings/"
    grep -E 'ERROR|SUMMARY|Test unit written' "build-fuzz/$t.log" | head -5
    status=1
  fi
done
exit $status
