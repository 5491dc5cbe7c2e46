// Recovery of damaged recordings: the scan finds frames by their structure, the reader delivers
// what it found, and the repair writes it as a recording every reader takes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

#include "TempDir.h"
#include "recording/RecordingRepair.h"
#include "recording/RecordingScan.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "recording/ZrWriter.h"

namespace zentrova {
namespace {

// Video bytes that open like a picture: the start code, the picture type and, for an intra
// picture, its size; then bytes that differ from frame to frame. The scan never decodes.
std::vector<uint8_t> PictureBytes(bool intra, uint32_t width, uint32_t height, uint32_t seed, size_t size = 900) {
  std::vector<uint8_t> v(size);
  std::mt19937 random(seed);
  for (uint8_t& b : v) b = static_cast<uint8_t>(random() | 0x11);  // no zero byte: no stray start code
  uint64_t bits = 0;
  int n = 0;
  auto put = [&](uint64_t value, int count) {
    bits = bits << count | value;
    n += count;
  };
  put(16, 21);  // the start code
  put(intra ? 0 : 2, 2);
  if (intra) {
    put(width, 10);
    put(height, 10);
    put(8, 8);
    put(0, 1);
  } else {
    put(1, 1);
    put(8, 8);
  }
  put(0, (8 - n % 8) % 8);
  for (int i = 0; i < n / 8; ++i) v[i] = static_cast<uint8_t>(bits >> (n - 8 * (i + 1)));
  return v;
}

struct Recorded {
  std::vector<std::vector<uint8_t>> video, audio;
};

// A recording of `blocks` blocks of `perBlock` frames, an intra picture every 10 frames, sound on
// every frame. Returns what went into it.
Recorded WriteRecording(const std::string& path, int blocks, int perBlock, uint32_t seed = 1, uint8_t code = 130,
                        uint32_t width = 352, uint32_t height = 288, uint16_t version = kVersionOlder) {
  ZrWriter writer;
  ZrHeaderFields fields;
  fields.version = version;
  fields.resolutionCode = code;
  fields.startTime = 1700000000;
  fields.endTime = 1700000060;
  fields.text1 = "camera 3";
  EXPECT_TRUE(writer.Open(path, fields));
  Recorded r;
  int frame = 0;
  for (int b = 0; b < blocks; ++b) {
    EXPECT_TRUE(writer.BeginBlock(1000 + 1000u * static_cast<uint32_t>(b)));
    for (int f = 0; f < perBlock; ++f, ++frame) {
      r.video.push_back(PictureBytes(frame % 10 == 0, width, height, seed * 100000 + static_cast<uint32_t>(frame)));
      r.audio.push_back(std::vector<uint8_t>(120, static_cast<uint8_t>(0x21 + frame % 7)));
      ZrFrame z;
      z.flags = FlagAudio;
      z.frameTag = static_cast<uint16_t>(frame);
      z.video = r.video.back();
      z.audio = r.audio.back();
      EXPECT_TRUE(writer.WriteFrame(z));
    }
  }
  EXPECT_TRUE(writer.Close());
  return r;
}

std::vector<uint8_t> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets of the block headers, following the chain of an undamaged file.
std::vector<size_t> BlockOffsets(const std::vector<uint8_t>& b) {
  std::vector<size_t> out;
  for (uint32_t p = Get32(b, 28); p != kNoBlock && p + 16 <= b.size(); p = Get32(b, p + 4)) out.push_back(p);
  return out;
}

struct Delivered {
  std::vector<std::vector<uint8_t>> video;
  std::vector<size_t> afterGap;  // indexes of frames delivered with afterGap
};

Delivered ReadFound(const std::string& path, const FoundRecording& found) {
  ZrReader reader;
  RecordingInfo info;
  Delivered d;
  const auto opened = reader.openFound(path, found, &info);
  EXPECT_TRUE(opened) << (opened ? "" : opened.reason());
  std::vector<uint8_t> video(1 << 20), audio(65536);
  FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());
  while (reader.fetchFrame(&record, -1, 0)) {
    if (record.afterGap) d.afterGap.push_back(d.video.size());
    d.video.emplace_back(video.begin(), video.begin() + record.videoBytes);
  }
  return d;
}

// The frames delivered, as indexes into what was recorded (-1 for a frame never recorded).
std::vector<int> Matched(const Recorded& r, const Delivered& d) {
  std::vector<int> out;
  for (const auto& v : d.video) {
    int k = -1;
    for (size_t i = 0; i < r.video.size() && k < 0; ++i)
      if (r.video[i] == v) k = static_cast<int>(i);
    out.push_back(k);
  }
  return out;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i < to; ++i) v.push_back(i);
  return v;
}

