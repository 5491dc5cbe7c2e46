#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "StreamWriter.h"
#include "video/ColourConversion.h"
#include "video/VideoDecoder.h"

namespace zentrova {
namespace {

using testing::BlockSpec;
using testing::Event;
using testing::FlatIntra;
using testing::IntraPicture;
using testing::MacroblockSpec;
using testing::PictureWriter;

constexpr uint32_t kOlder = 0x20020114;
constexpr uint32_t kNewer = 0x20020219;
constexpr uint8_t kSentinel = 0xAB;

class Decoder {
 public:
  explicit Decoder(uint32_t stamp = kOlder, IdctChoice idct = IdctChoice::Plain) : picture(704 * 576 * 3, kSentinel) {
    EXPECT_TRUE(decoder.Initialise(stamp, idct));
  }
  DecodeStatus Decode(const std::vector<uint8_t>& bytes, size_t capacity = 704 * 576 * 3) {
    return decoder.DecodeFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), picture.data(), capacity, 0);
  }
  uint8_t Y(int x, int y) const { return decoder.planeY()[y * decoder.codedWidth() + x]; }
  uint8_t Cb(int x, int y) const { return decoder.planeCb()[y * (decoder.codedWidth() / 2) + x]; }
  uint8_t Cr(int x, int y) const { return decoder.planeCr()[y * (decoder.codedWidth() / 2) + x]; }
  // The luminance sample in the middle of macroblock (mx, my).
  uint8_t Centre(int mx, int my) const { return Y(16 * mx + 7, 16 * my + 7); }
  bool PictureUntouched() const {
    for (uint8_t b : picture)
      if (b != kSentinel) return false;
    return true;
  }

  VideoDecoder decoder;
  std::vector<uint8_t> picture;
};

std::vector<uint8_t> FlatPicture(int width, int height, uint32_t dc, int groups = 0) {
  return IntraPicture(width, height, 8, groups, [&](int) { return FlatIntra(dc); });
}

// An inter picture of `count` macroblocks, macroblock m written by `put(writer, m)`.
template <typename Put>
std::vector<uint8_t> InterPicture(int count, uint32_t quantiser, Put put, uint32_t type = 2) {
  PictureWriter p(count, 0);
  p.StartInter(quantiser, type);
  for (int m = 0; m < count; ++m) {
    p.BeginMacroblock();
    put(p.w, m);
  }
  return p.Finish();
}

// An inter macroblock whose every block carries the residual DC 161 * sign (quantiser 7,
// level 11), which both transforms turn into a flat +-20.
MacroblockSpec FlatResidual(int sign) {
  MacroblockSpec mb;
  for (BlockSpec& b : mb.blocks) {
    b.coded = true;
    b.events = {Event{0, 11 * sign, true, true}};
  }
  return mb;
}

TEST(IntraPicture, StoresFlatMacroblocksAndConvertsThePlanes) {
  Decoder d;
  const auto bytes = IntraPicture(48, 32, 8, 0, [](int m) { return FlatIntra(static_cast<uint32_t>(20 + 30 * m)); });
  const DecodeStatus s = d.Decode(bytes);
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.sizeChanged, 1);
  EXPECT_EQ(s.width, 48);
  EXPECT_EQ(s.height, 32);
  EXPECT_EQ(s.pictureType, 0);
  for (int m = 0; m < 6; ++m) {
    const int mx = m % 3, my = m / 3;
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) ASSERT_EQ(d.Y(16 * mx + c, 16 * my + r), 20 + 30 * m);
    EXPECT_EQ(d.Cb(8 * mx + 7, 8 * my + 7), 20 + 30 * m);
    EXPECT_EQ(d.Cr(8 * mx, 8 * my), 20 + 30 * m);
  }
  std::vector<uint8_t> expected(48 * 32 * 3);
  ConvertToRgb24(expected.data(), d.decoder.planeY(), d.decoder.planeCb(), d.decoder.planeCr(), 48, 32);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), d.picture.begin()));
  EXPECT_EQ(d.picture[expected.size()], kSentinel);  // nothing past the picture

  const DecodeStatus again = d.Decode(bytes);
  EXPECT_EQ(again.sizeChanged, 0);
  EXPECT_EQ(again.width, 48);
}

