#pragma once
// Writes a recording that a scan found as a whole, valid recording of its own: every frame's
// bytes copied unchanged, in the order found, under a header and a block chain built anew, with
// the original times and texts where the header survived. Every other tool then reads it as a
// normal recording.
#include <atomic>
#include <string>

#include "recording/RecordingScan.h"

namespace zentrova {

struct RepairResult {
  bool ok = false;
  uint32_t frames = 0;
  uint64_t bytes = 0;
  std::string error;  // why it failed: the input could not be read, the output not written
};

// Reads `found` from `input` and writes it to `output`, which must not exist unless `overwrite`.
// The file is written under a temporary name beside `output` and takes its name when complete
// and on disk.
RepairResult WriteRepairedRecording(const std::string& input, const FoundRecording& found, const std::string& output,
                                    bool overwrite, const std::atomic<bool>* cancel = nullptr);

}  // namespace zentrova
