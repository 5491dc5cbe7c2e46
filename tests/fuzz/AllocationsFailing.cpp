// The failing-allocation build of a target: operator new is replaced so that, while a budget is
// armed, allocations beyond it fail. Outside a budget (libFuzzer's own work, the harness) new
// behaves as usual. The replacement allocates with malloc, which the sanitizers still watch.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

#include "FuzzSupport.h"
#include "libav/Module.h"

namespace {

bool armed = false;
bool refused = false;
uint64_t remaining = 0;

bool Refuse() {
  if (!armed) return false;
  if (remaining == 0) {
    refused = true;
    return true;
  }
  --remaining;
  return false;
}

void* Allocate(size_t size) {
  if (Refuse()) return nullptr;
  return std::malloc(size ? size : 1);
}

void* AllocateAligned(size_t size, std::align_val_t align) {
  if (Refuse()) return nullptr;
  const size_t a = static_cast<size_t>(align);
  const size_t rounded = (size + a - 1) / a * a;
  return std::aligned_alloc(a, rounded ? rounded : a);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(size_t size, std::align_val_t align) {
  if (void* p = AllocateAligned(size, align)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t align) {
  if (void* p = AllocateAligned(size, align)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, align);
}
void* operator new[](size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, align);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace zentrova::fuzz {

AllocationBudget::AllocationBudget(const uint8_t* data, size_t size) {
  uint64_t n = 0;
  if (const char* fixed = std::getenv("ZENTROVA_FUZZ_ALLOCATIONS")) {
    n = std::strtoull(fixed, nullptr, 10);
  } else {
    // FNV-1a of the input: small budgets are the interesting ones, so most land below 64.
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    n = (h >> 8) % ((h & 3) == 0 ? 4096 : 64);
  }
  // The libav module is loaded before the first budget, as a program's libraries are loaded
  // before it runs: their initialisers allocate and cannot survive a refusal.
  static const bool loaded = libav::Load().ok();
  (void)loaded;
  remaining = n;
  refused = false;
  armed = true;
  // An exception that escapes ends the run through terminate: libFuzzer then writes the input,
  // which needs memory.
  static const bool handler = [] {
    std::set_terminate([] {
      armed = false;
      std::abort();
    });
    return true;
  }();
  (void)handler;
}

AllocationBudget::~AllocationBudget() { armed = false; }

void AllocationBudget::Pause() { armed = false; }

bool AllocationBudget::Refused() { return refused; }

}  // namespace zentrova::fuzz
