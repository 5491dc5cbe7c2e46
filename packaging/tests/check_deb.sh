#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it: every file of installed-files.txt under
# /usr, and a Depends line that names the runtime packages (Qt 6 widgets, libavcodec).
#   check_deb.sh BUILD_DIR
set -euo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "check_deb: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$out" -maxdepth 1 -name 'zentrova_*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack wrote no zentrova_*.deb"

listed=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' | grep -v '/$' | sort)
. "$here/expected_files.sh"
expected=$(expected_files "$build" | sed 's|^|usr/|' | sort)
missing=$(comm -23 <(echo "$expected") <(echo "$listed"))
[ -z "$missing" ] || fail "the package lacks: $missing"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 'libavcodec[0-9]' libc6 'libstdc\+\+6'; do
  echo "$depends" | grep -Eq "(^|, )$package" || fail "Depends ($depends) names no $package"
done
[ "$(dpkg-deb -f "$deb" Package)" = zentrova ] || fail "the package is not called zentrova"

echo "check_deb: $(basename "$deb"), $(echo "$listed" | wc -l) files; Depends: $depends"
