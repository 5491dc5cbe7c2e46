#pragma once
// Searches a file for recordings on a thread of its own, so the window stays responsive while a
// disk image is read; counts the bytes done for the progress display and carries the cancel
// request, which ends the search at once.
#include <QThread>
#include <atomic>
#include <cstdint>
#include <string>

#include "recording/RecordingScan.h"

namespace zentrova::app {

class ScanWorker : public QThread {
  Q_OBJECT

 public:
  explicit ScanWorker(std::string path, QObject* parent = nullptr);

  void RequestCancel() { cancel_.store(true); }
  uint64_t bytesDone() const { return done_.load(std::memory_order_relaxed); }
  uint64_t bytesTotal() const { return total_.load(std::memory_order_relaxed); }
  // What was found; valid once the thread has finished.
  ScanResult& result() { return result_; }

 protected:
  void run() override;

 private:
  std::string path_;
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> total_{0};
  ScanResult result_;
};

}  // namespace zentrova::app
