// The plugin's entry point: one type finder and three elements, ranked so that playbin and
// decodebin choose them for recordings.
#include <gst/gst.h>

#include "gst/Elements.h"

#ifndef PACKAGE
#define PACKAGE "zentrova"
#endif

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  using namespace zentrova::gst;
  return RegisterTypeFinder(plugin) && RegisterDemux(plugin) && RegisterVideoDecoder(plugin) &&
         RegisterAudioDecoder(plugin);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zentrova,
                  "Plays digital video recorder recordings (ZR) without converting them", PluginInit,
                  ZENTROVA_VERSION, "Proprietary", "Zentrova", "https://zentrova.invalid")
