// zrdemux: a recording read through the project's reader, handed on as a picture stream and,
// when the recording has sound, a sound stream, timed by the job's rate rule so that the pictures
// last as long as the sound. The whole recording is indexed once before the first frame goes out
// (reading, not decoding), which gives the duration, the sound's length and the intra pictures a
// seek starts from.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gst/base/gstflowcombiner.h>
#include <gst/gst.h>

#include "container/Tags.h"
#include "gst/Elements.h"
#include "gst/RecordingIndex.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"

GST_DEBUG_CATEGORY_STATIC(zr_demux_debug);
#define GST_CAT_DEFAULT zr_demux_debug

namespace zentrova::gst {
namespace {

constexpr guint64 kCopyPiece = 1 << 20;

// What a seek asks for, kept until the streaming thread takes it up between two frames.
struct PendingSeek {
  GstSegment segment;
  GstSeekFlags flags = GST_SEEK_FLAG_NONE;
  guint32 seqnum = 0;
};

struct DemuxState {
  std::unique_ptr<ZrReader> reader;
  std::optional<RecordingIndex> index;
  FILE* copy = nullptr;  // the recording copied from a source that is not a local file
  bool pushed = false;   // upstream pushes (a pipe, a network stream): the copy is made as it comes
  bool copyFailed = false;
  std::vector<uint8_t> video, audio;
  FrameRecord record;
  int32_t width = 0, height = 0;
  uint32_t generation = 1;

  uint32_t next = 0;         // the frame to push next
  bool positioned = true;    // the next frame is read by its place, not after the last one
  bool discont = true;
  bool segmentPending = true;
  guint32 segmentSeqnum = 0;
  GstSegment segment;
  std::optional<PendingSeek> pending;  // under the object lock
  guint64 position = 0;                // under the object lock
  bool eos = false;

  ~DemuxState() {
    if (copy) std::fclose(copy);
  }
};

}  // namespace
}  // namespace zentrova::gst

using zentrova::gst::DemuxState;

struct GstZrDemux {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* videopad;
  GstPad* audiopad;
  GstFlowCombiner* flows;
  DemuxState* state;
};
struct GstZrDemuxClass {
  GstElementClass parent_class;
};

G_DEFINE_TYPE(GstZrDemux, gst_zr_demux, GST_TYPE_ELEMENT)

