// zrgen damage: every class writes a file whose truth agrees with its bytes, the same seed gives
// the same file, and the converter without recovery treats each class the way it does today.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "avi/AviReader.h"
#include "media/StreamRecords.h"
#include "zrgen/Damage.h"
#include "zrgen/RecordingGenerator.h"

namespace zentrova::zrgen {
namespace {

using zentrova::testing::TempDir;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct TruthRow {
  int recording = 0;
  uint32_t frame = 0;
  bool intact = false, showable = false;
  int64_t offset = -1;
  char picture = '?';
};

struct Truth {
  std::vector<std::string> comments;
  std::vector<TruthRow> rows;
};

Truth ReadTruth(const std::string& path) {
  Truth truth;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('#', 0) == 0) {
      truth.comments.push_back(line);
      continue;
    }
    std::istringstream fields(line);
    TruthRow row;
    int intact = 0, showable = 0;
    fields >> row.recording >> row.frame >> intact >> showable >> row.offset >> row.picture;
    row.intact = intact == 1;
    row.showable = showable == 1;
    truth.rows.push_back(row);
  }
  return truth;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// Video chunks (00db, 00dc) of an AVI file in order, as the AVI reader lists them.
std::vector<std::string> VideoChunks(const std::vector<uint8_t>& file) {
  std::vector<std::string> chunks;
  for (const avi::RiffChunk& c : avi::ListRiffChunks(file))
    if (!c.list && (c.id == FourCC('0', '0', 'd', 'b') || c.id == FourCC('0', '0', 'd', 'c')))
      chunks.emplace_back(reinterpret_cast<const char*>(&file[c.data]), c.size);
  return chunks;
}

struct Converted {
  int status = -1;
  std::vector<std::string> pictures;
};

// The converter without recovery, as a user runs it today.
Converted Convert(const TempDir& dir, const std::string& input) {
  const std::string avi = dir.file("out.avi");
  std::filesystem::remove(avi);
  const std::string command = std::string(ZENTROVA_CLI) + " convert " + input + " " + avi +
                              " --codec raw --idct plain -y > " + dir.file("convert.log") + " 2>&1";
  Converted c;
  c.status = WEXITSTATUS(std::system(command.c_str()));
  const std::vector<uint8_t> file = ReadBytes(avi);
  c.pictures = VideoChunks(file);
  return c;
}

// Pictures of a conversion equal to the original's picture of the same frame.
int ShownAsRecorded(const Converted& damaged, const Converted& original) {
  int same = 0;
  for (size_t i = 0; i < damaged.pictures.size() && i < original.pictures.size(); ++i)
    same += damaged.pictures[i] == original.pictures[i];
  return same;
}

// Two recordings shared by every test: blocks of five frames, an intra picture every ten, sound;
// large enough pictures that a whole sector fits inside one.
class Damage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(std::filesystem::temp_directory_path() / ("zrgen-damage-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*folder_);
    Write("first.zr", 130, 257, 60);
    Write("second.zr", 4, 4096, 40);
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*folder_);
    delete folder_;
  }
  static void Write(const std::string& name, uint8_t code, uint16_t version, int frames) {
    GeneratorOptions o;
    o.output = *folder_ + "/" + name;
    o.resolutionCode = code;
    o.version = version;
    o.frames = frames;
    o.intraPeriod = 10;
    o.framesPerBlock = 5;
    o.quantiser = 4;
    o.idct = IdctChoice::Plain;
    GeneratorReport report;
    ASSERT_TRUE(GenerateRecording(o, report)) << report.error;
  }
  static std::string Input(const std::string& name) { return *folder_ + "/" + name; }

  DamageReport Run(DamageClass damage, const std::string& output, uint64_t seed) {
    DamageOptions o;
    o.damage = damage;
    o.output = output;
    o.inputs = {Input("first.zr")};
    if (TakesSeveralRecordings(damage)) o.inputs.push_back(Input("second.zr"));
    o.seed = seed;
    o.imageMegabytes = 1;
    DamageReport report;
    EXPECT_TRUE(WriteDamagedRecording(o, report)) << report.error;
    return report;
  }

