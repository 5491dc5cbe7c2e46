// Pictures that cannot be shown as recorded, and pictures of another size than the recording:
// what the frame loop shows for them, what it counts and what the job says.
#include <gtest/gtest.h>

#include <algorithm>

#include "TempDir.h"
#include "audio/G726Decoder.h"
#include "avi/AviTestSupport.h"
#include "convert/ConversionJob.h"
#include "convert/FramePipeline.h"
#include "convert/Messages.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "zrgen/TestPattern.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova {
namespace {

using avi::testing::Decode;
using testing::TempDir;

using Picture = std::vector<uint8_t>;  // 24-bit, plane row 0 first

// A coded picture and the 24-bit picture the decoder shows for it, at its own size.
struct Coded {
  std::vector<uint8_t> bytes;
  Picture shown;
  int width = 0, height = 0;
  bool intra = false;
};

// `count` pictures of the moving test pattern at one size, an intra picture every `intraPeriod`.
std::vector<Coded> Encode(int width, int height, int count, int intraPeriod, int firstFrame = 0,
                          uint32_t generation = 0x20020114) {
  zrgen::EncoderSettings settings;
  settings.generation = generation;
  settings.codedWidth = width;
  settings.codedHeight = height;
  settings.intraPeriod = intraPeriod;
  settings.idct = IdctChoice::Plain;
  zrgen::VideoEncoder encoder;
  EXPECT_TRUE(encoder.Initialise(settings));
  std::vector<Coded> out;
  for (int i = 0; i < count; ++i) {
    const zrgen::EncodedPicture p = encoder.Encode(zrgen::TestPattern(width, height, firstFrame + 4 * i));
    EXPECT_TRUE(p.error.empty()) << p.error;
    const int w = encoder.deliveredWidth(), h = encoder.deliveredHeight();
    const auto& shown = encoder.deliveredPicture();
    out.push_back({p.bytes, Picture(shown.begin(), shown.begin() + w * h * 3), w, h, p.intra});
  }
  return out;
}

// The rule for a picture of another size: pixel (x, y) takes the picture's (x * w / W, y * h / H).
Picture Nearest(const Coded& c, int width, int height) {
  Picture out(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < 3; ++k)
        out[(y * width + x) * 3 + k] = c.shown[((y * c.height / height) * c.width + x * c.width / width) * 3 + k];
  return out;
}

struct Conversion {
  ConversionJob::LoopResult result;
  std::vector<std::string> log, diagnostics;
  std::vector<Picture> frames;  // as shown, before line doubling undone: width x output height
};

// Writes the frames (video bytes; empty for a frame without picture) and converts to raw 24-bit.
Conversion Convert(const TempDir& dir, uint8_t resolutionCode, int width, int height,
                   const std::vector<std::vector<uint8_t>>& video, unsigned threads, uint16_t version = 257) {
  ZrHeaderFields fields;
  fields.version = version;
  fields.resolutionCode = resolutionCode;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + 2;
  ZrWriter w;
  EXPECT_TRUE(w.Open(dir.file("r.zr"), fields));
  for (const auto& bytes : video) {
    ZrFrame f;
    f.flags = bytes.empty() ? FlagNoPicture : 0;
    f.video = bytes;
    EXPECT_TRUE(w.WriteFrame(f));
  }
  EXPECT_TRUE(w.Close());

  Conversion c;
  JobOptions options;
  options.idct = IdctChoice::Plain;
  options.threads = threads;
  options.overwrite = true;
  ConversionJob job([&](const std::string& l) { c.log.push_back(l); }, {}, options,
                    [&](const std::string& l) { c.diagnostics.push_back(l); });
  const auto chooser = [] { return std::optional(avi::CompressOptions{"raw", 100}); };
  EXPECT_EQ(job.Convert(dir.file("r.zr"), dir.file("r.avi"), chooser), ConversionJob::Setup::Started);
  c.result = job.RunFrameLoop();
  job.Finish();

  const int outHeight = ConversionJob::ComputeOutputHeight(width, height);
  const std::string out = Decode(dir.file("r.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
  const size_t frameBytes = static_cast<size_t>(width) * outHeight * 3;
  for (size_t at = 0; at + frameBytes <= out.size(); at += frameBytes)
    c.frames.push_back(avi::testing::Flip(Picture(out.begin() + at, out.begin() + at + frameBytes), width, outHeight));
  return c;
}

// What a frame of the recording's size shows for `p`, line-doubled where the width asks for it.
Picture AsShown(const Picture& p, int width, int height) {
  const int outHeight = ConversionJob::ComputeOutputHeight(width, height);
  if (outHeight == height) return p;
  Picture doubled(static_cast<size_t>(width) * outHeight * 3);
  DoubleLines(p.data(), width, height, doubled.data());
  return doubled;
}

// The recorder switches from the recording's size to another and back; every picture of the
// other size is shown whole by the nearest-neighbour rule, the inter pictures after it too. The
// sizes are coded sizes; the newer generation delivers them enlarged, and the rule applies to
// the enlarged picture.
void CheckSizeChange(uint8_t resolutionCode, int width, int height, int codedWidth, int codedHeight, int otherWidth,
                     int otherHeight, uint16_t version = 257) {
  SKIP_WITHOUT_FFMPEG();
  const uint32_t generation = version == 4096 ? 0x20020219 : 0x20020114;
  const std::vector<Coded> own = Encode(codedWidth, codedHeight, 2, 2, 0, generation);
  const std::vector<Coded> other = Encode(otherWidth, otherHeight, 3, 3, 1, generation);
  const std::vector<Coded> back = Encode(codedWidth, codedHeight, 2, 2, 2, generation);
  std::vector<std::vector<uint8_t>> video;
  std::vector<Picture> expected;
  for (const auto* part : {&own, &other, &back}) {
    for (const Coded& c : *part) {
      video.push_back(c.bytes);
      expected.push_back(AsShown(part == &other ? Nearest(c, width, height) : c.shown, width, height));
    }
  }

  for (const unsigned threads : {1u, 2u}) {
    TempDir dir;
    const Conversion c = Convert(dir, resolutionCode, width, height, video, threads, version);
    ASSERT_EQ(c.frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(c.frames[i], expected[i]) << "frame " << i;
    EXPECT_EQ(c.result.resizedPictures, 3u);
    EXPECT_EQ(c.result.damagedPictures, 0u);
    EXPECT_EQ(c.result.outcome, JobOutcome::Saved);
    EXPECT_EQ(c.log, (std::vector<std::string>{messages::kSaving, messages::kSaved,
                                              "3 pictures of another size were scaled to " + std::to_string(width) +
                                                  " x " + std::to_string(height) + "."}));
  }
}

TEST(DamagedPictures, APictureLargerThanTheRecordingIsShownWholeScaledDown) {
  CheckSizeChange(128, 176, 144, 176, 144, 352, 288);
}

TEST(DamagedPictures, APictureOfAnotherSizeIsScaledBeforeTheLinesAreDoubled) {
  CheckSizeChange(3, 640, 240, 640, 240, 352, 288);
}

// 704 x 288 coded as 352 x 288; the other pictures are coded 176 x 144, enlarged to 352 x 288.
TEST(DamagedPictures, InTheNewerGenerationTheEnlargedPictureIsScaled) {
  CheckSizeChange(133, 704, 288, 352, 288, 176, 144, 4096);
}

// Intra pictures at 0, 3 and 6; the one at 3 loses the second half of its bytes. Frames 3 to 5
// show frame 2's picture, the intra picture at 6 brings the recording back.
TEST(DamagedPictures, ABrokenIntraPictureHidesTheInterPicturesUntilTheNextIntraPicture) {
  SKIP_WITHOUT_FFMPEG();
  const std::vector<Coded> coded = Encode(176, 144, 8, 3);
  std::vector<std::vector<uint8_t>> video;
  for (const Coded& c : coded) video.push_back(c.bytes);
  ASSERT_TRUE(coded[3].intra && coded[6].intra && !coded[4].intra);

  {  // Whole, the recording converts as recorded and says nothing more.
    TempDir dir;
    const Conversion c = Convert(dir, 128, 176, 144, video, 2);
    ASSERT_EQ(c.frames.size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(c.frames[i], coded[i].shown) << "frame " << i;
    EXPECT_EQ(c.result.outcome, JobOutcome::Saved);
    EXPECT_EQ(c.result.damagedPictures, 0u);
    EXPECT_EQ(c.log, (std::vector<std::string>{messages::kSaving, messages::kSaved}));
  }

  video[3].resize(video[3].size() / 2);
  for (const unsigned threads : {1u, 2u}) {
    TempDir dir;
    const Conversion c = Convert(dir, 128, 176, 144, video, threads);
    ASSERT_EQ(c.frames.size(), 8u);
    const std::vector<size_t> shows = {0, 1, 2, 2, 2, 2, 6, 7};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(c.frames[i], coded[shows[i]].shown) << "frame " << i;
    EXPECT_EQ(c.result.damagedPictures, 3u);
    EXPECT_EQ(c.result.firstDamagedFrame, 4u);
    EXPECT_EQ(c.result.outcome, JobOutcome::RecordingShort);
    EXPECT_EQ(c.log, (std::vector<std::string>{
                         messages::kSaving, messages::kSaved,
                         "3 of 8 pictures were damaged in the recording; each shows the last good picture."}));
    ASSERT_EQ(c.diagnostics.size(), 1u);
    EXPECT_NE(c.diagnostics[0].find("frame 4 and 2 more"), std::string::npos) << c.diagnostics[0];
  }
}

// A damaged first picture has no good picture before it: black until the next intra picture.
TEST(DamagedPictures, WithoutAGoodPictureBeforeThemDamagedFramesAreBlack) {
  SKIP_WITHOUT_FFMPEG();
  const std::vector<Coded> coded = Encode(176, 144, 4, 3);
  std::vector<std::vector<uint8_t>> video;
  for (const Coded& c : coded) video.push_back(c.bytes);
  video[0] = std::vector<uint8_t>(64, 0xFF);  // no start code
  TempDir dir;
  const Conversion c = Convert(dir, 128, 176, 144, video, 2);
  ASSERT_EQ(c.frames.size(), 4u);
  const Picture black(176 * 144 * 3, 0);
  EXPECT_EQ(c.frames[0], black);
  EXPECT_EQ(c.frames[1], black);
  EXPECT_EQ(c.frames[2], black);
  EXPECT_EQ(c.frames[3], coded[3].shown);
  EXPECT_EQ(c.result.damagedPictures, 3u);
  EXPECT_EQ(c.result.firstDamagedFrame, 1u);
}

// The frame loop's own stage, fed records as a reader that lost frames marks them.
struct LoopStage {
  explicit LoopStage(uint32_t generation = 0x20020114) {
    EXPECT_TRUE(video.Initialise(generation, IdctChoice::Plain));
    EXPECT_TRUE(audio.Prepare(0));
    for (FrameWork& f : slots) f.Allocate(176, 144);
  }
  // Decodes into the next of two slots, as the threaded loop does; returns the frame.
  const FrameWork& Next(std::vector<uint8_t> bytes, bool afterGap, uint16_t flags = 0) {
    FrameRecord r;
    held = std::move(bytes);
    r.flags = flags;
    r.videoData = held.data();
    r.videoBytes = static_cast<uint32_t>(held.size());
    r.afterGap = afterGap;
    FrameWork& work = slots[count++ % 2];
    DecodeFrameWork(r, video, audio, true, 176, 144, previous, referenceGood, work);
    previous = &work;
    return work;
  }
  static Picture Shown(const FrameWork& f) {
    Picture p(176 * 144 * 3);
    std::vector<uint8_t> scratch;
    PictureOf(f, 176, 144, 144, p.data(), scratch);
    return p;
  }
  VideoDecoder video;
  G726Decoder audio;
  FrameWork slots[2];
  const FrameWork* previous = nullptr;
  bool referenceGood = true;
  std::vector<uint8_t> held;
  size_t count = 0;
};

TEST(DamagedPictures, AnInterPictureAfterLostFramesRepeatsTheLastGoodPictureUntilAnIntraPicture) {
  const std::vector<Coded> coded = Encode(176, 144, 7, 4);
  LoopStage stage;
  EXPECT_EQ(LoopStage::Shown(stage.Next(coded[0].bytes, false)), coded[0].shown);
  EXPECT_EQ(LoopStage::Shown(stage.Next(coded[1].bytes, false)), coded[1].shown);
  // Frame 2 was lost: frame 3 comes after the gap, on a reference the decoder never saw.
  const FrameWork& afterGap = stage.Next(coded[3].bytes, true);
  EXPECT_TRUE(afterGap.damaged);
  EXPECT_EQ(LoopStage::Shown(afterGap), coded[1].shown);
  // The intra picture at 4 is shown even right after a gap, and the reference is good again.
  const FrameWork& intra = stage.Next(coded[4].bytes, true);
  EXPECT_FALSE(intra.damaged);
  EXPECT_EQ(LoopStage::Shown(intra), coded[4].shown);
  EXPECT_EQ(LoopStage::Shown(stage.Next(coded[5].bytes, false)), coded[5].shown);
  // A frame without picture after a gap is black as recorded, not damage; the inter picture
  // after it is.
  const FrameWork& noPicture = stage.Next({}, true, FlagNoPicture);
  EXPECT_TRUE(noPicture.black);
  EXPECT_FALSE(noPicture.damaged);
  const FrameWork& lost = stage.Next(coded[6].bytes, false);
  EXPECT_TRUE(lost.damaged);
  EXPECT_TRUE(lost.black);
}

TEST(DamagedPictures, PlanesOfAPictureOfAnotherSizeFollowTheRuleAtFullAndHalfSize) {
  FrameWork work;
  work.Allocate(176, 144);
  work.width = 352;
  work.height = 288;
  work.black = false;
  for (int i = 0; i < 352 * 288; ++i) work.y[i] = static_cast<uint8_t>(i * 7 + i / 352);
  for (int i = 0; i < 176 * 144; ++i) {
    work.cb[i] = static_cast<uint8_t>(i * 3);
    work.cr[i] = static_cast<uint8_t>(i / 5);
  }
  std::vector<uint8_t> scratch;
  const avi::PlanarPicture p = PlanesOf(work, 176, 144, false, scratch);
  ASSERT_EQ(p.stride[0], 176);
  ASSERT_EQ(p.stride[1], 88);
  for (int y = 0; y < 144; ++y)
    for (int x = 0; x < 176; ++x) ASSERT_EQ(p.plane[0][y * 176 + x], work.y[(y * 288 / 144) * 352 + x * 352 / 176]);
  for (int y = 0; y < 72; ++y)
    for (int x = 0; x < 88; ++x) {
      ASSERT_EQ(p.plane[1][y * 88 + x], work.cb[(y * 144 / 72) * 176 + x * 176 / 88]);
      ASSERT_EQ(p.plane[2][y * 88 + x], work.cr[(y * 144 / 72) * 176 + x * 176 / 88]);
    }
}

}  // namespace
}  // namespace zentrova
