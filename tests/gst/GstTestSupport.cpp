#include "gst/GstTestSupport.h"

#include <fstream>
#include <iterator>
#include <mutex>

#include "avi/AviTestSupport.h"

namespace zentrova::gst::testing {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RawConversion ConvertRaw(const std::string& recording, const std::string& avi) {
  RawConversion raw;
  ConversionJob job([](const std::string&) {});
  const bool saved =
      job.Run(recording, avi, [] { return std::optional(avi::CompressOptions{"raw", 100}); });
  EXPECT_TRUE(saved) << recording;
  raw.width = job.videoFormat().biWidth;
  raw.height = job.videoFormat().biHeight;
  raw.rate = job.rate().rate;
  const std::vector<uint8_t> file = ReadBytes(avi);
  for (const avi::RiffChunk& c : avi::ListRiffChunks(file)) {
    const std::string id = c.path.size() >= 4 ? c.path.substr(c.path.size() - 4) : c.path;
    if (c.path.find("movi/") == std::string::npos) continue;
    if (id == "00db" || id == "00dc") {
      raw.frames.emplace_back(file.begin() + c.data, file.begin() + c.data + c.size);
    } else if (id == "01wb") {
      const size_t at = raw.pcm.size();
      raw.pcm.resize(at + c.size / 2);
      std::memcpy(raw.pcm.data() + at, &file[c.data], c.size / 2 * 2);
    }
  }
  return raw;
}

namespace {

struct Collector {
  std::mutex mutex;
  std::vector<Received>* into;
};

GstFlowReturn TakeSample(GstAppSink* sink, gpointer data) {
  auto* collector = static_cast<Collector*>(data);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (!sample) return GST_FLOW_ERROR;
  Received r;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  r.pts = GST_BUFFER_PTS(buffer);
  GstMapInfo map;
  if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    r.bytes.assign(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
  }
  if (const GstCaps* caps = gst_sample_get_caps(sample)) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(s, "width", &r.width);
    gst_structure_get_int(s, "height", &r.height);
  }
  gst_sample_unref(sample);
  std::lock_guard lock(collector->mutex);
  collector->into->push_back(std::move(r));
  return GST_FLOW_OK;
}

}  // namespace

RunResult RunPipeline(const std::string& description, std::chrono::seconds limit,
                      const std::function<void(GstElement*)>& whenPrerolled) {
  RunResult result;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline || error) {
    result.error = std::string("the pipeline cannot be built: ") + (error ? error->message : "?");
    g_clear_error(&error);
    if (pipeline) gst_object_unref(pipeline);
    return result;
  }
  Collector video{{}, &result.video}, sound{{}, &result.sound};
  for (auto [name, collector] : {std::pair{"video", &video}, std::pair{"sound", &sound}}) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), name);
    if (!sink) continue;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = TakeSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, collector, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_object_unref(sink);
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto wait = [&](GstMessageType types) -> GstMessage* {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return nullptr;
    return gst_bus_timed_pop_filtered(
        bus, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(),
        static_cast<GstMessageType>(types | GST_MESSAGE_ERROR));
  };
  auto note = [&](GstMessage* m) {
    if (!m) {
      result.timedOut = true;
      return false;
    }
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
      GError* e = nullptr;
      gst_message_parse_error(m, &e, nullptr);
      result.error = e ? e->message : "error";
      g_clear_error(&e);
    } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS) {
      result.eos = true;
    }
    const bool fine = GST_MESSAGE_TYPE(m) != GST_MESSAGE_ERROR;
    gst_message_unref(m);
    return fine;
  };

  bool going = true;
  if (whenPrerolled) {
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    going = note(wait(GST_MESSAGE_ASYNC_DONE));
    if (going) {
      whenPrerolled(pipeline);
      going = note(wait(GST_MESSAGE_ASYNC_DONE));
    }
  }
  if (going) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    note(wait(GST_MESSAGE_EOS));
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return result;
}

}  // namespace zentrova::gst::testing
