#include "recording/RecordingScan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "recording/FileWindow.h"
#include "recording/LittleEndian.h"
#include "recording/MappedFile.h"
#include "recording/ReadOnlyFile.h"
#include "recording/StartCodeSearch.h"
#include "recording/ZrFormat.h"
#include "video/BitReader.h"
#include "video/VideoDecoder.h"
#include "video/PictureHeader.h"

namespace zentrova {
namespace {

// No recorded picture needs more: the decoder takes at most 307,200 luminance samples, and a
// frame's video never comes near a megabyte. A frame header claiming more is damaged.
constexpr uint32_t kMaxVideoBytes = 1u << 20;
constexpr uint32_t kMaxAudioBytes = 65536;
// The start code lies in the first 161 bits; with the 21 bits of the code and the 22 of an intra
// header after it, 26 bytes of video always show it.
constexpr size_t kVideoLook = 26;
// Damage inside one recording is bridged when the frames resume within this distance: a bad
// sector, the rest of the frame it hit and the frame after it.
constexpr uint64_t kMaxBridge = 256u << 10;
// Block ticks of one recording move forward by less than this between neighbouring blocks.
constexpr uint32_t kMaxTickStep = 6u * 3600u * 1000u;

struct FrameLook {
  bool ok = false;         // the header and its data lie inside the file, the lengths are sane
  bool picture = false;    // the video starts with the picture start code
  bool noPicture = false;  // flagged as holding no picture
  bool intra = false;
  uint32_t width = 0, height = 0;  // coded size of an intra picture
  uint64_t size = 0;               // header and data
  bool plausible() const { return ok && (picture || noPicture); }
};

struct BlockLook {
  uint32_t prev = 0, next = 0, tick = 0;
  uint16_t frames = 0;
};

struct Piece {
  enum class Kind { Header, Block, Frames } kind = Kind::Frames;
  uint64_t at = 0;   // where it starts in the scanned file
  uint64_t end = 0;  // just past its last frame (for a header: its variable part)
  BlockLook block;
  uint32_t frames = 0;           // frames found after it
  uint32_t stale = 0;            // frames found beyond a block's declared count
  bool cutShort = false;         // a block whose declared frames stopped early
  ZrHeaderFields header;
  uint32_t firstBlockOffset = 0;
  uint32_t codedWidth = 0, codedHeight = 0;  // of the first intra picture among its frames
  uint64_t lastFrameAt = 0;                  // where its last frame starts
  bool openEnd = false;  // what follows its last frame is no frame, block or header of the file
};

bool PlausibleCodedSize(uint32_t w, uint32_t h) {
  return w >= 16 && h >= 16 && w % 16 == 0 && h % 16 == 0 && w * h <= 307200;
}

class Scanner {
 public:
  // `window` serves the looks at headers and frames, `map` the search between recordings (or
  // `scan` where the file cannot be mapped): a look may move its window, so the search keeps one
  // of its own.
  Scanner(FileWindow& window, MappedFile& map, FileWindow& scan, const ScanOptions& options, uint64_t from,
          uint64_t limit)
      : w_(window), map_(map), scan_(scan), options_(options), from_(from), limit_(limit) {}

  std::vector<Piece> FindPieces(bool& cancelled);

  // Bytes for a look: from the search's window when it holds them (the common case while
  // searching between recordings), else from the look's own. Valid until the next look.
  const uint8_t* Look(uint64_t offset, size_t count) {
    if (count <= sizeof lookCopy_ && map_.CopyOut(offset, count, lookCopy_)) return lookCopy_;
    if (const uint8_t* held = scan_.Peek(offset, count)) return held;
    return w_.Get(offset, count);
  }

  FrameLook LookAtFrame(uint64_t p) {
    FrameLook f;
    if (p + kFrameHeaderSize > limit_) return f;
    const uint8_t* h = Look(p, kFrameHeaderSizeAudio);
    if (!h) h = Look(p, kFrameHeaderSize);
    if (!h) return f;
    const uint16_t flags = Le16(h + 2);
    const uint32_t video = Le32(h + 8);
    uint32_t audio = 0;
    uint32_t headerSize = kFrameHeaderSize;
    if (flags & FlagAudio) {
      if (p + kFrameHeaderSizeAudio > limit_) return f;
      audio = Le32(h + 12);
      headerSize = kFrameHeaderSizeAudio;
    }
    if (video > kMaxVideoBytes || audio > kMaxAudioBytes) return f;
    f.size = uint64_t{headerSize} + video + audio;
    if (p + f.size > limit_) return f;
    f.ok = true;
    f.noPicture = (flags & FlagNoPicture) != 0;
    if (video < 3) return f;
    const size_t look = std::min<size_t>(video, kVideoLook);
    const uint8_t* v = Look(p + headerSize, look);
    if (!v) return f;
    uint8_t bytes[kVideoLook + 8] = {};
    std::memcpy(bytes, v, look);
    BitReader reader;
    reader.Reset(bytes, look);
    if (!FindStartCode(reader)) return f;
    f.picture = true;
    const PictureHeader ph = ReadPictureHeader(reader);
    f.intra = ph.intra();
    if (f.intra) {
      f.width = ph.width;
      f.height = ph.height;
      if (!PlausibleCodedSize(f.width, f.height)) f.picture = false;
    }
    return f;
  }

  bool LookAtBlock(uint64_t p, BlockLook& b) {
    if (p + kBlockHeaderSize > limit_) return false;
    const uint8_t* h = Look(p, kBlockHeaderSize);
    if (!h) return false;
    b.prev = Le32(h);
    b.next = Le32(h + 4);
    b.frames = Le16(h + 8);
    b.tick = Le32(h + 12);
    return true;
  }

