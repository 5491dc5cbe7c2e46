// The rate a whole conversion gives its file, read back by ffprobe: from the sound, from the
// declared duration, and the upper bound a hostile header meets.
#include "TempDir.h"
#include "support/ConversionTestSupport.h"

namespace zentrova {
namespace {

using container::Format;
using namespace testing;  // the recordings, the jobs and ffprobe of whole conversions

TEST(RateRules, TheFileCarriesTheRateThatMakesThePicturesLastAsLongAsTheSound) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 300;
  r.audioBytes = 99;
  Write(dir.file("in.zr"), r);
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("out.avi"), "raw").saved);
  EXPECT_EQ(Probe(dir.file("out.avi"), "stream=r_frame_rate"), "1000/33");
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("out.mkv"), "ffv1", In(Format::Matroska)).saved);
  EXPECT_EQ(Probe(dir.file("out.mkv"), "stream=avg_frame_rate"), "1000/33");
}

TEST(RateRules, WithoutSoundTheDeclaredFramesShareTheDuration) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 100;
  r.headerSeconds = 60;
  r.audioBytes = 0;
  Write(dir.file("in.zr"), r);
  for (Format f : {Format::Avi, Format::Matroska, Format::Mp4}) {
    const std::string out = dir.file(std::string("out.") + Extension(f));
    const Converted run = Convert(dir.file("in.zr"), out, "mpeg4", In(f));
    ASSERT_TRUE(run.saved) << out;
    EXPECT_EQ(run.rate.rate, (FrameRate{5, 3}));
    EXPECT_EQ(run.rate.source, RateSource::Duration);
    EXPECT_NEAR(std::atof(Probe(out, "format=duration", "").c_str()), 60.0, 0.01) << out;
    EXPECT_EQ(Probe(out, "stream=nb_read_frames"), "100") << out;
  }
  EXPECT_EQ(Probe(dir.file("out.avi"), "stream=r_frame_rate"), "5/3");
}

TEST(RateRules, AHostileHeaderGetsTheUpperBound) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 2000;  // declared over 1 s, no sound
  r.headerSeconds = 1;
  r.audioBytes = 0;
  Write(dir.file("in.zr"), r);
  const Converted run = Convert(dir.file("in.zr"), dir.file("out.avi"), "raw");
  EXPECT_EQ(run.rate.rate, kMaxRate);
  EXPECT_TRUE(run.rate.bounded);
  EXPECT_EQ(Probe(dir.file("out.avi"), "stream=r_frame_rate"), "120/1");
}

}  // namespace
}  // namespace zentrova