TEST(IntraPicture, EveryDcCodeGivesAFlatBlockInBothTransforms) {
  for (IdctChoice idct : {IdctChoice::Plain, IdctChoice::Vector}) {
    Decoder d(kOlder, idct);
    // 256 macroblocks; code 128 is forbidden, so macroblock 128 uses 255, which stands for 128.
    const auto bytes =
        IntraPicture(256, 256, 8, 0, [](int m) { return FlatIntra(m == 128 ? 255u : static_cast<uint32_t>(m)); });
    ASSERT_EQ(d.Decode(bytes).failed, 0);
    for (int m = 0; m < 256; ++m) {
      const int expected = m == 255 ? 128 : m;
      EXPECT_EQ(d.Centre(m % 16, m / 16), expected) << m;
      EXPECT_EQ(d.Cr(8 * (m % 16) + 3, 8 * (m / 16) + 3), expected) << m;
    }
  }
}

TEST(IntraPicture, CodedCoefficientsAreTransformedAndClamped) {
  Decoder d;
  // DC 8 * 250 plus a large AC term: the samples overshoot 255 and undershoot 0 on opposite
  // sides and are clamped.
  MacroblockSpec mb = FlatIntra(128 + 127);  // code 255 stands for 128
  mb.blocks[0].coded = true;
  mb.blocks[0].events = {Event{0, 60, true}};  // transmitted coefficient 1 (horizontal), escape
  mb.blocks[0].events[0].escape = true;
  const auto bytes = IntraPicture(16, 16, 9, 0, [&](int) { return mb; });
  ASSERT_EQ(d.Decode(bytes).failed, 0);
  // Coefficient 1 = 9 * 121 = 1089; the rows run from about 128 + 188 down to 128 - 188.
  EXPECT_EQ(d.Y(0, 0), 255);
  EXPECT_EQ(d.Y(7, 0), 0);
  EXPECT_EQ(d.Y(0, 7), 255);
  EXPECT_EQ(d.Y(8, 0), 128);  // block 1 is DC only
}

TEST(IntraPicture, DcCode128StopsThePictureLeavingEarlierMacroblocks) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(48, 16, 50)).failed, 0);
  const auto bytes = IntraPicture(48, 16, 8, 0, [](int m) {
    MacroblockSpec mb = FlatIntra(200);
    if (m == 1) mb.blocks[2].dc = 128;
    return mb;
  });
  const DecodeStatus s = d.Decode(bytes);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(d.Centre(0, 0), 200);
  EXPECT_EQ(d.Centre(1, 0), 50);  // its first blocks were decoded but never stored
  EXPECT_EQ(d.Centre(2, 0), 50);
  EXPECT_EQ(d.picture[3 * 16], d.picture[3 * 40]);  // the partial picture is still delivered
  EXPECT_NE(d.picture[0], d.picture[3 * 16]);
}

TEST(IntraPicture, ATruncatedPictureFailsAtTheFirstMacroblockPastItsEnd) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(64, 16, 40)).failed, 0);
  auto bytes = FlatPicture(64, 16, 90);
  bytes.resize(bytes.size() - 12);  // the last macroblock is 6 bytes
  EXPECT_EQ(d.Decode(bytes).failed, 1);
  EXPECT_EQ(d.Centre(1, 0), 90);
  EXPECT_EQ(d.Centre(3, 0), 40);
}

TEST(IntraPicture, OnlyWholeMacroblocksAreDecoded) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(48, 32, 60)).failed, 0);
  const DecodeStatus s = d.Decode(FlatPicture(40, 24, 150));
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.width, 40);
  EXPECT_EQ(d.Y(31, 15), 150);
  EXPECT_EQ(d.Y(32, 15), 60);  // row 15 of the old 48-wide layout: its contents are kept
  EXPECT_EQ(d.Y(0, 16), 60);
}

