#pragma once
// Takes the value of a result into `into` for an assertion, which then shows the error's reason:
//   ASSERT_TRUE(Opened(file, avi::OpenAviFile(path)));
#include <utility>

#include <gtest/gtest.h>

#include "base/Expected.h"

namespace zentrova::testing {

template <class T>
::testing::AssertionResult Opened(T& into, Expected<T> result) {
  if (!result) return ::testing::AssertionFailure() << result.reason();
  into = std::move(*result);
  return ::testing::AssertionSuccess();
}

}  // namespace zentrova::testing
