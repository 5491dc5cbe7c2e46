#include "recording/ZrReader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

#include "TempDir.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "support/RecordingBytes.h"

namespace zentrova {
namespace {

using testing::RecordingBytes;

// A reader with the buffers a caller gives it.
struct Fetcher {
  explicit Fetcher(uint32_t videoCapacity = 4096, uint32_t audioCapacity = 4096)
      : video(videoCapacity), audio(audioCapacity) {
    record.videoData = video.data();
    record.videoCapacity = videoCapacity;
    record.audioData = audio.data();
    record.audioCapacity = audioCapacity;
  }
  // Each remembers why it failed, for the assertion's message.
  bool open(const std::string& path) { return Remember(reader.open(path, &info)); }
  bool next() { return Remember(reader.fetchFrame(&record, -1, 0)); }
  bool Remember(const Expected<void>& result) {
    failure = result ? std::string() : result.reason();
    return result.ok();
  }
  std::vector<uint8_t> videoBytes() const { return {video.begin(), video.begin() + record.videoBytes}; }

  ZrReader reader;
  RecordingInfo info;
  FrameRecord record;
  std::string failure;
  std::vector<uint8_t> video;
  std::vector<uint8_t> audio;
};

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

// version 257, empty texts: the first block sits at 44.
RecordingBytes SmallRecording(uint16_t version = 257, uint8_t code = 2) {
  RecordingBytes b;
  b.header(version, code).u32(0).u32(3);
  return b;
}

class ReaderTest : public ::testing::Test {
 protected:
  std::string Save(const RecordingBytes& b, const std::string& name = "r.zr") {
    std::string path = dir.file(name);
    b.save(path);
    return path;
  }
  std::string OpenFailure(const RecordingBytes& b) {
    ZrReader r;
    auto opened = r.open(Save(b), nullptr);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(r.isOpen());
    return opened ? std::string() : opened.reason();
  }
  testing::TempDir dir;
};

// ---- validation, in the order the header is checked ----

TEST_F(ReaderTest, RefusesFilesShorterThanTheHeader) {
  RecordingBytes b = SmallRecording();
  b.bytes.resize(35);
  EXPECT_NE(OpenFailure(b).find("fewer than the 36"), std::string::npos);
}

TEST_F(ReaderTest, RefusesAnotherMagicAndNamesTheBytes) {
  RecordingBytes b = SmallRecording();
  b.bytes[0] = 'R';
  b.bytes[1] = 'I';
  EXPECT_EQ(OpenFailure(b), "not a ZR recording: the file starts with 52 49, not 5A 52 (\"ZR\")");
}

TEST_F(ReaderTest, RefusesVersionsAbove4096AndLimitBytesAbove160) {
  RecordingBytes newer = SmallRecording(4097, 2);
  EXPECT_NE(OpenFailure(newer).find("4097"), std::string::npos);
  RecordingBytes limit;
  limit.header(257, 2, 0, 0, 44, 161).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
  EXPECT_NE(OpenFailure(limit).find("160"), std::string::npos);
}

TEST_F(ReaderTest, AdmitsTheNewerSizeCodesOnlyAboveVersion257) {
  for (uint8_t code : {4, 5, 132, 133}) {
    RecordingBytes older = SmallRecording(257, code);
    older.block(~0u, ~0u, 1).frame(0, {});
    EXPECT_NE(OpenFailure(older).find("resolution code"), std::string::npos) << int(code);

    RecordingBytes newer;
    newer.header(4096, code).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
    Fetcher f;
    EXPECT_TRUE(f.open(Save(newer))) << int(code) << f.failure;
  }
  // Version 300 takes code 5 and still decodes with the older generation.
  RecordingBytes v300;
  v300.header(300, 5).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(v300)));
  EXPECT_EQ(GenerationOfVersion(f.reader.version()), kGenerationOlder);
  EXPECT_EQ(f.info.width, 640);
  EXPECT_EQ(f.info.height, 240);
}

TEST_F(ReaderTest, RefusesSizeIndicesOutsideTheTable) {
  for (uint8_t code : {6, 7, 127, 134, 255}) {
    RecordingBytes b;
    b.header(4096, code).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
    EXPECT_NE(OpenFailure(b).find("resolution code"), std::string::npos) << int(code);
  }
}