namespace zentrova::gst {
namespace {

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-zr"));
GstStaticPadTemplate videoTemplate =
    GST_STATIC_PAD_TEMPLATE("video_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("video/x-zr-picture"));
GstStaticPadTemplate audioTemplate = GST_STATIC_PAD_TEMPLATE(
    "audio_%u", GST_PAD_SRC, GST_PAD_SOMETIMES,
    GST_STATIC_CAPS("audio/x-zr-g726, rate = (int) 8000, channels = (int) 1, bitrate = (int) 24000"));

GstZrDemux* DemuxOf(GstObject* parent) { return reinterpret_cast<GstZrDemux*>(parent); }

void ForEachSource(GstZrDemux* demux, const auto& apply) {
  if (demux->videopad) apply(demux->videopad);
  if (demux->audiopad) apply(demux->audiopad);
}

// The local file behind upstream, or a copy of upstream's bytes in a file of our own.
std::optional<std::string> RecordingPath(GstZrDemux* demux) {
  GstQuery* query = gst_query_new_uri();
  std::optional<std::string> path;
  if (!demux->state->pushed && gst_pad_peer_query(demux->sinkpad, query)) {
    gchar* uri = nullptr;
    gst_query_parse_uri(query, &uri);
    if (uri && g_str_has_prefix(uri, "file:")) {
      gchar* name = g_filename_from_uri(uri, nullptr, nullptr);
      if (name) path = name;
      g_free(name);
    }
    g_free(uri);
  }
  gst_query_unref(query);
  if (path) return path;

  DemuxState& s = *demux->state;
  if (s.pushed) {
    if (!s.copy || s.copyFailed || std::fflush(s.copy) != 0) return std::nullopt;
    return "/proc/self/fd/" + std::to_string(fileno(s.copy));
  }
  s.copy = std::tmpfile();
  if (!s.copy) return std::nullopt;
  for (guint64 offset = 0;;) {
    GstBuffer* buffer = nullptr;
    const GstFlowReturn flow = gst_pad_pull_range(demux->sinkpad, offset, kCopyPiece, &buffer);
    if (flow == GST_FLOW_EOS) break;
    if (flow != GST_FLOW_OK) return std::nullopt;
    GstMapInfo map;
    bool written = false;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      written = std::fwrite(map.data, 1, map.size, s.copy) == map.size;
      offset += map.size;
      gst_buffer_unmap(buffer, &map);
    }
    const bool done = gst_buffer_get_size(buffer) < kCopyPiece;
    gst_buffer_unref(buffer);
    if (!written) return std::nullopt;
    if (done) break;
  }
  if (std::fflush(s.copy) != 0) return std::nullopt;
  return "/proc/self/fd/" + std::to_string(fileno(s.copy));
}

GstTagList* RecordingTags(const ZrReader& reader) {
  const FileTags tags = container::TagsOfRecording(reader.startTime(), reader.text1(), reader.text2(),
                                                         reader.text3());
  GstTagList* list = gst_tag_list_new_empty();
  gst_tag_list_set_scope(list, GST_TAG_SCOPE_GLOBAL);
  if (!tags.title.empty()) gst_tag_list_add(list, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, tags.title.c_str(), nullptr);
  if (!tags.comment.empty())
    gst_tag_list_add(list, GST_TAG_MERGE_REPLACE, GST_TAG_COMMENT, tags.comment.c_str(), nullptr);
  if (tags.hasStartTime) {
    GstDateTime* start = gst_date_time_new_from_unix_epoch_utc(tags.startTime);
    if (start) {
      gst_tag_list_add(list, GST_TAG_MERGE_REPLACE, GST_TAG_DATE_TIME, start, nullptr);
      gst_date_time_unref(start);
    }
  }
  gst_tag_list_add(list, GST_TAG_MERGE_REPLACE, GST_TAG_CONTAINER_FORMAT, "ZR recording", nullptr);
  return list;
}

GstPad* AddSource(GstZrDemux* demux, GstStaticPadTemplate* tmpl, const char* name, GstCaps* caps,
                  const char* codec, const char* codecTag);

bool Open(GstZrDemux* demux) {
  DemuxState& s = *demux->state;
  const std::optional<std::string> path = RecordingPath(demux);
  if (!path) {
    GST_ELEMENT_ERROR(demux, RESOURCE, READ, ("Could not read the recording."), ("upstream gave no file to read"));
    return false;
  }
  s.reader = std::make_unique<ZrReader>();
  RecordingInfo info;
  if (auto opened = s.reader->open(*path, &info); !opened) {
    GST_ELEMENT_ERROR(demux, STREAM, WRONG_TYPE, ("This is not a recording that can be read."),
                      ("%s", opened.reason().c_str()));
    return false;
  }
  std::string error;
  s.index = RecordingIndex::Build(*s.reader, &error);
  if (!s.index) {
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The recording holds no frame that can be read."), ("%s", error.c_str()));
    return false;
  }
  s.width = info.width;
  s.height = info.height;
  s.generation = GenerationOfVersion(s.reader->version()) == kGenerationNewer ? 2 : 1;
  // The job's buffers: a frame larger than these is cut, as it is in a conversion.
  s.video.assign(static_cast<size_t>(s.width) * s.height * 2, 0);
  s.audio.assign(65536, 0);
  s.record.videoData = s.video.data();
  s.record.videoCapacity = static_cast<uint32_t>(s.video.size());
  s.record.audioData = s.audio.data();
  s.record.audioCapacity = static_cast<uint32_t>(s.audio.size());

  const FrameRate rate = s.index->rate().rate;
  GstCaps* videoCaps = gst_caps_new_simple(kPictureCaps, "generation", G_TYPE_INT, static_cast<int>(s.generation),
                                           "width", G_TYPE_INT, s.width, "height", G_TYPE_INT, s.height, "framerate",
                                           GST_TYPE_FRACTION, static_cast<int>(rate.num), static_cast<int>(rate.den),
                                           nullptr);
  demux->videopad = AddSource(demux, &videoTemplate, "video_0", videoCaps,
                              s.generation == 2 ? "ZR video (newer generation)" : "ZR video (older generation)",
                              GST_TAG_VIDEO_CODEC);
  if (s.index->sampleCount() > 0) {
    GstCaps* audioCaps = gst_caps_new_simple(kSoundCaps, "rate", G_TYPE_INT, 8000, "channels", G_TYPE_INT, 1,
                                             "bitrate", G_TYPE_INT, 24000, nullptr);
    demux->audiopad = AddSource(demux, &audioTemplate, "audio_0", audioCaps, "G.726 ADPCM, 24 kbit/s",
                                GST_TAG_AUDIO_CODEC);
  }
  gst_element_no_more_pads(GST_ELEMENT(demux));
  GstTagList* tags = RecordingTags(*s.reader);
  gst_element_post_message(GST_ELEMENT(demux),
                           gst_message_new_tag(GST_OBJECT(demux), gst_tag_list_copy(tags)));
  ForEachSource(demux, [&](GstPad* pad) { gst_pad_push_event(pad, gst_event_new_tag(gst_tag_list_ref(tags))); });
  gst_tag_list_unref(tags);
  return true;
}

// The intra picture a key-unit seek lands on: the one before or after the target as the seek
// asks, else the nearer of the two (the one before on a tie).
uint32_t KeyFrameOf(const RecordingIndex& index, uint32_t target, GstSeekFlags flags) {
  const uint32_t before = index.IntraAtOrBefore(target);
  const std::optional<uint32_t> after = before == target ? std::nullopt : index.IntraAfter(target);
  if (!after || (flags & GST_SEEK_FLAG_SNAP_BEFORE)) return before;
  if (flags & GST_SEEK_FLAG_SNAP_AFTER) return *after;
  return *after - target < target - before ? *after : before;
}

// Where the streaming thread goes after a seek: an intra picture, from which every later picture
// decodes as it does in a conversion. A key-unit seek starts the segment at the one it lands on;
// an accurate one starts reading at the one at or before the target and keeps the target as the
// segment's start, so that the decoders drop what comes before it.
void ApplySeek(DemuxState& s, const PendingSeek& seek) {
  GstSegment segment = seek.segment;
  const RecordingIndex& index = *s.index;
  segment.duration = index.duration();
  const uint32_t target = index.FrameAt(segment.start);
  uint32_t key = index.IntraAtOrBefore(target);
  if ((seek.flags & GST_SEEK_FLAG_KEY_UNIT) && !(seek.flags & GST_SEEK_FLAG_ACCURATE)) {
    key = KeyFrameOf(index, target, seek.flags);
    segment.start = index.TimeOfFrame(key);
    segment.time = segment.start;
  }
  segment.position = segment.start;
  s.segment = segment;
  s.next = key;
  s.positioned = true;
  s.discont = true;
  s.segmentPending = true;
  s.segmentSeqnum = seek.seqnum;
  s.eos = false;
}

GstFlowReturn PushFrame(GstZrDemux* demux) {
  DemuxState& s = *demux->state;
  const RecordingIndex& index = *s.index;
  const IndexedFrame& entry = index.frame(s.next);
  const auto got = s.positioned
                     ? s.reader->fetchFrame(&s.record, static_cast<int32_t>(entry.block),
                                            static_cast<int32_t>(entry.frameInBlock))
                     : s.reader->fetchFrame(&s.record, -1, 0);
  if (!got) {
    GST_WARNING_OBJECT(demux, "frame %u cannot be read: %s", s.next, got.reason().c_str());
    return GST_FLOW_EOS;
  }
  s.positioned = false;
  const uint64_t pts = index.TimeOfFrame(s.next);
  const uint64_t end = index.TimeOfFrame(s.next + 1);

  GstBuffer* video = gst_buffer_new_allocate(nullptr, 1 + s.record.videoBytes, nullptr);
  GstMapInfo map;
  gst_buffer_map(video, &map, GST_MAP_WRITE);
  map.data[0] = (s.record.flags & FlagNoPicture) ? kPictureFlagNoPicture : 0;
  if (s.record.videoBytes) std::copy_n(s.record.videoData, s.record.videoBytes, map.data + 1);
  gst_buffer_unmap(video, &map);
  GST_BUFFER_PTS(video) = pts;
  GST_BUFFER_DTS(video) = pts;
  GST_BUFFER_DURATION(video) = end - pts;
  GST_BUFFER_OFFSET(video) = s.next;
  if (!entry.intra) GST_BUFFER_FLAG_SET(video, GST_BUFFER_FLAG_DELTA_UNIT);
  if (s.discont) GST_BUFFER_FLAG_SET(video, GST_BUFFER_FLAG_DISCONT);

  GstBuffer* audio = nullptr;
  // Only whole groups of three bytes carry samples, as in a conversion.
  const uint32_t audioBytes = (s.record.flags & FlagAudio) ? s.record.audioBytes - s.record.audioBytes % 3 : 0;
  if (demux->audiopad && audioBytes > 0) {
    audio = gst_buffer_new_memdup(s.record.audioData, audioBytes);
    const uint64_t at = index.TimeOfSample(entry.samplesBefore);
    GST_BUFFER_PTS(audio) = at;
    GST_BUFFER_DTS(audio) = at;
    GST_BUFFER_DURATION(audio) = index.TimeOfSample(entry.samplesBefore + audioBytes / 3 * 8) - at;
    GST_BUFFER_OFFSET(audio) = entry.samplesBefore;
    if (s.discont) GST_BUFFER_FLAG_SET(audio, GST_BUFFER_FLAG_DISCONT);
  }
  s.discont = false;
  ++s.next;
  GST_OBJECT_LOCK(demux);
  s.position = pts;
  GST_OBJECT_UNLOCK(demux);

  GstFlowReturn flow = gst_flow_combiner_update_pad_flow(demux->flows, demux->videopad,
                                                         gst_pad_push(demux->videopad, video));
  if (audio)
    flow = gst_flow_combiner_update_pad_flow(demux->flows, demux->audiopad, gst_pad_push(demux->audiopad, audio));
  return flow;
}

void PushEos(GstZrDemux* demux) {
  DemuxState& s = *demux->state;
  if (s.eos) return;
  s.eos = true;
  ForEachSource(demux, [&](GstPad* pad) {
    GstEvent* eos = gst_event_new_eos();
    if (s.segmentSeqnum) gst_event_set_seqnum(eos, s.segmentSeqnum);
    gst_pad_push_event(pad, eos);
  });
}

void Stream(GstZrDemux* demux);

// No exception may cross into GStreamer's thread: running out of memory ends the stream with an
// error instead.
void Loop(gpointer data) {
  auto* demux = static_cast<GstZrDemux*>(data);
  try {
    Stream(demux);
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(demux, CORE, FAILED, ("The recording cannot be played."), ("%s", e.what()));
    gst_pad_pause_task(demux->sinkpad);
    PushEos(demux);
  }
}

void Stream(GstZrDemux* demux) {
  DemuxState& s = *demux->state;
  if (!s.index && !Open(demux)) {
    gst_pad_pause_task(demux->sinkpad);
    return;
  }
  // The segment changes under the object lock, where a seek reads it.
  GST_OBJECT_LOCK(demux);
  if (s.pending) ApplySeek(s, *s.pending);
  s.pending.reset();
  GST_OBJECT_UNLOCK(demux);
  if (s.segmentPending) {
    s.segmentPending = false;
    ForEachSource(demux, [&](GstPad* pad) {
      GstEvent* event = gst_event_new_segment(&s.segment);
      if (s.segmentSeqnum) gst_event_set_seqnum(event, s.segmentSeqnum);
      gst_pad_push_event(pad, event);
    });
  }
  if (s.eos) {
    gst_pad_pause_task(demux->sinkpad);
    return;
  }
  const bool pastStop =
      GST_CLOCK_TIME_IS_VALID(s.segment.stop) && s.next < s.index->frameCount() && s.index->TimeOfFrame(s.next) >= s.segment.stop;
  if (s.next >= s.index->frameCount() || pastStop) {
    PushEos(demux);
    gst_pad_pause_task(demux->sinkpad);
    return;
  }
  const GstFlowReturn flow = PushFrame(demux);
  if (flow == GST_FLOW_OK) return;
  GST_DEBUG_OBJECT(demux, "pausing: %s", gst_flow_get_name(flow));
  gst_pad_pause_task(demux->sinkpad);
  if (flow == GST_FLOW_EOS) {
    PushEos(demux);
  } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
    GST_ELEMENT_FLOW_ERROR(demux, flow);
    PushEos(demux);
  }
}

gboolean HandleSeek(GstZrDemux* demux, GstEvent* event) {
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType startType, stopType;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (format != GST_FORMAT_TIME || rate <= 0.0) return FALSE;  // forwards, in time only
  DemuxState& s = *demux->state;
  const guint32 seqnum = gst_event_get_seqnum(event);
  const bool flush = flags & GST_SEEK_FLAG_FLUSH;
  if (flush) {
    ForEachSource(demux, [&](GstPad* pad) {
      GstEvent* e = gst_event_new_flush_start();
      gst_event_set_seqnum(e, seqnum);
      gst_pad_push_event(pad, e);
    });
    gst_pad_pause_task(demux->sinkpad);
  }
  // A flushing seek has stopped the streaming thread and waits for it; a non-flushing one leaves
  // it running (it may be blocked downstream) and is taken up between two frames.
  if (flush) GST_PAD_STREAM_LOCK(demux->sinkpad);
  PendingSeek pending;
  GST_OBJECT_LOCK(demux);
  pending.segment = s.pending ? s.pending->segment : s.segment;
  GST_OBJECT_UNLOCK(demux);
  gboolean update = FALSE;
  const gboolean ok =
      gst_segment_do_seek(&pending.segment, rate, format, flags, startType, start, stopType, stop, &update);
  if (ok) {
    pending.flags = flags;
    pending.seqnum = seqnum;
    GST_OBJECT_LOCK(demux);
    s.pending = pending;
    GST_OBJECT_UNLOCK(demux);
  }
  if (flush) {
    ForEachSource(demux, [&](GstPad* pad) {
      GstEvent* e = gst_event_new_flush_stop(TRUE);
      gst_event_set_seqnum(e, seqnum);
      gst_pad_push_event(pad, e);
    });
    gst_flow_combiner_reset(demux->flows);
  }
  // After EOS (or a stop on error) the task must run again to take the seek up.
  gst_pad_start_task(demux->sinkpad, Loop, demux, nullptr);
  if (flush) GST_PAD_STREAM_UNLOCK(demux->sinkpad);
  return ok;
}

gboolean SourceEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstZrDemux* demux = DemuxOf(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    const gboolean ok = demux->state->index ? HandleSeek(demux, event) : FALSE;
    gst_event_unref(event);
    return ok;
  }
  return gst_pad_event_default(pad, parent, event);
}

