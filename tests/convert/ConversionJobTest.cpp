#include "convert/ConversionJob.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "convert/Messages.h"

namespace zentrova {
namespace {

struct LoggedJob {
  LoggedJob() : job([this](const std::string& line) { lines.push_back(line); }) {}
  ConversionJob::Setup convert(const std::string& in, const std::string& out) {
    return job.Convert(in, out, [] { return std::optional(avi::CompressOptions{"raw", 100}); });
  }
  std::vector<std::string> lines;
  ConversionJob job;
};

TEST(ConvertNameChecks, RunInOrderAndLogOneLine) {
  struct Case {
    const char* input;
    const char* output;
    const char* line;
  } cases[] = {
      {"", "", messages::kNoInputName},
      {"", "x.avi", messages::kNoInputName},
      {"in.zr", "", messages::kNoOutputName},
      {"in.zr", "clip.avi.AVIX", messages::kBadOutputName},
      {"in.zr", "clip.avi.mp4", messages::kBadOutputName},
      {"in.zr", "vi", messages::kBadOutputName},  // shorter than three characters
      {"in.zr", "av", messages::kBadOutputName},
  };
  for (const Case& c : cases) {
    LoggedJob j;
    EXPECT_EQ(j.convert(c.input, c.output), ConversionJob::Setup::Failed);
    EXPECT_EQ(j.lines, std::vector<std::string>{c.line}) << c.input << " -> " << c.output;
    EXPECT_FALSE(j.job.busy());
  }
}

TEST(ConvertNameChecks, AnUnreadableRecordingLeavesNoOutputBehind) {
  testing::TempDir dir;
  const std::string out = dir.file("out.avi");
  {
    LoggedJob j;
    EXPECT_EQ(j.convert(dir.file("missing.zr"), out), ConversionJob::Setup::Failed);
    EXPECT_EQ(j.lines, std::vector<std::string>{messages::kOpenFailed});
  }
  {
    LoggedJob j;  // a folder is no recording either, whatever its name
    EXPECT_EQ(j.convert(dir.path().string(), out), ConversionJob::Setup::Failed);
    EXPECT_EQ(j.lines, std::vector<std::string>{messages::kOpenFailed});
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(OutputGeometry, OnlyThe640And704WideRecordingsAreDoubled) {
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(640, 240), 480);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(704, 288), 576);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(352, 288), 288);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(320, 240), 240);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(176, 144), 144);
}

}  // namespace
}  // namespace zentrova
