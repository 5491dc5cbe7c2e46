// zrvideodec: the recorder's pictures decoded by the project's decoder and handed on at the
// output size of a conversion (640- and 704-wide pictures line-doubled), as BGR exactly as a raw
// conversion writes its frames, or as I420 planes. The decoder's row 0 is the bottom row of the
// picture (the AVI convention); GStreamer's frames start at the top, so rows are written from the
// bottom up.
#include <exception>
#include <memory>
#include <vector>

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include "audio/G726Decoder.h"
#include "convert/ConversionJob.h"
#include "convert/FramePipeline.h"
#include "gst/Elements.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "video/PlaneRows.h"
#include "video/VideoDecoder.h"

GST_DEBUG_CATEGORY_STATIC(zr_video_dec_debug);
#define GST_CAT_DEFAULT zr_video_dec_debug

namespace zentrova::gst {
namespace {

struct VideoState {
  std::unique_ptr<VideoDecoder> decoder;
  G726Decoder unusedSound;  // the picture stream carries no sound
  FrameWork work;
  std::vector<uint8_t> picture;  // one 24-bit frame as a conversion writes it
  bool havePrevious = false;     // work holds the picture a failed decode repeats
  bool referenceGood = true;     // the decoder's reference holds the picture last coded
  std::vector<uint8_t> scratch;  // a picture of another size on its way to the output's
  int32_t width = 0, height = 0, outputHeight = 0;
  GstVideoFormat format = GST_VIDEO_FORMAT_UNKNOWN;
  GstVideoCodecState* input = nullptr;

  ~VideoState() {
    if (input) gst_video_codec_state_unref(input);
  }
};

}  // namespace
}  // namespace zentrova::gst

struct GstZrVideoDec {
  GstVideoDecoder parent;
  zentrova::gst::VideoState* state;
};
struct GstZrVideoDecClass {
  GstVideoDecoderClass parent_class;
};

G_DEFINE_TYPE(GstZrVideoDec, gst_zr_video_dec, GST_TYPE_VIDEO_DECODER)

namespace zentrova::gst {
namespace {

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-zr-picture, generation = (int) [ 1, 2 ], width = (int) [ 1, MAX ], "
                    "height = (int) [ 1, MAX ]"));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ I420, BGR }")));

VideoState& StateOf(GstVideoDecoder* decoder) { return *reinterpret_cast<GstZrVideoDec*>(decoder)->state; }

// The format downstream prefers of the two; I420 when it takes either.
GstVideoFormat ChooseFormat(GstVideoDecoder* decoder) {
  GstPad* src = GST_VIDEO_DECODER_SRC_PAD(decoder);
  GstCaps* ours = gst_pad_get_pad_template_caps(src);
  GstCaps* theirs = gst_pad_peer_query_caps(src, ours);
  gst_caps_unref(ours);
  GstVideoFormat format = GST_VIDEO_FORMAT_I420;
  if (theirs && !gst_caps_is_empty(theirs)) {
    const GValue* value = gst_structure_get_value(gst_caps_get_structure(theirs, 0), "format");
    if (value && GST_VALUE_HOLDS_LIST(value) && gst_value_list_get_size(value) > 0)
      value = gst_value_list_get_value(value, 0);
    if (value && G_VALUE_HOLDS_STRING(value)) {
      const GstVideoFormat f = gst_video_format_from_string(g_value_get_string(value));
      if (f == GST_VIDEO_FORMAT_BGR || f == GST_VIDEO_FORMAT_I420) format = f;
    }
  }
  if (theirs) gst_caps_unref(theirs);
  return format;
}

gboolean Prepare(GstVideoDecoder* decoder, GstVideoCodecState* input);

gboolean SetFormat(GstVideoDecoder* decoder, GstVideoCodecState* input) {
  try {
    return Prepare(decoder, input);
  } catch (const std::exception&) {
    return FALSE;
  }
}