  static std::string* folder_;
};

std::string* Damage::folder_ = nullptr;

// Where each frame's bytes lie in an intact recording.
std::vector<FrameSpan> FramesOf(const std::string& recording) {
  RecordingLayout layout;
  std::string error;
  EXPECT_TRUE(ReadRecordingLayout(recording, layout, error)) << error;
  return layout.frames;
}

const DamageClass kEveryClass[] = {DamageClass::PowerLoss,     DamageClass::BadSectorBlock, DamageClass::BadSectorFrame,
                                   DamageClass::BadSectorVideo, DamageClass::LostHeader,    DamageClass::Truncated,
                                   DamageClass::Concatenated,   DamageClass::DiskImage};

TEST_F(Damage, TheTruthAgreesWithTheBytesForEveryClassAndSeed) {
  TempDir dir;
  const std::vector<uint8_t> originals[] = {ReadBytes(Input("first.zr")), ReadBytes(Input("second.zr"))};
  const std::vector<FrameSpan> frames[] = {FramesOf(Input("first.zr")), FramesOf(Input("second.zr"))};
  for (const DamageClass damage : kEveryClass) {
    for (uint64_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(DamageClassName(damage)) + " seed " + std::to_string(seed));
      const std::string out = dir.file("damaged.zr");
      const DamageReport report = Run(damage, out, seed);
      const std::vector<uint8_t> damaged = ReadBytes(out);
      const Truth truth = ReadTruth(out + ".truth");
      ASSERT_GE(truth.comments.size(), 3u);
      EXPECT_EQ(truth.comments[0], std::string("# class ") + DamageClassName(damage));
      EXPECT_EQ(truth.comments[1], "# seed " + std::to_string(seed));
      const size_t expected = frames[0].size() + (TakesSeveralRecordings(damage) ? frames[1].size() : 0);
      ASSERT_EQ(truth.rows.size(), expected);
      EXPECT_EQ(report.frames, static_cast<int>(expected));

      const bool shifted = damaged.size() + 4096 == originals[0].size() && damage == DamageClass::LostHeader;
      int intact = 0;
      for (const TruthRow& row : truth.rows) {
        SCOPED_TRACE("recording " + std::to_string(row.recording) + " frame " + std::to_string(row.frame));
        const FrameSpan& f = frames[row.recording - 1][row.frame];
        const uint8_t* original = &originals[row.recording - 1][f.offset];
        EXPECT_TRUE(row.intact || !row.showable);
        if (row.intact) {
          ++intact;
          ASSERT_GE(row.offset, 0);
          ASSERT_LE(static_cast<uint64_t>(row.offset) + 12, damaged.size());
          EXPECT_EQ(std::memcmp(&damaged[row.offset], original, 12), 0);
          // A frame lies whole where the truth says, unless a disk image split it at a cluster.
          const bool whole = static_cast<uint64_t>(row.offset) + f.size <= damaged.size() &&
                             std::memcmp(&damaged[row.offset], original, f.size) == 0;
          const bool splitAtCluster = damage == DamageClass::DiskImage && f.offset / 4096 != (f.offset + f.size - 1) / 4096;
          EXPECT_TRUE(whole || splitAtCluster);
          continue;
        }
        EXPECT_EQ(row.offset, -1);
        EXPECT_FALSE(TakesSeveralRecordings(damage)) << "nothing is overwritten in a concatenation or an image";
        // Damage in place: the frame's bytes at its own position differ or are gone.
        const uint64_t at = shifted ? f.offset - std::min<uint64_t>(f.offset, 4096) : f.offset;
        const bool gone = (shifted && f.offset < 4096) || at + f.size > damaged.size();
        EXPECT_TRUE(gone || std::memcmp(&damaged[at], original, f.size) != 0);
      }
      EXPECT_EQ(report.intact, intact);
      if (damage != DamageClass::PowerLoss && !TakesSeveralRecordings(damage)) {
        EXPECT_LT(intact, static_cast<int>(expected)) << "the damage reaches some frame";
      }
    }
  }
}