  // What may follow a frame of a recording: another frame, a block, a header, or the end.
  bool FollowedWell(uint64_t next) {
    if (next == limit_) return true;
    if (LookAtFrame(next).plausible()) return true;
    BlockLook b;
    if (LookAtBlock(next, b) && b.frames > 0 && LookAtFrame(next + kBlockHeaderSize).plausible()) return true;
    ZrHeaderFields header;
    uint32_t first = 0;
    uint64_t end = 0;
    return HeaderAt(next, header, first, end);
  }

  // A block header whose first frame is a picture followed as a recording's frames are (for an
  // empty block: one followed by such a block). Noise, or the bytes just before a frame taken for
  // a header, almost never lead to a second structure exactly where the first one ends.
  bool BlockAt(uint64_t p, BlockLook& b, int depth = 0) {
    if (!LookAtBlock(p, b)) return false;
    if (b.frames == 0) {
      if (depth > 0) return false;
      BlockLook after;
      return p + kBlockHeaderSize == limit_ || BlockAt(p + kBlockHeaderSize, after, 1);
    }
    const FrameLook f = LookAtFrame(p + kBlockHeaderSize);
    return f.ok && f.picture && FollowedWell(p + kBlockHeaderSize + f.size);
  }

  // A frame that starts a run on its own: a picture followed as a recording's frames are.
  bool FrameAnchorAt(uint64_t p, FrameLook& f) {
    f = LookAtFrame(p);
    return f.ok && f.picture && FollowedWell(p + f.size);
  }

  bool HeaderAt(uint64_t p, ZrHeaderFields& hf, uint32_t& firstBlock, uint64_t& end) {
    if (p + kFileHeaderSize > limit_) return false;
    const uint8_t* h = Look(p, kFileHeaderSize);
    if (!h || h[0] != 'Z' || h[1] != 'R') return false;
    const uint16_t version = Le16(h + 2);
    const uint8_t code = h[4];
    if (version > kMaxVersion || h[7] > kMaxLimitByte) return false;
    if ((code & 0x7F) > (version <= 257 ? 3 : 5) || !SizeOfResolutionCode(code)) return false;
    const uint16_t t1 = Le16(h + 20), t2 = Le16(h + 22);
    if (t1 > kMaxTextLength || t2 > kMaxTextLength) return false;
    hf = ZrHeaderFields{};
    hf.version = version;
    hf.resolutionCode = code;
    hf.aux1 = h[5];
    hf.aux2 = h[6];
    hf.limitByte = h[7];
    hf.startTime = static_cast<int32_t>(Le32(h + 8));
    hf.endTime = static_cast<int32_t>(Le32(h + 12));
    hf.createTick = Le32(h + 16);
    firstBlock = Le32(h + 28);
    uint64_t pos = p + kFileHeaderSize;
    auto text = [&](uint32_t length, std::string& out) {
      if (length == 0) return true;
      if (length >= 1024 || pos + length > limit_) return false;
      const uint8_t* t = Look(pos, length);
      if (!t) return false;
      out.assign(reinterpret_cast<const char*>(t), strnlen(reinterpret_cast<const char*>(t), length));
      pos += length;
      return true;
    };
    if (!text(t1, hf.text1) || !text(t2, hf.text2)) return false;
    if (version >= 256) {
      const uint8_t* l = Look(pos, 4);
      if (!l) return false;
      pos += 4;
      if (!text(Le32(l), hf.text3)) return false;
    }
    if (version >= 257) {
      const uint8_t* u = Look(pos, 4);
      if (!u) return false;
      hf.utcOffsetHours = static_cast<int32_t>(Le32(u));
      pos += 4;
    }
    end = pos;
    return true;
  }

 private:
  // The next position at or after `from` where a header, a block or a frame could start, found
  // through the picture start codes and the "ZR" of headers; limit_ when there is none.
  uint64_t NextCandidate(uint64_t from);
  bool TryAt(uint64_t c);
  bool TryHeaderOrBlock(uint64_t c);
  bool TryHeader(uint64_t c);
  void WalkBlock(uint64_t at, const BlockLook& b);
  void WalkFrames(uint64_t at);
  void TakeFrame(Piece& piece, const FrameLook& f, uint64_t& p);
  void ClosePiece(Piece& piece, uint64_t end);

  FileWindow& w_;
  MappedFile& map_;
  FileWindow& scan_;
  const ScanOptions& options_;
  uint64_t from_, limit_;
  // A look's bytes copied out of the mapping, whose reads must all be guarded; the longest look
  // is a header's text.
  uint8_t lookCopy_[1024];
  std::vector<Piece> pieces_;
  uint64_t pos_ = 0;
  uint64_t lastReport_ = 0;
  bool cancelled_ = false;

