#include "Damage.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <utility>

#include "DamageTruth.h"
#include "recording/ZrFormat.h"

namespace zentrova::zrgen {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kCluster = 4096;  // a file system's allocation unit; also the big sector

struct ClassName {
  DamageClass damage;
  const char* name;
};

constexpr std::array<ClassName, 8> kClassNames = {{
    {DamageClass::PowerLoss, "power-loss"},
    {DamageClass::BadSectorBlock, "bad-sector-block"},
    {DamageClass::BadSectorFrame, "bad-sector-frame"},
    {DamageClass::BadSectorVideo, "bad-sector-video"},
    {DamageClass::LostHeader, "lost-header"},
    {DamageClass::Truncated, "truncated"},
    {DamageClass::Concatenated, "concatenated"},
    {DamageClass::DiskImage, "disk-image"},
}};

// splitmix64: the same sequence from a seed on every machine and library, which the standard
// distributions do not promise.
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 (0 when n is 0).
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  bool Coin() { return (Next() >> 63) != 0; }
  void Fill(uint8_t* data, uint64_t size) {
    for (uint64_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(Next() >> 56);
  }

 private:
  uint64_t state_;
};

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string At(uint64_t offset) { return std::to_string(offset) + " (" + Hex(offset) + ")"; }

void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, uint64_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// The input copied whole to the start of the damaged file.
void CopyWhole(const RecordingLayout& input, DamagedFile& damaged) {
  damaged.bytes = input.bytes;
  damaged.placements = {{Placement{0, input.bytes.size(), 0}}};
}

// Overwrites [start, start + size) (clipped to the file) with zeros or noise, as a sector the
// disk could not read comes back.
void WriteBadSector(DamagedFile& damaged, uint64_t start, uint64_t size, SeededRandom& random,
                    const std::string& what) {
  const bool noise = random.Coin();
  const uint64_t end = std::min<uint64_t>(start + size, damaged.bytes.size());
  if (noise)
    random.Fill(&damaged.bytes[start], end - start);
  else
    std::fill(damaged.bytes.begin() + static_cast<ptrdiff_t>(start), damaged.bytes.begin() + static_cast<ptrdiff_t>(end),
              uint8_t{0});
  damaged.notes.push_back(std::to_string(size) + "-byte sector of " + (noise ? "noise" : "zeros") + " at " +
                          At(start) + " to " + std::to_string(end) + " over " + what);
}

// A sector of 512 or 4096 bytes, aligned to 512 in the file, that holds `target`.
void BadSectorOver(DamagedFile& damaged, uint64_t target, SeededRandom& random, const std::string& what) {
  const uint64_t size = random.Coin() ? kCluster : kSector;
  const uint64_t aligned = target / kSector * kSector;
  const uint64_t back = size == kCluster ? kSector * random.Below(kCluster / kSector) : 0;
  const uint64_t start = aligned >= back ? aligned - back : 0;
  WriteBadSector(damaged, start, size, random, what);
}

std::string FrameName(const RecordingLayout& input, uint32_t f) {
  const FrameSpan& frame = input.frames[f];
  return "frame " + std::to_string(f) + " (" + frame.picture + ") at " + At(frame.offset);
}

bool PowerLoss(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged, std::string& error) {
  CopyWhole(input, damaged);
  std::vector<uint8_t>& b = damaged.bytes;
  std::copy(b.begin() + 8, b.begin() + 12, b.begin() + 12);
  damaged.notes.push_back("endTime (offset 12) left equal to startTime");

  const size_t blocks = input.blocks.size();
  const BlockSpan& last = input.blocks.back();
  if (blocks < 2 && last.frameCount < 2) {
    error = "power-loss needs a recording of two blocks or more";
    return false;
  }
  if (blocks >= 2) {
    // The recorder patches a block's link when it begins the next one; a cut a few blocks before
    // the end leaves one unpatched, and the blocks after it are written all the same.
    const size_t lastLinked = blocks - 2;
    const size_t k = lastLinked - random.Below(std::min<size_t>(blocks - 1, 7));
    const BlockSpan& stale = input.blocks[k];
    Put32(b, stale.offset + 4, kNoBlock);
    uint32_t framesAfter = 0;
    for (size_t i = k + 1; i < blocks; ++i) framesAfter += input.blocks[i].frameCount;
    damaged.notes.push_back("block " + std::to_string(k) + " at " + At(stale.offset) +
                            ": nextBlock left -1 although " + std::to_string(blocks - 1 - k) + " blocks (" +
                            std::to_string(framesAfter) + " frames) follow");
  }
  if (last.frameCount > 0) {
    // The frame count is rewritten every few frames; the ones after the last rewrite are on disk.
    const uint16_t count = static_cast<uint16_t>(random.Below(last.frameCount));
    Put16(b, last.offset + 8, count);
    damaged.notes.push_back("last block " + std::to_string(blocks - 1) + " at " + At(last.offset) + ": frameCount " +
                            std::to_string(count) + " although " + std::to_string(last.frameCount) +
                            " frames follow it");
  }
  if (random.Coin()) {
    const uint32_t f = static_cast<uint32_t>(input.frames.size() - 1);
    const FrameSpan& frame = input.frames[f];
    const uint64_t cut = frame.offset + 1 + random.Below(frame.size - 1);
    b.resize(cut);
    damaged.placements[0][0].size = cut;
    damaged.notes.push_back("file ends at " + At(cut) + ", inside the last " + FrameName(input, f));
  }
  return true;
}

void BadSectorOnBlock(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged) {
  CopyWhole(input, damaged);
  const size_t k = random.Below(input.blocks.size());
  const BlockSpan& block = input.blocks[k];
  BadSectorOver(damaged, block.offset, random, "the header of block " + std::to_string(k) + " at " + At(block.offset));
}

// Frames whose header lies far enough from the file header that no sector over them reaches
// it: the damage stays the class it names.
std::vector<uint32_t> FramesPastFirstSector(const RecordingLayout& input, bool intraOnly) {
  std::vector<uint32_t> frames;
  for (uint32_t f = 0; f < input.frames.size(); ++f)
    if (input.frames[f].offset >= kCluster && (!intraOnly || input.frames[f].picture == 'I')) frames.push_back(f);
  return frames;
}

void BadSectorOnFrame(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged) {
  CopyWhole(input, damaged);
  // A third of the time the group's intra picture: the inter pictures after it lose their reference.
  const bool intra = random.Below(3) == 0;
  std::vector<uint32_t> candidates = FramesPastFirstSector(input, intra);
  if (candidates.empty()) candidates = FramesPastFirstSector(input, false);
  if (candidates.empty()) {
    // A recording of a few KB: any frame, and the sector may reach the file header.
    for (uint32_t f = 0; f < input.frames.size(); ++f)
      if (!intra || input.frames[f].picture == 'I') candidates.push_back(f);
    if (candidates.empty())
      for (uint32_t f = 0; f < input.frames.size(); ++f) candidates.push_back(f);
  }
  const uint32_t f = candidates[random.Below(candidates.size())];
  BadSectorOver(damaged, input.frames[f].offset, random, "the header of " + FrameName(input, f));
}

bool BadSectorInVideo(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged, std::string& error) {
  CopyWhole(input, damaged);
  const uint64_t size = random.Coin() ? kCluster : kSector;
  // Whole sectors inside one frame's video bytes, the largest that fits.
  auto sectorsInside = [&](uint32_t f, uint64_t length) -> std::pair<uint64_t, uint64_t> {
    const FrameSpan& frame = input.frames[f];
    const uint64_t begin = frame.offset + frame.headerSize;
    const uint64_t first = (begin + kSector - 1) / kSector * kSector;
    const uint64_t end = begin + frame.videoBytes;
    if (first + length > end) return {0, 0};
    return {first, (end - length - first) / kSector + 1};
  };
  for (const uint64_t length : {size, kSector}) {
    std::vector<uint32_t> candidates;
    for (uint32_t f = 0; f < input.frames.size(); ++f)
      if (input.frames[f].picture != 'N' && sectorsInside(f, length).second > 0) candidates.push_back(f);
    if (candidates.empty()) continue;
    const uint32_t f = candidates[random.Below(candidates.size())];
    const auto [first, count] = sectorsInside(f, length);
    WriteBadSector(damaged, first + kSector * random.Below(count), length, random,
                   "the video bytes of " + FrameName(input, f));
    return true;
  }
  // Pictures smaller than a sector: the sector holds a byte of one picture and spills over.
  std::vector<uint32_t> candidates;
  for (const bool pastFirstSector : {true, false}) {
    for (uint32_t f = 0; f < input.frames.size(); ++f)
      if (input.frames[f].videoBytes > 0 && (!pastFirstSector || input.frames[f].offset >= kCluster))
        candidates.push_back(f);
    if (!candidates.empty()) break;
  }
  if (candidates.empty()) {
    error = "bad-sector-video needs a frame with video bytes";
    return false;
  }
  const uint32_t f = candidates[random.Below(candidates.size())];
  const FrameSpan& frame = input.frames[f];
  const uint64_t target = frame.offset + frame.headerSize + random.Below(frame.videoBytes);
  WriteBadSector(damaged, target / kSector * kSector, kSector, random,
                 "a byte of the video of " + FrameName(input, f) + " and its neighbours");
  return true;
}

void LostHeader(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged) {
  CopyWhole(input, damaged);
  const uint64_t lost = std::min<uint64_t>(kCluster, input.bytes.size());
  switch (random.Below(3)) {
    case 0:
      std::fill(damaged.bytes.begin(), damaged.bytes.begin() + static_cast<ptrdiff_t>(lost), uint8_t{0});
      damaged.notes.push_back("the first " + std::to_string(lost) + " bytes zeroed");
      return;
    case 1:
      random.Fill(damaged.bytes.data(), lost);
      damaged.notes.push_back("the first " + std::to_string(lost) + " bytes replaced by noise");
      return;
    default:
      damaged.bytes.erase(damaged.bytes.begin(), damaged.bytes.begin() + static_cast<ptrdiff_t>(lost));
      damaged.placements = {{Placement{lost, input.bytes.size() - lost, 0}}};
      damaged.notes.push_back("the first " + std::to_string(lost) +
                              " bytes cut away: byte 0 of this file is byte " + std::to_string(lost) +
                              " of the recording");
  }
}

void Truncated(const RecordingLayout& input, SeededRandom& random, DamagedFile& damaged) {
  CopyWhole(input, damaged);
  // Anywhere past the first block header, up to one byte short of the end.
  const uint64_t earliest = std::min<uint64_t>(input.firstBlockOffset + kBlockHeaderSize, input.bytes.size() - 1);
  const uint64_t cut = earliest + random.Below(input.bytes.size() - earliest);
  damaged.bytes.resize(cut);
  damaged.placements[0][0].size = cut;
  damaged.notes.push_back("cut at " + At(cut) + " of " + std::to_string(input.bytes.size()) + " bytes");
}

void Concatenated(const std::vector<RecordingLayout>& inputs, DamagedFile& damaged) {
  for (size_t r = 0; r < inputs.size(); ++r) {
    const uint64_t at = damaged.bytes.size();
    damaged.bytes.insert(damaged.bytes.end(), inputs[r].bytes.begin(), inputs[r].bytes.end());
    damaged.placements.push_back({Placement{0, inputs[r].bytes.size(), at}});
    damaged.notes.push_back("recording " + std::to_string(r + 1) + " (" + std::to_string(inputs[r].bytes.size()) +
                            " bytes) at " + At(at));
  }
}

struct Fragment {
  size_t recording;
  uint64_t from, size;  // bytes of the recording, cut at cluster boundaries
  uint64_t clusters;
};

void DiskImage(const std::vector<RecordingLayout>& inputs, SeededRandom& random, int imageMegabytes,
               DamagedFile& damaged) {
  const bool fragmented = random.Coin();
  std::vector<Fragment> fragments;
  uint64_t needed = 0;
  for (size_t r = 0; r < inputs.size(); ++r) {
    const uint64_t size = inputs[r].bytes.size();
    const uint64_t clusters = (size + kCluster - 1) / kCluster;
    // Two or three pieces where the file has the clusters for them; split points are distinct
    // cluster boundaries, as a file system stores a file.
    std::vector<uint64_t> cuts;
    if (fragmented && clusters >= 2) {
      const uint64_t pieces = std::min<uint64_t>(2 + random.Below(2), clusters);
      while (cuts.size() + 1 < pieces) {
        const uint64_t cut = 1 + random.Below(clusters - 1);
        if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) cuts.push_back(cut);
      }
      std::sort(cuts.begin(), cuts.end());
    }
    cuts.push_back(clusters);
    uint64_t begin = 0;
    for (const uint64_t cut : cuts) {
      const uint64_t from = begin * kCluster;
      const uint64_t to = std::min(cut * kCluster, size);
      fragments.push_back({r, from, to - from, cut - begin});
      needed += cut - begin;
      begin = cut;
    }
  }
  uint64_t total = static_cast<uint64_t>(std::max(imageMegabytes, 1)) * 1024 * 1024 / kCluster;
  if (total < needed + needed / 4 + 16) {
    total = needed + needed / 4 + 16;
    damaged.notes.push_back("image enlarged to " + std::to_string(total * kCluster) + " bytes to hold the recordings");
  }

