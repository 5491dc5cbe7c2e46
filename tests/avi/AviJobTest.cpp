// The AVI layer under the conversion job, with recordings made by ZrWriter.
#include "AviTestSupport.h"
#include "TempDir.h"
#include "convert/ConversionJob.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

struct JobRun {
  std::vector<std::string> log;
  std::vector<std::string> errors;
  bool saved = false;
};

JobRun Convert(const std::string& in, const std::string& out, const std::string& codec) {
  JobRun run;
  ConversionJob job([&](const std::string& l) { run.log.push_back(l); }, {}, {},
                    [&](const std::string& e) { run.errors.push_back(e); });
  run.saved = job.Run(in, out, [&] { return std::optional(CompressOptions{codec, 90}); });
  return run;
}

TEST(AviJob, A640By240RecordingBecomesA640By480FileWithAllItsAudio) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeSoundRecording(dir.file("in.zr"), 3, 30, 2);
  const JobRun run = Convert(dir.file("in.zr"), dir.file("out.avi"), "raw");
  ASSERT_TRUE(run.saved);
  EXPECT_EQ(run.log.back(), "File saved!");
  auto v = ProbeStream(dir.file("out.avi"), 0);
  EXPECT_EQ(v["codec_name"], "rawvideo");
  EXPECT_EQ(v["width"], "640");
  EXPECT_EQ(v["height"], "480");
  EXPECT_EQ(v["nb_read_packets"], "30");
  EXPECT_EQ(v["r_frame_rate"], "10/1");  // 30 frames of 800 samples: 3 s of sound
  EXPECT_EQ(ProbeStream(dir.file("out.avi"), 1)["codec_name"], "pcm_s16le");
  EXPECT_EQ(Decode(dir.file("out.avi"), "-map 0:a -f s16le").size(), size_t{30} * 800 * 2);
  // Frames without a picture are black, at the full output size.
  const std::string video = Decode(dir.file("out.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
  ASSERT_EQ(video.size(), size_t{30} * 640 * 480 * 3);
  EXPECT_EQ(video.find_first_not_of('\0'), std::string::npos);
}

TEST(AviJob, TheDefaultCompressorGivesAnMpeg4File) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeSoundRecording(dir.file("in.zr"), 130, 20, 1);
  const JobRun run = Convert(dir.file("in.zr"), dir.file("out.avi"), kDefaultCodec);
  ASSERT_TRUE(run.saved);
  auto v = ProbeStream(dir.file("out.avi"), 0);
  EXPECT_EQ(v["codec_name"], "mpeg4");
  EXPECT_EQ(v["codec_tag_string"], "XVID");
  EXPECT_EQ(v["width"], "352");
  EXPECT_EQ(v["height"], "288");
  EXPECT_EQ(v["nb_read_packets"], "20");
}

TEST(AviJob, AnOutputThatCannotBeCreatedIsReportedWithItsReason) {
  TempDir dir;
  MakeSoundRecording(dir.file("in.zr"), 130, 2, 1);
  const JobRun run = Convert(dir.file("in.zr"), dir.file("no/such/folder/out.avi"), "raw");
  EXPECT_FALSE(run.saved);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log.back(), "File open failed!");
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_NE(run.errors[0].find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace zentrova::avi
