// The closed-loop encoder: picture quality, the choice of macroblock modes, and a reference
// that never parts from what a decoder reconstructs.
#include <gtest/gtest.h>

#include <vector>

#include "video/VideoDecoder.h"
#include "zrgen/MacroblockCoder.h"
#include "zrgen/SourcePicture.h"
#include "zrgen/TestPattern.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova::zrgen {
namespace {

constexpr uint32_t kOlder = 0x20020114;
constexpr uint32_t kNewer = 0x20020219;

EncoderSettings Settings(int width, int height, int quantiser, uint32_t generation = kOlder) {
  EncoderSettings s;
  s.generation = generation;
  s.idct = IdctChoice::Plain;
  s.codedWidth = width;
  s.codedHeight = height;
  s.quantiser = quantiser;
  s.intraQuantiser = quantiser;
  s.intraPeriod = 0;
  s.groupCount = 2;
  return s;
}

Planes Flat(int width, int height, int y, int cb, int cr) {
  Planes p(width, height);
  std::fill(p.y.begin(), p.y.end(), static_cast<uint8_t>(y));
  std::fill(p.cb.begin(), p.cb.end(), static_cast<uint8_t>(cb));
  std::fill(p.cr.begin(), p.cr.end(), static_cast<uint8_t>(cr));
  return p;
}

TEST(VideoEncoder, PatternAtMediumQuantiserIsAbove35dB) {
  for (int quantiser : {4, 8, 16}) {
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.Initialise(Settings(352, 288, quantiser)));
    double lowest = 99;
    for (int frame = 0; frame < 8; ++frame) {
      const EncodedPicture p = encoder.Encode(FlipVertically(TestPattern(352, 288, frame)));
      ASSERT_TRUE(p.error.empty()) << p.error;
      lowest = std::min(lowest, p.psnrY);
    }
    if (quantiser <= 8) {
      EXPECT_GT(lowest, 35.0) << "quantiser " << quantiser;
    }
    EXPECT_GT(lowest, 30.0) << "quantiser " << quantiser;
  }
}

TEST(VideoEncoder, FlatPicturesComeBackExactlyThroughTheDcCode) {
  for (int v : {0, 1, 127, 128, 129, 200, 254}) {
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.Initialise(Settings(160, 112, 8)));
    const Planes flat = Flat(160, 112, v, 254 - v, v / 2);
    const EncodedPicture p = encoder.Encode(flat);
    ASSERT_TRUE(p.error.empty());
    EXPECT_TRUE(encoder.reconstruction() == flat) << "value " << v;
  }
  EXPECT_EQ(IntraDcCode(128.0), 255);  // 128 itself is forbidden
  EXPECT_EQ(IntraDcCode(255.0), 254);  // 255 stands for 128, so 255 cannot be sent
  EXPECT_EQ(IntraDcCode(-4.0), 0);
}

TEST(VideoEncoder, StillSceneEndsInNotCodedPictures) {
  VideoEncoder encoder;
  ASSERT_TRUE(encoder.Initialise(Settings(176, 144, 8)));
  const Planes still = FlipVertically(TestPattern(176, 144, 4));
  std::vector<EncodedPicture> pictures;
  for (int i = 0; i < 4; ++i) pictures.push_back(encoder.Encode(still));
  EXPECT_TRUE(pictures[0].intra);
  EXPECT_TRUE(pictures[3].notCoded);
  EXPECT_LE(pictures[3].bytes.size(), 4u);  // start code, type and the coded bit
}

TEST(VideoEncoder, ChoosesSkipResidualOrIntraPerMacroblock) {
  VideoEncoder encoder;
  ASSERT_TRUE(encoder.Initialise(Settings(352, 288, 8)));
  encoder.Encode(FlipVertically(TestPattern(352, 288, 0)));
  const EncodedPicture moving = encoder.Encode(FlipVertically(TestPattern(352, 288, 1)));
  EXPECT_GT(moving.skipped, 0);
  EXPECT_GT(moving.interMacroblocks, 0);
  // A cut to a different scene: the macroblocks that changed completely go intra.
  Planes cut = FlipVertically(TestPattern(352, 288, 1));
  for (size_t i = 0; i < cut.y.size() / 2; ++i) cut.y[i] = static_cast<uint8_t>((i * 37) % 251);
  const EncodedPicture afterCut = encoder.Encode(cut);
  EXPECT_GT(afterCut.intraMacroblocks, 0);
  EXPECT_FALSE(afterCut.intra);
}

// A decoder that sees the same bytes from the first picture on must end every picture with the
// encoder's reference, in both generations and over a long run of inter pictures.
TEST(VideoEncoder, ReferenceFollowsAnIndependentDecoder) {
  for (uint32_t generation : {kOlder, kNewer}) {
    const CodedLayout layout = CodedLayoutFor(352, 288, generation == kNewer);
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.Initialise(Settings(layout.width, layout.height, 10, generation)));
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Initialise(generation, IdctChoice::Plain));
    std::vector<uint8_t> picture(640 * 480 * 3);
    for (int frame = 0; frame < 20; ++frame) {
      const EncodedPicture p = encoder.Encode(PrepareForCoding(TestPattern(352, 288, frame), layout));
      ASSERT_TRUE(p.error.empty());
      const DecodeStatus s = decoder.DecodeFrame(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()),
                                                 picture.data(), picture.size());
      ASSERT_EQ(s.failed, 0);
      EXPECT_EQ(s.width, 352);
      EXPECT_EQ(s.height, 288);
      const Planes independent =
          PlanesFromRaw(decoder.planeY(), decoder.planeCb(), decoder.planeCr(), layout.width, layout.height);
      ASSERT_TRUE(independent == encoder.reconstruction()) << "frame " << frame;
    }
  }
}

TEST(VideoEncoder, RefusesSizesAndQuantisersOutOfRange) {
  VideoEncoder encoder;
  EXPECT_FALSE(encoder.Initialise(Settings(170, 112, 8)));
  EXPECT_FALSE(encoder.Initialise(Settings(704, 576, 8)));
  EXPECT_FALSE(encoder.Initialise(Settings(160, 112, 0)));
  EXPECT_FALSE(encoder.Initialise(Settings(160, 112, 256)));
  EXPECT_TRUE(encoder.Initialise(Settings(640, 480, 255)));
}

}  // namespace
}  // namespace zentrova::zrgen
