#pragma once
// Damages recordings the way recorders and disks do (a power cut, bad sectors, a lost first
// 4 KB, a cut-short or careless copy, a disk image without its file system), so that recovery
// can be measured against a known truth. The choices (which block, which sector, zeros or
// noise, where the fragments go) all come from one seed: a seed gives the same file again.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RecordingLayout.h"

namespace zentrova::zrgen {

enum class DamageClass {
  PowerLoss,       // end time never written, a stale frame count, a link never patched
  BadSectorBlock,  // 512 or 4096 bytes of zeros or noise over a block header
  BadSectorFrame,  // the same over a frame header
  BadSectorVideo,  // the same inside a frame's video data
  LostHeader,      // the first 4096 bytes zeroed, noise, or missing
  Truncated,       // cut at a random point
  Concatenated,    // several recordings one after the other
  DiskImage,       // recordings, whole or in fragments, among random and zero clusters
};

std::optional<DamageClass> DamageClassNamed(std::string_view name);
const char* DamageClassName(DamageClass damage);
std::vector<std::string> DamageClassNames();
// True for the classes that take several recordings.
bool TakesSeveralRecordings(DamageClass damage);

// Bytes [from, from + size) of an input recording lie unchanged in position at `at` of the
// damaged file (the damage may since have overwritten some of them).
struct Placement {
  uint64_t from = 0;
  uint64_t size = 0;
  uint64_t at = 0;
};

struct DamagedFile {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<Placement>> placements;  // per input, in input order
  std::vector<std::string> notes;                  // what was done, with byte offsets
};

// Builds the damaged file in memory; false with `error` when the inputs do not fit the class
// (one recording for the single-file classes, a chain long enough to damage).
bool DamageRecordings(DamageClass damage, const std::vector<RecordingLayout>& inputs, uint64_t seed,
                      int imageMegabytes, DamagedFile& damaged, std::string& error);

struct DamageOptions {
  DamageClass damage = DamageClass::Truncated;
  std::string output;
  std::vector<std::string> inputs;
  uint64_t seed = 1;
  int imageMegabytes = 16;
};

struct DamageReport {
  int frames = 0, intact = 0, showable = 0;
  uint64_t bytes = 0;
  std::string truthPath;
  std::string error;  // empty on success
};

// Reads the inputs, damages them and writes OUTPUT and OUTPUT.truth.
bool WriteDamagedRecording(const DamageOptions& options, DamageReport& report);

}  // namespace zentrova::zrgen
