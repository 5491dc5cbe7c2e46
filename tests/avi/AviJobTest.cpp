// The AVI layer under the conversion job and the command line, with recordings made by ZrWriter.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "AviTestSupport.h"
#include "TempDir.h"
#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

// A recording of `frames` frames over `seconds` seconds, each with 300 audio bytes (800 samples).
void MakeRecording(const std::string& path, uint8_t resolutionCode, int frames, int seconds) {
  ZrHeaderFields fields;
  const bool newer = resolutionCode == 4 || resolutionCode == 5 || resolutionCode == 132 || resolutionCode == 133;
  fields.version = newer ? kVersionNewer : kVersionOlder;
  fields.resolutionCode = resolutionCode;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + seconds;
  ZrWriter writer;
  ASSERT_TRUE(writer.Open(path, fields));
  const std::vector<uint8_t> audio(300, 0x5A);
  for (int i = 0; i < frames; ++i) {
    ZrFrame frame;
    frame.flags = FlagAudio | FlagNoPicture;
    frame.audio = audio;
    ASSERT_TRUE(writer.WriteFrame(frame));
  }
  ASSERT_TRUE(writer.Close());
}

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
  MakeRecording(dir.file("in.zr"), 3, 30, 2);
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
  MakeRecording(dir.file("in.zr"), 130, 20, 1);
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
  MakeRecording(dir.file("in.zr"), 130, 2, 1);
  const JobRun run = Convert(dir.file("in.zr"), dir.file("no/such/folder/out.avi"), "raw");
  EXPECT_FALSE(run.saved);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log.back(), "File open failed!");
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_NE(run.errors[0].find("No such file or directory"), std::string::npos);
}

TEST(AviJob, InterruptingTheCommandLineLeavesAFileThatOpens) {
  SKIP_WITHOUT_FFMPEG();
  const std::string zentrova = std::string(ZENTROVA_BINARY_DIR) + "/src/cli/zentrova";
  if (!std::filesystem::exists(zentrova)) GTEST_SKIP() << "no " << zentrova;
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 133, 20000, 800);
  const std::string out = dir.file("out.avi");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::freopen("/dev/null", "w", stdout);
    ::execl(zentrova.c_str(), "zentrova", "convert", dir.file("in.zr").c_str(), out.c_str(), "--codec", "mjpeg",
            "--quality", "50", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until frames are going in, then interrupt.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  pid_t ended = 0;
  auto size = [&] {
    std::error_code ec;
    const auto n = std::filesystem::file_size(out, ec);
    return ec ? 0 : n;
  };
  while (std::chrono::steady_clock::now() < deadline && size() < 200000 &&
         (ended = ::waitpid(child, &status, WNOHANG)) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(ended, 0) << "the conversion ended before it was interrupted";
  ::kill(child, SIGINT);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_NE(WEXITSTATUS(status), 0);

  const std::vector<uint8_t> bytes = ReadFile(out);
  const auto strh = Find(WalkRiff(bytes), "AVI /hdrl/strl/strh");
  ASSERT_EQ(strh.size(), 2u);
  const uint32_t frames = Le32(&bytes[strh[0].data + 32]);
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, 20000u);
  EXPECT_EQ(ProbeStream(out, 0)["nb_read_packets"], std::to_string(frames));
  EXPECT_EQ(ProbeStream(out, 0)["height"], "576");
}

}  // namespace
}  // namespace zentrova::avi