TEST_F(ReaderTest, ReportsEveryResolutionCode) {
  struct Case {
    uint16_t version;
    uint8_t code;
    int32_t width, height, family;
  } cases[] = {{257, 0, 160, 112, 0},   {257, 1, 240, 176, 0},   {257, 2, 320, 240, 0},   {257, 3, 640, 240, 0},
               {4096, 4, 320, 240, 0},  {4096, 5, 640, 240, 0},  {257, 128, 176, 144, 1}, {257, 129, 256, 192, 1},
               {257, 130, 352, 288, 1}, {257, 131, 640, 240, 1}, {4096, 132, 352, 288, 1}, {4096, 133, 704, 288, 1}};
  for (const Case& c : cases) {
    RecordingBytes b;
    b.header(c.version, c.code).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
    Fetcher f;
    ASSERT_TRUE(f.open(Save(b))) << int(c.code);
    EXPECT_EQ(f.info.width, c.width) << int(c.code);
    EXPECT_EQ(f.info.height, c.height) << int(c.code);
    EXPECT_EQ(f.info.sizeFamily, c.family) << int(c.code);
    EXPECT_EQ(f.info.aux1, 7);
    EXPECT_EQ(f.info.aux2, 9);
  }
}

TEST_F(ReaderTest, TextsUpTo1000BytesAndText3UpTo1023) {
  RecordingBytes ok;
  ok.header(257, 2, 1000, 3, 36 + 1000 + 3 + 4 + 1023 + 4);
  ok.fill(1000, 'a').text(std::string("b\0c", 3))  // a zero byte inside text2 ends it early
     .u32(1023).fill(1023, 'z').u32(5).block(~0u, ~0u, 1).frame(0, {});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(ok))) << f.failure;
  EXPECT_EQ(f.reader.text1().size(), 1000u);
  EXPECT_EQ(f.reader.text2(), "b");
  EXPECT_EQ(f.reader.text3().size(), 1023u);
  EXPECT_EQ(f.reader.utcOffsetHours(), 5);

  RecordingBytes long1;
  long1.header(257, 2, 1001).fill(1001).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
  EXPECT_EQ(OpenFailure(long1), "text1 is 1001 bytes long, at most 1000 are allowed");
  RecordingBytes long2;
  long2.header(257, 2, 0, 1001).fill(1001).u32(0).u32(0).block(~0u, ~0u, 1).frame(0, {});
  EXPECT_EQ(OpenFailure(long2), "text2 is 1001 bytes long, at most 1000 are allowed");
  RecordingBytes long3;
  long3.header(257, 2, 0, 0, 36 + 4 + 1024 + 4).u32(1024).fill(1024).u32(0).block(~0u, ~0u, 1).frame(0, {});
  EXPECT_NE(OpenFailure(long3).find("text3 is 1024 bytes long"), std::string::npos);
  RecordingBytes huge3;
  huge3.header(257, 2).u32(0xFFFFFFF0u).u32(0).block(~0u, ~0u, 1).frame(0, {});
  EXPECT_NE(OpenFailure(huge3).find("text3"), std::string::npos);
}

TEST_F(ReaderTest, TheVersionDecidesWhichItemsFollowTheTexts) {
  // 256: text3 with its length, no utcOffsetHours; the chain is found through firstBlockOffset.
  RecordingBytes v256;
  v256.header(256, 2, 0, 0, 36 + 4 + 2).u32(2).text("hi").block(~0u, ~0u, 1).frame(0, {1, 2});
  Fetcher a;
  ASSERT_TRUE(a.open(Save(v256, "a.zr"))) << a.failure;
  EXPECT_EQ(a.reader.text3(), "hi");
  EXPECT_EQ(a.reader.utcOffsetHours(), 0);
  // 255: the two texts only.
  RecordingBytes v255;
  v255.header(255, 2, 2, 0, 38).text("ab").block(~0u, ~0u, 1).frame(0, {});
  Fetcher b;
  ASSERT_TRUE(b.open(Save(v255, "b.zr"))) << b.failure;
  EXPECT_EQ(b.reader.text1(), "ab");
  EXPECT_EQ(b.reader.text3(), "");
}

