#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what landed there: every file of
# installed-files.txt and nothing else, programs that run from the prefix, a desktop entry that
# validates, a recording type the MIME database takes (globs and magic), completions that load.
#   check_install.sh BUILD_DIR
set -euo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

. "$here/expected_files.sh"
expected=$(expected_files "$build" | sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [ "$expected" != "$actual" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "the installed files differ from installed-files.txt (< expected, > installed)"
fi

# The programs run from the prefix (the GUI's --help needs no display).
for program in zentrova zentrova-gui zrgen; do
  "$prefix/bin/$program" --help | grep "Usage: " >/dev/null || fail "$program --help printed no usage"
done
# They find the installed libav module beside them, not the build's, and name no build folder.
for program in zentrova zentrova-gui zrgen; do
  if readelf -d "$prefix/bin/$program" | grep -F "$(cd "$build" && pwd)"; then
    fail "$program still names the build folder in its run path"
  fi
done
"$prefix/bin/zentrova" codecs | grep "^mpeg4	.*	available$" >/dev/null || fail "the installed zentrova does not load its libav module"
"$prefix/bin/zentrova" --version | grep "^libavcodec [0-9]" >/dev/null || fail "the installed zentrova --version names no libavcodec"
for page in zentrova zentrova-gui zrgen; do
  gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
  zcat "$prefix/share/man/man1/$page.1.gz" | grep '^\.TH ' >/dev/null || fail "$page.1.gz is no manual page"
done

# The installed plugin lists its elements and type finder; the thumbnailer writes a PNG.
# A sanitizer build's plugin needs its runtime loaded first, which gst-inspect-1.0 does not do.
if [ -e "$build/src/gst/libgstzentrova.so" ] && readelf -d "$build/src/gst/libgstzentrova.so" | grep -q 'libasan'; then
  echo "check_install: the plugin is a sanitizer build; gst-inspect-1.0 is not run on it"
elif [ -e "$build/src/gst/libgstzentrova.so" ]; then
  plugin=$(find "$prefix" -name libgstzentrova.so)
  inspect=$(GST_PLUGIN_PATH=$(dirname "$plugin") GST_REGISTRY="$prefix/registry.bin" gst-inspect-1.0 zentrova)
  rm -f "$prefix/registry.bin"
  for feature in zrdemux zrvideodec zraudiodec zentrova_zr; do
    echo "$inspect" | grep -q "$feature" || fail "gst-inspect-1.0 zentrova does not list $feature"
  done
fi
if [ -e "$build/src/gst/zentrova-thumbnailer" ]; then
  grep -qx 'MimeType=video/x-zr;' "$prefix/share/thumbnailers/zentrova.thumbnailer" || fail "the thumbnailer entry names no recording type"
  "$prefix/bin/zrgen" --quiet -n 10 "$prefix/cam.zr" >/dev/null
  "$prefix/bin/zentrova-thumbnailer" -s 64 "$prefix/cam.zr" "$prefix/cam.png" || fail "the thumbnailer failed"
  head -c 8 "$prefix/cam.png" | grep -q PNG || fail "the thumbnailer wrote no PNG"
  rm -f "$prefix/cam.zr" "$prefix/cam.png"
fi

desktop-file-validate "$prefix/share/applications/zentrova.desktop"
grep -qx 'MimeType=video/x-zr;' "$prefix/share/applications/zentrova.desktop" || fail "the desktop entry names no recording type"
grep -qx 'Exec=zentrova-gui %f' "$prefix/share/applications/zentrova.desktop" || fail "the desktop entry does not pass the file"

# The MIME database built from the installed package knows both globs and the magic.
update-mime-database "$prefix/share/mime"
grep -q '^50:video/x-zr:\*\.zr$' "$prefix/share/mime/globs2" || fail "no *.zr glob in the MIME database"
grep -q '^50:video/x-zr:\*\.zrx$' "$prefix/share/mime/globs2" || fail "no *.zrx glob in the MIME database"
grep -qa 'video/x-zr' "$prefix/share/mime/magic" || fail "no magic for video/x-zr"
grep -qa 'ZR' "$prefix/share/mime/magic" || fail "the magic does not hold ZR"

# Icons: square PNGs of the size their folder names.
for icon in "$prefix"/share/icons/hicolor/*/apps/zentrova.png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  python3 - "$icon" "$size" <<'PY' || fail "$icon is not a ${size} PNG"
import struct, sys
data = open(sys.argv[1], "rb").read(24)
w, h = struct.unpack(">II", data[16:24])
sys.exit(0 if data[:8] == b"\x89PNG\r\n\x1a\n" and f"{w}x{h}" == sys.argv[2] else 1)
PY
done

# The installed completion loads and completes from the installed programs.
PATH="$prefix/bin:$PATH" bash -c '
  source "$1/share/bash-completion/completions/zentrova"
  COMP_WORDS=(zentrova co); COMP_CWORD=1; _zentrova
  [ "${COMPREPLY[*]}" = "convert codecs" ]' sh "$prefix" || fail "the installed bash completion does not complete commands"
zsh -n "$prefix/share/zsh/vendor-completions/_zentrova" || fail "the zsh completion does not parse"

echo "check_install: $(echo "$actual" | wc -l) files installed and checked"