TEST(StartCodeSearch, AStartCodeAtBit160IsDecodedAndAt161RefusedUntouched) {
  for (int leading : {0, 5, 160, 161}) {
    Decoder d;
    PictureWriter p(1, 0, 1);
    p.leadingBits = leading;
    p.StartIntra(16, 16, 8);
    p.BeginMacroblock();
    testing::PutIntraMacroblock(p.w, FlatIntra(77));
    const DecodeStatus s = d.Decode(p.Finish());
    if (leading <= 160) {
      EXPECT_EQ(s.failed, 0) << leading;
      EXPECT_EQ(d.Centre(0, 0), 77) << leading;
    } else {
      EXPECT_EQ(s.failed, 1);
      EXPECT_TRUE(d.PictureUntouched());
      EXPECT_EQ(d.Centre(0, 0), 0);
    }
  }
}

TEST(StartCodeSearch, EmptyAndZeroFramesFailWithoutOutput) {
  Decoder d;
  EXPECT_EQ(d.Decode({}).failed, 1);
  EXPECT_EQ(d.Decode(std::vector<uint8_t>(500, 0)).failed, 1);
  EXPECT_EQ(d.decoder.DecodeFrame(nullptr, 100, d.picture.data(), d.picture.size()).failed, 1);
  EXPECT_TRUE(d.PictureUntouched());
}

TEST(MacroblockGroups, RealignBeforeEachOfTheLastGroups) {
  struct Case {
    int width, height, groups;
    std::vector<int> aligned;
  } cases[] = {
      {352, 288, 3, {366, 376, 386}},
      {352, 288, 0, {}},
      {352, 288, 40, {}},     // 10 G beyond the count: no boundary is ever met
      {160, 32, 2, {0, 10}},  // 10 G equal to the count: the first boundary is macroblock 0
  };
  for (const Case& c : cases) {
    Decoder d;
    const int count = (c.width / 16) * (c.height / 16);
    PictureWriter p(count, c.groups, 1);  // padding of 1 bits shows any misreading
    p.StartIntra(static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height), 8);
    for (int m = 0; m < count; ++m) {
      p.BeginMacroblock();
      testing::PutIntraMacroblock(p.w, FlatIntra(static_cast<uint32_t>(m % 127)));
    }
    EXPECT_EQ(p.alignedAt, c.aligned);
    ASSERT_EQ(d.Decode(p.Finish()).failed, 0) << c.groups;
    const int columns = c.width / 16;
    for (int m = 0; m < count; ++m) ASSERT_EQ(d.Centre(m % columns, m / columns), m % 127) << m;
  }
}

TEST(InterPicture, SkippedAndEmptyMacroblocksKeepThePreviousPicture) {
  Decoder d;
  ASSERT_EQ(d.Decode(IntraPicture(48, 16, 8, 0, [](int m) { return FlatIntra(static_cast<uint32_t>(10 + m)); })).failed,
            0);
  const auto before = d.picture;
  const DecodeStatus s = d.Decode(InterPicture(3, 4, [](testing::BitWriter& w, int m) {
    if (m == 1)
      testing::PutInterMacroblock(w, MacroblockSpec{});  // CBPY 0, CBPC 0: no residual
    else
      testing::PutSkipped(w);
  }));
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.notCoded, 0);
  EXPECT_EQ(s.pictureType, 2);
  EXPECT_EQ(d.picture, before);
  EXPECT_EQ(d.Centre(1, 0), 11);
}

TEST(InterPicture, NotCodedRepeatsThePreviousPicture) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(32, 16, 99)).failed, 0);
  const auto before = d.picture;
  testing::BitWriter w;
  w.Put(16, 21);
  w.PutBits("11 0");
  std::fill(d.picture.begin(), d.picture.end(), kSentinel);
  const DecodeStatus s = d.Decode(w.bytes());
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.notCoded, 1);
  EXPECT_EQ(s.pictureType, 2);  // type 3 reads as 2
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 32 * 16 * 3, d.picture.begin()));
}