gboolean Prepare(GstVideoDecoder* decoder, GstVideoCodecState* input) {
  VideoState& s = StateOf(decoder);
  const GstStructure* caps = gst_caps_get_structure(input->caps, 0);
  gint generation = 1, width = 0, height = 0;
  if (!gst_structure_get_int(caps, "generation", &generation) || !gst_structure_get_int(caps, "width", &width) ||
      !gst_structure_get_int(caps, "height", &height) || width <= 0 || height <= 0 || width % 2 || height % 2)
    return FALSE;
  s.decoder = std::make_unique<VideoDecoder>();
  if (!s.decoder->Initialise(generation == 2 ? kGenerationNewer : kGenerationOlder)) return FALSE;
  s.width = width;
  s.height = height;
  s.outputHeight = ConversionJob::ComputeOutputHeight(width, height);
  s.work.Allocate(width, height);
  s.havePrevious = false;
  s.picture.assign(static_cast<size_t>(width) * s.outputHeight * 3, 0);
  if (s.input) gst_video_codec_state_unref(s.input);
  s.input = gst_video_codec_state_ref(input);

  s.format = ChooseFormat(decoder);
  GstVideoCodecState* output = gst_video_decoder_set_output_state(decoder, s.format, width, s.outputHeight, input);
  if (s.format == GST_VIDEO_FORMAT_I420) {
    // The decoder's planes are full range, with the ITU-R BT.601 matrix of its colour conversion.
    output->info.colorimetry.range = GST_VIDEO_COLOR_RANGE_0_255;
    output->info.colorimetry.matrix = GST_VIDEO_COLOR_MATRIX_BT601;
  }
  gst_video_codec_state_unref(output);
  return gst_video_decoder_negotiate(decoder);
}

void WriteBgr(VideoState& s, GstVideoFrame& frame) {
  PictureOf(s.work, s.width, s.height, s.outputHeight, s.picture.data(), s.scratch);
  auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  const size_t row = static_cast<size_t>(s.width) * 3;
  for (int32_t r = 0; r < s.outputHeight; ++r)
    std::copy_n(s.picture.data() + static_cast<size_t>(s.outputHeight - 1 - r) * row, row, out + static_cast<ptrdiff_t>(r) * stride);
}

void WritePlane(GstVideoFrame& frame, int plane, const uint8_t* src, int32_t srcStride, int32_t width, int32_t rows,
                bool doubled, RowDoubling doubling) {
  auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
  const ptrdiff_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
  const int32_t outRows = doubled ? 2 * rows : rows;
  CopyPlaneRows(out + (outRows - 1) * stride, -stride, src, srcStride, width, rows, doubled ? doubling : RowDoubling::None,
                SampleRange::Full);
}

void WriteI420(VideoState& s, GstVideoFrame& frame) {
  const bool doubled = s.outputHeight == 2 * s.height;
  if (s.work.black) {
    // Black as the 24-bit frames have it: no light, no colour.
    for (int plane = 0; plane < 3; ++plane) {
      auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
      const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, plane);
      for (int r = 0; r < rows; ++r)
        std::fill_n(out + static_cast<ptrdiff_t>(r) * stride, GST_VIDEO_FRAME_COMP_WIDTH(&frame, plane), plane ? 128 : 0);
    }
    return;
  }
  // A picture of another size comes scaled to the recording's, as the conversion has it.
  const avi::PlanarPicture p = PlanesOf(s.work, s.width, s.height, false, s.scratch);
  WritePlane(frame, 0, p.plane[0], p.stride[0], s.width, s.height, doubled, RowDoubling::Average);
  WritePlane(frame, 1, p.plane[1], p.stride[1], s.width / 2, s.height / 2, doubled, RowDoubling::ChromaOfAverage);
  WritePlane(frame, 2, p.plane[2], p.stride[2], s.width / 2, s.height / 2, doubled, RowDoubling::ChromaOfAverage);
}

GstFlowReturn DecodeOne(GstVideoDecoder* decoder, GstVideoCodecFrame* frame);