TEST(RecordingScan, AnUndamagedRecordingIsFoundWholeWithItsHeader) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 4, 25);
  const ScanResult scan = ScanRecordingFile(dir.file("cam.zr"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  const FoundRecording& f = scan.recordings[0];
  EXPECT_TRUE(f.headerFound);
  EXPECT_EQ(f.header.text1, "camera 3");
  EXPECT_EQ(f.frames, 100u);
  EXPECT_EQ(f.chainFrames, 100u);
  EXPECT_FALSE(f.damaged());
  const Delivered d = ReadFound(dir.file("cam.zr"), f);
  EXPECT_EQ(Matched(r, d), Range(0, 100));
  EXPECT_TRUE(d.afterGap.empty());

  ZrReader plain;
  ASSERT_TRUE(plain.open(dir.file("cam.zr"), nullptr));
  EXPECT_EQ(plain.framesBeyondChain(), 0u);
  EXPECT_TRUE(plain.damageWarnings().empty());
}

TEST(RecordingScan, PowerLossLeavesAStaleLinkAndCountThatTheScanLooksPast) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 4, 25);
  std::vector<uint8_t> b = Load(dir.file("cam.zr"));
  const auto blocks = BlockOffsets(b);
  Put32(b, 12, Get32(b, 8));                      // the end time never written
  Put32(b, blocks[1] + 4, kNoBlock);              // block 2's link never patched
  b[blocks[3] + 8] = 18;                          // the last block's count seven frames behind
  Save(dir.file("lost-power.zr"), b);

  ZrReader plain;
  ASSERT_TRUE(plain.open(dir.file("lost-power.zr"), nullptr));
  EXPECT_EQ(plain.frameCount(), 50);
  EXPECT_EQ(plain.framesBeyondChain(), 50u);
  const auto warnings = plain.damageWarnings();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("50 more frames"), std::string::npos);
  EXPECT_NE(warnings[1].find("end time"), std::string::npos);

  const ScanResult scan = ScanRecordingFile(dir.file("lost-power.zr"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  EXPECT_EQ(scan.recordings[0].frames, 100u);
  EXPECT_EQ(scan.recordings[0].chainFrames, 50u);
  EXPECT_TRUE(scan.recordings[0].damaged());
  const Delivered d = ReadFound(dir.file("lost-power.zr"), scan.recordings[0]);
  EXPECT_EQ(Matched(r, d), Range(0, 100));
  EXPECT_TRUE(d.afterGap.empty()) << "no frame was lost: every reference holds";
}

TEST(RecordingScan, ABadSectorOnABlockHeaderCostsOnlyTheFramesItCovers) {
  for (const bool noise : {false, true}) {
    testing::TempDir dir;
    const Recorded r = WriteRecording(dir.file("cam.zr"), 4, 25);
    std::vector<uint8_t> b = Load(dir.file("cam.zr"));
    // 512 bytes from the block header on: the header and the start of the block's first frame.
    const size_t sector = BlockOffsets(b)[2];
    std::mt19937 random(7);
    for (size_t i = sector; i < sector + 512; ++i) b[i] = noise ? static_cast<uint8_t>(random()) : 0;
    Save(dir.file("bad.zr"), b);

    ZrReader plain;
    ASSERT_TRUE(plain.open(dir.file("bad.zr"), nullptr));
    EXPECT_GT(plain.framesBeyondChain(), 0u) << "noise " << noise;

    const ScanResult scan = ScanRecordingFile(dir.file("bad.zr"));
    ASSERT_EQ(scan.recordings.size(), 1u) << "noise " << noise;
    const Delivered d = ReadFound(dir.file("bad.zr"), scan.recordings[0]);
    const std::vector<int> got = Matched(r, d);
    // Every frame delivered is one recorded, in order; only those the sector touched are missing.
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_GE(got[i], 0) << "frame " << i << " was never recorded (noise " << noise << ")";
      if (i) {
        EXPECT_GT(got[i], got[i - 1]);
      }
    }
    EXPECT_GE(got.size(), 98u);
    ASSERT_EQ(d.afterGap.size(), 1u);
    EXPECT_FALSE(scan.recordings[0].damage.empty());
  }
}

