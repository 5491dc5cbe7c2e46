// The AVI reader's chunk list on sequences a writer would never make: segments cut short, chunks
// that overrun their list, lists nested without end, "RIFF" where only a list may stand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "media/StreamRecords.h"

namespace zentrova::avi {
namespace {

using Bytes = std::vector<uint8_t>;

void PutTag(Bytes& out, const std::string& tag) { out.insert(out.end(), tag.begin(), tag.end()); }

void PutLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A chunk whose header says `size` (by default the body's own), with its pad byte.
Bytes Chunk(const std::string& id, const Bytes& body, int64_t size = -1) {
  Bytes out;
  PutTag(out, id);
  PutLe32(out, static_cast<uint32_t>(size < 0 ? static_cast<int64_t>(body.size()) : size));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1) out.push_back(0);
  return out;
}

Bytes List(const std::string& id, const std::string& type, const std::vector<Bytes>& children) {
  Bytes body;
  PutTag(body, type);
  for (const Bytes& c : children) body.insert(body.end(), c.begin(), c.end());
  return Chunk(id, body);
}

std::vector<std::string> Paths(const Bytes& bytes) {
  std::vector<std::string> paths;
  for (const RiffChunk& c : ListRiffChunks(bytes)) paths.push_back(c.path);
  return paths;
}

TEST(AviReader, ListsEachListBeforeItsChunksAndEverySegmentInTurn) {
  const Bytes file = [] {
    Bytes f = List("RIFF", "AVI ", {List("LIST", "hdrl", {Chunk("avih", Bytes(56, 1))}), Chunk("JUNK", Bytes(3, 0))});
    const Bytes next = List("RIFF", "AVIX", {List("LIST", "movi", {Chunk("00dc", Bytes(5, 2))})});
    f.insert(f.end(), next.begin(), next.end());
    return f;
  }();
  EXPECT_EQ(Paths(file), (std::vector<std::string>{"AVI ", "AVI /hdrl", "AVI /hdrl/avih", "AVI /JUNK", "AVIX",
                                                   "AVIX/movi", "AVIX/movi/00dc"}));
  const std::vector<RiffChunk> chunks = ListRiffChunks(file);
  EXPECT_TRUE(chunks[1].list);
  EXPECT_EQ(chunks[1].id, FourCC('h', 'd', 'r', 'l'));
  EXPECT_EQ(chunks[2].data, 32u);  // RIFF header and type, LIST header and type, avih header
  EXPECT_EQ(chunks[2].size, 56u);
  EXPECT_EQ(chunks[6].size, 5u);
  EXPECT_EQ(file[chunks[6].data], 2);
}

TEST(AviReader, AChunkThatOverrunsItsListEndsOnlyThatListsWalk) {
  const Bytes file = List("RIFF", "AVI ", {List("LIST", "hdrl", {Chunk("avih", Bytes(4, 0)), Chunk("strh", Bytes(4, 0), 400)}),
                                           Chunk("idx1", Bytes(8, 0))});
  EXPECT_EQ(Paths(file), (std::vector<std::string>{"AVI ", "AVI /hdrl", "AVI /hdrl/avih", "AVI /idx1"}));
  // A segment cut short is not listed at all, nor anything after it.
  Bytes cut = file;
  cut.resize(cut.size() - 1);
  EXPECT_TRUE(Paths(cut).empty());
  EXPECT_TRUE(ListRiffChunks(Bytes{'R', 'I', 'F'}).empty());
}

TEST(AviReader, ARiffInsideAListIsAPlainChunkAndDeepListsAreNotEntered) {
  const Bytes inner = List("RIFF", "AVI ", {Chunk("avih", Bytes(4, 0))});
  EXPECT_EQ(Paths(List("RIFF", "AVI ", {List("LIST", "hdrl", {inner})})),
            (std::vector<std::string>{"AVI ", "AVI /hdrl", "AVI /hdrl/RIFF"}));
  Bytes nested = Chunk("avih", Bytes(4, 0));
  for (int depth = 0; depth < 100; ++depth) nested = List("LIST", "deep", {nested});
  const std::vector<std::string> paths = Paths(nested);
  ASSERT_EQ(paths.size(), 6u);  // the lists five deep and the one inside them, not entered
  EXPECT_EQ(paths.back(), "deep/deep/deep/deep/deep/deep");
}

}  // namespace
}  // namespace zentrova::avi
