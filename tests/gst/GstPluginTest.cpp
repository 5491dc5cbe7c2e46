// The plugin seen from pipelines: what it plays is what a raw conversion holds, picture for
// picture and sample for sample; it plays to the end, seeks, and survives damaged recordings.
#include <filesystem>

#include <gst/base/gsttypefindhelper.h>
#include <gst/pbutils/pbutils.h>

#include "TempDir.h"
#include "gst/GstTestSupport.h"
#include "video/ColourConversion.h"

namespace zentrova::gst::testing {
namespace {

using zentrova::testing::TempDir;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string DecodePictures(const std::string& recording, const std::string& format = "BGR") {
  return "filesrc location=" + Quoted(recording) +
         " ! zrdemux ! zrvideodec ! videoconvert ! video/x-raw,format=" + format + " ! appsink name=video";
}

std::string DecodeSound(const std::string& recording) {
  return "filesrc location=" + Quoted(recording) +
         " ! zrdemux name=d d.audio_0 ! queue ! zraudiodec ! audio/x-raw,format=S16LE ! appsink name=sound "
         "d.video_0 ! queue ! fakesink";
}

std::string PlaybinOf(const std::string& path) {
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  std::string description = std::string("playbin uri=") + uri + " video-sink=fakesink audio-sink=fakesink";
  g_free(uri);
  return description;
}

std::vector<int16_t> Samples(const std::vector<Received>& buffers) {
  std::vector<int16_t> pcm;
  for (const Received& r : buffers) {
    const size_t at = pcm.size();
    pcm.resize(at + r.bytes.size() / 2);
    std::memcpy(pcm.data() + at, r.bytes.data(), r.bytes.size() / 2 * 2);
  }
  return pcm;
}

uint64_t FrameTime(const RawConversion& raw, uint64_t frame) {
  return gst_util_uint64_scale(frame, static_cast<uint64_t>(raw.rate.den) * GST_SECOND, raw.rate.num);
}

struct Generation {
  const char* name;
  RecordingSpec spec;
  friend void PrintTo(const Generation& g, std::ostream* out) { *out << g.name; }
};

// Both generations, a line-doubled size among them, with and without sound.
const Generation kRecordings[] = {
    {"older_160x112_sound", {0, 257, 30, true}},
    {"older_640x480_doubled", {3, 257, 12, true}},
    {"newer_352x288_sound", {132, 4096, 30, true}},
    {"newer_704x576_doubled_silent", {133, 4096, 12, false}},
};

class PluginPictures : public ::testing::TestWithParam<Generation> {};

TEST_P(PluginPictures, DecodeByteForByteAsARawConversionWithTheJobsClock) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, GetParam().spec);
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  ASSERT_FALSE(raw.frames.empty());

  const RunResult run = RunPipeline(DecodePictures(zr));
  ASSERT_TRUE(run.eos) << run.error;
  ASSERT_EQ(run.video.size(), raw.frames.size());
  for (size_t i = 0; i < raw.frames.size(); ++i) {
    EXPECT_EQ(run.video[i].width, raw.width);
    EXPECT_EQ(run.video[i].height, raw.height);
    EXPECT_EQ(run.video[i].pts, FrameTime(raw, i)) << "frame " << i;
    ASSERT_TRUE(run.video[i].bytes == Flip(raw.frames[i], raw.width, raw.height)) << "frame " << i;
  }
}

TEST_P(PluginPictures, TheSoundIsThePcmOfARawConversion) {
  SKIP_WITHOUT_GSTREAMER();
  if (!GetParam().spec.sound) GTEST_SKIP() << "a recording without sound";
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, GetParam().spec);
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  const RunResult run = RunPipeline(DecodeSound(zr));
  ASSERT_TRUE(run.eos) << run.error;
  ASSERT_FALSE(raw.pcm.empty());
  EXPECT_TRUE(Samples(run.sound) == raw.pcm);
}

TEST_P(PluginPictures, PlaybinPlaysTheRecordingToItsEnd) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, GetParam().spec);
  const RunResult run = RunPipeline(PlaybinOf(zr));
  EXPECT_TRUE(run.eos) << run.error;
  EXPECT_FALSE(run.timedOut);
}

INSTANTIATE_TEST_SUITE_P(Recordings, PluginPictures, ::testing::ValuesIn(kRecordings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Plugin, PlaybinPlaysEveryResolutionCodeOfBothGenerationsWithAndWithoutSound) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const struct {
    uint16_t version;
    std::vector<uint8_t> codes;
  } generations[] = {{257, {0, 1, 2, 3, 128, 129, 130, 131}}, {4096, {4, 5, 132, 133}}};
  for (const auto& generation : generations)
    for (const uint8_t code : generation.codes)
      for (const bool sound : {true, false}) {
        const std::string zr = dir.file("code" + std::to_string(code) + (sound ? "-sound" : "") + ".zr");
        MakeRecording(zr, {code, generation.version, 6, sound, 3, 4});
        const RunResult run = RunPipeline(PlaybinOf(zr));
        EXPECT_TRUE(run.eos) << zr << ": " << run.error;
      }
}

