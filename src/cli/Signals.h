#pragma once
// Ctrl-C and SIGTERM. The handlers only set flags, and they do not restart system calls, so a
// call that blocks returns with EINTR and the conversion sees the flag.
#include <atomic>

namespace zentrova::cli {

struct CancelFlags {
  std::atomic<int> interrupts{0};    // Ctrl-C presses
  std::atomic<bool> stop{false};     // any signal: start nothing new (one file: cancel it)
  std::atomic<bool> cutShort{false};  // SIGTERM or a second Ctrl-C: cancel the conversions in flight
};

CancelFlags& Cancel();

// Clears the flags and installs the handlers for SIGINT and SIGTERM.
void InstallCancelHandlers();

}  // namespace zentrova::cli