  // Other data: runs of clusters of noise or zeros, as a disk holds deleted files and free space.
  damaged.bytes.assign(total * kCluster, 0);
  for (uint64_t c = 0; c < total;) {
    const uint64_t run = std::min<uint64_t>(1 + random.Below(64), total - c);
    if (random.Coin()) random.Fill(&damaged.bytes[c * kCluster], run * kCluster);
    c += run;
  }

  // The fragments in any order, with gaps of random length between them.
  for (size_t i = fragments.size(); i > 1; --i) std::swap(fragments[i - 1], fragments[random.Below(i)]);
  std::vector<uint64_t> gaps(fragments.size());
  for (uint64_t& g : gaps) g = random.Below(total - needed + 1);
  std::sort(gaps.begin(), gaps.end());
  damaged.placements.assign(inputs.size(), {});
  uint64_t used = 0;
  for (size_t i = 0; i < fragments.size(); ++i) {
    const Fragment& f = fragments[i];
    const uint64_t at = (gaps[i] + used) * kCluster;
    used += f.clusters;
    std::copy(inputs[f.recording].bytes.begin() + static_cast<ptrdiff_t>(f.from),
              inputs[f.recording].bytes.begin() + static_cast<ptrdiff_t>(f.from + f.size),
              damaged.bytes.begin() + static_cast<ptrdiff_t>(at));
    damaged.placements[f.recording].push_back({f.from, f.size, at});
    damaged.notes.push_back("recording " + std::to_string(f.recording + 1) + " bytes " + std::to_string(f.from) +
                            " to " + std::to_string(f.from + f.size) + " at " + At(at));
  }
  damaged.notes.insert(damaged.notes.begin(), std::string("image of ") + std::to_string(total * kCluster) +
                                                  " bytes, clusters of 4096 bytes of noise or zeros; recordings " +
                                                  (fragmented ? "in fragments" : "whole"));
}

}  // namespace

