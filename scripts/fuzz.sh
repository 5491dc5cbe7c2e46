#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan, and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
if ! command -v clang++ >/dev/null; then
  apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZENTROVA_FUZZ=ON -DZENTROVA_SANITIZE=ON \
  -DZENTROVA_BUILD_GUI=OFF -DZENTROVA_BUILD_BENCH=OFF >/dev/null
# target -> seed folder under tests/fuzz/corpus
declare -A seeds_of=([fuzz_recording]=recording [fuzz_audio]=audio [fuzz_video_decoder]=video)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_recording fuzz_audio fuzz_video_decoder)
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/corpus/${seeds_of[$t]:-$name}
  echo "== $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=0 build-fuzz/tests/fuzz/$t -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
    "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | grep -E '^#[0-9]+.*(DONE|pulse)|ERROR|SUMMARY|Done' | tail -3
done
