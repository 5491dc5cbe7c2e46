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

TEST(AviRate, IsFramesOverWholeSecondsPlusOne) {
  EXPECT_EQ(ConversionJob::ComputeRate(250, 1000, 1010), 26u);
  EXPECT_EQ(ConversionJob::ComputeRate(100, 0, 60), 2u);
  EXPECT_EQ(ConversionJob::ComputeRate(30, 0, 60), 1u);
  EXPECT_EQ(ConversionJob::ComputeRate(0, 0, 60), 1u);
}

TEST(AviRate, AnEndBeforeTheStartIsAHugeUnsignedDuration) {
  EXPECT_EQ(ConversionJob::ComputeRate(250, 1010, 1000), 1u);
}

TEST(AviRate, AZeroDurationGivesTheDefaultRateInsteadOfDividingByZero) {
  EXPECT_EQ(ConversionJob::ComputeRate(250, 1000, 1000), ConversionJob::kZeroDurationRate);
}

TEST(OutputGeometry, OnlyThe640And704WideRecordingsAreDoubled) {
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(640, 240), 480);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(704, 288), 576);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(352, 288), 288);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(320, 240), 240);
  EXPECT_EQ(ConversionJob::ComputeOutputHeight(176, 144), 144);
}

TEST(LineDoubling, AveragesEachByteOfNeighbouringRowsAndRepeatsTheLastRow) {
  const int32_t w = 4, h = 3;
  std::vector<uint8_t> picture(w * h * 3);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
  picture[0] = 10;
  picture[w * 3] = 13;  // row 1, first byte
  std::vector<uint8_t> frame(w * 2 * h * 3, 0xEE);
  ConversionJob::DoubleLines(picture.data(), w, h, frame.data());
  const size_t row = w * 3;
  EXPECT_EQ(frame[row], 11);  // (10 + 13) / 2 rounded down
  for (int r = 0; r < h; ++r) {
    for (size_t k = 0; k < row; ++k) {
      EXPECT_EQ(frame[2 * r * row + k], picture[r * row + k]);
      const uint8_t below = r + 1 < h ? picture[(r + 1) * row + k] : picture[r * row + k];
      EXPECT_EQ(frame[(2 * r + 1) * row + k], (picture[r * row + k] + below) / 2);
    }
  }
}

}  // namespace
}  // namespace zentrova
