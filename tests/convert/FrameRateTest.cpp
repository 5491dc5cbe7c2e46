// The rules that choose the video rate, and the bound every one of them ends in.
#include "convert/FrameRate.h"

#include <gtest/gtest.h>

namespace zentrova {
namespace {

constexpr int32_t kStart = 1200000000;

TEST(FrameRate, WithSoundThePicturesLastAsLongAsTheSamples) {
  // 20,000 frames of 25 fps with 320 samples each: 25, whatever the header's whole seconds say.
  DerivedRate r = AutoRate(20000, 20000 * 320, kStart, kStart + 769);
  EXPECT_EQ(r.rate, (FrameRate{25, 1}));
  EXPECT_EQ(r.source, RateSource::Sound);
  EXPECT_FALSE(r.bounded);
  EXPECT_EQ(AutoRate(10, 80000, kStart, kStart + 10).rate, (FrameRate{1, 1}));
  // 264 samples a frame (99 bytes of sound): 1000/33, so that 300 frames last the 9.9 s of sound.
  EXPECT_EQ(AutoRate(300, 300 * 264, kStart, kStart + 10).rate, (FrameRate{1000, 33}));
  // Sound counts even when the header has no duration.
  EXPECT_EQ(AutoRate(50, 50 * 320, kStart, kStart).rate, (FrameRate{25, 1}));
}

TEST(FrameRate, WithoutSoundTheFramesShareTheDurationExactly) {
  EXPECT_EQ(AutoRate(250, 0, kStart, kStart + 10).rate, (FrameRate{25, 1}));
  EXPECT_EQ(AutoRate(100, 0, kStart, kStart + 60).rate, (FrameRate{5, 3}));
  EXPECT_EQ(AutoRate(30000, 0, kStart, kStart + 1001).rate, (FrameRate{30000, 1001}));
  EXPECT_EQ(AutoRate(100, 0, kStart, kStart + 60).source, RateSource::Duration);
  for (int32_t end : {kStart, kStart - 1, INT32_MIN}) {
    const DerivedRate r = AutoRate(250, 0, kStart, end);
    EXPECT_EQ(r.rate, kDefaultRate) << end;
    EXPECT_EQ(r.source, RateSource::NoTiming);
  }
}

TEST(FrameRate, EveryRuleIsKeptBetweenOneFramePerMinuteAndOneHundredTwenty) {
  // A hostile header: a million frames declared over 8 seconds.
  for (const DerivedRate& r : {AutoRate(1000000, 0, kStart, kStart + 8), ClassicRate(1000000, kStart, kStart + 8),
                               AutoRate(1000000, 8, kStart, kStart + 8)}) {
    EXPECT_EQ(r.rate, kMaxRate);
    EXPECT_TRUE(r.bounded);
  }
  // One frame over a day, and one over the widest span the header can hold.
  EXPECT_EQ(AutoRate(1, 0, kStart, kStart + 86400).rate, kMinRate);
  EXPECT_EQ(AutoRate(1, 0, INT32_MIN, INT32_MAX).rate, kMinRate);
  EXPECT_EQ(AutoRate(0, 8000, kStart, kStart).rate, kMinRate);  // sound and no pictures
  // Right at the edges: kept as they are.
  EXPECT_EQ(AutoRate(1, 0, kStart, kStart + 60).rate, kMinRate);
  EXPECT_FALSE(AutoRate(1, 0, kStart, kStart + 60).bounded);
  EXPECT_EQ(AutoRate(120, 8000, kStart, kStart).rate, kMaxRate);
  EXPECT_FALSE(AutoRate(120, 8000, kStart, kStart).bounded);
  RateChoice forced{RateChoice::Mode::Forced, {240, 1}};  // only Parse checks a forced rate
  EXPECT_EQ(ChooseRate(forced, 10, 0, kStart, kStart + 1).rate, kMaxRate);
}

TEST(FrameRate, TheClassicRuleIsTheWholeQuotientPlusOne) {
  EXPECT_EQ(ClassicRate(250, kStart, kStart + 10).rate, (FrameRate{26, 1}));
  EXPECT_EQ(ClassicRate(100, kStart, kStart + 60).rate, (FrameRate{2, 1}));
  EXPECT_EQ(ClassicRate(30, kStart, kStart + 60).rate, (FrameRate{1, 1}));
  EXPECT_EQ(ClassicRate(250, kStart, kStart).rate, kDefaultRate);
  EXPECT_EQ(ClassicRate(250, kStart + 10, kStart).rate, (FrameRate{1, 1}));  // unsigned difference
  RateChoice classic{RateChoice::Mode::Classic, {}};
  EXPECT_EQ(ChooseRate(classic, 250, 250 * 320, kStart, kStart + 10).rate, (FrameRate{26, 1}));  // sound ignored
}

TEST(FrameRate, FractionsAreReducedAndHugeTermsApproximated) {
  EXPECT_EQ(FrameRate::Reduced(2500, 100), (FrameRate{25, 1}));
  EXPECT_EQ(FrameRate::Reduced(0, 7), (FrameRate{0, 1}));
  EXPECT_EQ(FrameRate::Reduced(7, 0), (FrameRate{0, 1}));
  // 4e9 frames x 8000 over a prime number of samples: terms beyond 31 bits, a close fraction.
  const FrameRate r = FrameRate::Reduced(uint64_t{4000000000} * 8000, 1000000007);
  EXPECT_LE(r.num, uint32_t{INT32_MAX});
  EXPECT_LE(r.den, uint32_t{INT32_MAX});
  EXPECT_NEAR(r.fps(), 4e9 * 8000 / 1000000007.0, 1e-3);
  // With 16-bit terms, as a compressor's time base: 1199999/10001 becomes a close small fraction.
  const FrameRate coarse = FrameRate::Reduced(1199999, 10001, 65535);
  EXPECT_LE(coarse.num, 65535u);
  EXPECT_LE(coarse.den, 65535u);
  EXPECT_NEAR(coarse.fps(), 1199999 / 10001.0, 1e-5);  // terms near 65535 / 120: about 1 / 500^2
  EXPECT_EQ(FrameRate::Reduced(30000, 1001, 65535), (FrameRate{30000, 1001}));
  const FrameRate small = FrameRate::Reduced(1, uint64_t{1} << 40);
  EXPECT_EQ(small.Bounded(), kMinRate);
  EXPECT_EQ((FrameRate{5, 3}.text()), "5/3");
  EXPECT_EQ((FrameRate{25, 1}.text()), "25");
}

TEST(FrameRate, TheCommandLineChoiceIsParsedOrRefusedWithAReason) {
  EXPECT_EQ(RateChoice::Parse("auto")->mode, RateChoice::Mode::Auto);
  EXPECT_EQ(RateChoice::Parse("classic")->mode, RateChoice::Mode::Classic);
  struct Good {
    const char* text;
    FrameRate rate;
  } good[] = {{"25", {25, 1}}, {"30000/1001", {30000, 1001}}, {"50/2", {25, 1}}, {"1/60", {1, 60}}, {"120", {120, 1}}};
  for (const Good& g : good) {
    const auto c = RateChoice::Parse(g.text);
    ASSERT_TRUE(c) << g.text;
    EXPECT_EQ(c->mode, RateChoice::Mode::Forced);
    EXPECT_EQ(c->forced, g.rate) << g.text;
  }
  for (const char* bad : {"", "0", "0/5", "25/0", "1/61", "121", "240/1", "-5", "abc", "25/", "/2", "2.5",
                          "25 ", "AUTO", "99999999999999999999", "1/2/3"}) {
    const auto refused = RateChoice::Parse(bad);
    ASSERT_FALSE(refused) << bad;
    EXPECT_FALSE(refused.reason().empty()) << bad;
  }
}

TEST(ClassicWholeRate, IsFramesOverWholeSecondsPlusOne) {
  EXPECT_EQ(ClassicWholeRate(250, 1000, 1010), 26u);
  EXPECT_EQ(ClassicWholeRate(100, 0, 60), 2u);
  EXPECT_EQ(ClassicWholeRate(30, 0, 60), 1u);
  EXPECT_EQ(ClassicWholeRate(0, 0, 60), 1u);
}

TEST(ClassicWholeRate, AnEndBeforeTheStartIsAHugeUnsignedDuration) {
  EXPECT_EQ(ClassicWholeRate(250, 1010, 1000), 1u);
}

TEST(ClassicWholeRate, AZeroDurationGivesTheDefaultRateInsteadOfDividingByZero) {
  EXPECT_EQ(ClassicWholeRate(250, 1000, 1000), kDefaultRate.num);
}

}  // namespace
}  // namespace zentrova
