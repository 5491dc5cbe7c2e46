#include "app/ScanWorker.h"

#include <utility>

namespace zentrova::app {

ScanWorker::ScanWorker(std::string path, QObject* parent) : QThread(parent), path_(std::move(path)) {}

void ScanWorker::run() {
  ScanOptions options;
  options.cancel = &cancel_;
  options.progress = [this](uint64_t done, uint64_t total) {
    done_.store(done, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
  };
  result_ = ScanRecordingFile(path_, options);
}

}  // namespace zentrova::app
