// The records of a written file, read back byte by byte: the main header, the stream headers and
// formats, the indexes, and the OpenDML segments.
#include <filesystem>

#include "AviTestSupport.h"
#include "TempDir.h"
#include "support/Opened.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

struct Written {
  std::vector<uint8_t> bytes;
  std::vector<RiffChunk> chunks;
  const uint8_t* At(const std::string& path, size_t n = 0) const {
    const auto found = Find(chunks, path);
    return found.size() > n ? &bytes[found[n].data] : nullptr;
  }
  uint32_t SizeOf(const std::string& path, size_t n = 0) const {
    const auto found = Find(chunks, path);
    return found.size() > n ? found[n].size : 0;
  }
};

Written Load(const std::string& path) {
  Written w;
  w.bytes = ReadFile(path);
  w.chunks = ListRiffChunks(w.bytes);
  return w;
}

TEST(AviRecords, EveryHeaderFieldOfA640By480RawFile) {
  TempDir dir;
  Clip clip;
  clip.width = 640;
  clip.height = 480;
  clip.rate = 26;
  clip.frames = 3;
  clip.audioPerFrame = 8000;
  WriteClip(dir.file("clip.avi"), clip);
  const Written w = Load(dir.file("clip.avi"));

  ASSERT_EQ(Tag(Le32(&w.bytes[0])), "RIFF");
  EXPECT_EQ(Le32(&w.bytes[4]), w.bytes.size() - 8);
  EXPECT_EQ(Tag(Le32(&w.bytes[8])), "AVI ");

  const uint8_t* avih = w.At("AVI /hdrl/avih");
  ASSERT_NE(avih, nullptr);
  EXPECT_EQ(w.SizeOf("AVI /hdrl/avih"), 56u);
  EXPECT_EQ(Le32(avih + 0), 1000000u / 26);  // microseconds per frame
  EXPECT_GT(Le32(avih + 4), 0u);             // max bytes per second
  EXPECT_EQ(Le32(avih + 12), 0x10u | 0x100u);  // has index, interleaved
  EXPECT_EQ(Le32(avih + 16), 3u);             // total frames
  EXPECT_EQ(Le32(avih + 24), 2u);             // streams
  EXPECT_GE(Le32(avih + 28), 921600u);        // suggested buffer
  EXPECT_EQ(Le32(avih + 32), 640u);
  EXPECT_EQ(Le32(avih + 36), 480u);

  ASSERT_EQ(Find(w.chunks, "AVI /hdrl/strl").size(), 2u);
  EXPECT_EQ(w.SizeOf("AVI /hdrl/strl/strh", 0), 56u);
  const uint8_t* vh = w.At("AVI /hdrl/strl/strh", 0);
  ASSERT_NE(vh, nullptr);
  EXPECT_EQ(Tag(Le32(vh + 0)), "vids");
  EXPECT_EQ(Le32(vh + 4), 0u);   // handler: uncompressed
  EXPECT_EQ(Le32(vh + 8), 0u);   // flags
  EXPECT_EQ(Le16(vh + 12), 0u);  // priority
  EXPECT_EQ(Le16(vh + 14), 0u);  // language
  EXPECT_EQ(Le32(vh + 16), 1u);  // initial frames
  EXPECT_EQ(Le32(vh + 20), 1u);  // scale
  EXPECT_EQ(Le32(vh + 24), 26u);  // rate
  EXPECT_EQ(Le32(vh + 28), 0u);   // start
  EXPECT_EQ(Le32(vh + 32), 3u);   // length: the frames written
  EXPECT_EQ(Le32(vh + 36), 921600u);
  EXPECT_EQ(Le32(vh + 40), 0u);  // quality
  EXPECT_EQ(Le32(vh + 44), 0u);  // sample size
  EXPECT_EQ(Le16(vh + 48), 0u);
  EXPECT_EQ(Le16(vh + 50), 0u);
  EXPECT_EQ(Le16(vh + 52), 640u);
  EXPECT_EQ(Le16(vh + 54), 480u);

  ASSERT_EQ(w.SizeOf("AVI /hdrl/strl/strf", 0), 40u);
  const uint8_t* bih = w.At("AVI /hdrl/strl/strf", 0);
  EXPECT_EQ(Le32(bih + 0), 40u);
  EXPECT_EQ(Le32(bih + 4), 640u);
  EXPECT_EQ(Le32(bih + 8), 480u);  // positive: bottom row first
  EXPECT_EQ(Le16(bih + 12), 1u);
  EXPECT_EQ(Le16(bih + 14), 24u);
  for (int off = 16; off < 40; off += 4) EXPECT_EQ(Le32(bih + off), 0u) << "offset " << off;

  const uint8_t* ah = w.At("AVI /hdrl/strl/strh", 1);
  ASSERT_NE(ah, nullptr);
  EXPECT_EQ(Tag(Le32(ah + 0)), "auds");
  EXPECT_EQ(Le32(ah + 4), 0u);
  EXPECT_EQ(Le32(ah + 16), 1u);
  EXPECT_EQ(Le32(ah + 20), 2u);
  EXPECT_EQ(Le32(ah + 24), 16000u);
  EXPECT_EQ(Le32(ah + 32), 24000u);  // samples written
  EXPECT_EQ(Le32(ah + 36), 1920u);
  EXPECT_EQ(Le32(ah + 40), 0u);
  EXPECT_EQ(Le32(ah + 44), 2u);
  for (int off = 48; off < 56; off += 2) EXPECT_EQ(Le16(ah + off), 0u);

  ASSERT_EQ(w.SizeOf("AVI /hdrl/strl/strf", 1), 18u);
  const uint8_t* wfx = w.At("AVI /hdrl/strl/strf", 1);
  EXPECT_EQ(Le16(wfx + 0), 1u);
  EXPECT_EQ(Le16(wfx + 2), 1u);
  EXPECT_EQ(Le32(wfx + 4), 8000u);
  EXPECT_EQ(Le32(wfx + 8), 16000u);
  EXPECT_EQ(Le16(wfx + 12), 2u);
  EXPECT_EQ(Le16(wfx + 14), 16u);
  EXPECT_EQ(Le16(wfx + 16), 0u);

  EXPECT_TRUE(Find(w.chunks, "AVI /hdrl/strl/strn").empty());
  ASSERT_NE(w.At("AVI /hdrl/odml/dmlh"), nullptr);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/odml/dmlh")), 3u);

  // Audio before the picture of every frame, each picture exactly as large as handed over.
  const auto video = Find(w.chunks, "AVI /movi/00db");
  const auto audio = Find(w.chunks, "AVI /movi/01wb");
  ASSERT_EQ(video.size(), 3u);
  ASSERT_EQ(audio.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(video[i].size, 921600u);
    EXPECT_EQ(audio[i].size, 16000u);
    EXPECT_LT(audio[i].data, video[i].data);
  }
}

