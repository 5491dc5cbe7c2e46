#pragma once
// An error built where memory may be short: the reason falls back to "Out of memory.", which a
// string holds without allocating, so building the refusal never throws.
#include "base/Expected.h"

namespace zentrova {

inline Error Refusal(const char* reason, ErrorKind kind = ErrorKind::Failed) noexcept {
  Error error;
  error.kind = kind;
  try {
    error.reason = reason;
  } catch (...) {
    error.reason = "Out of memory.";
  }
  return error;
}

}  // namespace zentrova