gboolean SourceQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  GstZrDemux* demux = DemuxOf(parent);
  DemuxState& s = *demux->state;
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
      GstFormat format;
      gst_query_parse_duration(query, &format, nullptr);
      if (format != GST_FORMAT_TIME || !s.index) return FALSE;
      gst_query_set_duration(query, GST_FORMAT_TIME, static_cast<gint64>(s.index->duration()));
      return TRUE;
    }
    case GST_QUERY_POSITION: {
      GstFormat format;
      gst_query_parse_position(query, &format, nullptr);
      if (format != GST_FORMAT_TIME || !s.index) return FALSE;
      GST_OBJECT_LOCK(demux);
      const guint64 position = s.position;
      GST_OBJECT_UNLOCK(demux);
      gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(position));
      return TRUE;
    }
    case GST_QUERY_SEEKING: {
      GstFormat format;
      gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
      if (format != GST_FORMAT_TIME || !s.index) return FALSE;
      gst_query_set_seeking(query, GST_FORMAT_TIME, TRUE, 0, static_cast<gint64>(s.index->duration()));
      return TRUE;
    }
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

GstPad* AddSource(GstZrDemux* demux, GstStaticPadTemplate* tmpl, const char* name, GstCaps* caps, const char* codec,
                  const char* codecTag) {
  GstPad* pad = gst_pad_new_from_static_template(tmpl, name);
  gst_pad_set_event_function(pad, SourceEvent);
  gst_pad_set_query_function(pad, SourceQuery);
  gst_pad_use_fixed_caps(pad);
  gst_pad_set_active(pad, TRUE);
  gchar* id = gst_pad_create_stream_id(pad, GST_ELEMENT(demux), name);
  gst_pad_push_event(pad, gst_event_new_stream_start(id));
  g_free(id);
  gst_pad_push_event(pad, gst_event_new_caps(caps));
  gst_caps_unref(caps);
  GstTagList* tags = gst_tag_list_new(codecTag, codec, nullptr);
  gst_pad_push_event(pad, gst_event_new_tag(tags));
  gst_element_add_pad(GST_ELEMENT(demux), pad);
  gst_flow_combiner_add_pad(demux->flows, pad);
  return pad;
}