// Seeks of every kind while the recording plays, some after it has ended; then one more to the
// middle, from which it plays to its end.
TEST(Plugin, SeekingRepeatedlyWhilePlayingNeverStallsAndTheLastSeekPlaysToTheEnd) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 120, true, 10, 7});
  GstElement* playbin = gst_parse_launch(PlaybinOf(zr).c_str(), nullptr);
  ASSERT_NE(playbin, nullptr);
  GstBus* bus = gst_element_get_bus(playbin);
  gst_element_set_state(playbin, GST_STATE_PLAYING);
  gst_element_get_state(playbin, nullptr, nullptr, 20 * GST_SECOND);
  const GstSeekFlags kinds[] = {
      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
      GST_SEEK_FLAG_KEY_UNIT,
      GST_SEEK_FLAG_ACCURATE,
  };
  for (int i = 0; i < 40; ++i) {
    const gint64 to = static_cast<gint64>((i * 37 % 48) * GST_SECOND / 10);
    gst_element_seek_simple(playbin, GST_FORMAT_TIME, kinds[i % 4], to);
    if (i % 8 == 0) g_usleep(20000);
  }
  ASSERT_TRUE(gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                                      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                      2 * GST_SECOND));
  GstMessage* end = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(end, nullptr) << "no end within 30 s";
  EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS);
  gst_message_unref(end);
  gst_element_set_state(playbin, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(playbin);
}

TEST(Plugin, ARecordingPushedThroughAPipeDecodesAsOneReadFromItsFile) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 20, true});
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  // A queue pushes: the demuxer cannot pull from it.
  const RunResult run = RunPipeline("filesrc location=" + Quoted(zr) +
                                    " ! queue ! zrdemux ! zrvideodec ! videoconvert ! video/x-raw,format=BGR ! "
                                    "appsink name=video");
  ASSERT_TRUE(run.eos) << run.error;
  ASSERT_EQ(run.video.size(), raw.frames.size());
  for (size_t i = 0; i < raw.frames.size(); ++i)
    ASSERT_TRUE(run.video[i].bytes == Flip(raw.frames[i], raw.width, raw.height)) << "frame " << i;
}

// The planes, turned the conversion's way up and colour-converted, give the conversion's frames.
TEST(Plugin, I420PicturesAreTheDecodersPlanesTurnedTopDown) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 8, false});
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  const RunResult run = RunPipeline("filesrc location=" + Quoted(zr) +
                                    " ! zrdemux ! zrvideodec ! video/x-raw,format=I420 ! appsink name=video");
  ASSERT_TRUE(run.eos) << run.error;
  ASSERT_EQ(run.video.size(), raw.frames.size());
  const int w = 160, h = 112;  // strides without padding at this size
  for (size_t i = 0; i < run.video.size(); ++i) {
    const std::vector<uint8_t>& b = run.video[i].bytes;
    ASSERT_EQ(b.size(), static_cast<size_t>(w * h * 3 / 2));
    std::vector<uint8_t> y(w * h), cb(w * h / 4), cr(w * h / 4);
    for (int r = 0; r < h; ++r) std::memcpy(&y[r * w], &b[(h - 1 - r) * w], w);
    for (int r = 0; r < h / 2; ++r) {
      std::memcpy(&cb[r * w / 2], &b[w * h + (h / 2 - 1 - r) * w / 2], w / 2);
      std::memcpy(&cr[r * w / 2], &b[w * h * 5 / 4 + (h / 2 - 1 - r) * w / 2], w / 2);
    }
    std::vector<uint8_t> picture(w * h * 3);
    ConvertToRgb24(picture.data(), y.data(), cb.data(), cr.data(), w, h);
    ASSERT_TRUE(picture == raw.frames[i]) << "frame " << i;
  }
}

TEST(Plugin, TheDiscovererSeesBothStreamsTheJobsDurationTheTagsAndASeekableFile) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 30, true});
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  GstDiscoverer* discoverer = gst_discoverer_new(30 * GST_SECOND, nullptr);
  ASSERT_NE(discoverer, nullptr);
  gchar* uri = gst_filename_to_uri(zr.c_str(), nullptr);
  GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, nullptr);
  g_free(uri);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(gst_discoverer_info_get_result(info), GST_DISCOVERER_OK);
  EXPECT_TRUE(gst_discoverer_info_get_seekable(info));
  EXPECT_EQ(gst_discoverer_info_get_duration(info), FrameTime(raw, raw.frames.size()));
  GList* videos = gst_discoverer_info_get_video_streams(info);
  GList* sounds = gst_discoverer_info_get_audio_streams(info);
  EXPECT_EQ(g_list_length(videos), 1u);
  EXPECT_EQ(g_list_length(sounds), 1u);
  gst_discoverer_stream_info_list_free(videos);
  gst_discoverer_stream_info_list_free(sounds);
  const GstTagList* tags = gst_discoverer_info_get_tags(info);
  ASSERT_NE(tags, nullptr);
  gchar* title = nullptr;
  EXPECT_TRUE(gst_tag_list_get_string(tags, GST_TAG_TITLE, &title));
  EXPECT_STREQ(title, "Gate camera");
  g_free(title);
  GstDateTime* start = nullptr;
  EXPECT_TRUE(gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &start));
  if (start) gst_date_time_unref(start);
  gst_discoverer_info_unref(info);
  g_object_unref(discoverer);
}

