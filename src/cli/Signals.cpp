#include "cli/Signals.h"

#include <signal.h>

namespace zentrova::cli {
namespace {

CancelFlags gFlags;

void OnSignal(int sig) {
  gFlags.stop.store(true);
  if (sig == SIGTERM || gFlags.interrupts.fetch_add(1) >= 1) gFlags.cutShort.store(true);
}

}  // namespace

CancelFlags& Cancel() { return gFlags; }

void InstallCancelHandlers() {
  gFlags.interrupts.store(0);
  gFlags.stop.store(false);
  gFlags.cutShort.store(false);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A file-size limit (ulimit -f) fails the write with EFBIG, which the job reports, instead of
  // killing the process before the file is completed.
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace zentrova::cli