  // Between pieces the search may run through gigabytes of empty disk: it stops there as soon as
  // the user asks, and says how far it got.
  bool StopRequested(uint64_t at) {
    if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) {
      cancelled_ = true;
      return true;
    }
    if (options_.progress && at - lastReport_ >= (64u << 20)) {
      options_.progress(at - from_, limit_ - from_);
      lastReport_ = at;
    }
    return false;
  }
};

void Scanner::WalkBlock(uint64_t at, const BlockLook& b) {
  Piece piece;
  piece.kind = Piece::Kind::Block;
  piece.at = at;
  piece.block = b;
  uint64_t p = at + kBlockHeaderSize;
  for (;;) {
    if (piece.frames >= b.frames) {
      // The declared frames are there. A recorder that lost power may have gone on writing
      // frames that the block's count never took in: pictures, up to the next block or header.
      BlockLook next;
      ZrHeaderFields hf;
      uint32_t first;
      uint64_t end;
      if (p >= limit_ || BlockAt(p, next) || HeaderAt(p, hf, first, end)) break;
      const FrameLook f = LookAtFrame(p);
      if (!f.ok || !f.picture) break;
      TakeFrame(piece, f, p);
      ++piece.stale;
      continue;
    }
    // A block header where a declared frame should be: this block's frames stop short.
    BlockLook next;
    const FrameLook f = LookAtFrame(p);
    if (!f.plausible() || (piece.frames > 0 && BlockAt(p, next))) {
      piece.cutShort = true;
      break;
    }
    TakeFrame(piece, f, p);
  }
  ClosePiece(piece, p);
}

void Scanner::TakeFrame(Piece& piece, const FrameLook& f, uint64_t& p) {
  if (f.intra && !piece.codedWidth) piece.codedWidth = f.width, piece.codedHeight = f.height;
  ++piece.frames;
  piece.lastFrameAt = p;
  p += f.size;
}

void Scanner::ClosePiece(Piece& piece, uint64_t end) {
  piece.end = end;
  piece.openEnd = end < limit_ && !FollowedWell(end);
  pieces_.push_back(piece);
  pos_ = end;
}

void Scanner::WalkFrames(uint64_t at) {
  Piece piece;
  piece.kind = Piece::Kind::Frames;
  piece.at = at;
  uint64_t p = at;
  for (;;) {
    BlockLook next;
    ZrHeaderFields hf;
    uint32_t first;
    uint64_t end;
    if (p >= limit_ || (piece.frames > 0 && (BlockAt(p, next) || HeaderAt(p, hf, first, end)))) break;
    const FrameLook f = LookAtFrame(p);
    if (!f.plausible()) break;
    TakeFrame(piece, f, p);
  }
  ClosePiece(piece, p);
}

bool Scanner::TryAt(uint64_t c) {
  if (TryHeaderOrBlock(c)) return true;
  FrameLook f;
  if (FrameAnchorAt(c, f)) {
    WalkFrames(c);
    return true;
  }
  return false;
}

bool Scanner::TryHeader(uint64_t c) {
  Piece header;
  if (!HeaderAt(c, header.header, header.firstBlockOffset, header.end)) return false;
  header.kind = Piece::Kind::Header;
  header.at = c;
  pieces_.push_back(header);
  pos_ = header.end;
  return true;
}

bool Scanner::TryHeaderOrBlock(uint64_t c) {
  if (TryHeader(c)) return true;
  BlockLook b;
  if (BlockAt(c, b)) {
    WalkBlock(c, b);
    return true;
  }
  return false;
}

uint64_t Scanner::NextCandidate(uint64_t from) {
  uint64_t s = from;
  uint64_t nextCheck = s;
  while (s < limit_) {
    if (s >= nextCheck) {
      if (StopRequested(s)) return limit_;
      nextCheck = s + (16u << 20);
    }
    size_t n = 0;
    const uint8_t* span = map_.usable() ? map_.Span(s, 4096, n) : nullptr;
    const bool mapped = span != nullptr;
    if (!mapped) span = scan_.Span(s, 4096, n);
    if (!span || n < 4) return limit_;
    // Look only where a 21-bit code fits inside the span (a code across its end is met when the
    // next span starts a few bytes earlier).
    const size_t usable = n - 3;
    bool fileShrank = false;
    for (size_t k = 0;;) {
      SearchHit hit;
      auto search = [&] { hit = NextSearchHit(span, k, n); };
      if (!mapped) {
        search();
      } else if (!map_.usable() || !map_.Guarded(search)) {
        fileShrank = true;  // cut short under the mapping by another program: read on with pread
        break;
      }
      if (hit.at >= usable) break;
      k = hit.at + 1;
      const uint64_t c = s + hit.at;
      if (hit.header) {
        if (c >= from && TryHeader(c)) return c;
        continue;
      }
      const uint64_t codeBit = (c - 1) * 8 + static_cast<uint64_t>(hit.bit);
      // The video starts at most 160 bits before the code; its frame header 12 or 16 bytes
      // before the video, a block header 16 bytes before that.
      const uint64_t codeByte = codeBit / 8;
      const uint64_t lowest = codeByte >= 20 + 32 + from ? codeByte - 20 - 32 : from;
      // A frame is tried before a block header: the bytes just before a frame (the end of the
      // previous frame's sound) can pass for a block header, whose count and tick would then be
      // taken from noise. A true block header is met again by the walk, at the block after
      // this one.
      for (uint64_t p = std::max(lowest, from); p + kFrameHeaderSize <= codeByte; ++p) {
        FrameLook f;
        if (FrameAnchorAt(p, f)) {
          WalkFrames(p);
          return p;
        }
      }
      // A frame header can itself look like a start code (the audio flag's 00 80 after a tag
      // whose high byte is 0), so a frame may sit after the code as well: a block found here is
      // taken from its first frame on, and its own header is met again as the next block's.
      for (uint64_t p = std::max(lowest, from); p + kFrameHeaderSize <= codeByte; ++p) {
        BlockLook b;
        if (!BlockAt(p, b)) continue;
        if (b.frames == 0) {
          WalkBlock(p, b);
          return p;
        }
        WalkFrames(p + kBlockHeaderSize);
        return p + kBlockHeaderSize;
      }
    }
    if (fileShrank) continue;
    // Step on, keeping a few bytes so that a code across the boundary is seen.
    s += usable > 64 ? usable - 64 : usable;
  }
  return limit_;
}

std::vector<Piece> Scanner::FindPieces(bool& cancelled) {
  pos_ = from_;
  lastReport_ = pos_;
  while (pos_ + kFrameHeaderSize <= limit_) {
    if (StopRequested(pos_)) break;
    const uint64_t before = pos_;
    if (TryAt(pos_)) {
      if (pos_ <= before) pos_ = before + 1;  // an empty piece; never stand still
      continue;
    }
    const uint64_t c = NextCandidate(pos_ + 1);
    if (c >= limit_) break;
    // NextCandidate took the piece at c already.
  }
  cancelled = cancelled_;
  if (options_.progress && !cancelled) options_.progress(limit_ - from_, limit_ - from_);
  return std::move(pieces_);
}

// --- Putting the pieces together -----------------------------------------------------------

struct CodedSizeGuess {
  uint16_t version;
  uint8_t code;
};

// The recording a coded picture size most likely comes from. Sizes that both generations use
// (320 x 240, 352 x 288, 176 x 144) are taken as the older generation's, which shows the pictures
// as they were coded; `--generation` says otherwise.
bool GuessFromCodedSize(uint32_t w, uint32_t h, uint32_t generation, CodedSizeGuess& guess) {
  struct Row {
    uint32_t w, h;
    uint16_t version;
    uint8_t code;
  };
  static constexpr Row kOlder[] = {{160, 112, 257, 0}, {240, 176, 257, 1}, {320, 240, 257, 2}, {640, 240, 257, 3},
                                   {176, 144, 257, 128}, {256, 192, 257, 129}, {352, 288, 257, 130}};
  static constexpr Row kNewer[] = {{160, 128, 4096, 4}, {320, 240, 4096, 5}, {176, 144, 4096, 132},
                                   {352, 288, 4096, 133}};
  if (generation != kGenerationNewer) {
    for (const Row& r : kOlder)
      if (r.w == w && r.h == h) return guess = {r.version, r.code}, true;
  }
  if (generation != kGenerationOlder) {
    for (const Row& r : kNewer)
      if (r.w == w && r.h == h) return guess = {r.version, r.code}, true;
  }
  return false;
}

class Assembler {
 public:
  Assembler(std::vector<Piece>& pieces, const ScanOptions& options, FileWindow& window)
      : pieces_(pieces), options_(options), w_(window) {}

