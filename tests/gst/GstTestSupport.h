#pragma once
// What the plugin's tests share: GStreamer started once with the built plugin loaded, recordings
// made by zrgen, the raw conversion of a recording read back frame by frame, and pipelines run to
// their end with what their appsinks received.
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "avi/AviFile.h"
#include "avi/Compressor.h"
#include "convert/ConversionJob.h"
#include "zrgen/RecordingGenerator.h"

namespace zentrova::gst::testing {

// Empty when GStreamer runs with the plugin; otherwise why not.
inline const std::string& PluginUnavailable() {
  static const std::string reason = [] {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
      std::string why = std::string("GStreamer does not start: ") + (error ? error->message : "?");
      g_clear_error(&error);
      return why;
    }
    GstPlugin* plugin = gst_plugin_load_file(ZENTROVA_GST_PLUGIN, &error);
    if (!plugin) {
      std::string why = std::string("the plugin does not load: ") + (error ? error->message : "?");
      g_clear_error(&error);
      return why;
    }
    gst_object_unref(plugin);
    for (const char* needed : {"filesrc", "appsink", "videoconvert", "playbin", "fakesink"}) {
      GstElementFactory* factory = gst_element_factory_find(needed);
      if (!factory) return std::string("GStreamer's ") + needed + " is not installed";
      gst_object_unref(factory);
    }
    return std::string();
  }();
  return reason;
}

#define SKIP_WITHOUT_GSTREAMER()                                              \
  if (!::zentrova::gst::testing::PluginUnavailable().empty())                 \
  GTEST_SKIP() << ::zentrova::gst::testing::PluginUnavailable()

struct RecordingSpec {
  uint8_t code = 0;        // 160 x 112
  uint16_t version = 257;  // 4096: the newer generation
  int frames = 30;
  bool sound = true;
  int intraPeriod = 10;
  int framesPerBlock = 7;
};

inline void MakeRecording(const std::string& path, const RecordingSpec& spec) {
  zrgen::GeneratorOptions o;
  o.output = path;
  o.resolutionCode = spec.code;
  o.version = spec.version;
  o.frames = spec.frames;
  o.intraPeriod = spec.intraPeriod;
  o.framesPerBlock = spec.framesPerBlock;
  o.audio = spec.sound ? zrgen::AudioInput::Tone : zrgen::AudioInput::None;
  o.idct = IdctChoice::Plain;
  o.text1 = "Gate camera";
  o.text2 = "North yard";
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
}

// A raw conversion: its frames as stored (24-bit, bottom row first) and its sound.
struct RawConversion {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int16_t> pcm;
  int width = 0, height = 0;
  FrameRate rate;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
RawConversion ConvertRaw(const std::string& recording, const std::string& avi);

// One buffer an appsink received.
struct Received {
  uint64_t pts = GST_CLOCK_TIME_NONE;
  std::vector<uint8_t> bytes;
  int width = 0, height = 0;
};

struct RunResult {
  bool eos = false;
  std::string error;  // the first error message posted, if any
  bool timedOut = false;
  std::vector<Received> video, sound;  // from the appsinks named "video" and "sound"
};

// Builds the pipeline from its description and runs it to EOS, an error or the time limit.
// `whenPrerolled`, when given, runs once the pipeline has prerolled in PAUSED (a seek, say); the
// pipeline plays once it has prerolled again. Only what is played is received.
RunResult RunPipeline(const std::string& description, std::chrono::seconds limit = std::chrono::seconds(60),
                      const std::function<void(GstElement*)>& whenPrerolled = {});

// The rows of a frame in the other order: GStreamer's frames start at the top.
inline std::vector<uint8_t> Flip(const std::vector<uint8_t>& frame, int width, int height) {
  std::vector<uint8_t> out(frame.size());
  const size_t row = static_cast<size_t>(width) * 3;
  for (int r = 0; r < height; ++r) std::memcpy(&out[r * row], &frame[(height - 1 - r) * row], row);
  return out;
}

}  // namespace zentrova::gst::testing
