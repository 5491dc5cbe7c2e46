# Sourced by the install checks: expected_files BUILD_DIR prints installed-files.txt as this build
# installs it, GSTPLUGINDIR replaced by GStreamer's plugin folder, and the plugin's and the
# thumbnailer's lines left out when the build has none.
expected_files() {
  local build=$1 here gstdir
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  gstdir=$(pkg-config --variable=pluginsdir gstreamer-1.0 2>/dev/null | sed 's|^/usr/||')
  grep -v '^#' "$here/installed-files.txt" |
    if [ -e "$build/src/gst/libgstzentrova.so" ]; then sed "s|^GSTPLUGINDIR|$gstdir|"; else grep -v '^GSTPLUGINDIR/'; fi |
    if [ -e "$build/src/gst/zentrova-thumbnailer" ]; then cat; else grep -v 'thumbnailer'; fi
}