TEST(InterPicture, ResidualsAreAddedToTheColocatedMacroblockAndClamped) {
  Decoder d;
  ASSERT_EQ(d.Decode(IntraPicture(64, 16, 8, 0, [](int m) { return FlatIntra(m < 2 ? 250u : 10u); })).failed, 0);
  const DecodeStatus s = d.Decode(InterPicture(
      4, 7, [](testing::BitWriter& w, int m) { testing::PutInterMacroblock(w, FlatResidual(m % 2 == 0 ? -1 : 1)); }));
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(d.Centre(0, 0), 230);  // 250 - 20
  EXPECT_EQ(d.Centre(1, 0), 255);  // 250 + 20, clamped
  EXPECT_EQ(d.Centre(2, 0), 0);    // 10 - 20, clamped
  EXPECT_EQ(d.Centre(3, 0), 30);
  EXPECT_EQ(d.Cb(8 * 3, 0), 30);
}

TEST(InterPicture, IntraMacroblocksUseTheInterQuantiser) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(16, 16, 100)).failed, 0);
  MacroblockSpec mb = FlatIntra(0);
  mb.blocks[0].coded = true;
  mb.blocks[0].events = {Event{0, 0, true, true}};  // coefficient 1 = q or q - 1
  const auto inter = InterPicture(1, 201, [&](testing::BitWriter& w, int) { testing::PutIntraInInter(w, mb); });
  ASSERT_EQ(d.Decode(inter).failed, 0);
  // The same macroblock in an intra picture of quantiser 201 must come out the same.
  Decoder reference;
  ASSERT_EQ(reference.Decode(IntraPicture(16, 16, 201, 0, [&](int) { return mb; })).failed, 0);
  for (int c = 0; c < 16; ++c) EXPECT_EQ(d.Y(c, 0), reference.Y(c, 0)) << c;
  EXPECT_GT(d.Y(0, 0), 0);
  EXPECT_EQ(d.Y(8, 8), 0);
}

TEST(InterPicture, AFailureAtMacroblockMLeavesTheRestAndTheNextPicturePredictsFromTheMixture) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(80, 16, 100)).failed, 0);
  const int failing = 2;
  const DecodeStatus s = d.Decode(InterPicture(5, 7, [&](testing::BitWriter& w, int m) {
    if (m < failing) return testing::PutInterMacroblock(w, FlatResidual(1));
    // Five valid residual blocks, then an invalid code in block 5: nothing of it is stored.
    MacroblockSpec mb = FlatResidual(-1);
    mb.blocks[5].events.clear();
    testing::PutInterMacroblock(w, mb);
    w.PutBits("0000 0000 0000");
  }));
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(d.Centre(0, 0), 120);
  EXPECT_EQ(d.Centre(1, 0), 120);
  EXPECT_EQ(d.Centre(2, 0), 100);
  EXPECT_EQ(d.Cr(8 * 2, 0), 100);
  EXPECT_EQ(d.Centre(4, 0), 100);

  ASSERT_EQ(
      d.Decode(InterPicture(5, 7, [](testing::BitWriter& w, int) { testing::PutInterMacroblock(w, FlatResidual(1)); }))
          .failed,
      0);
  EXPECT_EQ(d.Centre(1, 0), 140);
  EXPECT_EQ(d.Centre(3, 0), 120);
}

TEST(InterPicture, BeforeAnyIntraPictureDecodesNothing) {
  Decoder d;
  const DecodeStatus s = d.Decode(InterPicture(0, 7, [](testing::BitWriter&, int) {}));
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.height, 0);
  EXPECT_TRUE(d.PictureUntouched());
}

TEST(PictureTypes, OneIsIntraAndThreeIsInter) {
  Decoder d;
  PictureWriter p(1, 0);
  p.StartIntra(16, 16, 8, 1);
  p.BeginMacroblock();
  testing::PutIntraMacroblock(p.w, FlatIntra(33));
  const DecodeStatus intra = d.Decode(p.Finish());
  EXPECT_EQ(intra.pictureType, 1);
  EXPECT_EQ(d.Centre(0, 0), 33);
  const DecodeStatus inter = d.Decode(InterPicture(
      1, 7, [](testing::BitWriter& w, int) { testing::PutInterMacroblock(w, FlatResidual(1)); }, 3));
  EXPECT_EQ(inter.pictureType, 2);
  EXPECT_EQ(d.Centre(0, 0), 53);
}

