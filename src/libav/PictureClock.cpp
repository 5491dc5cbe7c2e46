#include "libav/PictureClock.h"

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace zentrova::libav {
namespace {

// A picture lasts between 1/120 s and 60 s, as the frame rates allowed.
constexpr AVRational kShortestPicture{1, 120};
constexpr AVRational kLongestPicture{60, 1};

}  // namespace

int64_t PictureClock::Start(uint64_t position, uint64_t soundSamples) const {
  const auto n = static_cast<int64_t>(position);
  if (!bySound_ || soundSamples == 0) return av_rescale_q(n, frameTime_, timeBase_);
  // position * sound / (pictures so far): the share of the sound that falls before it.
  const int64_t start = av_rescale(static_cast<int64_t>(soundSamples), n * timeBase_.den,
                                   (n + 1) * sampleRate_ * int64_t{timeBase_.num});
  return std::clamp(start, av_rescale_q(n, kShortestPicture, timeBase_), av_rescale_q(n, kLongestPicture, timeBase_));
}

int64_t PictureClock::Duration(uint64_t position, uint64_t soundSamples) const {
  const int64_t shortest = std::max<int64_t>(1, av_rescale_q(1, kShortestPicture, timeBase_));
  if (!bySound_ || soundSamples == 0) return std::max<int64_t>(1, av_rescale_q(1, frameTime_, timeBase_));
  // The sound so far shared among the pictures so far.
  const auto pictures = static_cast<int64_t>(position) + 1;
  const int64_t share =
      av_rescale(static_cast<int64_t>(soundSamples), timeBase_.den, pictures * sampleRate_ * int64_t{timeBase_.num});
  return std::clamp(share, shortest, std::max(shortest, av_rescale_q(1, kLongestPicture, timeBase_)));
}

}  // namespace zentrova::libav
