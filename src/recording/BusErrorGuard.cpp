#include "recording/BusErrorGuard.h"

#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <mutex>

namespace zentrova {
namespace {

struct Guard {
  sigjmp_buf jump;
  uintptr_t from = 0, to = 0;
};

// Static TLS: reading it in a signal handler takes no lock and allocates nothing.
[[gnu::tls_model("initial-exec")]] thread_local Guard* current = nullptr;
struct sigaction previous {};
std::mutex installing;

void OnBusError(int, siginfo_t* info, void*) {
  Guard* guard = current;
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  if (guard && at >= guard->from && at < guard->to) siglongjmp(guard->jump, 1);
  // Not a read of ours: the handler from before takes over, and the faulting instruction runs
  // again to meet it.
  sigaction(SIGBUS, &previous, nullptr);
}

}  // namespace

bool InstallBusErrorHandler() {
  std::lock_guard lock(installing);
  struct sigaction now {};
  if (sigaction(SIGBUS, nullptr, &now) != 0) return false;
  if ((now.sa_flags & SA_SIGINFO) && now.sa_sigaction == OnBusError) return true;
  struct sigaction ours {};
  ours.sa_sigaction = OnBusError;
  // SA_NODEFER: the jump out of the handler restores no signal mask, so SIGBUS must not be
  // blocked while it runs.
  ours.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&ours.sa_mask);
  previous = now;
  return sigaction(SIGBUS, &ours, nullptr) == 0;
}

bool RunGuardedCall(const void* from, size_t length, void (*fn)(void*), void* arg) {
  Guard guard;
  guard.from = reinterpret_cast<uintptr_t>(from);
  guard.to = guard.from + length;
  Guard* const outer = current;
  // The mask is not saved: that would cost a system call on every call (see SA_NODEFER above).
  if (sigsetjmp(guard.jump, 0) != 0) {
    current = outer;
    return false;
  }
  current = &guard;
  fn(arg);
  current = outer;
  return true;
}

}  // namespace zentrova
