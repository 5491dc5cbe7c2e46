// The records the AVI writer adds for the conversion's timing and facts: a rate set after the
// samples are in, the start time (IDIT) and the INFO list.
#include "AviTestSupport.h"
#include "TempDir.h"
#include "support/Opened.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

std::string Text(const std::vector<uint8_t>& f, const RiffChunk& c) {
  return std::string(reinterpret_cast<const char*>(&f[c.data]), c.size);
}

TEST(AviTags, TheRateSetBeforeTheFileCompletesIsTheOneItsHeadersCarry) {
  TempDir dir;
  const std::string path = dir.file("rate.avi");
  std::shared_ptr<OutputFile> file;
  auto sink = OpenFileSink(path);
  ASSERT_TRUE(sink) << sink.reason();
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(std::move(*sink))));
  ClipWriter w;
  Clip clip;
  ASSERT_EQ(w.Open(file, clip), 0);
  for (int i = 0; i < clip.frames; ++i) ASSERT_EQ(w.WriteFrame(clip, i), 0);
  EXPECT_TRUE(w.video->SetRate(1000, 33));
  EXPECT_EQ(w.video->Info().dwRate, 1000u);
  EXPECT_FALSE(w.video->SetRate(0, 1));
  EXPECT_FALSE(w.video->SetRate(25, 0));
  w.Release();
  file.reset();  // the last handle: the file completes

  const std::vector<uint8_t> f = ReadFile(path);
  const auto chunks = ListRiffChunks(f);
  const auto strh = Find(chunks, "AVI /hdrl/strl/strh");
  ASSERT_EQ(strh.size(), 2u);
  EXPECT_EQ(Le32(&f[strh[0].data + 20]), 33u);    // dwScale
  EXPECT_EQ(Le32(&f[strh[0].data + 24]), 1000u);  // dwRate
  EXPECT_EQ(Le32(&f[strh[1].data + 24]), 16000u);  // the sound keeps its own
  const auto avih = Find(chunks, "AVI /hdrl/avih");
  ASSERT_EQ(avih.size(), 1u);
  EXPECT_EQ(Le32(&f[avih[0].data]), 33000u);  // microseconds per frame
}

TEST(AviTags, TheStartTimeAndTextsGoIntoIditAndAnInfoList) {
  TempDir dir;
  const std::string path = dir.file("tags.avi");
  std::shared_ptr<OutputFile> file;
  auto sink = OpenFileSink(path);
  ASSERT_TRUE(sink) << sink.reason();
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(std::move(*sink))));
  FileTags tags;
  tags.hasStartTime = true;
  tags.startTime = 1200000000;
  tags.title = "odd";  // an odd length: the chunk is padded
  tags.comment = "North\nsite";
  tags.software = "Zentrova 1.0";
  ASSERT_TRUE(file->SetTags(tags));
  ClipWriter w;
  Clip clip;
  ASSERT_EQ(w.Open(file, clip), 0);
  ASSERT_EQ(w.WriteFrame(clip, 0), 0);
  EXPECT_FALSE(file->SetTags(tags));  // the header is out
  w.Release();
  file.reset();  // the last handle: the file completes

  const std::vector<uint8_t> f = ReadFile(path);
  const auto chunks = ListRiffChunks(f);
  const auto idit = Find(chunks, "AVI /hdrl/IDIT");
  ASSERT_EQ(idit.size(), 1u);
  EXPECT_EQ(Text(f, idit[0]), std::string("Thu Jan 10 21:20:00 2008\n", 26));
  auto one = [&](const char* path) {
    const auto found = Find(chunks, path);
    return found.size() == 1 ? Text(f, found[0]) : std::string("<none>");
  };
  EXPECT_EQ(one("AVI /INFO/INAM"), std::string("odd", 4));
  EXPECT_EQ(one("AVI /INFO/ICMT"), std::string("North\nsite", 11));
  EXPECT_EQ(one("AVI /INFO/ICRD"), std::string("2008-01-10T21:20:00Z", 21));
  EXPECT_EQ(one("AVI /INFO/ISFT"), std::string("Zentrova 1.0", 13));
  // The list sits between hdrl and movi, and the movi list is still found after it.
  ASSERT_EQ(Find(chunks, "AVI /movi").size(), 1u);
  EXPECT_LT(Find(chunks, "AVI /INFO")[0].data, Find(chunks, "AVI /movi")[0].data);
  EXPECT_GT(Find(chunks, "AVI /INFO")[0].data, Find(chunks, "AVI /hdrl")[0].data);
}

TEST(AviTags, WithoutTagsTheHeaderHasNeitherChunk) {
  TempDir dir;
  const std::string path = dir.file("plain.avi");
  WriteClip(path, Clip{});
  const auto chunks = ListRiffChunks(ReadFile(path));
  EXPECT_TRUE(Find(chunks, "AVI /hdrl/IDIT").empty());
  EXPECT_TRUE(Find(chunks, "AVI /INFO").empty());
}

}  // namespace
}  // namespace zentrova::avi
