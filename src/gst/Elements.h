#pragma once
// The plugin's elements and type finder, registered by the plugin's entry point.
#include <gst/gst.h>

namespace zentrova::gst {

// Caps of a whole recording, and of the two streams the demuxer hands on. The picture stream
// is the recorder's own: each buffer is one byte of the frame's flags (bit 0: the frame holds no
// picture) followed by the frame's video bytes.
inline constexpr const char* kRecordingCaps = "video/x-zr";
inline constexpr const char* kPictureCaps = "video/x-zr-picture";
inline constexpr const char* kSoundCaps = "audio/x-zr-g726";
inline constexpr guint8 kPictureFlagNoPicture = 0x01;

gboolean RegisterTypeFinder(GstPlugin* plugin);
gboolean RegisterDemux(GstPlugin* plugin);
gboolean RegisterVideoDecoder(GstPlugin* plugin);
gboolean RegisterAudioDecoder(GstPlugin* plugin);

}  // namespace zentrova::gst