void RemoveSources(GstZrDemux* demux) {
  ForEachSource(demux, [&](GstPad* pad) {
    gst_flow_combiner_remove_pad(demux->flows, pad);
    gst_element_remove_pad(GST_ELEMENT(demux), pad);
  });
  demux->videopad = nullptr;
  demux->audiopad = nullptr;
}

void ResetState(GstZrDemux* demux) {
  delete demux->state;
  demux->state = new DemuxState();
  gst_segment_init(&demux->state->segment, GST_FORMAT_TIME);
}

// Pushed bytes go into a file of our own; at their end the recording is read from there as
// from any file (a recording's block chain may point anywhere, so nothing plays before).
GstFlowReturn SinkChain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  DemuxState& s = *DemuxOf(parent)->state;
  if (!s.copy && !s.copyFailed) s.copy = std::tmpfile();
  GstMapInfo map;
  if (s.copy && !s.copyFailed && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    s.copyFailed = std::fwrite(map.data, 1, map.size, s.copy) != map.size;
    gst_buffer_unmap(buffer, &map);
  } else {
    s.copyFailed = true;
  }
  gst_buffer_unref(buffer);
  if (!s.copyFailed) return GST_FLOW_OK;
  GST_ELEMENT_ERROR(parent, RESOURCE, WRITE, ("Could not keep the recording to read it."),
                    ("a temporary file could not be written"));
  return GST_FLOW_ERROR;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstZrDemux* demux = DemuxOf(parent);
  // Upstream's stream, caps and segment describe the bytes, not the streams made of them.
  const bool ended = GST_EVENT_TYPE(event) == GST_EVENT_EOS;
  gst_event_unref(event);
  if (ended) gst_pad_start_task(pad, Loop, demux, nullptr);
  return TRUE;
}