  std::vector<FoundRecording> Assemble() {
    uint64_t lastEnd = 0;
    bool first = true;
    for (size_t i = 0; i < pieces_.size(); ++i) {
      const Piece& pc = pieces_[i];
      if (pc.kind == Piece::Kind::Header) {
        StartRecording(pc);
      } else if (current_ && (first ? false : Continues(i, lastEnd))) {
        Append(pc, pc.at != lastEnd, lastEnd);
      } else {
        StartRecording(pc);
        Append(pc, true, pc.at);
      }
      lastEnd = pc.end;
      first = false;
    }
    Finish();
    JoinFragments();
    FollowNeighbours();
    return std::move(found_);
  }

  // A size both generations code (320 x 240, 352 x 288, 176 x 144) is taken as the generation
  // of a recording found with its header in the same file: one recorder's disk.
  void FollowNeighbours() {
    if (options_.generation) return;
    uint32_t generation = 0;
    for (const FoundRecording& r : found_)
      if (r.headerFound && !generation) generation = GenerationOfVersion(r.header.version);
    if (!generation) return;
    for (FoundRecording& r : found_) {
      CodedSizeGuess older{}, newer{};
      if (r.headerFound || !r.codedWidth || options_.width > 0 ||
          !GuessFromCodedSize(r.codedWidth, r.codedHeight, kGenerationOlder, older) ||
          !GuessFromCodedSize(r.codedWidth, r.codedHeight, kGenerationNewer, newer))
        continue;
      const CodedSizeGuess& g = generation == kGenerationNewer ? newer : older;
      r.header.version = g.version;
      r.header.resolutionCode = g.code;
      r.notes.push_back("its codec generation is taken from the other recordings in the file");
    }
  }

 private:
  struct Building {
    FoundRecording r;
    int64_t base = 0;       // scanned-file offset of the recording's offset 0
    bool baseKnown = false;
    uint64_t lastBlockAt = 0;
    bool haveBlock = false;
    BlockLook lastBlock;
    uint32_t codedWidth = 0, codedHeight = 0;
    uint64_t firstBlockAt = 0;
    BlockLook firstBlock;
    bool sawFirstBlock = false;
    bool staleLink = false;
    bool chainIntact = true;  // every piece so far is where the block chain leads
    uint64_t lastFrameAt = 0;
    bool openEnd = false;
  };

  // Whether the piece at `i`, after a gap, goes on with the recording being built: the frames
  // resume soon after, and the first block header met from there names a block in the gap (the
  // one whose header the damage took) as the one before it. Fragments of a disk image fail this:
  // measured with the wrong base, their links point anywhere.
  bool Continues(size_t i, uint64_t lastEnd) {
    const Piece& pc = pieces_[i];
    Building& b = *current_;
    if (pc.at == lastEnd) return true;
    if (pc.at < lastEnd || pc.at - lastEnd > kMaxBridge) return false;
    const Piece* block = nullptr;
    for (size_t k = i; k < pieces_.size(); ++k) {
      if (k > i && pieces_[k].at != pieces_[k - 1].end) break;
      if (pieces_[k].kind == Piece::Kind::Header) return false;
      if (pieces_[k].kind == Piece::Kind::Block) {
        block = &pieces_[k];
        break;
      }
    }
    if (!block) return true;
    // Ticks of one recording move forward; a block that goes back in time belongs to another.
    if (b.r.ticksFound && (block->block.tick - b.r.lastTick) > kMaxTickStep) return false;
    if (block->block.prev == kNoBlock) return false;
    if (!b.baseKnown) return true;
    const int64_t prevAt = static_cast<int64_t>(block->block.prev) + b.base;
    if (block == &pc) return prevAt >= static_cast<int64_t>(b.lastBlockAt) && prevAt < static_cast<int64_t>(pc.at);
    // The block before it is the last one seen (a frame of it was damaged) or one in the gap
    // (its header was).
    if (prevAt == static_cast<int64_t>(b.lastBlockAt)) return true;
    return prevAt >= static_cast<int64_t>(lastEnd) - static_cast<int64_t>(kBlockHeaderSize) &&
           prevAt + static_cast<int64_t>(kBlockHeaderSize) <= static_cast<int64_t>(pc.at);
  }

