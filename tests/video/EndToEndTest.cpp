// The decoder against an independent encoder (zrgen's forward transform, quantiser and bit
// writer): decoding its pictures must give back the source closely and must reproduce, sample
// for sample, the reconstruction the encoder followed in its closed loop.
#include <gtest/gtest.h>

#include "video/VideoDecoder.h"
#include "zrgen/MediaSources.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova {
namespace {

struct Chain {
  uint32_t generation;
  IdctChoice idct;
  int groups;
};

class EndToEnd : public ::testing::TestWithParam<Chain> {};

TEST_P(EndToEnd, AFreshDecoderFollowsTheEncodersReconstructionExactly) {
  const Chain setup = GetParam();
  zrgen::EncoderSettings settings;
  settings.generation = setup.generation;
  settings.idct = setup.idct;
  settings.codedWidth = 176;
  settings.codedHeight = 144;
  settings.quantiser = 4;
  settings.intraQuantiser = 4;
  settings.intraPeriod = 8;
  settings.groupCount = setup.groups;
  zrgen::VideoEncoder encoder;
  std::string error;
  ASSERT_TRUE(encoder.Initialise(settings, &error)) << error;
  auto source = zrgen::MakePatternSource(176, 144);

  VideoDecoder decoder;
  ASSERT_TRUE(decoder.Initialise(setup.generation, setup.idct));
  std::vector<uint8_t> picture(352 * 288 * 3);
  zrgen::Planes frame(176, 144);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(source->Next(frame));
    const zrgen::EncodedPicture coded = encoder.Encode(frame);
    ASSERT_TRUE(coded.error.empty()) << coded.error;
    EXPECT_GT(coded.psnrY, 30.0) << "picture " << i;
    const DecodeStatus s = decoder.DecodeFrame(coded.bytes.data(), static_cast<uint32_t>(coded.bytes.size()),
                                               picture.data(), picture.size());
    ASSERT_EQ(s.failed, 0) << "picture " << i;
    EXPECT_EQ(s.pictureType == 2, !coded.intra);
    const zrgen::Planes& expected = encoder.reconstruction();
    ASSERT_EQ(zrgen::PlanesFromRaw(decoder.planeY(), decoder.planeCb(), decoder.planeCr(), 176, 144), expected)
        << "picture " << i;
    ASSERT_EQ(s.width, encoder.deliveredWidth());
    ASSERT_EQ(s.height, encoder.deliveredHeight());
    const std::vector<uint8_t>& delivered = encoder.deliveredPicture();
    const size_t bytes = static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 3;
    ASSERT_GE(delivered.size(), bytes);
    ASSERT_TRUE(std::equal(picture.begin(), picture.begin() + bytes, delivered.begin())) << "picture " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(BothGenerationsAndTransforms, EndToEnd,
                         ::testing::Values(Chain{0x20020114, IdctChoice::Plain, 0},
                                           Chain{0x20020114, IdctChoice::Vector, 3},
                                           Chain{0x20020219, IdctChoice::Plain, 5},
                                           Chain{0x20020219, IdctChoice::Vector, 0}));

}  // namespace
}  // namespace zentrova