TEST_F(ReaderTest, AnEmptyTextKeepsTheConstructionValueButText3IsEmptied) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 1).frame(0, {});
  ZrReader r("two", "one", "three");
  ASSERT_TRUE(r.open(Save(b), nullptr));
  EXPECT_EQ(r.text1(), "one");
  EXPECT_EQ(r.text2(), "two");
  EXPECT_EQ(r.text3(), "");
}

TEST_F(ReaderTest, RefusesAVariablePartCutShort) {
  RecordingBytes b;
  b.header(257, 2, 10).text("abc");
  EXPECT_NE(OpenFailure(b).find("text1"), std::string::npos);
  RecordingBytes noUtc;
  noUtc.header(257, 2).u32(0).u16(0);
  EXPECT_NE(OpenFailure(noUtc).find("utcOffsetHours"), std::string::npos);
}

TEST_F(ReaderTest, RefusesWhatIsNotARegularFileAtOnce) {
  ZrReader r;
  auto opened = r.open(dir.path().string(), nullptr);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "not a regular file but a folder");
  // A FIFO that no one writes would block an ordinary open for ever; a device or a socket is no
  // recording either. Each is refused without reading.
  ASSERT_EQ(::mkfifo(dir.file("fifo.zr").c_str(), 0644), 0);
  opened = r.open(dir.file("fifo.zr"), nullptr);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "not a regular file but a FIFO (named pipe)");
  opened = r.open("/dev/zero", nullptr);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "not a regular file but a character device");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.file("s.zr").c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  opened = r.open(dir.file("s.zr"), nullptr);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "not a regular file but a socket");
  ::close(sock);
  opened = r.open(dir.file("missing.zr"), nullptr);
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.reason().find("No such file"), std::string::npos);
  EXPECT_FALSE(r.isOpen());
}

// ---- the block chain ----

TEST_F(ReaderTest, CountsFramesOverTheChainAndPassesOverEmptyBlocks) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, 60, 0);  // at 44, no frames; the next block at 60
  b.block(44, ~0u, 5);
  for (uint8_t i = 0; i < 5; ++i) b.frame(0, {i});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.frameCount(), 5);
  EXPECT_EQ(f.reader.blockCount(), 2);
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{0});
}

TEST_F(ReaderTest, RefusesChainsWithoutFrames) {
  RecordingBytes none = SmallRecording();
  none.block(~0u, 60, 0).block(44, 76, 0).block(60, ~0u, 0);
  EXPECT_EQ(OpenFailure(none), "the recording holds no frame");
  RecordingBytes past;
  past.header(257, 2, 0, 0, 1000).u32(0).u32(0).block(~0u, ~0u, 1);
  EXPECT_EQ(OpenFailure(past), "the recording holds no block");
  RecordingBytes cut = SmallRecording();
  cut.fill(15);
  EXPECT_EQ(OpenFailure(cut), "the recording holds no block");
}

TEST_F(ReaderTest, ALinkAtOrPastTheEndEndsTheChainAfterItsBlock) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, 0, 2).frame(0, {1}).frame(0, {2});
  b.put32At(48, static_cast<uint32_t>(b.size()));  // nextBlock = file length
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.blockCount(), 1);
  EXPECT_EQ(f.reader.frameCount(), 2);
  EXPECT_EQ(f.reader.chainProblem(), "");  // where the next block would start: a way to end
  f.reader.close();
  // A link beyond the end: the file was cut short, and frames may be missing.
  b.put32At(48, static_cast<uint32_t>(b.size() + 5000));
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.frameCount(), 2);
  EXPECT_EQ(f.reader.chainProblem(), "its block chain goes on past the end of the file");
}

TEST_F(ReaderTest, ALastBlockHeaderCutShortIsNotIndexed) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, 0, 1).frame(0, {1});
  b.put32At(48, static_cast<uint32_t>(b.size()));
  b.fill(10);  // a block header of 10 bytes: nextBlock now points inside the file
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.blockCount(), 1);
  EXPECT_EQ(f.reader.chainProblem(), "its last block header is cut short");
}