  // Counts the frames that following the block chain from the header reaches, as a plain
  // reading of the file would.
  void UpdateChain(Building& b, const Piece& pc, bool gap) {
    FoundRecording& r = b.r;
    if (!b.chainIntact) return;
    if (!r.headerFound || gap || pc.kind != Piece::Kind::Block) {
      b.chainIntact = false;
      return;
    }
    const int64_t offset = static_cast<int64_t>(pc.at) - b.base;
    const bool linked = b.haveBlock ? b.lastBlock.next == static_cast<uint64_t>(offset)
                                    : headerPiece_.firstBlockOffset == static_cast<uint64_t>(offset);
    if (!linked) {
      b.chainIntact = false;
      return;
    }
    r.chainFrames += std::min<uint32_t>(pc.frames, pc.block.frames);
    if (pc.cutShort || pc.block.next == kNoBlock) b.chainIntact = false;
  }

  void StartRecording(const Piece& pc) {
    Finish();
    current_ = std::make_unique<Building>();
    Building& b = *current_;
    b.r.start = pc.at;
    b.r.end = pc.end;
    if (pc.kind == Piece::Kind::Header) {
      b.r.headerFound = true;
      b.r.header = pc.header;
      b.base = static_cast<int64_t>(pc.at);
      b.baseKnown = true;
      headerPiece_ = pc;
    }
  }

  void Append(const Piece& pc, bool gap, uint64_t gapFrom) {
    Building& b = *current_;
    FoundRecording& r = b.r;
    if (gap && pc.at > gapFrom && !r.runs.empty())
      r.damage.push_back({gapFrom, pc.at - gapFrom, "bytes that are no frame of the recording"});
    UpdateChain(b, pc, gap);
    if (pc.kind == Piece::Kind::Block) {
      ++r.blocks;
      if (!b.baseKnown && pc.block.next != kNoBlock && !pc.cutShort && pc.stale == 0) {
        // A block's link forward is where its frames end, in the recording's own offsets.
        b.base = static_cast<int64_t>(pc.end) - static_cast<int64_t>(pc.block.next);
        b.baseKnown = true;
      }
      if (!r.ticksFound) {
        r.ticksFound = true;
        r.firstTick = pc.block.tick;
      }
      r.lastTick = pc.block.tick;
      if (b.haveBlock && b.lastBlock.next == kNoBlock) b.staleLink = true;
      b.lastBlockAt = pc.at;
      b.lastBlock = pc.block;
      b.haveBlock = true;
      if (!b.sawFirstBlock) b.sawFirstBlock = true, b.firstBlockAt = pc.at, b.firstBlock = pc.block;
      if (pc.stale) r.notes.push_back(std::to_string(pc.stale) + " frames follow a block beyond the count in its header");
      if (pc.cutShort && pc.frames < pc.block.frames)
        r.damage.push_back({pc.end, 0, "a frame of block " + std::to_string(r.blocks) + " that cannot be read"});
    }
    if (!b.codedWidth && pc.codedWidth) b.codedWidth = pc.codedWidth, b.codedHeight = pc.codedHeight;
    if (pc.frames > 0) {
      const uint64_t firstFrame = pc.kind == Piece::Kind::Block ? pc.at + kBlockHeaderSize : pc.at;
      // The first run of a recording follows a gap unless it is the first block of a found header.
      const bool cleanStart = r.runs.empty() && r.headerFound && pc.kind == Piece::Kind::Block &&
                              pc.at == headerPiece_.at + headerPiece_.firstBlockOffset;
      const bool afterGap = r.runs.empty() ? !cleanStart : (gap || pc.kind == Piece::Kind::Frames);
      if (!r.runs.empty() && !afterGap) {
        FrameRun& last = r.runs.back();
        (void)last;
      }
      r.runs.push_back({firstFrame, pc.frames, afterGap, r.lastTick});
      r.frames += pc.frames;
      b.lastFrameAt = pc.lastFrameAt;
      b.openEnd = pc.openEnd;
    }
    r.end = pc.end;
  }

  void Finish() {
    if (!current_) return;
    Building& b = *current_;
    FoundRecording& r = b.r;
    // The last block links on: the blocks after it are cut off or unreadable.
    if (r.frames > 0 && b.haveBlock && b.lastBlock.next != kNoBlock) {
      const bool past = b.baseKnown && static_cast<int64_t>(b.lastBlock.next) + b.base >= static_cast<int64_t>(w_.size());
      r.damage.push_back({r.end, 0, past ? "the end of the file: the recording goes on past it (the file was cut short)"
                                         : "the block its last block links to, which cannot be read"});
    }
    if (r.frames > 0) {
      // Found in one piece: the recording's offsets are those of the scanned file until fragments
      // are joined.
      r.extents.push_back({r.start, r.end - r.start, r.start});
      InferHeader(b);
      Chunk chunk;
      chunk.baseKnown = b.baseKnown;
      chunk.base = b.base;
      chunk.hasBlock = b.haveBlock;
      chunk.firstBlockAt = b.firstBlockAt;
      chunk.firstBlock = b.firstBlock;
      chunk.lastBlockAt = b.lastBlockAt;
      chunk.lastBlock = b.lastBlock;
      chunk.lastFrameAt = b.lastFrameAt;
      chunk.openEnd = b.openEnd;
      chunks_.push_back(chunk);
      found_.push_back(std::move(r));
    }
    current_.reset();
  }