gboolean SinkActivate(GstPad* pad, GstObject* parent) {
  GstQuery* query = gst_query_new_scheduling();
  bool pull = false;
  if (gst_pad_peer_query(pad, query))
    pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

gboolean SinkActivateMode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  GstZrDemux* demux = DemuxOf(parent);
  if (mode == GST_PAD_MODE_PUSH) {
    demux->state->pushed = active;
    return active ? TRUE : gst_pad_stop_task(pad);
  }
  if (mode != GST_PAD_MODE_PULL) return FALSE;
  if (active) return gst_pad_start_task(pad, Loop, demux, nullptr);
  return gst_pad_stop_task(pad);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  GstZrDemux* demux = reinterpret_cast<GstZrDemux*>(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    ResetState(demux);
    gst_flow_combiner_reset(demux->flows);
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(gst_zr_demux_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    RemoveSources(demux);
    ResetState(demux);
  }
  return result;
}

}  // namespace
}  // namespace zentrova::gst

static void gst_zr_demux_finalize(GObject* object) {
  GstZrDemux* demux = reinterpret_cast<GstZrDemux*>(object);
  delete demux->state;
  gst_flow_combiner_free(demux->flows);
  G_OBJECT_CLASS(gst_zr_demux_parent_class)->finalize(object);
}