std::optional<DamageClass> DamageClassNamed(std::string_view name) {
  for (const ClassName& c : kClassNames)
    if (name == c.name) return c.damage;
  return std::nullopt;
}

const char* DamageClassName(DamageClass damage) {
  for (const ClassName& c : kClassNames)
    if (c.damage == damage) return c.name;
  return "?";
}

std::vector<std::string> DamageClassNames() {
  std::vector<std::string> names;
  for (const ClassName& c : kClassNames) names.emplace_back(c.name);
  return names;
}

bool TakesSeveralRecordings(DamageClass damage) {
  return damage == DamageClass::Concatenated || damage == DamageClass::DiskImage;
}

bool DamageRecordings(DamageClass damage, const std::vector<RecordingLayout>& inputs, uint64_t seed,
                      int imageMegabytes, DamagedFile& damaged, std::string& error) {
  damaged = {};
  if (inputs.empty()) {
    error = "name a recording to damage";
    return false;
  }
  if (inputs.size() > 1 && !TakesSeveralRecordings(damage)) {
    error = std::string(DamageClassName(damage)) + " damages one recording; only concatenated and disk-image take several";
    return false;
  }
  SeededRandom random(seed);
  const RecordingLayout& input = inputs.front();
  bool done = true;
  switch (damage) {
    case DamageClass::PowerLoss: done = PowerLoss(input, random, damaged, error); break;
    case DamageClass::BadSectorBlock: BadSectorOnBlock(input, random, damaged); break;
    case DamageClass::BadSectorFrame: BadSectorOnFrame(input, random, damaged); break;
    case DamageClass::BadSectorVideo: done = BadSectorInVideo(input, random, damaged, error); break;
    case DamageClass::LostHeader: LostHeader(input, random, damaged); break;
    case DamageClass::Truncated: Truncated(input, random, damaged); break;
    case DamageClass::Concatenated: Concatenated(inputs, damaged); break;
    case DamageClass::DiskImage: DiskImage(inputs, random, imageMegabytes, damaged); break;
  }
  if (!done) return false;
  // A sector near the start of a small recording reaches the file header as well: say so, since
  // a reader then has more to infer than the class names.
  const bool inPlace = damage == DamageClass::BadSectorBlock || damage == DamageClass::BadSectorFrame ||
                       damage == DamageClass::BadSectorVideo;
  const uint64_t header = std::min<uint64_t>(input.firstBlockOffset, input.bytes.size());
  if (inPlace && !std::equal(input.bytes.begin(), input.bytes.begin() + static_cast<ptrdiff_t>(header),
                             damaged.bytes.begin()))
    damaged.notes.push_back("the file header (bytes 0 to " + std::to_string(header) + ") is damaged too");
  return true;
}

bool WriteDamagedRecording(const DamageOptions& options, DamageReport& report) {
  std::vector<RecordingLayout> inputs(options.inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!ReadRecordingLayout(options.inputs[i], inputs[i], report.error)) return false;
  DamagedFile damaged;
  if (!DamageRecordings(options.damage, inputs, options.seed, options.imageMegabytes, damaged, report.error))
    return false;
  const std::vector<FrameTruth> truths = JudgeFrames(inputs, damaged);
  for (const FrameTruth& t : truths) {
    ++report.frames;
    report.intact += t.intact;
    report.showable += t.showable;
  }
  report.bytes = damaged.bytes.size();
  report.truthPath = options.output + ".truth";

  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(damaged.bytes.data()), static_cast<std::streamsize>(damaged.bytes.size()));
  if (!out.flush()) {
    report.error = options.output + ": cannot be written";
    return false;
  }
  std::ofstream truth(report.truthPath, std::ios::binary | std::ios::trunc);
  truth << TruthText(options.damage, options.seed, damaged.notes, truths);
  if (!truth.flush()) {
    report.error = report.truthPath + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace zentrova::zrgen
