#!/usr/bin/env bash
# The bash completion against the built programs: commands, each command's options as its --help
# lists them, compressor names, and recordings for the arguments that take them.
#   check_completion.sh SCRIPT BIN_DIR...
set -euo pipefail

script=$1
shift
for dir in "$@"; do PATH="$dir:$PATH"; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub"
touch "$work/cam1.zr" "$work/cam2.zrx" "$work/notes.txt" "$work/old.avi"
cd "$work"

source "$script"
failures=0
# expect FUNCTION "WORDS..." "EXPECTED REPLY"
expect() {
  local function=$1 expected=$3
  read -ra COMP_WORDS <<<"$2"
  [[ $2 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  "$function" || true
  local reply
  reply=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$reply" != "$expected" ]; then
    echo "completing '$2': got '$reply', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
}

help_options() { "$@" --help | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sort | tr '\n' ' ' | sed 's/ $//'; }

expect _zentrova "zentrova " "codecs convert frames hash info recover verify"
expect _zentrova "zentrova in" "info"
expect _zentrova "zentrova hash --format " "md5 sha256"
expect _zentrova "zentrova verify " "old.avi sub"
expect _zentrova "zentrova verify old.avi " "cam1.zr cam2.zrx sub"
expect _zentrova "zentrova convert -" "$(help_options zentrova convert)"
expect _zentrova "zentrova info --" "$(help_options zentrova info | tr ' ' '\n' | grep -- '^--' | tr '\n' ' ' | sed 's/ $//')"
expect _zentrova "zentrova convert --codec " "$(zentrova codecs | cut -f1 | sort | tr '\n' ' ' | sed 's/ $//')"
expect _zentrova "zentrova convert --idct p" "plain"
expect _zentrova "zentrova convert -o " "sub"
expect _zentrova "zentrova convert cam1.zr -o out " "cam1.zr cam2.zrx sub"
expect _zentrova "zentrova convert " "cam1.zr cam2.zrx sub"
expect _zentrova "zentrova convert cam1.zr " "old.avi sub"
expect _zentrova "zentrova info c" "cam1.zr cam2.zrx"
expect _zentrova "zentrova convert --recover --generation " "newer older"
expect _zentrova "zentrova convert --recover --size 35" "352x288"
expect _zentrova "zentrova recover -" "$(help_options zentrova recover)"
expect _zentrova "zentrova recover -o " "sub"
expect _zentrova "zentrova recover " "cam1.zr cam2.zrx notes.txt old.avi sub"
expect _zentrova "zentrova recover disk.img -o found --size " "160x112 176x144 240x176 256x192 320x240 352x288 640x240 704x288"
expect _zentrova_gui "zentrova-gui " "cam1.zr cam2.zrx sub"
expect _zentrova_gui "zentrova-gui --" "--help --version"
expect _zrgen "zrgen --idct " "auto plain vector"
expect _zrgen "zrgen --te" "--text1 --text2 --text3"
expect _zrgen "zrgen damage bad" "bad-sector-block bad-sector-frame bad-sector-video"
expect _zrgen "zrgen damage truncated cut.zr cam1.zr --" "--help --image-mb --seed"

[ "$failures" -eq 0 ] || exit 1
echo "check_completion: every case completes as expected"