TEST(Generations, TheNewerOneDeliversEnlargedPictures) {
  Decoder older(kOlder);
  const DecodeStatus o = older.Decode(FlatPicture(352, 288, 255, 3));  // DC code 255 stands for 128
  EXPECT_EQ(o.width, 352);
  EXPECT_EQ(o.height, 288);
  EXPECT_EQ(older.picture[352 * 288 * 3], kSentinel);

  Decoder newer(kNewer);
  const DecodeStatus n = newer.Decode(FlatPicture(352, 288, 255, 3));
  EXPECT_EQ(n.failed, 0);
  EXPECT_EQ(n.width, 704);
  EXPECT_EQ(n.height, 288);
  EXPECT_EQ(newer.decoder.codedWidth(), 352);
  // A flat 128 picture stays flat when widened: every pixel is blue 129, green 127, red 129.
  for (size_t i = 0; i < size_t{704} * 288 * 3; i += 3) {
    ASSERT_EQ(newer.picture[i], 129) << i;
    ASSERT_EQ(newer.picture[i + 1], 127) << i;
  }
  EXPECT_EQ(newer.picture[704 * 288 * 3], kSentinel);

  testing::BitWriter notCoded;
  notCoded.Put(16, 21);
  notCoded.PutBits("10 0");
  const DecodeStatus again = newer.Decode(notCoded.bytes());
  EXPECT_EQ(again.notCoded, 1);
  EXPECT_EQ(again.width, 704);
}

TEST(Refusals, HeadersThePlanesOrThePictureCannotHoldChangeNothing) {
  struct Case {
    int width, height;
    uint32_t stamp;
    size_t capacity;
  } cases[] = {
      {704, 576, kOlder, 704 * 576 * 3},      // more than 307,200 samples
      {34, 16, kOlder, 704 * 576 * 3},        // accepted: even, not a multiple of 16
      {33, 16, kOlder, 704 * 576 * 3},        // odd width
      {32, 0, kOlder, 704 * 576 * 3},         // no rows
      {352, 288, kOlder, 352 * 288 * 3 - 1},  // the caller's picture is one byte short
      {352, 288, kNewer, 352 * 288 * 3},      // delivered at 704 x 288
  };
  for (const Case& c : cases) {
    Decoder d(c.stamp);
    ASSERT_EQ(d.Decode(FlatPicture(48, 16, 70)).failed, 0);
    std::fill(d.picture.begin(), d.picture.end(), kSentinel);
    PictureWriter p(0, 0);
    p.StartIntra(static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height), 8);
    p.w.Put(0xFFFF, 16);
    const DecodeStatus s = d.Decode(p.Finish(), c.capacity);
    if (c.width == 34) {
      EXPECT_EQ(s.failed, 1);  // accepted; its 2 macroblocks read zeros and fail on the first code
      EXPECT_EQ(d.decoder.codedWidth(), 34);
      continue;
    }
    EXPECT_EQ(s.failed, 1) << c.width << "x" << c.height;
    EXPECT_EQ(s.sizeChanged, 0);
    EXPECT_EQ(d.decoder.codedWidth(), 48);
    EXPECT_EQ(d.Centre(2, 0), 70);
    EXPECT_TRUE(d.PictureUntouched());
  }
}

TEST(Refusals, AnInterPictureTheCallerCannotTakeIsRefused) {
  Decoder d;
  ASSERT_EQ(d.Decode(FlatPicture(48, 16, 70)).failed, 0);
  std::fill(d.picture.begin(), d.picture.end(), kSentinel);
  const auto inter =
      InterPicture(3, 7, [](testing::BitWriter& w, int) { testing::PutInterMacroblock(w, FlatResidual(1)); });
  EXPECT_EQ(d.Decode(inter, 48 * 16 * 3 - 3).failed, 1);
  EXPECT_EQ(d.Centre(0, 0), 70);
  EXPECT_TRUE(d.PictureUntouched());
}