TEST(RecordingScan, AFrameHeaderLostMidBlockResumesAtTheNextFrame) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 3, 25);
  std::vector<uint8_t> b = Load(dir.file("cam.zr"));
  // The header of frame 5 of block 2: block header, then five frames of 16 + 900 + 120 bytes.
  const size_t frame5 = BlockOffsets(b)[1] + 16 + 5 * (16 + 900 + 120);
  std::fill(b.begin() + static_cast<long>(frame5), b.begin() + static_cast<long>(frame5) + 12, 0xEE);
  Save(dir.file("bad.zr"), b);

  const ScanResult scan = ScanRecordingFile(dir.file("bad.zr"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  const Delivered d = ReadFound(dir.file("bad.zr"), scan.recordings[0]);
  std::vector<int> want = Range(0, 30);
  for (int i = 31; i < 75; ++i) want.push_back(i);
  EXPECT_EQ(Matched(r, d), want);
  EXPECT_EQ(d.afterGap, std::vector<size_t>{30});
}

TEST(RecordingScan, ALostFileHeaderIsInferredFromThePictures) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 3, 20, 1, 1, 240, 176);
  std::vector<uint8_t> b = Load(dir.file("cam.zr"));
  std::fill(b.begin(), b.begin() + 40, 0);  // the header and the start of the variable part
  Save(dir.file("headless.zr"), b);

  ZrReader plain;
  EXPECT_FALSE(plain.open(dir.file("headless.zr"), nullptr));
  const ScanResult scan = ScanRecordingFile(dir.file("headless.zr"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  const FoundRecording& f = scan.recordings[0];
  EXPECT_FALSE(f.headerFound);
  EXPECT_EQ(f.header.resolutionCode, 1);  // 240 x 176 is only the older generation's
  EXPECT_EQ(f.header.version, kVersionOlder);
  EXPECT_EQ(f.frames, 60u);
  EXPECT_EQ(Matched(r, ReadFound(dir.file("headless.zr"), f)), Range(0, 60));

  ScanOptions told;
  told.width = 704;
  told.height = 288;
  told.generation = kGenerationNewer;
  const ScanResult overridden = ScanRecordingFile(dir.file("headless.zr"), told);
  ASSERT_EQ(overridden.recordings.size(), 1u);
  EXPECT_EQ(overridden.recordings[0].header.resolutionCode, 133);
  EXPECT_EQ(overridden.recordings[0].header.version, kVersionNewer);
}

TEST(RecordingScan, ASizeBothGenerationsCodeFollowsARecordingWithItsHeaderElseTheOlderGeneration) {
  // 176 x 144 pictures are an older 176 x 144 recording or a newer 352 x 288 one, and the coded
  // pictures are the same bytes either way. Without a header, only a recording of the same disk
  // that kept its own tells which; failing that, the pictures are shown as they were coded.
  testing::TempDir dir;
  WriteRecording(dir.file("newer.zr"), 2, 20, 1, 132, 176, 144, kVersionNewer);
  WriteRecording(dir.file("older.zr"), 2, 20, 2, 128, 176, 144, kVersionOlder);
  for (const char* name : {"newer.zr", "older.zr"}) {
    std::vector<uint8_t> headless = Load(dir.file(name));
    std::fill(headless.begin(), headless.begin() + 40, 0);
    Save(dir.file(std::string("headless-") + name), headless);
    const ScanResult alone = ScanRecordingFile(dir.file(std::string("headless-") + name));
    ASSERT_EQ(alone.recordings.size(), 1u) << name;
    EXPECT_EQ(alone.recordings[0].header.resolutionCode, 128) << name;
    EXPECT_EQ(alone.recordings[0].header.version, kVersionOlder) << name;
    EXPECT_TRUE(alone.recordings[0].generationInferred) << name;

    // Behind a recording of either generation that kept its header.
    for (const char* neighbour : {"newer.zr", "older.zr"}) {
      std::vector<uint8_t> disk = Load(dir.file(neighbour));
      disk.insert(disk.end(), headless.begin(), headless.end());
      Save(dir.file("disk.img"), disk);
      const ScanResult scan = ScanRecordingFile(dir.file("disk.img"));
      ASSERT_EQ(scan.recordings.size(), 2u) << name << " after " << neighbour;
      const bool newer = std::string(neighbour) == "newer.zr";
      EXPECT_EQ(scan.recordings[1].header.resolutionCode, newer ? 132 : 128) << name << " after " << neighbour;
      EXPECT_EQ(scan.recordings[1].header.version, newer ? kVersionNewer : kVersionOlder) << name << " after " << neighbour;
    }
  }
  ScanOptions told;
  told.generation = kGenerationNewer;
  const ScanResult overridden = ScanRecordingFile(dir.file("headless-older.zr"), told);
  ASSERT_EQ(overridden.recordings.size(), 1u);
  EXPECT_EQ(overridden.recordings[0].header.resolutionCode, 132);
  EXPECT_EQ(overridden.recordings[0].header.version, kVersionNewer);
}

TEST(RecordingScan, RecordingsOneAfterAnotherBecomeOneEachInOrder) {
  testing::TempDir dir;
  const Recorded a = WriteRecording(dir.file("a.zr"), 2, 25, 1);
  const Recorded c = WriteRecording(dir.file("c.zr"), 3, 10, 2, 2, 320, 240);
  std::vector<uint8_t> both = Load(dir.file("a.zr"));
  const std::vector<uint8_t> second = Load(dir.file("c.zr"));
  both.insert(both.end(), second.begin(), second.end());
  Save(dir.file("both.zr"), both);

  ZrReader plain;
  ASSERT_TRUE(plain.open(dir.file("both.zr"), nullptr));
  EXPECT_EQ(plain.framesBeyondChain(), 30u);

  const ScanResult scan = ScanRecordingFile(dir.file("both.zr"));
  ASSERT_EQ(scan.recordings.size(), 2u);
  EXPECT_EQ(Matched(a, ReadFound(dir.file("both.zr"), scan.recordings[0])), Range(0, 50));
  EXPECT_EQ(Matched(c, ReadFound(dir.file("both.zr"), scan.recordings[1])), Range(0, 30));
  EXPECT_EQ(scan.recordings[1].header.resolutionCode, 2);
  EXPECT_FALSE(scan.recordings[1].damaged());
}

TEST(RecordingScan, NoiseAndEmptySpaceAreNeverTakenForFrames) {
  testing::TempDir dir;
  std::vector<uint8_t> bytes(3u << 20);
  std::mt19937 random(11);
  for (size_t i = 0; i < bytes.size() / 2; ++i) bytes[i] = static_cast<uint8_t>(random());
  // The second half: start codes and frame-like lengths everywhere, which must still not pass.
  for (size_t i = bytes.size() / 2; i + 3 < bytes.size(); i += 3) {
    bytes[i] = 0;
    bytes[i + 1] = 0;
    bytes[i + 2] = 0x80;
  }
  Save(dir.file("noise.img"), bytes);
  const ScanResult scan = ScanRecordingFile(dir.file("noise.img"));
  EXPECT_TRUE(scan.error.empty());
  EXPECT_TRUE(scan.recordings.empty());
}

TEST(RecordingScan, ARecordingInsideLargerDataIsFoundWhereItLies) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 3, 25);
  const std::vector<uint8_t> rec = Load(dir.file("cam.zr"));
  std::vector<uint8_t> image(1u << 20);
  std::mt19937 random(5);
  for (size_t i = 0; i < 65536; ++i) image[i] = static_cast<uint8_t>(random());
  const size_t at = 3 * 65536;
  std::copy(rec.begin(), rec.end(), image.begin() + static_cast<long>(at));
  Save(dir.file("disk.img"), image);

  const ScanResult scan = ScanRecordingFile(dir.file("disk.img"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  EXPECT_EQ(scan.recordings[0].start, at);
  EXPECT_TRUE(scan.recordings[0].headerFound);
  EXPECT_EQ(Matched(r, ReadFound(dir.file("disk.img"), scan.recordings[0])), Range(0, 75));
}

TEST(RecordingScan, ACancelIsHeardInTheMiddleOfEmptySpace) {
  // A gigabyte of zeros (sparse, so it costs no disk) holds no candidate at all: the search must
  // still stop when asked, long before its end, and say it was cancelled.
  testing::TempDir dir;
  {
    std::ofstream out(dir.file("empty.img"), std::ios::binary);
    out.seekp((int64_t{1} << 30) - 1);
    out.put('\0');
  }
  std::atomic<bool> cancel{false};
  std::vector<uint64_t> reported;
  ScanOptions options;
  options.cancel = &cancel;
  options.progress = [&](uint64_t done, uint64_t) {
    reported.push_back(done);
    cancel = true;
  };
  const ScanResult scan = ScanRecordingFile(dir.file("empty.img"), options);
  EXPECT_TRUE(scan.cancelled);
  EXPECT_TRUE(scan.recordings.empty());
  ASSERT_FALSE(reported.empty());
  EXPECT_LT(reported.back(), uint64_t{1} << 29);
  EXPECT_LT(scan.bytesRead, uint64_t{1} << 29);
}

TEST(RecordingScan, RecordingsAcrossTheEdgesOfTheSearchWindowAreFound) {
  // The search looks at a few megabytes at a time: a header, a frame or a start code split by
  // the edge of one of them must be found all the same.
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 2, 25);
  const std::vector<uint8_t> rec = Load(dir.file("cam.zr"));
  std::vector<uint8_t> image(13u << 20);
  std::mt19937 random(9);
  for (uint8_t& b : image) b = static_cast<uint8_t>(random());
  const size_t window = 4u << 20;
  // Its file header across the edge; without its header, a frame across the next; the first
  // frame's start code across the third.
  const size_t starts[] = {window - 20, 2 * window - 30 - 40, 3 * window - 60 - 17};
  std::copy(rec.begin(), rec.end(), image.begin() + static_cast<long>(starts[0]));
  std::copy(rec.begin() + 60, rec.end(), image.begin() + static_cast<long>(starts[1]));
  std::copy(rec.begin(), rec.end(), image.begin() + static_cast<long>(starts[2]));
  Save(dir.file("disk.img"), image);

  const ScanResult scan = ScanRecordingFile(dir.file("disk.img"));
  ASSERT_EQ(scan.recordings.size(), 3u);
  EXPECT_EQ(scan.recordings[0].start, starts[0]);
  EXPECT_EQ(scan.recordings[2].start, starts[2]);
  for (const FoundRecording& found : scan.recordings)
    EXPECT_EQ(Matched(r, ReadFound(dir.file("disk.img"), found)), Range(0, 50));
}