TEST(AviRecords, LegacyAndOpenDmlIndexesPointAtTheChunks) {
  TempDir dir;
  Clip clip;
  clip.frames = 4;
  WriteClip(dir.file("clip.avi"), clip);
  const Written w = Load(dir.file("clip.avi"));

  const auto movi = Find(w.chunks, "AVI /movi");
  ASSERT_EQ(movi.size(), 1u);
  const size_t moviType = movi[0].data - 4;
  ASSERT_EQ(w.SizeOf("AVI /idx1"), 8u * 16);
  const uint8_t* idx1 = w.At("AVI /idx1");
  for (int i = 0; i < 8; ++i) {
    const uint8_t* e = idx1 + 16 * i;
    const size_t header = moviType + Le32(e + 8);
    EXPECT_EQ(Le32(&w.bytes[header]), Le32(e)) << "entry " << i;
    EXPECT_EQ(Le32(&w.bytes[header + 4]), Le32(e + 12));
    EXPECT_EQ(Le32(e + 4), 0x10u);  // every frame handed over as a key frame
  }
  EXPECT_EQ(Tag(Le32(idx1)), "01wb");
  EXPECT_EQ(Le32(idx1 + 8), 4u);  // counted from the 'movi' list type

  for (int s = 0; s < 2; ++s) {
    const uint8_t* indx = w.At("AVI /hdrl/strl/indx", s);
    ASSERT_NE(indx, nullptr);
    EXPECT_EQ(Le16(indx), 4u);
    EXPECT_EQ(indx[3], 0u);         // index of indexes
    EXPECT_EQ(Le32(indx + 4), 1u);  // one segment
    const uint64_t ix = Le64(indx + 24);
    EXPECT_EQ(Tag(Le32(&w.bytes[ix])), s == 0 ? "ix00" : "ix01");
    EXPECT_EQ(Le32(indx + 32), Le32(&w.bytes[ix + 4]) + 8);
    EXPECT_EQ(Le32(indx + 36), s == 0 ? 4u : 4u * 320);  // frames, samples
    const uint8_t* std = &w.bytes[ix + 8];
    EXPECT_EQ(std[3], 1u);  // index of chunks
    ASSERT_EQ(Le32(std + 4), 4u);
    const uint64_t base = Le64(std + 12);
    for (int i = 0; i < 4; ++i) {
      const uint8_t* e = std + 24 + 8 * i;
      const uint64_t data = base + Le32(e);
      EXPECT_EQ(Le32(&w.bytes[data - 4]), Le32(e + 4) & 0x7FFFFFFFu);
      EXPECT_EQ(Le32(&w.bytes[data - 8]), Le32(std + 8));  // the chunk id
    }
  }
}

