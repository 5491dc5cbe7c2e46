// Fuzz target: arbitrary bytes as a recording, converted by a whole job into an AVI file in a
// private folder in memory (/dev/shm), removed after each input. Header byte 5, which the reader passes through without
// meaning, picks the compressor (bit 0: Motion JPEG, else uncompressed) and byte 6 the inverse DCT,
// so that seeds stay plain recordings. At most 12 frames are converted: the job is cancelled
// after them, the way the user would.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "convert/ConversionJob.h"

namespace {

constexpr uint32_t kMostFrames = 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrova::fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  const zentrova::fuzz::ScratchFolder folder;
  const std::string output = folder.path() + "/out.avi";
  const uint8_t aux1 = size > 5 ? data[5] : 0;
  const uint8_t aux2 = size > 6 ? data[6] : 0;
  zentrova::JobOptions options;
  options.overwrite = true;
  options.threads = 1;
  options.idct = aux2 & 1 ? zentrova::IdctChoice::Vector : zentrova::IdctChoice::Plain;
  const char* codec = aux1 & 1 ? "mjpeg" : "raw";
  std::atomic<bool> cancel{false};
  {
    zentrova::fuzz::AllocationBudget budget(data, size);
    zentrova::ConversionJob job([](const std::string&) {}, [](const std::string&) {}, options,
                                [](const std::string&) {});
    auto choose = [codec] { return std::optional<zentrova::avi::CompressOptions>({codec, 50}); };
    if (job.Convert(file.path(), output, choose) == zentrova::ConversionJob::Setup::Started) {
      const zentrova::ConversionJob::LoopResult r =
          job.RunFrameLoop(&cancel, [&cancel](uint32_t done, uint32_t) {
            if (done >= kMostFrames) cancel.store(true);
          });
      zentrova::fuzz::AllocationBudget::Pause();
      if (r.framesWritten > r.framesDeclared || r.framesWritten > kMostFrames) __builtin_trap();
      job.Finish();
    }
  }
  return 0;
}