TEST(RecordingScan, AFileCutShortWhileItIsScannedEndsTheScanWithWhatWasFound) {
  // Another program truncates the image while the scan reads it: the scan reads the file in
  // place where it can, so pages vanish under it. It must neither end the program nor report
  // anything from beyond the cut.
  testing::TempDir dir;
  WriteRecording(dir.file("cam.zr"), 2, 25);
  const std::vector<uint8_t> rec = Load(dir.file("cam.zr"));
  const std::string image = dir.file("disk.img");
  {
    std::ofstream out(image, std::ios::binary);  // sparse: 96 MB of empty disk cost nothing
    out.write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
    out.seekp(96 << 20);
    out.write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
  }
  ScanOptions options;
  uint64_t cutAt = 0;
  options.progress = [&](uint64_t done, uint64_t total) {
    if (cutAt || done >= total) return;
    cutAt = (done + 12288) & ~uint64_t{4095};  // a few pages past where the search is
    ASSERT_EQ(::truncate(image.c_str(), static_cast<off_t>(cutAt)), 0);
  };
  const ScanResult scan = ScanRecordingFile(image, options);
  ASSERT_GT(cutAt, 0u);
  ASSERT_EQ(scan.recordings.size(), 1u);
  EXPECT_EQ(scan.recordings[0].start, 0u);
  EXPECT_EQ(scan.recordings[0].frames, 50u);
}