TEST(AviRecords, NamedStreamGetsStrnAndCompressedVideoNamesItsCodec) {
  TempDir dir;
  std::shared_ptr<OutputFile> file;
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file("named.avi"))));
  StreamInfo info = VideoInfo(160, 120, 10);
  info.name = "camera 1";
  std::shared_ptr<OutputStream> video, compressed;
  video = file->CreateStream(info).valueOr(nullptr);
  ASSERT_TRUE(video);
  compressed = MakeCompressedStream(video, {"mjpeg", 80}).valueOr(nullptr);
  ASSERT_TRUE(compressed);
  BitmapInfoHeader bih;
  bih.biWidth = 160;
  bih.biHeight = 120;
  ASSERT_TRUE(compressed->SetFormat(0, &bih, sizeof bih));
  const auto picture = MakePicture(160, 120, 0);
  ASSERT_TRUE(compressed->Write(0, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame));
  file.reset();
  video.reset();
  compressed.reset();

  const Written w = Load(dir.file("named.avi"));
  ASSERT_EQ(w.SizeOf("AVI /hdrl/strl/strn"), 9u);
  EXPECT_STREQ(reinterpret_cast<const char*>(w.At("AVI /hdrl/strl/strn")), "camera 1");
  EXPECT_EQ(Tag(Le32(w.At("AVI /hdrl/strl/strh") + 4)), "MJPG");
  EXPECT_EQ(Tag(Le32(w.At("AVI /hdrl/strl/strf") + 16)), "MJPG");
  EXPECT_EQ(Find(w.chunks, "AVI /movi/00dc").size(), 1u);
}

TEST(AviRecords, KeyFramesAreFlaggedAsTheCodecReportsThem) {
  TempDir dir;
  for (const std::string codec : {"mjpeg", "h264"}) {
    bool available = false;
    for (const CompressorInfo& c : ListCompressors()) available |= c.name == codec && c.available;
    if (!available) continue;
    Clip clip;
    clip.codec = codec;
    clip.frames = 12;
    WriteClip(dir.file(codec + ".avi"), clip);
    const Written w = Load(dir.file(codec + ".avi"));
    const uint8_t* idx1 = w.At("AVI /idx1");
    ASSERT_NE(idx1, nullptr);
    int keys = 0, frames = 0;
    for (uint32_t at = 0; at < w.SizeOf("AVI /idx1"); at += 16) {
      if (Tag(Le32(idx1 + at)) != "00dc") continue;
      const bool key = Le32(idx1 + at + 4) & 0x10;
      EXPECT_TRUE(frames > 0 || key) << codec << ": the first frame is a key frame";
      keys += key;
      ++frames;
    }
    EXPECT_EQ(frames, 12);
    // Motion JPEG pictures stand alone; H.264 predicts from the frames before.
    EXPECT_EQ(keys, codec == "mjpeg" ? 12 : 1) << codec;
    const uint64_t ix = Le64(w.At("AVI /hdrl/strl/indx") + 24);
    const uint8_t* std = &w.bytes[ix + 8];
    int deltas = 0;
    for (uint32_t i = 0; i < Le32(std + 4); ++i) deltas += (Le32(std + 24 + 8 * i + 4) >> 31) & 1;
    EXPECT_EQ(deltas, 12 - keys) << codec;
  }
}

