// zraudiodec: the recording's G.726 codes (24 kbit/s, three bytes for eight samples) decoded by
// the project's decoder into the 16-bit samples a conversion writes. The decoder's adaptive state
// runs on from buffer to buffer as it does through a conversion, and starts afresh after a seek.
#include <algorithm>
#include <memory>

#include <gst/audio/gstaudiodecoder.h>
#include <gst/audio/audio.h>

#include "audio/G726Decoder.h"
#include "gst/Elements.h"

GST_DEBUG_CATEGORY_STATIC(zr_audio_dec_debug);
#define GST_CAT_DEFAULT zr_audio_dec_debug

struct GstZrAudioDec {
  GstAudioDecoder parent;
  zentrova::G726Decoder* decoder;
};
struct GstZrAudioDecClass {
  GstAudioDecoderClass parent_class;
};

G_DEFINE_TYPE(GstZrAudioDec, gst_zr_audio_dec, GST_TYPE_AUDIO_DECODER)

namespace zentrova::gst {
namespace {

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-zr-g726, rate = (int) 8000, channels = (int) 1, bitrate = (int) 24000"));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, rate = (int) 8000, "
                    "channels = (int) 1"));

GstZrAudioDec* Self(GstAudioDecoder* decoder) { return reinterpret_cast<GstZrAudioDec*>(decoder); }

void Restart(GstZrAudioDec* self) {
  delete self->decoder;
  self->decoder = new G726Decoder();
  // A decoder without its state (memory short) refuses every buffer, which then stays silent.
  static_cast<void>(self->decoder->Prepare(0));
}

gboolean Start(GstAudioDecoder* decoder) {
  Restart(Self(decoder));
  return TRUE;
}

gboolean Stop(GstAudioDecoder* decoder) {
  delete Self(decoder)->decoder;
  Self(decoder)->decoder = nullptr;
  return TRUE;
}

gboolean SetFormat(GstAudioDecoder* decoder, GstCaps*) {
  GstAudioInfo info;
  gst_audio_info_init(&info);
  gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, 8000, 1, nullptr);
  return gst_audio_decoder_set_output_format(decoder, &info);
}

GstFlowReturn HandleFrame(GstAudioDecoder* decoder, GstBuffer* buffer) {
  GstZrAudioDec* self = Self(decoder);
  if (!buffer) return GST_FLOW_OK;  // nothing held back to drain
  if (!self->decoder) Restart(self);
  GstMapInfo in;
  if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) return GST_FLOW_ERROR;
  // Only whole groups of three bytes carry samples.
  const size_t bytes = in.size - in.size % 3;
  const size_t samples = bytes / 3 * 8;
  if (samples == 0) {
    gst_buffer_unmap(buffer, &in);
    return gst_audio_decoder_finish_frame(decoder, nullptr, 1);
  }
  GstBuffer* out = gst_audio_decoder_allocate_output_buffer(decoder, samples * 2);
  GstMapInfo pcm;
  gst_buffer_map(out, &pcm, GST_MAP_WRITE);
  auto* samplesOut = reinterpret_cast<int16_t*>(pcm.data);
  constexpr size_t kPiece = G726Decoder::kBufferBytes;
  for (size_t done = 0; done < bytes;) {
    const size_t n = std::min(kPiece, bytes - done);
    static_cast<void>(self->decoder->Decode(in.data + done, samplesOut + done / 3 * 8, static_cast<int32_t>(n)));
    done += n;
  }
  gst_buffer_unmap(out, &pcm);
  gst_buffer_unmap(buffer, &in);
  return gst_audio_decoder_finish_frame(decoder, out, 1);
}

// A seek starts the adaptive state afresh: the codes after it are decoded as from the start.
void Flush(GstAudioDecoder* decoder, gboolean hard) { Restart(Self(decoder)); }

}  // namespace
}  // namespace zentrova::gst

static void gst_zr_audio_dec_finalize(GObject* object) {
  delete reinterpret_cast<GstZrAudioDec*>(object)->decoder;
  G_OBJECT_CLASS(gst_zr_audio_dec_parent_class)->finalize(object);
}

static void gst_zr_audio_dec_class_init(GstZrAudioDecClass* klass) {
  using namespace zentrova::gst;
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstAudioDecoderClass* audio = GST_AUDIO_DECODER_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = gst_zr_audio_dec_finalize;
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_add_static_pad_template(element, &srcTemplate);
  gst_element_class_set_static_metadata(element, "ZR sound decoder", "Codec/Decoder/Audio",
                                        "Decodes a digital video recorder's G.726 sound (24 kbit/s)", "Zentrova");
  audio->start = Start;
  audio->stop = Stop;
  audio->set_format = SetFormat;
  audio->handle_frame = HandleFrame;
  audio->flush = Flush;
  GST_DEBUG_CATEGORY_INIT(zr_audio_dec_debug, "zraudiodec", 0, "ZR sound decoder");
}

static void gst_zr_audio_dec_init(GstZrAudioDec* self) { self->decoder = nullptr; }

namespace zentrova::gst {
gboolean RegisterAudioDecoder(GstPlugin* plugin) {
  return gst_element_register(plugin, "zraudiodec", GST_RANK_PRIMARY, gst_zr_audio_dec_get_type());
}
}  // namespace zentrova::gst
