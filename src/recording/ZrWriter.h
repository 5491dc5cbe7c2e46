#pragma once
// Writes ZR recordings the way a recorder does: header, variable part, then blocks of frames
// chained through prevBlock/nextBlock. Used by the recording generator and the tests.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "base/Expected.h"

namespace zentrova {

struct ZrHeaderFields {
  uint16_t version = 257;
  uint8_t resolutionCode = 2;
  uint8_t aux1 = 0;
  uint8_t aux2 = 0;
  uint8_t limitByte = 160;
  int32_t startTime = 0;
  int32_t endTime = 0;
  uint32_t createTick = 0;
  std::string text1;
  std::string text2;
  std::string text3;
  int32_t utcOffsetHours = 0;
};

struct ZrFrame {
  uint16_t frameTag = 0;
  uint16_t flags = 0;  // FlagNoPicture, FlagAudio
  uint32_t frameParam = 0;
  std::span<const uint8_t> video;
  std::span<const uint8_t> audio;  // written only when FlagAudio is set
};

class ZrWriter {
 public:
  ZrWriter() = default;
  ~ZrWriter();
  ZrWriter(const ZrWriter&) = delete;
  ZrWriter& operator=(const ZrWriter&) = delete;

  // Creates the file and writes the header and the variable part that `fields.version` calls
  // for. firstBlockOffset points just past the variable part. Every call fails with the system's
  // reason ("No space left on device") once a write has failed; the file is then incomplete.
  Expected<void> Open(const std::string& path, const ZrHeaderFields& fields);

  // Starts a new block (the previous one, if any, is chained to it). blockTick is the recorder's
  // millisecond counter at that moment.
  Expected<void> BeginBlock(uint32_t blockTick = 0);
  // Appends a frame to the current block, starting a block when none is open; a first block
  // begun this way carries the header's createTick, as the recorder begins it with the file.
  Expected<void> WriteFrame(const ZrFrame& frame);
  // Rewrites endTime in the header (a recorder updates it as it goes).
  Expected<void> SetEndTime(int32_t endTime);
  // Finishes the last block and closes the file.
  Expected<void> Close();

  uint64_t bytesWritten() const { return position_; }

 private:
  Expected<void> WriteAt(uint64_t offset, const void* data, size_t size);
  Expected<void> Append(const void* data, size_t size);
  Expected<void> FinishBlock();
  // Why the file cannot be written: the first failure's, for every call after it.
  Expected<void> Failed(int err);
  Expected<void> Status() const;

  std::FILE* file_ = nullptr;
  uint64_t position_ = 0;
  int64_t blockOffset_ = -1;      // header of the open block
  int64_t prevBlockOffset_ = -1;  // header of the block before it
  uint32_t blockFrames_ = 0;
  uint32_t createTick_ = 0;
  int error_ = 0;  // errno of the first failed write, 0 while none
};

}  // namespace zentrova
