#!/usr/bin/env bash
# Runs the GNU Parallel recipe (on this machine, -S :) and the Slurm array script (its tasks run
# one after the other, as Slurm would start them) over a handful of recordings and checks the
# JSON rows they collect.
#   batch_recipes_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
if ! command -v parallel >/dev/null; then
  echo "GNU Parallel is not installed (scripts/bootstrap.sh installs it)"
  exit 77
fi
export ZENTROVA=$build/src/cli/zentrova
zrgen=$build/tools/zrgen/zrgen
"$zrgen" --version | grep -q '^zrgen [0-9]' || { echo "zrgen --version does not print its version"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/archive/day 1" "$work/archive/day2/cam"
cd "$work/archive"
"$zrgen" --quiet -r 0 -n 10 "day 1/front door.zr" >/dev/null
"$zrgen" --quiet -r 0 -n 12 "day 1/yard.ZRX" >/dev/null
"$zrgen" --quiet -r 0 -n 8 "day2/cam/a.zr" >/dev/null
"$zrgen" --quiet -r 0 -n 9 "day2/cam/b.zr" >/dev/null
"$zrgen" --quiet -r 0 -n 7 "top.zr" >/dev/null
"$source/scripts/batch/make-manifest.sh" . > "$work/manifest"

check() {  # RESULTS OUTDIR EXPECTED_STATUS
  python3 - "$1" "$2" "$3" <<'PY'
import json, os, sys
rows = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
names = sorted(r["input"] for r in rows)
expected = sorted(["day 1/front door.zr", "day 1/yard.ZRX", "day2/cam/a.zr", "day2/cam/b.zr", "top.zr"])
assert names == expected, names
for r in rows:
    assert r["status"] == sys.argv[3], r
    assert r["framesWritten"] == r["framesDeclared"] > 0, r
    assert os.path.isfile(r["output"]), r
    assert r["output"].startswith(sys.argv[2] + "/"), r
print(f"{len(rows)} rows, all {sys.argv[3]}")
PY
}

# GNU Parallel on shared storage, then a rerun that skips everything.
"$source/scripts/batch/parallel-convert.sh" "$work/manifest" "$work/out" -S : -j 2 -- --codec mjpeg > "$work/rows.jsonl"
check "$work/rows.jsonl" "$work/out" ok
"$source/scripts/batch/parallel-convert.sh" "$work/manifest" "$work/out" -S : > "$work/again.jsonl"
check "$work/again.jsonl" "$work/out" skipped
# No shared storage: each recording goes to the host and its output comes back. The host is this
# machine behind an ssh stand-in whose "home folder" is a folder of its own.
if command -v rsync >/dev/null; then
  mkdir -p "$work/remote-home"
  FAKE_HOME="$work/remote-home" "$source/scripts/batch/parallel-convert.sh" "$work/manifest" out-transfer \
    --ssh "$source/tests/cli/fake-ssh" -S 1/elsewhere --transfer > "$work/transfer.jsonl"
  check "$work/transfer.jsonl" out-transfer ok
  for f in "./day 1/front door.avi" "./day 1/yard.avi" ./day2/cam/a.avi ./day2/cam/b.avi ./top.avi; do
    test -s "out-transfer/$f" || { echo "not returned: $f"; exit 1; }
    test -s "out-transfer/${f%.avi}.srt" || { echo "not returned: ${f%.avi}.srt"; exit 1; }
  done
  leftover=$(find "$work/remote-home" -type f | wc -l)
  [ "$leftover" = 0 ] || { echo "$leftover files left on the host"; exit 1; }
else
  echo "rsync is not installed: the transfer recipe is not run (scripts/bootstrap.sh installs it)"
fi

# The Slurm array script, three tasks.
for task in 0 1 2; do
  SLURM_ARRAY_TASK_ID=$task SLURM_ARRAY_TASK_COUNT=3 \
    bash "$source/scripts/batch/slurm-convert.sbatch" "$work/manifest" "$work/slurm-out" "$work/results"
done
cat "$work"/results/task-*.jsonl > "$work/slurm.jsonl"
check "$work/slurm.jsonl" "$work/slurm-out" ok
echo "batch recipes: 4 runs checked"