TEST(AviRecords, SegmentsStayUnderTheLimitAndTheHeadersCountThemAll) {
  TempDir dir;
  const std::string path = dir.file("segments.avi");
  constexpr uint64_t kLimit = 1 << 20;
  Clip clip;
  clip.frames = 60;
  WriteClip(path, clip, WriterLimits{kLimit, 16});
  const Written w = Load(path);
  size_t riffs = 0, firstFrames = 0;
  for (size_t at = 0; at + 12 <= w.bytes.size(); ++riffs) {
    ASSERT_EQ(Tag(Le32(&w.bytes[at])), "RIFF");
    const uint32_t size = Le32(&w.bytes[at + 4]);
    EXPECT_LE(size + 8u, kLimit);
    EXPECT_EQ(Tag(Le32(&w.bytes[at + 8])), riffs == 0 ? "AVI " : "AVIX");
    at += 8 + size;
    if (riffs == 0) firstFrames = Find(w.chunks, "AVI /movi/00db").size();
  }
  EXPECT_GE(riffs, 4u);
  EXPECT_EQ(Find(w.chunks, "AVIX/movi/00db").size() + firstFrames, 60u);
  EXPECT_EQ(Find(w.chunks, "AVIX/movi/ix00").size(), riffs - 1);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/avih") + 16), firstFrames);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/odml/dmlh")), 60u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 0) + 32), 60u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 1) + 32), 60u * 320);

  const uint8_t* indx = w.At("AVI /hdrl/strl/indx", 0);
  ASSERT_EQ(Le32(indx + 4), riffs);
  uint32_t frames = 0;
  for (size_t i = 0; i < riffs; ++i) frames += Le32(indx + 24 + 16 * i + 12);
  EXPECT_EQ(frames, 60u);
}

// However long the file, a segment's indexes hold at most the entry limit per stream: the
// segment closes first, so what the writer keeps in memory stays bounded.
TEST(AviRecords, SegmentsCloseBeforeTheirIndexesPassTheEntryLimit) {
  TempDir dir;
  const std::string path = dir.file("entries.avi");
  Clip clip;
  clip.frames = 45;
  WriteClip(path, clip, WriterLimits{.segmentBytes = uint64_t{1} << 30, .superIndexCapacity = 16, .segmentEntries = 10});
  const Written w = Load(path);
  const uint8_t* idx1 = w.At("AVI /idx1");
  ASSERT_NE(idx1, nullptr);
  EXPECT_EQ(Le32(idx1 - 4), 20u * 16);  // ten video and ten audio chunks in the first segment
  EXPECT_EQ(Find(w.chunks, "AVI /movi/00db").size(), 10u);
  EXPECT_EQ(Find(w.chunks, "AVIX/movi/00db").size(), 35u);
  const uint8_t* indx = w.At("AVI /hdrl/strl/indx", 0);
  ASSERT_EQ(Le32(indx + 4), 5u);  // 10 + 10 + 10 + 10 + 5 frames
  uint32_t frames = 0;
  for (size_t i = 0; i < 5; ++i) {
    const uint32_t duration = Le32(indx + 24 + 16 * i + 12);
    EXPECT_LE(duration, 10u);
    frames += duration;
  }
  EXPECT_EQ(frames, 45u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/odml/dmlh")), 45u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 1) + 32), 45u * 320);
}

TEST(AviRecords, AFileStopsGrowingWhenItsSuperIndexesAreFull) {
  TempDir dir;
  const std::string path = dir.file("full-index.avi");
  std::shared_ptr<OutputFile> file;
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(OpenFileSink(path).valueOr(nullptr), WriterLimits{256 * 1024, 2})));
  Clip clip;
  clip.audioPerFrame = 0;
  ClipWriter cw;
  ASSERT_EQ(cw.Open(std::move(file), clip), 0);
  int accepted = 0;
  for (int i = 0; i < 20; ++i) accepted += cw.WriteFrame(clip, i) == 0;
  cw.Release();
  EXPECT_EQ(accepted, 8);  // four 57,600-byte frames to a segment, two segments
  const Written w = Load(path);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh") + 32), 8u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/indx") + 4), 2u);
}