TEST_F(ReaderTest, AChainThatLoopsBackStopsAtTheFirstRepeatedBlock) {
  // Blocks A(44) -> B -> C -> back to B: indexed A, B, C once each.
  RecordingBytes b = SmallRecording();
  const uint32_t a = 44, bb = 44 + 16 + 13, c = bb + 16 + 13;
  b.block(~0u, bb, 1).frame(0, {1});
  b.block(a, c, 1).frame(0, {2});
  b.block(bb, bb, 1).frame(0, {3});
  b.fill(64);
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.blockCount(), 3);
  EXPECT_EQ(f.reader.frameCount(), 3);
  EXPECT_EQ(f.reader.chainProblem(), "its block chain comes back to a block already read");
  for (uint8_t want = 1; want <= 3; ++want) {
    ASSERT_TRUE(f.next());
    EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{want});
  }
  EXPECT_FALSE(f.next());

  // A block that links to itself.
  RecordingBytes self = SmallRecording();
  self.block(~0u, 44, 2).frame(0, {}).frame(0, {}).fill(32);
  Fetcher g;
  ASSERT_TRUE(g.open(Save(self, "self.zr")));
  EXPECT_EQ(g.reader.blockCount(), 1);
}

TEST_F(ReaderTest, LongLoopsAreCutWhereverTheyCloseWithoutGrowingTheIndex) {
  // 300 empty blocks then one with a frame, the last linking back to block 7.
  RecordingBytes b = SmallRecording();
  const int n = 301;
  for (int i = 0; i < n; ++i) {
    const uint32_t here = static_cast<uint32_t>(b.size());
    const uint32_t next = i + 1 < n ? here + 16 : 44 + 16 * 7;
    b.block(~0u, next, i == n - 1 ? 1 : 0);
  }
  b.frame(0, {9}).fill(16);
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.blockCount(), n);
  EXPECT_EQ(f.reader.frameCount(), 1);
}

TEST_F(ReaderTest, BlocksThatOverlapEndTheChainSoTheWorkIsBoundedByTheFile) {
  // Two blocks each declaring 65535 frames, the first linking into its own frames.
  RecordingBytes b = SmallRecording();
  const uint32_t second = 44 + 16 + 13;
  b.block(~0u, second, 65535).frame(0, {1});
  b.block(44, ~0u, 65535).frame(0, {2});
  b.fill(64);
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  EXPECT_EQ(f.reader.blockCount(), 1);
  EXPECT_EQ(f.reader.chainProblem(), "its blocks overlap one another");

  // Blocks far apart that together declare more frames than the file could hold, each frame
  // taking at least its header: the chain ends where the claim passes the file's size.
  RecordingBytes many = SmallRecording();
  for (int i = 0; i < 40; ++i) {
    const uint32_t here = static_cast<uint32_t>(many.size());
    many.block(~0u, i + 1 < 40 ? here + 16 + 13 + 64 : ~0u, i == 0 ? 1 : 5).frame(0, {3}).fill(64);
  }
  Fetcher g;
  ASSERT_TRUE(g.open(Save(many, "many.zr")));
  EXPECT_EQ(g.reader.blockCount(), 40);  // 5 frames of 12 bytes fit in each block's 77 bytes

  // The same blocks linked from the first to the last, then back towards the first, each
  // declaring 60 frames: no link lands inside the block it leaves, but the claims overlap.
  RecordingBytes greedy = SmallRecording();
  auto at = [](int i) { return static_cast<uint32_t>(44 + 93 * i); };
  for (int i = 0; i < 40; ++i) {
    const uint32_t next = i == 0 ? at(39) : i == 1 ? ~0u : at(i - 1);
    greedy.block(~0u, next, 60).frame(0, {4}).fill(64);
  }
  Fetcher h;
  ASSERT_TRUE(h.open(Save(greedy, "greedy.zr")));
  EXPECT_LT(h.reader.blockCount(), 40);
  EXPECT_LE(uint64_t(h.reader.frameCount()) * 12, std::filesystem::file_size(dir.file("greedy.zr")) + 60 * 12);
  EXPECT_EQ(h.reader.chainProblem(), "its blocks overlap one another");
}

// ---- fetching ----

