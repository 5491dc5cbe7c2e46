#include "convert/ConversionJob.h"

#include <gtest/gtest.h>

namespace zentrova {
namespace {

TEST(AviRate, FramesOverDurationPlusOne) {
  EXPECT_EQ(ConversionJob::ComputeRate(250, 1000, 1010), 26u);
  EXPECT_EQ(ConversionJob::ComputeRate(100, 0, 60), 2u);
  EXPECT_EQ(ConversionJob::ComputeRate(30, 0, 60), 1u);
}

}  // namespace
}  // namespace zentrova
