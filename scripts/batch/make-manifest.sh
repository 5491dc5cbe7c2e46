#!/usr/bin/env bash
# Lists the recordings (.zr, .zrx in any case) below a folder, NUL-separated and relative to it,
# without a leading "./", so that names with spaces or line feeds survive:
#   scripts/batch/make-manifest.sh ARCHIVE > manifest
set -euo pipefail
cd "${1:?usage: make-manifest.sh ARCHIVE}"
find . -type f \( -iname '*.zr' -o -iname '*.zrx' \) -printf '%P\0' | sort -z
