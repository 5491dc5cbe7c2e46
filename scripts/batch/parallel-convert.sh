#!/usr/bin/env bash
# Spreads the recordings of a manifest over machines with GNU Parallel. Every recording becomes
# `zentrova convert REC -o OUTDIR/<its folder> --json`; the JSON rows come back on standard output,
# one per recording, whole lines (Parallel groups each job's output).
#
#   cd ARCHIVE && parallel-convert.sh MANIFEST OUTDIR [PARALLEL OPTIONS...] [-- ZENTROVA OPTIONS...]
#
# MANIFEST: NUL-separated recording names relative to ARCHIVE, without "./" (make-manifest.sh
#   writes one; Parallel reads "/./" in a transferred path as a marker).
# Shared storage: ARCHIVE and OUTDIR at the same path on every host, e.g. `-S host1,host2`
#   or `--sshloginfile hosts` (`-S :` is this machine).
# No shared storage: add `--transfer`; each recording is copied to the host, converted there into
#   OUTDIR (relative to the remote home folder), the output and its NAME.srt returned and the
#   copies removed.
# ZENTROVA names the program on the hosts (default: zentrova on their PATH).
# Exit status: 0 when every recording converted, else the number that did not (Parallel's count,
# at most 101); the rows say which and why.
set -euo pipefail
manifest=${1:?usage: parallel-convert.sh MANIFEST OUTDIR [PARALLEL OPTIONS...] [-- ZENTROVA OPTIONS...]}
outdir=${2:?usage: parallel-convert.sh MANIFEST OUTDIR [PARALLEL OPTIONS...] [-- ZENTROVA OPTIONS...]}
shift 2
parallel_options=()
zentrova_options=()
transfer=0
while [ $# -gt 0 ]; do
  case $1 in
    --) shift; zentrova_options=("$@"); break ;;
    --transfer) transfer=1 ;;
    *) parallel_options+=("$1") ;;
  esac
  shift
done
zentrova=${ZENTROVA:-zentrova}
if [ "$transfer" = 1 ]; then
  # Parallel quotes each name for rsync, and rsync 3.2.4 and later quote it once more; with the
  # old argument handling a name with spaces stays one name.
  export RSYNC_OLD_ARGS=1
  # The output's clock times (NAME.srt beside it) come back with it.
  parallel_options+=(--transferfile {} --return "$outdir"/{.}.avi --return "$outdir"/{.}.srt --cleanup)
fi
# -q: Parallel quotes every word, so names with spaces reach zentrova as one argument.
parallel -0 -a "$manifest" -q "${parallel_options[@]}" \
  "$zentrova" convert {} -o "$outdir"/'{= s:[^/]*$:: =}' --json -q "${zentrova_options[@]}"