TEST(Plugin, OnlyARecordingWhoseHeaderTheReaderAcceptsIsTakenForOne) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 3, false});
  std::vector<uint8_t> bytes = ReadBytes(zr);
  auto typeOf = [](std::vector<uint8_t> data) {
    GstBuffer* buffer = gst_buffer_new_memdup(data.data(), data.size());
    GstCaps* caps = gst_type_find_helper_for_buffer(nullptr, buffer, nullptr);
    gst_buffer_unref(buffer);
    std::string name = caps ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
    if (caps) gst_caps_unref(caps);
    return name;
  };
  EXPECT_EQ(typeOf(bytes), "video/x-zr");
  const std::string text = "ZR is what the log calls the recorder; this is a note about it.\n";
  EXPECT_NE(typeOf(std::vector<uint8_t>(text.begin(), text.end())), "video/x-zr");
}

// A seek to the middle lands on the nearest intra picture (key unit; the one before on a tie,
// or the side the seek asks for) or on the frame itself (accurate); either way the pictures from
// there are those of the conversion.
TEST(Plugin, ASeekToTheMiddleDeliversTheConversionsPicturesFromThere) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 40, true, 10, 7});
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  ASSERT_EQ(raw.frames.size(), 40u);
  // Intra pictures at 0, 10, 20, 30.
  const struct {
    GstSeekFlags flags;
    uint64_t target, first;
  } seeks[] = {
      {GST_SEEK_FLAG_KEY_UNIT, 25, 20},
      {GST_SEEK_FLAG_KEY_UNIT, 28, 30},
      {static_cast<GstSeekFlags>(GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE), 28, 20},
      {GST_SEEK_FLAG_ACCURATE, 25, 25},
  };
  for (const auto& seek : seeks) {
    const RunResult run = RunPipeline(DecodePictures(zr), std::chrono::seconds(60), [&](GstElement* pipeline) {
      EXPECT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | seek.flags),
                                          static_cast<gint64>(FrameTime(raw, seek.target))));
    });
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.video.size(), raw.frames.size() - seek.first) << "seek to " << seek.target << ", flags " << seek.flags;
    for (size_t i = 0; i < run.video.size(); ++i) {
      EXPECT_EQ(run.video[i].pts, FrameTime(raw, seek.first + i));
      ASSERT_TRUE(run.video[i].bytes == Flip(raw.frames[seek.first + i], raw.width, raw.height))
          << "frame " << seek.first + i;
    }

    // The sound starts with the first picture and lasts to the end (zrgen gives every frame
    // 320 samples at 25 pictures a second).
    const RunResult sound = RunPipeline(DecodeSound(zr), std::chrono::seconds(60), [&](GstElement* pipeline) {
      gst_element_seek_simple(pipeline, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | seek.flags),
                              static_cast<gint64>(FrameTime(raw, seek.target)));
    });
    ASSERT_TRUE(sound.eos) << sound.error;
    ASSERT_FALSE(sound.sound.empty());
    EXPECT_EQ(sound.sound.front().pts, FrameTime(raw, seek.first));
    EXPECT_EQ(Samples(sound.sound).size(), raw.pcm.size() - 320 * seek.first);
  }
}

TEST(Plugin, DamagedAndHostileRecordingsEndInAnErrorOrTheEndNeverAHang) {
  SKIP_WITHOUT_GSTREAMER();
  const std::filesystem::path corpus = std::filesystem::path(ZENTROVA_SOURCE_DIR) / "tests/corpus/files";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    // Through playbin (the type finder first) and straight into the demuxer, which then sees
    // the files the type finder turns away.
    for (const std::string& description :
         {PlaybinOf(entry.path()),
          "filesrc location=" + Quoted(entry.path().string()) + " ! zrdemux ! zrvideodec ! fakesink"}) {
      const RunResult run = RunPipeline(description, std::chrono::seconds(60));
      EXPECT_FALSE(run.timedOut) << description;
      EXPECT_TRUE(run.eos || !run.error.empty()) << description;
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace zentrova::gst::testing