  void InferHeader(Building& b) {
    FoundRecording& r = b.r;
    if (r.headerFound) {
      if (b.staleLink) r.notes.push_back("a block's link was never written (the recorder may have lost power)");
      if (r.header.endTime == r.header.startTime) r.notes.push_back("the end time was never written");
      const auto size = SizeOfResolutionCode(r.header.resolutionCode);
      (void)size;
      return;
    }
    r.header = ZrHeaderFields{};
    r.header.text1.clear();
    r.codedWidth = b.codedWidth;
    r.codedHeight = b.codedHeight;
    CodedSizeGuess guess{257, 2};
    bool known = false;
    if (b.codedWidth) known = GuessFromCodedSize(b.codedWidth, b.codedHeight, options_.generation, guess);
    r.header.version = guess.version;
    r.header.resolutionCode = guess.code;
    r.header.startTime = 0;
    r.header.endTime = 0;
    r.sizeInferred = true;
    r.generationInferred = options_.generation == 0;
    if (options_.generation) r.header.version = options_.generation == kGenerationNewer ? kVersionNewer : kVersionOlder;
    if (options_.width > 0 && options_.height > 0) {
      const uint8_t code = ResolutionCodeFor({options_.width, options_.height}, 1, GenerationOfVersion(r.header.version));
      const uint8_t other = ResolutionCodeFor({options_.width, options_.height}, 0, GenerationOfVersion(r.header.version));
      if (code != 255 || other != 255) r.header.resolutionCode = code != 255 ? code : other;
      r.sizeInferred = false;
    }
    if (!known && !(options_.width > 0))
      r.notes.push_back("the picture size could not be told from the pictures; --size sets it");
    r.notes.push_back("the file header was not found; what it held is inferred from the pictures");
  }

  // What joining fragments needs to know of a recording found in one piece.
  struct Chunk {
    bool baseKnown = false;
    int64_t base = 0;  // scanned-file offset of the recording's own offset 0
    bool hasBlock = false;
    uint64_t firstBlockAt = 0, lastBlockAt = 0;
    BlockLook firstBlock, lastBlock;
    uint64_t lastFrameAt = 0;
    bool openEnd = false;  // its last frame may run on past its fragment into foreign bytes
  };

  void JoinFragments();
  bool ReadMapped(const std::vector<Extent>& extents, uint64_t from, size_t count, uint8_t* out);
  bool WalkAcross(const std::vector<Extent>& extents, uint64_t from, uint64_t to, uint32_t version,
                  uint32_t& frames);

  std::vector<Piece>& pieces_;
  const ScanOptions& options_;
  FileWindow& w_;
  std::vector<Chunk> chunks_;
  std::unique_ptr<Building> current_;
  Piece headerPiece_;
  std::vector<FoundRecording> found_;
};

bool Assembler::ReadMapped(const std::vector<Extent>& extents, uint64_t from, size_t count, uint8_t* out) {
  while (count > 0) {
    const Extent* e = nullptr;
    for (const Extent& x : extents)
      if (from >= x.from && from < x.from + x.length) e = &x;
    if (!e) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>({count, e->from + e->length - from, FileWindow::kMaxSpan}));
    const uint8_t* bytes = w_.Get(from - e->from + e->at, n);
    if (!bytes) return false;
    std::memcpy(out, bytes, n);
    out += n;
    from += n;
    count -= n;
  }
  return true;
}

// Walks the frames (and block headers) from `from` to `to` through the joined extents: true when
// they lead exactly there, every picture starting with its start code, decoding without a fault
// and holding no sector of zeros (an unused sector of the disk taken in by a wrong cut).
bool Assembler::WalkAcross(const std::vector<Extent>& extents, uint64_t from, uint64_t to, uint32_t version,
                           uint32_t& frames) {
  frames = 0;
  VideoDecoder decoder;
  if (!decoder.Initialise(GenerationOfVersion(static_cast<uint16_t>(version)), IdctChoice::Plain)) return false;
  std::vector<uint8_t> picture(704 * 576 * 3), video;
  // The frame at p: its size, and its video bytes read into `video` (with zeros after them).
  auto frameAt = [&](uint64_t p, uint64_t& size, bool& noPicture) {
    uint8_t h[kFrameHeaderSizeAudio];
    if (p + kFrameHeaderSize > to || !ReadMapped(extents, p, kFrameHeaderSize, h)) return false;
    const uint16_t flags = Le16(h + 2);
    uint32_t headerSize = kFrameHeaderSize, audio = 0;
    if (flags & FlagAudio) {
      if (!ReadMapped(extents, p, kFrameHeaderSizeAudio, h)) return false;
      audio = Le32(h + 12);
      headerSize = kFrameHeaderSizeAudio;
    }
    const uint32_t videoBytes = Le32(h + 8);
    if (videoBytes > kMaxVideoBytes || audio > kMaxAudioBytes) return false;
    size = uint64_t{headerSize} + videoBytes + audio;
    if (p + size > to) return false;
    video.assign(videoBytes + 8, 0);
    if (videoBytes && !ReadMapped(extents, p + headerSize, videoBytes, video.data())) return false;
    noPicture = (flags & FlagNoPicture) != 0;
    if (noPicture) return true;
    uint8_t look[kVideoLook + 8] = {};
    std::memcpy(look, video.data(), std::min<size_t>(videoBytes, kVideoLook));
    BitReader reader;
    reader.Reset(look, std::min<size_t>(videoBytes, kVideoLook));
    return FindStartCode(reader);
  };
  uint64_t p = from;
  while (p < to) {
    uint64_t size = 0;
    bool noPicture = false;
    // A block header here is passed over: its first frame follows it.
    if (!frameAt(p, size, noPicture)) {
      if (!frameAt(p + kBlockHeaderSize, size, noPicture)) return false;
      p += kBlockHeaderSize;
    }
    if (!noPicture && decoder.DecodeFrame(video.data(), static_cast<uint32_t>(video.size() - 8), picture.data(),
                                          picture.size())
                          .failed)
      return false;
    // A sector of zeros inside a frame is an unused sector of the disk taken in by a wrong cut.
    for (uint64_t s = (p + 511) & ~uint64_t{511}; s + 512 <= p + size; s += 512) {
      uint8_t sector[512];
      if (!ReadMapped(extents, s, 512, sector)) return false;
      if (std::all_of(sector, sector + 512, [](uint8_t b) { return b == 0; })) return false;
    }
    ++frames;
    p += size;
  }
  return p == to;
}

