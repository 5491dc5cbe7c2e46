#include "app/ConversionWorker.h"

#include "convert/ConversionJob.h"

namespace zentrova::app {

ConversionWorker::ConversionWorker(ConversionJob& job, QObject* parent) : QThread(parent), job_(job) {}

void ConversionWorker::run() {
  result_ = job_.RunFrameLoop(&cancel_, [this](uint32_t done, uint32_t) { framesDone_.store(done, std::memory_order_relaxed); });
}

}  // namespace zentrova::app