static void gst_zr_demux_class_init(GstZrDemuxClass* klass) {
  using namespace zentrova::gst;
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = gst_zr_demux_finalize;
  element->change_state = ChangeState;
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_add_static_pad_template(element, &videoTemplate);
  gst_element_class_add_static_pad_template(element, &audioTemplate);
  gst_element_class_set_static_metadata(element, "ZR recording demuxer", "Codec/Demuxer",
                                        "Splits a digital video recorder's recording into its pictures and sound",
                                        "Zentrova");
  GST_DEBUG_CATEGORY_INIT(zr_demux_debug, "zrdemux", 0, "ZR recording demuxer");
}

static void gst_zr_demux_init(GstZrDemux* demux) {
  using namespace zentrova::gst;
  demux->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_activate_function(demux->sinkpad, SinkActivate);
  gst_pad_set_activatemode_function(demux->sinkpad, SinkActivateMode);
  gst_pad_set_chain_function(demux->sinkpad, SinkChain);
  gst_pad_set_event_function(demux->sinkpad, SinkEvent);
  gst_element_add_pad(GST_ELEMENT(demux), demux->sinkpad);
  demux->videopad = nullptr;
  demux->audiopad = nullptr;
  demux->flows = gst_flow_combiner_new();
  demux->state = nullptr;
  ResetState(demux);
}

namespace zentrova::gst {
gboolean RegisterDemux(GstPlugin* plugin) {
  return gst_element_register(plugin, "zrdemux", GST_RANK_PRIMARY, gst_zr_demux_get_type());
}
}  // namespace zentrova::gst