void Assembler::JoinFragments() {
  const size_t n = found_.size();
  if (n < 2) return;
  std::vector<int> next(n, -1), prev(n, -1);
  for (size_t b = 0; b < n; ++b) {
    const Chunk& B = chunks_[b];
    if (found_[b].headerFound || !B.hasBlock || B.firstBlock.prev == kNoBlock) continue;
    int best = -1;
    uint32_t bestStep = UINT32_MAX;
    for (size_t a = 0; a < n; ++a) {
      const Chunk& A = chunks_[a];
      if (a == b || next[a] >= 0 || !A.baseKnown || !A.hasBlock) continue;
      // Its own offsets must start at or after 0: a base from noise may say otherwise.
      if (static_cast<int64_t>(found_[a].start) < A.base) continue;
      const int64_t lastOffset = static_cast<int64_t>(A.lastBlockAt) - A.base;
      // B's first block names A's last one as the block before it.
      if (lastOffset < 0 || B.firstBlock.prev != static_cast<uint64_t>(lastOffset)) continue;
      const uint32_t step = B.firstBlock.tick - A.lastBlock.tick;
      if (found_[a].ticksFound && found_[b].ticksFound && step > kMaxTickStep) continue;
      if (step < bestStep) best = static_cast<int>(a), bestStep = step;
    }
    if (best < 0) continue;
    Chunk& A = chunks_[static_cast<size_t>(best)];
    if (!B.baseKnown) {
      if (A.lastBlock.next == kNoBlock) continue;
      chunks_[b].base = static_cast<int64_t>(B.firstBlockAt) - static_cast<int64_t>(A.lastBlock.next);
      chunks_[b].baseKnown = true;
    }
    if (static_cast<int64_t>(found_[b].start) < chunks_[b].base) continue;
    next[static_cast<size_t>(best)] = static_cast<int>(b);
    prev[b] = best;
  }

  std::vector<FoundRecording> joined;
  std::vector<bool> used(n, false);
  auto chainFrom = [&](size_t head) {
    FoundRecording r = std::move(found_[head]);
    used[head] = true;
    const Chunk& first = chunks_[head];
    if (next[head] < 0) {
      joined.push_back(std::move(r));
      return;
    }
    // The recording's own offsets from here on.
    for (Extent& e : r.extents) e.from = static_cast<uint64_t>(static_cast<int64_t>(e.at) - first.base);
    for (FrameRun& run : r.runs) run.offset = static_cast<uint64_t>(static_cast<int64_t>(run.offset) - first.base);
    uint64_t endOffset = static_cast<uint64_t>(static_cast<int64_t>(r.end) - first.base);
    const Chunk* tail = &first;
    uint64_t tailEnd = r.end;  // where the last fragment's frames stopped, in the scanned file
    for (int c = next[head]; c >= 0 && !used[static_cast<size_t>(c)]; c = next[static_cast<size_t>(c)]) {
      const size_t k = static_cast<size_t>(c);
      used[k] = true;
      FoundRecording& part = found_[k];
      const int64_t base = chunks_[k].base;
      const int64_t startOffset = static_cast<int64_t>(part.start) - base;
      // A fragment's last frame that nothing sensible follows may have taken its end from the
      // bytes after the fragment: it is read again across the cut.
      uint64_t joinFrom = endOffset;
      const bool pullBack = tail->openEnd && !r.runs.empty() && r.runs.back().frames > 0;
      if (pullBack) {
        const int64_t at = static_cast<int64_t>(tail->lastFrameAt) - chunks_[static_cast<size_t>(prev[k])].base;
        if (at > 0 && static_cast<uint64_t>(at) >= r.runs.back().offset && static_cast<uint64_t>(at) < endOffset)
          joinFrom = static_cast<uint64_t>(at);
      }
      if (startOffset <= static_cast<int64_t>(joinFrom) || static_cast<int64_t>(part.end) - base <= startOffset) {
        joined.push_back(std::move(part));  // not where a next fragment can lie
        continue;
      }
      // The frame taken back, to be put back when no cut reads across.
      const uint64_t keptEnd = endOffset;
      const FrameRun keptRun = r.runs.empty() ? FrameRun{} : r.runs.back();
      const bool tookBack = joinFrom != endOffset;
      if (tookBack) {
        endOffset = joinFrom;
        if (--r.runs.back().frames == 0) r.runs.pop_back();
        --r.frames;
      }
      const uint64_t partStart = static_cast<uint64_t>(startOffset);
      const uint64_t partEnd = static_cast<uint64_t>(static_cast<int64_t>(part.end) - base);
      // Where the file system cut the recording: a sector boundary between the last frame of
      // one fragment and the first of the next, found by the frame split across it reading whole.
      uint32_t across = 0;
      bool cutFound = false;
      std::vector<Extent> extents;
      for (const uint64_t unit : {uint64_t{4096}, uint64_t{512}}) {
        for (uint64_t cut = (endOffset / unit + 1) * unit; cut <= partStart && !cutFound; cut += unit) {
          if (static_cast<int64_t>(cut) + base < 0) continue;
          extents = r.extents;
          Extent& last = extents.back();
          if (cut <= last.from) continue;
          last.length = cut - last.from;
          if (last.at + last.length > w_.size()) continue;
          extents.push_back({cut, partEnd - cut, static_cast<uint64_t>(static_cast<int64_t>(cut) + base)});
          cutFound = WalkAcross(extents, endOffset, partStart, r.header.version, across);
        }
        if (cutFound) break;
      }
      if (!cutFound && tookBack) {
        endOffset = keptEnd;
        if (!r.runs.empty() && r.runs.back().offset == keptRun.offset) r.runs.back() = keptRun;
        else r.runs.push_back(keptRun);
        ++r.frames;
      }
      if (!cutFound) {
        extents = r.extents;
        extents.back().length = endOffset - extents.back().from;
        extents.push_back({partStart, partEnd - partStart, part.start});
        r.damage.push_back({part.start, 0, "frames split between two fragments that could not be put together"});
      } else {
        // The frames stopped there only because the fragment did: no damage.
        std::erase_if(r.damage, [&](const DamagedSpan& d) { return d.offset == tailEnd && d.length == 0; });
        if (across > 0) {
          r.runs.push_back({endOffset, across, false, r.lastTick});
          r.frames += across;
        }
      }
      r.extents = std::move(extents);
      bool firstRun = true;
      for (FrameRun run : part.runs) {
        run.offset = static_cast<uint64_t>(static_cast<int64_t>(run.offset) - base);
        if (firstRun && cutFound && run.offset == partStart) run.afterGap = false;
        firstRun = false;
        r.runs.push_back(run);
      }
      r.frames += part.frames;
      r.blocks += part.blocks;
      r.damage.insert(r.damage.end(), part.damage.begin(), part.damage.end());
      if (part.ticksFound) r.lastTick = part.lastTick;
      r.start = std::min(r.start, part.start);
      r.end = std::max(r.end, part.end);
      endOffset = partEnd;
      tail = &chunks_[k];
      tailEnd = part.end;
    }
    r.notes.push_back("found in " + std::to_string(r.extents.size()) + " fragments, put together by their block links");
    joined.push_back(std::move(r));
  };
  for (size_t i = 0; i < n; ++i)
    if (prev[i] < 0 && !used[i]) chainFrom(i);
  for (size_t i = 0; i < n; ++i)
    if (!used[i]) chainFrom(i);  // fragments whose links go round in a circle: each on its own
  std::stable_sort(joined.begin(), joined.end(),
                   [](const FoundRecording& x, const FoundRecording& y) { return x.start < y.start; });
  found_ = std::move(joined);
}

}  // namespace

