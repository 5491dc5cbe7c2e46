#pragma once
// Converts one recording of a batch into its row.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "cli/BatchPlan.h"

namespace zentrova::cli::batch {

// The figures the workers update and the reporting thread reads.
struct Shared {
  std::atomic<uint64_t> framesDone{0};
  std::atomic<uint64_t> videoMicros{0};
  std::atomic<uint32_t> filesDone{0};
  std::atomic<size_t> next{0};
  std::atomic<size_t> started{0};
  std::atomic<int> running{0};
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Row> finished;
  std::vector<std::string> inWork;  // one slot per worker
};

// Runs the conversion `plan` decided on, with `threads` threads; the figures go to `shared`. The
// output is made inside the open output folder `outDir`: its folder is opened (made where
// missing) one component at a time without following links, and the output written through it,
// so a folder or a name swapped for a link meanwhile never leads a write outside the output
// folder, and paths longer than the system takes in one call work.
Row ConvertItem(const Plan& plan, int outDir, const ConvertOptions& c, unsigned threads, Shared& shared);

}  // namespace zentrova::cli::batch