TEST(RecordingRepair, TheRepairedRecordingReadsPlainlyWithEveryFrameUnchanged) {
  testing::TempDir dir;
  const Recorded r = WriteRecording(dir.file("cam.zr"), 4, 25);
  std::vector<uint8_t> b = Load(dir.file("cam.zr"));
  const auto blocks = BlockOffsets(b);
  Put32(b, blocks[1] + 4, kNoBlock);  // a link never written
  // A frame header lost in block 3: the inter pictures after it until the next intra picture
  // have lost their reference.
  const size_t frame3 = blocks[2] + 16 + 3 * (16 + 900 + 120);
  std::fill(b.begin() + static_cast<long>(frame3), b.begin() + static_cast<long>(frame3) + 12, 0xEE);
  Save(dir.file("bad.zr"), b);

  const ScanResult scan = ScanRecordingFile(dir.file("bad.zr"));
  ASSERT_EQ(scan.recordings.size(), 1u);
  const RepairResult repaired = WriteRepairedRecording(dir.file("bad.zr"), scan.recordings[0], dir.file("fixed.zr"), false);
  ASSERT_TRUE(repaired.ok) << repaired.error;
  EXPECT_EQ(repaired.frames, 99u);
  EXPECT_FALSE(WriteRepairedRecording(dir.file("bad.zr"), scan.recordings[0], dir.file("fixed.zr"), false).ok)
      << "an existing file is replaced only when asked";

  ZrReader plain;
  RecordingInfo info;
  ASSERT_TRUE(plain.open(dir.file("fixed.zr"), &info));
  EXPECT_EQ(plain.frameCount(), 99);
  EXPECT_EQ(plain.text1(), "camera 3");
  EXPECT_EQ(plain.startTime(), 1700000000);
  EXPECT_EQ(plain.framesBeyondChain(), 0u);
  std::vector<uint8_t> video(1 << 20), audio(65536);
  FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());
  int n = 0;
  while (plain.fetchFrame(&record, -1, 0)) {
    const int recorded = n < 53 ? n : n + 1;
    EXPECT_EQ(std::vector<uint8_t>(video.begin(), video.begin() + record.videoBytes), r.video[recorded]);
    // Frames 54 to 59 are inter pictures after the lost one: marked as holding no picture.
    EXPECT_EQ((record.flags & FlagNoPicture) != 0, recorded > 53 && recorded < 60) << "frame " << recorded;
    ++n;
  }
  EXPECT_EQ(n, 99);
}

}  // namespace
}  // namespace zentrova