namespace {

void ScanInto(int fd, const ScanOptions& options, ScanResult& result);

}  // namespace

ScanResult ScanRecordings(int fd, const ScanOptions& options) {
  ScanResult result;
  try {
    ScanInto(fd, options, result);
  } catch (const std::bad_alloc&) {
    result.recordings.clear();
    result.error = "out of memory";  // short enough to need no allocation
  }
  return result;
}

namespace {

void ScanInto(int fd, const ScanOptions& options, ScanResult& result) {
  int err = 0;
  if (!SizeOfReadable(fd, result.fileSize, err)) {
    result.error = err ? std::strerror(err) : "not a regular file or a block device";
    return;
  }
  const uint64_t limit = options.to && options.to < result.fileSize ? options.to : result.fileSize;
  const uint64_t from = std::min(options.from, limit);
  FileWindow window(fd, limit);
  FileWindow scan(fd, limit);
  // The search reads the mapped page cache in place; where the file cannot be mapped, a second
  // thread copies the next window while this one is searched.
  MappedFile map(fd, limit);
  size_t mapped = 0;
  if (!map.Span(from, 4096, mapped) && !map.usable()) scan.EnableReadAhead();
  std::vector<Piece> pieces;
  try {
    Scanner scanner(window, map, scan, options, from, limit);
    pieces = scanner.FindPieces(result.cancelled);
  } catch (const FileWindow::ReadError& e) {
    result.error = std::strerror(e.err);
  } catch (const std::bad_alloc&) {
    result.error = "out of memory";
  }
  result.bytesRead = window.bytesRead() + scan.bytesRead() + map.bytesMapped();
  try {
    Assembler assembler(pieces, options, window);
    result.recordings = assembler.Assemble();
  } catch (const FileWindow::ReadError& e) {
    result.error = std::strerror(e.err);
  } catch (const std::bad_alloc&) {
    // What the pieces were is lost with the memory; nothing is reported found rather than part.
    result.recordings.clear();
    result.error = "out of memory";
  }
}

}  // namespace

ScanResult ScanRecordingFile(const std::string& path, const ScanOptions& options) {
  const int fd = OpenReadOnly(path, O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    ScanResult r;
    const int err = errno;
    try {
      r.error = "cannot open " + path + ": " + std::strerror(err);
    } catch (const std::bad_alloc&) {
      r.error = "out of memory";
    }
    return r;
  }
  ScanResult r = ScanRecordings(fd, options);
  ::close(fd);
  return r;
}

}  // namespace zentrova
