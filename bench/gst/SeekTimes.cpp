// Times what a player waits for in a recording: opening it to the first picture (the index is
// built then), a flushing seek to the middle of each kind until the picture there is prerolled,
// and pictures decoded per second on this thread's core.
//   zentrova_gst_seek_times PLUGIN RECORDING
#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

bool WaitFor(GstElement* pipeline, GstMessageType type) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m =
      gst_bus_timed_pop_filtered(bus, 600 * GST_SECOND, static_cast<GstMessageType>(type | GST_MESSAGE_ERROR));
  gst_object_unref(bus);
  const bool ok = m && GST_MESSAGE_TYPE(m) == type;
  if (m) gst_message_unref(m);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zentrova_gst_seek_times PLUGIN RECORDING\n");
    return 2;
  }
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  GstPlugin* plugin = gst_plugin_load_file(argv[1], &error);
  if (!plugin) {
    std::fprintf(stderr, "the plugin does not load: %s\n", error ? error->message : "?");
    return 1;
  }
  const std::string description = std::string("filesrc location=\"") + argv[2] +
                                  "\" ! zrdemux ! zrvideodec ! video/x-raw,format=I420 ! fakesink sync=false";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  auto start = std::chrono::steady_clock::now();
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  if (!WaitFor(pipeline, GST_MESSAGE_ASYNC_DONE)) return 1;
  std::printf("open to the first picture: %.1f ms\n", Since(start));
  gint64 duration = 0;
  gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration);
  std::printf("duration: %.1f s\n", duration / 1e9);
  for (const auto& [name, flags] : {std::pair{"key unit", GST_SEEK_FLAG_KEY_UNIT}, std::pair{"accurate", GST_SEEK_FLAG_ACCURATE}}) {
    for (int i = 0; i < 3; ++i) {
      const gint64 to = duration / 2 + i * 7 * GST_SECOND / 10;
      start = std::chrono::steady_clock::now();
      gst_element_seek_simple(pipeline, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | flags), to);
      if (!WaitFor(pipeline, GST_MESSAGE_ASYNC_DONE)) return 1;
      std::printf("seek to %.1f s (%s): %.1f ms\n", to / 1e9, name, Since(start));
    }
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return 0;
}