TEST(AviRecords, MissedPositionsAreFilledSoLaterSamplesKeepTheirTime) {
  TempDir dir;
  Clip clip;
  ClipWriter cw;
  std::shared_ptr<OutputFile> file;
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file("gaps.avi"))));
  ASSERT_EQ(cw.Open(std::move(file), clip), 0);
  const auto picture = MakePicture(clip.width, clip.height, 0);
  const auto size = static_cast<int32_t>(picture.size());
  ASSERT_TRUE(cw.compressed->Write(0, 1, picture.data(), size, kKeyFrame));
  ASSERT_TRUE(cw.compressed->Write(3, 1, picture.data(), size, kKeyFrame));
  const auto pcm = MakeAudio(100, 0);
  ASSERT_TRUE(cw.audio->Write(0, 100, pcm.data(), 200, 0));
  ASSERT_TRUE(cw.audio->Write(500, 100, pcm.data(), 200, 0));
  cw.Release();

  const Written w = Load(dir.file("gaps.avi"));
  const auto frames = Find(w.chunks, "AVI /movi/00db");
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1].size, 0u);  // dropped frames: the player holds the picture before
  EXPECT_EQ(frames[2].size, 0u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 0) + 32), 4u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 1) + 32), 600u);
}

TEST(AviRecords, WritesThatCannotBeHonouredAreRefused) {
  TempDir dir;
  std::shared_ptr<OutputFile> file;
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file("refuse.avi"))));
  std::shared_ptr<OutputStream> video, audio;
  video = file->CreateStream(VideoInfo(160, 120, 25)).valueOr(nullptr);
  ASSERT_TRUE(video);
  audio = file->CreateStream(AudioInfo()).valueOr(nullptr);
  ASSERT_TRUE(audio);
  const auto picture = MakePicture(160, 120, 0);
  const auto size = static_cast<int32_t>(picture.size());
  EXPECT_FALSE(video->Write(0, 1, picture.data(), size, kKeyFrame)) << "no format yet";

  BitmapInfoHeader bih;
  bih.biWidth = 160;
  bih.biHeight = 120;
  ASSERT_TRUE(video->SetFormat(0, &bih, sizeof bih));
  WaveFormatEx wfx;
  ASSERT_TRUE(audio->SetFormat(0, &wfx, sizeof wfx));
  EXPECT_FALSE(video->SetFormat(0, &bih, 12)) << "a picture format shorter than its header";
  EXPECT_FALSE(video->Write(0, 2, picture.data(), size, 0)) << "two frames in one chunk";
  ASSERT_TRUE(video->Write(0, 1, picture.data(), size, kKeyFrame));
  EXPECT_FALSE(video->Write(0, 1, picture.data(), size, kKeyFrame)) << "rewriting frame 0";
  EXPECT_FALSE(video->Write(1 << 30, 1, picture.data(), size, kKeyFrame)) << "a huge gap";
  EXPECT_FALSE(audio->Write(0, 10, picture.data(), 19, 0)) << "bytes not samples x 2";
  EXPECT_FALSE(audio->Write(0, 10, nullptr, 20, 0));
  EXPECT_FALSE(file->CreateStream(AudioInfo())) << "a stream after the samples began";
  EXPECT_FALSE(video->SetFormat(0, &bih, sizeof bih)) << "a format after the samples began";
}

TEST(AviRecords, OutputThatCannotBeCreatedSaysWhy) {
  TempDir dir;
  std::shared_ptr<OutputFile> file;
  auto opened = OpenAviFile(dir.file("missing/clip.avi"));
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "No such file or directory");
  EXPECT_EQ(file, nullptr);
  std::filesystem::create_directory(dir.file("folder.avi"));
  opened = OpenAviFile(dir.file("folder.avi"));
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "Is a directory");
}

TEST(AviRecords, AnExistingFileIsEmptiedAndAFileWithoutSamplesStillHasItsHeaders) {
  TempDir dir;
  const std::string path = dir.file("empty.avi");
  Clip clip;
  WriteClip(path, clip);
  {
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(path)));
    ClipWriter cw;
    ASSERT_EQ(cw.Open(file, clip), 0);
    cw.Release();
  }
  const Written w = Load(path);
  EXPECT_EQ(Le32(&w.bytes[4]), w.bytes.size() - 8);
  EXPECT_EQ(Find(w.chunks, "AVI /hdrl/strl").size(), 2u);
  EXPECT_EQ(Le32(w.At("AVI /hdrl/strl/strh", 0) + 32), 0u);
  EXPECT_EQ(w.SizeOf("AVI /movi"), 0u);
  EXPECT_EQ(Find(w.chunks, "AVI /hdrl/strl/indx").size(), 0u) << "an empty super index is left as JUNK";
}

}  // namespace
}  // namespace zentrova::avi