TEST_F(ReaderTest, DeliversFramesInOrderThenFailsForever) {
  testing::TempDir d;
  ZrWriter w;
  ZrHeaderFields fields;
  ASSERT_TRUE(w.Open(d.file("w.zr"), fields));
  for (uint8_t i = 0; i < 4; ++i) {
    if (i == 2) {
      ASSERT_TRUE(w.BeginBlock());
    }
    const auto video = Bytes(10 + i, i);
    const auto audio = Bytes(3, 100);
    ZrFrame fr;
    fr.frameTag = i;
    fr.flags = i % 2 ? FlagAudio : 0;
    fr.video = video;
    fr.audio = audio;
    ASSERT_TRUE(w.WriteFrame(fr));
  }
  ASSERT_TRUE(w.Close());
  Fetcher f;
  ASSERT_TRUE(f.open(d.file("w.zr")));
  EXPECT_EQ(f.reader.blockCount(), 2);
  ASSERT_EQ(f.reader.frameCount(), 4);
  EXPECT_EQ(f.reader.chainProblem(), "");  // the writer's chain ends with -1
  for (uint8_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(f.next());
    EXPECT_EQ(f.record.frameTag, i);
    EXPECT_EQ(f.videoBytes(), Bytes(10 + i, i));
    if (i % 2) {
      EXPECT_EQ(f.record.audioBytes, 3u);
    }
  }
  EXPECT_FALSE(f.next());
  EXPECT_FALSE(f.next());
}

TEST_F(ReaderTest, HeaderLayoutFollowsTheAudioFlag) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 3);
  b.frame(0x8001, Bytes(300, 0), Bytes(6, 50), 7);  // audio and no picture: 16-byte header
  b.frame(0x0000, {});                               // a complete 12-byte frame
  b.frame(0x0000, {5});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.record.flags, 0x8001);
  EXPECT_EQ(f.record.frameTag, 7);
  EXPECT_EQ(f.record.frameParam, 0x11223344u);
  EXPECT_EQ(f.record.videoBytes, 300u);  // read although the frame shows no picture
  EXPECT_EQ(f.record.audioBytes, 6u);
  EXPECT_EQ(f.audio[0], 50);
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.record.videoBytes, 0u);
  EXPECT_EQ(f.record.audioBytes, 6u);  // not touched by a frame without audio
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{5});
}

TEST_F(ReaderTest, FramesLargerThanTheBuffersAreCutAndTheNextFrameStillFollows) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 2);
  b.frame(0x8000, Bytes(100, 0), Bytes(90, 1));
  b.frame(0x8000, Bytes(3, 200), Bytes(3, 9));
  Fetcher f(64, 32);
  std::vector<uint8_t> guard(f.video.begin(), f.video.end());
  ASSERT_TRUE(f.open(Save(b)));
  ASSERT_TRUE(f.next());
  EXPECT_TRUE(f.record.cut);
  EXPECT_EQ(f.record.videoBytes, 64u);
  EXPECT_EQ(f.record.audioBytes, 32u);
  EXPECT_EQ(f.videoBytes(), Bytes(64, 0));
  ASSERT_TRUE(f.next());
  EXPECT_FALSE(f.record.cut);
  EXPECT_EQ(f.videoBytes(), Bytes(3, 200));
  EXPECT_EQ(f.audio[0], 9);
}

TEST_F(ReaderTest, AFrameCutShortByTheEndOfTheFileReportsWhatIsThere) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 3);
  b.frame(0, Bytes(20, 0));
  b.frame(0, Bytes(20, 1));
  b.bytes.resize(b.size() - 5);
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  ASSERT_EQ(f.reader.frameCount(), 3);
  ASSERT_TRUE(f.next());
  ASSERT_TRUE(f.next());
  EXPECT_TRUE(f.record.cut);
  EXPECT_EQ(f.videoBytes(), Bytes(15, 1));
  EXPECT_FALSE(f.next());  // the third frame is not in the file at all
}

TEST_F(ReaderTest, PositionedAccessReadsWithinABlockAndMovesOnPastItsEnd) {
  RecordingBytes b = SmallRecording();
  const uint32_t second = 44 + 16 + 3 * 13;
  b.block(~0u, second, 3).frame(0, {0}).frame(0, {1}).frame(0, {2});
  b.block(44, ~0u, 2).frame(0, {10}).frame(0, {11});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  ASSERT_TRUE(f.reader.fetchFrame(&f.record, 0, 2));
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{2});
  ASSERT_TRUE(f.reader.fetchFrame(&f.record, 0, 3));  // past the block: the next block's first
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{10});
  ASSERT_TRUE(f.next());  // the cursor is just after the frame delivered
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{11});
  EXPECT_FALSE(f.reader.fetchFrame(&f.record, 0, -1));
  EXPECT_FALSE(f.reader.fetchFrame(&f.record, 2, 0));
  EXPECT_FALSE(f.reader.fetchFrame(&f.record, 1, 2));
}

