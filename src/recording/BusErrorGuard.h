#pragma once
// Reading a mapped file that another program cuts short: the pages past its new end no longer
// exist, and touching one raises SIGBUS, which would end the program. A guarded call turns that
// into a false return instead, for reads of one given range only; any other SIGBUS goes to the
// handler there was before, as if we had never been there.
#include <cstddef>

namespace zentrova {

// Makes sure our handler is the process's SIGBUS handler (another part of the program may have
// set its own since); false when the system refuses, and guarded calls must not be relied on.
bool InstallBusErrorHandler();

// Runs fn(arg); false when a read inside [from, from + length) faulted, which ends fn at once.
// fn must hold nothing that needs freeing or unlocking: it is left, not unwound.
bool RunGuardedCall(const void* from, size_t length, void (*fn)(void*), void* arg);

template <typename Fn>
bool RunGuarded(const void* from, size_t length, Fn& fn) {
  return RunGuardedCall(from, length, [](void* f) { (*static_cast<Fn*>(f))(); }, &fn);
}

}  // namespace zentrova