GstFlowReturn HandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
  try {
    return DecodeOne(decoder, frame);
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(decoder, CORE, FAILED, ("The picture cannot be decoded."), ("%s", e.what()));
    return GST_FLOW_ERROR;
  }
}

GstFlowReturn DecodeOne(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
  VideoState& s = StateOf(decoder);
  if (!s.decoder) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_NOT_NEGOTIATED;
  }
  GstMapInfo map;
  if (!gst_buffer_map(frame->input_buffer, &map, GST_MAP_READ)) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  FrameRecord record;
  if (map.size > 0) {
    record.flags = (map.data[0] & kPictureFlagNoPicture) ? FlagNoPicture : 0;
    record.videoData = const_cast<uint8_t*>(map.data + 1);
    record.videoBytes = static_cast<uint32_t>(map.size - 1);
  }
  // A picture the decoder does not deliver repeats the one before, black when there is none.
  DecodeFrameWork(record, *s.decoder, s.unusedSound, false, s.width, s.height, s.havePrevious ? &s.work : nullptr,
                  s.referenceGood, s.work);
  s.havePrevious = true;
  gst_buffer_unmap(frame->input_buffer, &map);

  const GstFlowReturn flow = gst_video_decoder_allocate_output_frame(decoder, frame);
  if (flow != GST_FLOW_OK) {
    gst_video_decoder_drop_frame(decoder, frame);
    return flow;
  }
  GstVideoCodecState* output = gst_video_decoder_get_output_state(decoder);
  GstVideoFrame video;
  const gboolean mapped = gst_video_frame_map(&video, &output->info, frame->output_buffer, GST_MAP_WRITE);
  gst_video_codec_state_unref(output);
  if (!mapped) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  if (s.format == GST_VIDEO_FORMAT_BGR)
    WriteBgr(s, video);
  else
    WriteI420(s, video);
  gst_video_frame_unmap(&video);
  return gst_video_decoder_finish_frame(decoder, frame);
}

// After a seek decoding starts again at an intra picture: nothing before it is repeated.
gboolean Flush(GstVideoDecoder* decoder) {
  StateOf(decoder).havePrevious = false;
  StateOf(decoder).referenceGood = true;
  return TRUE;
}

gboolean Stop(GstVideoDecoder* decoder) {
  auto* self = reinterpret_cast<GstZrVideoDec*>(decoder);
  delete self->state;
  self->state = new VideoState();
  return TRUE;
}

}  // namespace
}  // namespace zentrova::gst

static void gst_zr_video_dec_finalize(GObject* object) {
  delete reinterpret_cast<GstZrVideoDec*>(object)->state;
  G_OBJECT_CLASS(gst_zr_video_dec_parent_class)->finalize(object);
}

static void gst_zr_video_dec_class_init(GstZrVideoDecClass* klass) {
  using namespace zentrova::gst;
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* video = GST_VIDEO_DECODER_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = gst_zr_video_dec_finalize;
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_add_static_pad_template(element, &srcTemplate);
  gst_element_class_set_static_metadata(element, "ZR picture decoder", "Codec/Decoder/Video",
                                        "Decodes a digital video recorder's pictures as a conversion does",
                                        "Zentrova");
  video->set_format = SetFormat;
  video->handle_frame = HandleFrame;
  video->flush = Flush;
  video->stop = Stop;
  GST_DEBUG_CATEGORY_INIT(zr_video_dec_debug, "zrvideodec", 0, "ZR picture decoder");
}

static void gst_zr_video_dec_init(GstZrVideoDec* self) {
  self->state = new zentrova::gst::VideoState();
  gst_video_decoder_set_packetized(GST_VIDEO_DECODER(self), TRUE);
}

namespace zentrova::gst {
gboolean RegisterVideoDecoder(GstPlugin* plugin) {
  return gst_element_register(plugin, "zrvideodec", GST_RANK_PRIMARY, gst_zr_video_dec_get_type());
}
}  // namespace zentrova::gst