TEST_F(ReaderTest, RunningOutOfFramesIsToldApartFromAFetchThatFailed) {
  // The conversion reports a recording that ends early by where it ended, and anything else by
  // its reason: the two must not be confused.
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 3).frame(0, {1}).frame(0, {2});  // declares three frames, holds two
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  ASSERT_TRUE(f.next());
  ASSERT_TRUE(f.next());
  auto past = f.reader.fetchFrame(&f.record, -1, 0);
  ASSERT_FALSE(past);
  EXPECT_EQ(past.kind(), ErrorKind::End);
  auto pastLastBlock = f.reader.fetchFrame(&f.record, 0, 5);
  ASSERT_FALSE(pastLastBlock);
  EXPECT_EQ(pastLastBlock.kind(), ErrorKind::End);

  auto noSuchBlock = f.reader.fetchFrame(&f.record, 7, 0);
  ASSERT_FALSE(noSuchBlock);
  EXPECT_EQ(noSuchBlock.kind(), ErrorKind::Failed);
  f.reader.close();
  auto closed = f.reader.fetchFrame(&f.record, -1, 0);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.kind(), ErrorKind::Failed);
  EXPECT_FALSE(closed.reason().empty());
}

// ---- lifecycle ----

TEST_F(ReaderTest, ASecondOpenFailsAndTheHeldFileStaysUsable) {
  RecordingBytes b = SmallRecording();
  b.block(~0u, ~0u, 1).frame(0, {4});
  const std::string path = Save(b);
  Fetcher f;
  ASSERT_TRUE(f.open(path));
  EXPECT_FALSE(f.open(path));
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.videoBytes(), std::vector<uint8_t>{4});
}

TEST_F(ReaderTest, CloseIsHarmlessTwiceAndKeepsTheHeaderValues) {
  ZrReader never;
  never.close();
  never.close();
  RecordingBytes b = SmallRecording(257, 2);
  b.block(~0u, ~0u, 1).frame(0, {});
  Fetcher f;
  ASSERT_TRUE(f.open(Save(b)));
  f.reader.close();
  f.reader.close();
  EXPECT_EQ(f.reader.frameCount(), 0);
  EXPECT_EQ(f.reader.version(), 257);
  EXPECT_EQ(f.reader.startTime(), 1000);
  EXPECT_EQ(f.reader.endTime(), 1010);
  EXPECT_FALSE(f.next());
}

// ---- hostile input ----

TEST_F(ReaderTest, EveryTruncationAndRandomCorruptionEndsCleanly) {
  testing::TempDir d;
  ZrWriter w;
  ASSERT_TRUE(w.Open(d.file("base.zr"), {}));
  for (int i = 0; i < 6; ++i) {
    if (i % 2 == 0) {
      ASSERT_TRUE(w.BeginBlock());
    }
    const auto video = Bytes(40, static_cast<uint8_t>(i));
    const auto audio = Bytes(9, 3);
    ZrFrame fr;
    fr.flags = FlagAudio;
    fr.video = video;
    fr.audio = audio;
    ASSERT_TRUE(w.WriteFrame(fr));
  }
  ASSERT_TRUE(w.Close());
  std::ifstream in(d.file("base.zr"), std::ios::binary);
  RecordingBytes base;
  base.bytes.assign(std::istreambuf_iterator<char>(in), {});

  auto drain = [&](const RecordingBytes& b) {
    Fetcher f(64, 64);
    if (!f.open(Save(b, "x.zr"))) return;
    int fetched = 0;
    while (f.next()) {
      ASSERT_LE(f.record.videoBytes, 64u);
      ASSERT_LE(++fetched, f.reader.frameCount());
    }
  };
  for (size_t n = 0; n < base.size(); ++n) {
    RecordingBytes cut = base;
    cut.bytes.resize(n);
    drain(cut);
  }
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    RecordingBytes bad = base;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) bad.bytes[rng() % bad.size()] = static_cast<uint8_t>(rng());
    drain(bad);
  }
}

}  // namespace
}  // namespace zentrova
