// The plugin seen from pipelines: what it plays is what a raw conversion holds, picture for
// picture and sample for sample; it plays to the end, seeks, and survives damaged recordings.
#include <filesystem>

#include <gst/base/gsttypefindhelper.h>
#include <gst/pbutils/pbutils.h>

#include "TempDir.h"
#include "gst/GstTestSupport.h"

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
    {"older_704x576_doubled", {3, 257, 12, true}},
    {"newer_352x288_sound", {130, 4096, 30, true}},
    {"newer_704x576_silent", {131, 4096, 12, false}},
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
  gchar* uri = gst_filename_to_uri(zr.c_str(), nullptr);
  const RunResult run = RunPipeline(std::string("playbin uri=") + uri + " video-sink=fakesink audio-sink=fakesink");
  g_free(uri);
  EXPECT_TRUE(run.eos) << run.error;
  EXPECT_FALSE(run.timedOut);
}

INSTANTIATE_TEST_SUITE_P(Recordings, PluginPictures, ::testing::ValuesIn(kRecordings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Plugin, I420PicturesAreTheDecodersPlanesTurnedTopDown) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 5, false});
  const RunResult run = RunPipeline("filesrc location=" + Quoted(zr) +
                                    " ! zrdemux ! zrvideodec ! video/x-raw,format=I420 ! appsink name=video");
  ASSERT_TRUE(run.eos) << run.error;
  ASSERT_EQ(run.video.size(), 5u);
  EXPECT_EQ(run.video[0].bytes.size(), 160u * 112 * 3 / 2);
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

// A seek to the middle lands on the intra picture before it (key unit) or on the frame itself
// (accurate); either way the pictures from there are those of the conversion.
TEST(Plugin, ASeekToTheMiddleDeliversTheConversionsPicturesFromThere) {
  SKIP_WITHOUT_GSTREAMER();
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  MakeRecording(zr, {0, 257, 40, true, 10, 7});
  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  ASSERT_EQ(raw.frames.size(), 40u);
  const uint64_t target = 25;  // intra pictures at 0, 10, 20, 30
  for (const auto flags : {GST_SEEK_FLAG_KEY_UNIT, GST_SEEK_FLAG_ACCURATE}) {
    const uint64_t first = flags == GST_SEEK_FLAG_KEY_UNIT ? 20 : target;
    const RunResult run = RunPipeline(DecodePictures(zr), std::chrono::seconds(60), [&](GstElement* pipeline) {
      EXPECT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | flags),
                                          static_cast<gint64>(FrameTime(raw, target))));
    });
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.video.size(), raw.frames.size() - first) << "seek flags " << flags;
    for (size_t i = 0; i < run.video.size(); ++i) {
      EXPECT_EQ(run.video[i].pts, FrameTime(raw, first + i));
      ASSERT_TRUE(run.video[i].bytes == Flip(raw.frames[first + i], raw.width, raw.height)) << "frame " << first + i;
    }
  }
}

TEST(Plugin, DamagedAndHostileRecordingsEndInAnErrorOrTheEndNeverAHang) {
  SKIP_WITHOUT_GSTREAMER();
  const std::filesystem::path corpus = std::filesystem::path(ZENTROVA_SOURCE_DIR) / "tests/corpus/files";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    gchar* uri = gst_filename_to_uri(entry.path().c_str(), nullptr);
    const RunResult run = RunPipeline(std::string("playbin uri=") + uri + " video-sink=fakesink audio-sink=fakesink",
                                      std::chrono::seconds(60));
    g_free(uri);
    EXPECT_FALSE(run.timedOut) << entry.path();
    EXPECT_TRUE(run.eos || !run.error.empty()) << entry.path();
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace zentrova::gst::testing