TEST_F(Damage, ShowableFramesStopAtADamagedIntraPictureUntilTheNextOne) {
  TempDir dir;
  bool sawLostIntra = false;
  for (uint64_t seed = 1; seed <= 30 && !sawLostIntra; ++seed) {
    Run(DamageClass::BadSectorFrame, dir.file("frame.zr"), seed);
    const Truth truth = ReadTruth(dir.file("frame.zr.truth"));
    for (size_t i = 0; i < truth.rows.size(); ++i) {
      if (truth.rows[i].picture != 'I' || truth.rows[i].intact) continue;
      sawLostIntra = true;
      for (size_t j = i + 1; j < truth.rows.size() && truth.rows[j].picture != 'I'; ++j) {
        EXPECT_FALSE(truth.rows[j].showable) << "frame " << j << " lost its reference";
      }
    }
  }
  EXPECT_TRUE(sawLostIntra) << "some seed puts the bad sector on an intra picture";
}

TEST_F(Damage, TheSameSeedGivesTheSameFileAndAnotherSeedAnother) {
  TempDir dir;
  for (const DamageClass damage : kEveryClass) {
    if (damage == DamageClass::Concatenated) continue;  // nothing to choose
    SCOPED_TRACE(DamageClassName(damage));
    Run(damage, dir.file("a.zr"), 7);
    Run(damage, dir.file("b.zr"), 7);
    EXPECT_EQ(ReadBytes(dir.file("a.zr")), ReadBytes(dir.file("b.zr")));
    EXPECT_EQ(ReadBytes(dir.file("a.zr.truth")), ReadBytes(dir.file("b.zr.truth")));
    bool differs = false;
    for (uint64_t seed = 8; seed < 12 && !differs; ++seed) {
      Run(damage, dir.file("c.zr"), seed);
      differs = ReadBytes(dir.file("a.zr")) != ReadBytes(dir.file("c.zr"));
    }
    EXPECT_TRUE(differs);
  }
}

TEST_F(Damage, APowerCutLeavesTheEndTimeAStaleCountAndAnUnpatchedLink) {
  TempDir dir;
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    Run(DamageClass::PowerLoss, dir.file("cut.zr"), seed);
    const std::vector<uint8_t> b = ReadBytes(dir.file("cut.zr"));
    EXPECT_EQ(Le32(&b[12]), Le32(&b[8])) << "endTime equals startTime";
    // Walk the links the reader follows: the chain ends early, on a -1.
    uint64_t block = Le32(&b[28]);
    int blocks = 1;
    while (Le32(&b[block + 4]) != 0xFFFFFFFFu) {
      block = Le32(&b[block + 4]);
      ++blocks;
    }
    EXPECT_LT(blocks, 12) << "seed " << seed << ": the chain stops before the last of the 12 blocks";
  }
}

TEST_F(Damage, ARecordingOfAFewKilobytesTakesEveryClass) {
  TempDir dir;
  GeneratorOptions o;
  o.output = dir.file("tiny.zr");
  o.resolutionCode = 0;
  o.frames = 5;
  o.framesPerBlock = 2;
  o.idct = IdctChoice::Plain;
  GeneratorReport generated;
  ASSERT_TRUE(GenerateRecording(o, generated)) << generated.error;
  ASSERT_LT(generated.fileBytes, 8192u);
  for (const DamageClass damage : kEveryClass) {
    SCOPED_TRACE(DamageClassName(damage));
    DamageOptions d;
    d.damage = damage;
    d.output = dir.file("hurt.zr");
    d.inputs = {o.output};
    d.imageMegabytes = 1;
    DamageReport report;
    ASSERT_TRUE(WriteDamagedRecording(d, report)) << report.error;
    EXPECT_EQ(ReadTruth(d.output + ".truth").rows.size(), 5u);
  }
}