// Planes of one size with room after them, all sentinels.
struct Planes {
  Planes(int width, int height, size_t room)
      : y(static_cast<size_t>(width) * height + room, kSentinel),
        cb(y.size() / 4 + room, kSentinel),
        cr(cb.size(), kSentinel),
        exact{y.data(), cb.data(), cr.data(), width, height} {}
  PlaneBuffers WithRoom(size_t capacity) const { return {exact.y, exact.cb, exact.cr, 0, 0, capacity}; }
  size_t Written() const {
    return static_cast<size_t>(std::count_if(y.begin(), y.end(), [](uint8_t b) { return b != kSentinel; }));
  }
  std::vector<uint8_t> y, cb, cr;
  PlaneBuffers exact;
};

TEST(PlaneDelivery, ExactPlanesRefuseAnotherSizeAndPlanesWithRoomTakeItAtItsOwnSize) {
  Decoder d;
  const auto picture = FlatPicture(48, 16, 70);
  DecodeStatus s = d.decoder.DecodeReference(picture.data(), static_cast<uint32_t>(picture.size()));
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.delivered, 0);
  Planes planes(32, 16, 4096);
  d.decoder.DeliverReference(planes.exact, 0, s);
  EXPECT_EQ(s.delivered, 0);
  EXPECT_EQ(planes.Written(), 0u);
  d.decoder.DeliverReference(planes.WithRoom(48 * 16), 0, s);
  EXPECT_EQ(s.delivered, 1);
  EXPECT_EQ(s.width, 48);
  EXPECT_EQ(s.height, 16);
  EXPECT_EQ(planes.y[7 * 48 + 16 * 2 + 7], 70);
  EXPECT_EQ(planes.Written(), 48u * 16);
}

// Outside mode 0 the enlargement doubles all 128 rows of a 160 x 128 picture: 256 rows, though
// the picture is reported as 240.
TEST(PlaneDelivery, EnlargedRowsBeyondTheReportedSizeNeverLandOutsideThePlanes) {
  Decoder d(kNewer);
  const auto picture = FlatPicture(160, 128, 70);
  Planes planes(320, 240, 320 * 16);
  const DecodeStatus refused =
      d.decoder.DecodeFramePlanes(picture.data(), static_cast<uint32_t>(picture.size()), planes.exact, 1);
  EXPECT_EQ(refused.failed, 1);
  EXPECT_EQ(planes.Written(), 0u);
  DecodeStatus s = d.decoder.DecodeReference(picture.data(), static_cast<uint32_t>(picture.size()), 1);
  d.decoder.DeliverReference(planes.WithRoom(320 * 256), 1, s);
  EXPECT_EQ(s.delivered, 1);
  EXPECT_EQ(s.width, 320);
  EXPECT_EQ(s.height, 240);
  EXPECT_EQ(planes.Written(), 320u * 256);
}

TEST(Robustness, ArbitraryBytesNeverReachOutsideTheBuffers) {
  std::mt19937 random(12345);
  Decoder d;
  std::vector<uint8_t> bytes;
  for (int frame = 0; frame < 3000; ++frame) {
    bytes.resize(random() % 400);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() >> (random() % 2 ? 0 : 3));  // favours small values
    if (bytes.size() > 8 && frame % 2 == 0) {
      // A start code and a header of random type and a small size, then noise.
      testing::BitWriter w;
      w.Put(16, 21);
      const uint32_t type = random() % 4;
      w.Put(type, 2);
      if (type < 2) {
        w.Put(16 * (1 + random() % 6), 10);
        w.Put(16 * (1 + random() % 4), 10);
      }
      const auto head = w.bytes();
      std::copy(head.begin(), head.end(), bytes.begin());
    }
    const DecodeStatus s = d.Decode(bytes);
    ASSERT_LE(s.width * s.height, 307200);
  }
  // A frame longer than the input capacity is cut to it.
  std::vector<uint8_t> huge(700000, 0xFF);
  EXPECT_EQ(d.Decode(huge).failed, 1);
}

}  // namespace
}  // namespace zentrova
