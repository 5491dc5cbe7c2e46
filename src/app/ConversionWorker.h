#pragma once
// Runs the frame loop of a started conversion on a thread of its own, so the window stays
// responsive; counts the frames done for the progress display and carries the cancel request.
#include <QThread>
#include <atomic>
#include <cstdint>

#include "convert/ConversionJob.h"

namespace zentrova::app {

class ConversionWorker : public QThread {
  Q_OBJECT

 public:
  ConversionWorker(ConversionJob& job, QObject* parent = nullptr);

  // The loop stops after the frame in hand; the file keeps the frames so far.
  void RequestCancel() { cancel_.store(true); }
  bool cancelRequested() const { return cancel_.load(); }

  uint32_t framesDone() const { return framesDone_.load(std::memory_order_relaxed); }
  // How the loop ended; read once the thread has finished.
  const ConversionJob::LoopResult& result() const { return result_; }

 protected:
  void run() override;

 private:
  ConversionJob& job_;
  std::atomic<bool> cancel_{false};
  std::atomic<uint32_t> framesDone_{0};
  ConversionJob::LoopResult result_;
};

}  // namespace zentrova::app
