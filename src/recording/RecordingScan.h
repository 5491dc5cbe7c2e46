#pragma once
// Finds recordings in any file by their own structure rather than by their block chain: a damaged
// recording (a stale or broken link, a bad sector on a block or frame header, a lost file header),
// several recordings one after another, or recordings lying whole or in fragments inside a disk
// image. The file is read once, front to back, through a window of a few megabytes; only the
// headers and the first bytes of each frame are looked at, and a recording's frames are jumped
// over once its blocks check out.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recording/ZrWriter.h"

namespace zentrova {

// Frames lying back to back: `offset` is the first frame header, in the recording's own offsets.
struct FrameRun {
  uint64_t offset = 0;
  uint32_t frames = 0;
  bool afterGap = false;  // frames were lost or skipped just before this run
  uint32_t tick = 0;      // blockTick of the block they belong to (the last one seen)
};

// Where a recording's bytes lie in the scanned file: its own offsets [from, from + length) are
// at `at`. A recording found whole has one extent; one found in fragments, one per fragment.
struct Extent {
  uint64_t from = 0;
  uint64_t length = 0;
  uint64_t at = 0;
};

// A stretch of the scanned file that the recording should have used and could not.
struct DamagedSpan {
  uint64_t offset = 0;  // in the scanned file
  uint64_t length = 0;
  std::string what;     // "bytes that are no frame of the recording", "a block link to nowhere"
};

struct FoundRecording {
  uint64_t start = 0;  // first and last byte (exclusive) of its bytes in the scanned file
  uint64_t end = 0;
  bool headerFound = false;  // its file header is there and valid; else the fields are inferred
  ZrHeaderFields header;
  bool sizeInferred = false;        // the picture size comes from the pictures (or --size)
  bool generationInferred = false;  // the codec generation likewise
  std::vector<Extent> extents;
  std::vector<FrameRun> runs;
  uint32_t frames = 0;
  uint32_t blocks = 0;
  // Frames that the recording's own block chain reaches, as a plain reading would.
  uint32_t chainFrames = 0;
  std::vector<DamagedSpan> damage;
  std::vector<std::string> notes;  // what else was found or inferred ("the end time was never written")
  uint32_t codedWidth = 0, codedHeight = 0;  // of its first intra picture; 0 when none was seen
  bool ticksFound = false;
  uint32_t firstTick = 0, lastTick = 0;

  bool damaged() const { return !damage.empty() || !headerFound || frames != chainFrames; }
};

struct ScanOptions {
  // Overrides for what a lost header would have said: 0 leaves it to the pictures.
  int32_t width = 0, height = 0;
  uint32_t generation = 0;
  // Part of the file to look at, [from, to); to = 0 means the end.
  uint64_t from = 0, to = 0;
  const std::atomic<bool>* cancel = nullptr;
  // Called now and then with the bytes scanned and the total.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

struct ScanResult {
  std::vector<FoundRecording> recordings;  // in order of position
  uint64_t fileSize = 0;
  uint64_t bytesRead = 0;
  bool cancelled = false;
  std::string error;  // a file error; what was found before it is kept
};

// Scans the file (a regular file or a block device) open at `fd`.
ScanResult ScanRecordings(int fd, const ScanOptions& options = {});
// Opens `path` read-only, scans it and closes it.
ScanResult ScanRecordingFile(const std::string& path, const ScanOptions& options = {});

}  // namespace zentrova