TEST_F(Damage, SingleFileClassesRefuseSeveralRecordings) {
  TempDir dir;
  DamageOptions o;
  o.damage = DamageClass::Truncated;
  o.output = dir.file("x.zr");
  o.inputs = {Input("first.zr"), Input("second.zr")};
  DamageReport report;
  EXPECT_FALSE(WriteDamagedRecording(o, report));
  EXPECT_NE(report.error.find("one recording"), std::string::npos);
  o.inputs = {dir.file("missing.zr")};
  EXPECT_FALSE(WriteDamagedRecording(o, report));
  EXPECT_FALSE(std::filesystem::exists(o.output));
}

// What the converter does with each class before recovery exists: the losses the damage suite
// measures. No class but a cut-short copy shows every picture that could be shown.
TEST_F(Damage, TheConverterWithoutRecoveryLosesPicturesOfEveryClass) {
  TempDir dir;
  const Converted original = Convert(dir, Input("first.zr"));
  const int total = static_cast<int>(original.pictures.size());
  ASSERT_EQ(total, 60);
  for (const DamageClass damage : kEveryClass) {
    SCOPED_TRACE(DamageClassName(damage));
    // Over a few seeds: one sector may happen to fall where nothing showable follows it.
    int shownOfAllSeeds = 0, showableOfAllSeeds = 0;
    for (uint64_t seed = 1; seed <= 4; ++seed) {
      const std::string out = dir.file(std::string(DamageClassName(damage)) + ".zr");
      const DamageReport report = Run(damage, out, seed);
      const Converted c = Convert(dir, out);
      const int shown = ShownAsRecorded(c, original);
      shownOfAllSeeds += shown;
      showableOfAllSeeds += report.showable;
      switch (damage) {
        case DamageClass::PowerLoss:
        case DamageClass::BadSectorBlock:
        case DamageClass::BadSectorFrame:
          break;
        case DamageClass::BadSectorVideo:
          // The sector lies inside one picture: every frame is still found, that one not shown as recorded.
          EXPECT_EQ(static_cast<int>(c.pictures.size()), total);
          EXPECT_LT(shown, total);
          break;
        case DamageClass::LostHeader:
        case DamageClass::DiskImage:
          EXPECT_NE(c.status, 0);
          EXPECT_TRUE(c.pictures.empty());
          break;
        case DamageClass::Truncated:
          EXPECT_EQ(c.status, 4);
          EXPECT_GE(shown, report.showable);
          break;
        case DamageClass::Concatenated:
          // The first recording, and the line that says the second is there (exit status 4).
          EXPECT_EQ(c.status, 4);
          EXPECT_EQ(shown, total) << "the first recording, and nothing of the second";
          EXPECT_EQ(static_cast<int>(c.pictures.size()), total);
          break;
      }
    }
    if (damage == DamageClass::PowerLoss || damage == DamageClass::BadSectorBlock ||
        damage == DamageClass::BadSectorFrame) {
      EXPECT_LT(shownOfAllSeeds, showableOfAllSeeds);
    }
  }
}

TEST_F(Damage, TheCommandLineTakesDamageBesideTheGeneratorsOwnForm) {
  TempDir dir;
  const std::string zrgen = ZRGEN_CLI;
  const std::string quiet = " > " + dir.file("log.txt") + " 2>&1";
  ASSERT_EQ(std::system((zrgen + " --quiet -n 3 " + dir.file("plain.zr") + quiet).c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("plain.zr")));
  const std::string damage = zrgen + " damage lost-header " + dir.file("hurt.zr") + " " + dir.file("plain.zr");
  ASSERT_EQ(std::system((damage + " --seed 5" + quiet).c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("hurt.zr.truth")));
  EXPECT_NE(std::system((zrgen + " damage melted " + dir.file("x.zr") + " " + dir.file("plain.zr") + quiet).c_str()),
            0);
  EXPECT_NE(std::system((zrgen + " damage truncated " + dir.file("x.zr") + quiet).c_str()), 0);
}

}  // namespace
}  // namespace zentrova::zrgen
