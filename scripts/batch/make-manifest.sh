#!/usr/bin/env bash
# Lists the recordings (.zr, .zrx in any case) below a folder, NUL-separated and relative to it,
# so that names with spaces or line feeds survive:
#   scripts/batch/make-manifest.sh ARCHIVE > manifest
set -euo pipefail
cd "${1:?usage: make-manifest.sh ARCHIVE}"
find . -type f \( -iname '*.zr' -o -iname '*.zrx' \) -print0 | sort -z
