// The recording's clock: frames placed by the recorder's ticks and sound, pauses kept as gaps,
// a wrapping counter, and the even spacing that stands in for ticks that cannot be trusted.
#include <gtest/gtest.h>

#include <vector>

#include "TempDir.h"
#include "recording/ClockText.h"
#include "recording/TimedRecording.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "zrgen/RecordingGenerator.h"

namespace zentrova {
namespace {

using testing::TempDir;

constexpr int32_t kStart = 1199931245;  // 2008-01-10T02:14:05Z

zrgen::GeneratorOptions Recording(const std::string& path, int frames) {
  zrgen::GeneratorOptions o;
  o.output = path;
  o.resolutionCode = 0;
  o.frames = frames;
  o.startTime = kStart;
  o.idct = IdctChoice::Plain;
  return o;
}

TimedRecording Open(const std::string& path, int64_t offsetMs = 0) {
  TimedRecording r;
  const auto opened = r.Open(path, offsetMs);
  EXPECT_TRUE(opened) << (opened ? "" : opened.reason());
  return r;
}

TEST(RecordingClock, EveryFrameTakesItsTimeFromTheTicksAcrossAWrapAndPauses) {
  TempDir dir;
  zrgen::GeneratorOptions o = Recording(dir.file("a.zr"), 160);
  o.createTick = 4294967295u - 1500;  // the counter wraps 1.5 s in
  o.pauses = {{60, 600000}, {110, 2500}};
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;

  TimedRecording r = Open(o.output);
  RecordingClock& clock = *r.clock;
  ASSERT_TRUE(clock.fromTicks()) << clock.fallbackReason();
  for (uint32_t f = 0; f < 160; ++f)
    ASSERT_EQ(clock.FrameTime(f), int64_t{kStart} * 1000 + int64_t(zrgen::MillisecondsBeforeFrame(o, f))) << f;

  const std::vector<ClockGap> gaps = clock.Gaps();
  ASSERT_EQ(gaps.size(), 2u);
  EXPECT_EQ(gaps[0].frameAfter, 60u);
  EXPECT_EQ(gaps[0].length(), 600000);
  EXPECT_EQ(gaps[1].frameAfter, 110u);
  EXPECT_EQ(gaps[1].length(), 2500);
  EXPECT_EQ(clock.end(), clock.FrameTime(159) + 40);
}

TEST(RecordingClock, FindsTheFirstFrameAtOrAfterATimeAlsoInsideAPause) {
  TempDir dir;
  zrgen::GeneratorOptions o = Recording(dir.file("a.zr"), 100);
  o.pauses = {{50, 60000}};
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  TimedRecording r = Open(o.output);
  RecordingClock& clock = *r.clock;
  const ClockMs t0 = int64_t{kStart} * 1000;
  EXPECT_EQ(clock.FirstFrameAtOrAfter(t0 - 5000), 0u);
  EXPECT_EQ(clock.FirstFrameAtOrAfter(t0 + 40), 1u);
  EXPECT_EQ(clock.FirstFrameAtOrAfter(t0 + 41), 2u);
  EXPECT_EQ(clock.FirstFrameAtOrAfter(t0 + 30000), 50u) << "a time in the pause finds the frame after it";
  EXPECT_EQ(clock.FirstFrameAtOrAfter(clock.end()), 100u);
}

TEST(RecordingClock, ClockOffsetAndRecorderTimeMoveEveryTime) {
  TempDir dir;
  zrgen::GeneratorOptions o = Recording(dir.file("a.zr"), 30);
  o.utcOffsetHours = 8;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  TimedRecording r = Open(o.output, -90500);
  EXPECT_EQ(r.clock->FrameTime(1), int64_t{kStart} * 1000 + 40 - 90500);
  EXPECT_EQ(r.clock->utcOffsetHours(), 8);
  EXPECT_EQ(RecorderTimeText(int64_t{kStart} * 1000, 8), "2008-01-10 10:14:05 recorder time (UTC+8)");
  EXPECT_EQ(IsoRecorderMs(int64_t{kStart} * 1000 + 40, 8), "2008-01-10T10:14:05.040+08:00");
  EXPECT_EQ(FileTimeStamp(int64_t{kStart} * 1000 + 40, 8), "2008-01-10T10-14-05.040");
}

// Blocks written by hand, with the ticks a broken recorder leaves.
void WriteBlocks(const std::string& path, const std::vector<uint32_t>& ticks, int32_t end) {
  ZrWriter w;
  ZrHeaderFields h;
  h.resolutionCode = 0;
  h.startTime = kStart;
  h.endTime = end;
  h.createTick = 1000;
  ASSERT_TRUE(w.Open(path, h));
  const std::vector<uint8_t> noPicture(4, 0);
  for (uint32_t tick : ticks) {
    ASSERT_TRUE(w.BeginBlock(tick));
    for (int f = 0; f < 10; ++f) {
      ZrFrame frame;
      frame.flags = FlagNoPicture;
      frame.video = noPicture;
      ASSERT_TRUE(w.WriteFrame(frame));
    }
  }
  ASSERT_TRUE(w.Close());
}

TEST(RecordingClock, UntrustworthyTicksGiveWayToEvenSpacingWithAReason) {
  TempDir dir;
  struct Case {
    std::vector<uint32_t> ticks;
    const char* reason;
  } cases[] = {
      {{1000, 2000, 1500}, "goes back 0.500 s"},
      {{0, 0, 0}, "no usable ticks"},
      {{1000, 2000, 900000}, "after the recording's end time"},
      {{1000, 1005, 2000}, "less than a millisecond per frame"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("bad.zr");
    WriteBlocks(path, c.ticks, kStart + 3);
    TimedRecording r = Open(path);
    EXPECT_FALSE(r.clock->fromTicks());
    EXPECT_NE(r.clock->fallbackReason().find(c.reason), std::string::npos) << r.clock->fallbackReason();
    // 30 frames over 3 seconds.
    EXPECT_EQ(r.clock->FrameTime(0), int64_t{kStart} * 1000);
    EXPECT_EQ(r.clock->FrameTime(15), int64_t{kStart} * 1000 + 1500);
    EXPECT_TRUE(r.clock->Gaps().empty());
  }
}

TEST(RecordingClock, FramesWithoutSoundFollowTheUsualInterval) {
  TempDir dir;
  const std::string path = dir.file("silent.zr");
  WriteBlocks(path, {1000, 1400, 1800, 60000}, kStart + 60);
  TimedRecording r = Open(path);
  ASSERT_TRUE(r.clock->fromTicks()) << r.clock->fallbackReason();
  EXPECT_EQ(r.clock->frameInterval(), 40);
  EXPECT_EQ(r.clock->FrameTime(11), int64_t{kStart} * 1000 + 440);
  ASSERT_EQ(r.clock->Gaps().size(), 1u);
  EXPECT_EQ(r.clock->Gaps()[0].from, int64_t{kStart} * 1000 + 1200);
}

TEST(TimeArgument, ReadsClockTimesAndPositions) {
  auto at = [&](const std::string& text) {
    auto a = TimeArgument::Parse(text);
    EXPECT_TRUE(a) << text << ": " << (a ? "" : a.reason());
    return std::move(a).valueOr(TimeArgument{});
  };
  EXPECT_EQ(at("1:23:45.5").ms, (3600 + 23 * 60 + 45) * 1000 + 500);
  EXPECT_EQ(at("83:20").ms, 5000000);
  EXPECT_EQ(at("90s").ms, 90000);
  EXPECT_EQ(at("90").ms, 90000);
  const TimeArgument local = at("2008-01-10T10:14:05");
  EXPECT_EQ(local.kind, TimeArgument::Kind::Clock);
  EXPECT_FALSE(local.zoned);
  EXPECT_EQ(at("2008-01-10 10:14:05.040").ms, int64_t{kStart + 8 * 3600} * 1000 + 40);
  EXPECT_EQ(at("2008-01-10T02:14:05Z").ms, int64_t{kStart} * 1000);
  EXPECT_EQ(at("2008-01-10T03:14:05+01:00").zoneMinutes, 60);
  EXPECT_EQ(at("2008-01-10T02:10").ms, int64_t{kStart - 245} * 1000);

  for (const char* bad : {"", "abc", "1:2:3:4", "1:75", "2008-13-01T00:00", "2008-02-30T00:00", "2008-01-10",
                          "2008-01-10T02:14:05+5", "12x"}) {
    const auto refused = TimeArgument::Parse(bad);
    ASSERT_FALSE(refused) << bad;
    EXPECT_NE(refused.reason().find(bad), std::string::npos) << refused.reason();
  }
}

}  // namespace
}  // namespace zentrova
