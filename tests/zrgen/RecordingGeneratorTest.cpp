// Whole recordings: sources, sound, the stress walk, refusals and the build's gallery.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "TempDir.h"
#include "audio/G726Decoder.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "zrgen/EncoderTables.h"
#include "zrgen/Gallery.h"
#include "zrgen/MediaSources.h"
#include "zrgen/RecordingGenerator.h"
#include "zrgen/StressStreams.h"
#include "zrgen/TestPattern.h"

namespace zentrova::zrgen {
namespace {

using zentrova::testing::TempDir;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

GeneratorOptions Small(const std::string& output) {
  GeneratorOptions o;
  o.output = output;
  o.resolutionCode = 0;  // 160 x 112
  o.frames = 6;
  o.idct = IdctChoice::Plain;
  return o;
}

struct Frames {
  std::vector<FrameRecord> records;
  std::vector<std::vector<uint8_t>> audio;
  int blocks = 0;
};

Frames ReadFrames(const std::string& path) {
  Frames out;
  ZrReader reader;
  RecordingInfo info;
  const auto opened = reader.open(path, &info);
  EXPECT_TRUE(opened) << (opened ? "" : opened.reason());
  out.blocks = reader.blockCount();
  std::vector<uint8_t> video(614400), audio(65536);
  for (int32_t i = 0; i < reader.frameCount(); ++i) {
    FrameRecord r;
    r.videoData = video.data();
    r.videoCapacity = static_cast<uint32_t>(video.size());
    r.audioData = audio.data();
    r.audioCapacity = static_cast<uint32_t>(audio.size());
    if (!reader.fetchFrame(&r, -1, -1)) break;
    out.audio.emplace_back(audio.begin(), audio.begin() + ((r.flags & FlagAudio) ? r.audioBytes : 0));
    r.videoData = nullptr;
    r.audioData = nullptr;
    out.records.push_back(r);
  }
  return out;
}

TEST(RecordingGenerator, ToneSurvivesTheG726Codec) {
  TempDir dir;
  GeneratorOptions o = Small(dir.file("tone.zr"));
  o.frames = 25;
  o.toneHz = 500;
  GeneratorReport report;
  ASSERT_TRUE(GenerateRecording(o, report)) << report.error;
  const Frames frames = ReadFrames(o.output);
  ASSERT_EQ(frames.records.size(), 25u);
  G726Decoder decoder;
  ASSERT_TRUE(decoder.Prepare(0));
  std::vector<int16_t> pcm;
  for (const std::vector<uint8_t>& a : frames.audio) {
    ASSERT_EQ(a.size(), 120u);  // 320 samples at 25 frames per second
    std::vector<int16_t> part(320);
    ASSERT_TRUE(decoder.Decode(a.data(), part.data(), 120));
    pcm.insert(pcm.end(), part.begin(), part.end());
  }
  std::vector<int16_t> source(pcm.size());
  MakeToneSource(500, o.toneAmplitude)->Next(source.data(), static_cast<int>(source.size()));
  for (int16_t& s : source) s = static_cast<int16_t>(s >> 2);  // the coder's 14-bit scale
  double signal = 0, noise = 0;
  for (size_t i = 800; i < pcm.size(); ++i) {  // past the codec's adaptation
    signal += double(source[i]) * source[i];
    noise += (double(pcm[i]) - source[i]) * (double(pcm[i]) - source[i]);
  }
  EXPECT_GT(10 * std::log10(signal / noise), 10.0);
}

TEST(RecordingGenerator, FramesCarryTheirShareOfTheSecondsSound) {
  int64_t total = 0;
  for (int frame = 0; frame < 30; ++frame) {
    const int n = AudioSamplesOfFrame(frame, 30);
    EXPECT_EQ(n % 8, 0);
    total += n;
  }
  EXPECT_EQ(total, 8000);
  EXPECT_EQ(AudioSamplesOfFrame(7, 10), 800);
}

TEST(RecordingGenerator, RawFilesGiveTheSameRecordingAsTheBuiltInSources) {
  TempDir dir;
  const std::string yuv = dir.file("pattern.yuv"), pcm = dir.file("tone.pcm");
  const double builtInTone = GeneratorOptions{}.toneAmplitude;
  {
    std::ofstream out(yuv, std::ios::binary);
    for (int frame = 0; frame < 6; ++frame) {
      const Planes p = TestPattern(160, 112, frame);
      for (const std::vector<uint8_t>* plane : {&p.y, &p.cb, &p.cr})
        out.write(reinterpret_cast<const char*>(plane->data()), static_cast<std::streamsize>(plane->size()));
    }
    std::vector<int16_t> samples(6 * 320);
    MakeToneSource(440, builtInTone)->Next(samples.data(), static_cast<int>(samples.size()));
    std::ofstream sound(pcm, std::ios::binary);
    for (int16_t s : samples) {
      const char le[2] = {static_cast<char>(s & 0xFF), static_cast<char>((static_cast<uint16_t>(s) >> 8) & 0xFF)};
      sound.write(le, 2);
    }
  }
  GeneratorOptions builtIn = Small(dir.file("a.zr"));
  GeneratorOptions files = Small(dir.file("b.zr"));
  files.video = VideoInput::Yuv;
  files.yuvPath = yuv;
  files.audio = AudioInput::Pcm;
  files.pcmPath = pcm;
  files.frames = 100;  // the file ends first
  GeneratorReport a, b;
  ASSERT_TRUE(GenerateRecording(builtIn, a)) << a.error;
  ASSERT_TRUE(GenerateRecording(files, b)) << b.error;
  EXPECT_EQ(b.frames, 6);
  EXPECT_EQ(FileBytes(builtIn.output), FileBytes(files.output));
}

TEST(RecordingGenerator, StressWalkDecodesInBothGenerations) {
  TempDir dir;
  for (auto [code, version] : {std::pair<int, int>{0, 257}, {4, 4096}, {130, 257}}) {
    GeneratorOptions o = Small(dir.file("stress.zr"));
    o.resolutionCode = static_cast<uint8_t>(code);
    o.version = static_cast<uint16_t>(version);
    o.stress = true;
    GeneratorReport report;
    // The generator decodes every picture it writes and stops at the first one refused.
    ASSERT_TRUE(GenerateRecording(o, report)) << "code " << code << ": " << report.error;
    EXPECT_EQ(report.framesWithoutPicture, 2);
    const Frames frames = ReadFrames(o.output);
    EXPECT_EQ(static_cast<int>(frames.records.size()), report.frames);
    int noPicture = 0;
    for (const FrameRecord& r : frames.records) noPicture += (r.flags & FlagNoPicture) ? 1 : 0;
    EXPECT_EQ(noPicture, 2);
    EXPECT_GE(frames.blocks, 3);  // with the empty one
  }
}

TEST(RecordingGenerator, StressWalkCoversTheSyntaxCorners) {
  std::set<std::tuple<int, int, int>> codes;
  std::set<int> escapeBytes, quantisers, offsets, groupCounts;
  std::set<std::pair<int, int>> patterns;  // (intra?, 6-bit pattern)
  bool runTo63 = false, dc255 = false;
  const int count = 70;
  for (const StressStep& step : StressSequence(160, 112, 1)) {
    if (step.kind != StressStep::Kind::Picture) continue;
    const PictureHeader& h = step.plan.header;
    quantisers.insert(h.quantiser);
    offsets.insert(h.startOffset);
    groupCounts.insert(h.groupCount);
    for (const MacroblockPlan& mb : step.plan.macroblocks) {
      if (mb.mode == MacroblockMode::Skip) continue;
      const bool intra = mb.mode == MacroblockMode::Intra;
      int pattern = 0;
      for (const BlockPlan& b : mb.blocks) {
        pattern = (pattern << 1) | (b.events.empty() ? 0 : 1);
        dc255 = dc255 || (intra && b.dcCode == 255);
        int position = intra ? 1 : 0;
        for (const CoefficientEvent& e : b.events) {
          position += e.run;
          const int magnitude = std::abs(e.level);
          if (e.forceEscape || !TcoefCodeFor(e.last, e.run, magnitude)) escapeBytes.insert(e.level & 0xFF);
          else codes.insert({e.last, e.run, magnitude});
          ++position;
        }
        runTo63 = runTo63 || position == 64;
      }
      patterns.insert({intra, pattern});
    }
  }
  EXPECT_EQ(codes.size(), kTcoefTable.size());
  EXPECT_EQ(escapeBytes.size(), 256u);
  EXPECT_EQ(patterns.size(), 128u);
  EXPECT_TRUE(runTo63);
  EXPECT_TRUE(dc255);
  for (int q : {0, 1, 2, 7, 12, 255}) EXPECT_TRUE(quantisers.count(q)) << "quantiser " << q;
  EXPECT_TRUE(offsets.count(160));
  EXPECT_TRUE(groupCounts.count(0));
  EXPECT_TRUE(groupCounts.count(count / 10));
  EXPECT_TRUE(groupCounts.count(count / 10 + 1));
}

TEST(RecordingGenerator, RefusesWhatARecordingCannotCarry) {
  TempDir dir;
  GeneratorReport report;
  GeneratorOptions newerCodeInOldVersion = Small(dir.file("x.zr"));
  newerCodeInOldVersion.resolutionCode = 4;
  EXPECT_FALSE(GenerateRecording(newerCodeInOldVersion, report));
  GeneratorOptions enlarged = Small(dir.file("x.zr"));
  enlarged.resolutionCode = 128;  // 176 x 144 would come back as 352 x 288
  enlarged.version = 4096;
  EXPECT_FALSE(GenerateRecording(enlarged, report));
  GeneratorOptions noSuchCode = Small(dir.file("x.zr"));
  noSuchCode.resolutionCode = 6;
  EXPECT_FALSE(GenerateRecording(noSuchCode, report));
  GeneratorOptions missing = Small(dir.file("x.zr"));
  missing.video = VideoInput::Yuv;
  missing.yuvPath = dir.file("missing.yuv");
  EXPECT_FALSE(GenerateRecording(missing, report));
}

TEST(Gallery, TheBuildWritesEveryFixtureAndEachOneOpens) {
  const std::filesystem::path folder = ZRGEN_GALLERY_DIR;
  for (const GalleryItem& item : GalleryItems()) {
    const std::filesystem::path file = folder / item.name;
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_LT(std::filesystem::file_size(file), 32u * 1024) << file;
    const Frames frames = ReadFrames(file.string());
    EXPECT_GT(frames.records.size(), 0u) << file;
  }
}

}  // namespace
}  // namespace zentrova::zrgen
