#include "gst/Thumbnail.h"

#include <algorithm>
#include <cstring>

#include "audio/G726Decoder.h"
#include "convert/ConversionJob.h"
#include "convert/FramePipeline.h"
#include "gst/RecordingIndex.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "video/VideoDecoder.h"

namespace zentrova::gst {
namespace {

struct Place {
  int32_t block = 0;
  uint32_t frameInBlock = 0;
  uint32_t frame = 0;  // counted from the start of the recording
};

struct OpenRecording {
  ZrReader reader;
  RecordingInfo info;
  std::vector<uint8_t> video;
  std::vector<uint8_t> audio = std::vector<uint8_t>(16);
  FrameRecord record;

  Expected<void> Open(const std::string& path) {
    if (auto opened = reader.open(path, &info); !opened) return Failure(path + ": " + opened.reason());
    video.assign(static_cast<size_t>(info.width) * info.height * 2, 0);
    record.videoData = video.data();
    record.videoCapacity = static_cast<uint32_t>(video.size());
    record.audioData = audio.data();
    record.audioCapacity = static_cast<uint32_t>(audio.size());
    return {};
  }
};

// The intra picture at or before a tenth of the frames: the block holding that frame is read
// from its start, and the blocks before it only while no intra picture has been seen.
std::optional<Place> FindPlace(OpenRecording& r) {
  const auto frames = static_cast<uint32_t>(std::max(r.reader.frameCount(), 0));
  const uint32_t target = frames / 10;
  std::vector<uint32_t> firstOf(static_cast<size_t>(r.reader.blockCount()) + 1, 0);
  int32_t targetBlock = -1;
  for (int32_t b = 0; b < r.reader.blockCount(); ++b) {
    firstOf[b + 1] = firstOf[b] + r.reader.blockFrameCount(b);
    if (targetBlock < 0 && target < firstOf[b + 1]) targetBlock = b;
  }
  if (targetBlock < 0) return std::nullopt;
  // Recordings have an intra picture every second or so; a walk back longer than this finds
  // none worth the wait, and the first frame stands in.
  constexpr uint32_t kMostFramesRead = 25 * 600;
  uint32_t read = 0;
  for (int32_t b = targetBlock; b >= 0 && read < kMostFramesRead; --b) {
    const uint32_t count = r.reader.blockFrameCount(b);
    const uint32_t last = b == targetBlock ? target - firstOf[b] : count - 1;
    std::optional<Place> found;
    for (uint32_t f = 0; f < count && f <= last && read < kMostFramesRead; ++f, ++read) {
      if (!r.reader.fetchFrame(&r.record, f == 0 ? b : -1, 0)) break;
      if (!(r.record.flags & FlagNoPicture) && IsIntraPicture(r.video.data(), r.record.videoBytes))
        found = Place{b, f, firstOf[b] + f};
    }
    if (found) return found;
  }
  return Place{};
}

}  // namespace

Expected<uint32_t> ThumbnailFrame(const std::string& recording) {
  OpenRecording r;
  if (auto opened = r.Open(recording); !opened) return opened.error();
  const std::optional<Place> place = FindPlace(r);
  if (!place) return Failure(recording + ": no frame can be read");
  return place->frame;
}

Expected<Thumbnail> MakeThumbnail(const std::string& recording, int32_t size) try {
  OpenRecording r;
  if (auto opened = r.Open(recording); !opened) return opened.error();
  const std::optional<Place> place = FindPlace(r);
  if (!place || !r.reader.fetchFrame(&r.record, place->block, static_cast<int32_t>(place->frameInBlock)))
    return Failure(recording + ": no frame can be read");
  VideoDecoder decoder;
  if (!decoder.Initialise(GenerationOfVersion(r.reader.version())))
    return Failure(recording + ": the video decoder cannot be prepared");
  G726Decoder unusedSound;
  FrameWork work;
  const int32_t width = r.info.width, height = r.info.height;
  work.Allocate(width, height);
  // The picture as a conversion writes it, black when it cannot be decoded.
  bool referenceGood = true;
  DecodeFrameWork(r.record, decoder, unusedSound, false, width, height, nullptr, referenceGood, work);
  const int32_t outputHeight = ConversionJob::ComputeOutputHeight(width, height);
  std::vector<uint8_t> frame(static_cast<size_t>(width) * outputHeight * 3);
  std::vector<uint8_t> scratch;
  PictureOf(work, width, height, outputHeight, frame.data(), scratch);
  // The conversion's row 0 is the bottom row.
  std::vector<uint8_t> topDown(frame.size());
  const size_t row = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < outputHeight; ++y)
    std::memcpy(&topDown[y * row], &frame[(outputHeight - 1 - y) * row], row);

  Thumbnail t;
  t.frame = place->frame;
  t.bgr = Shrink(topDown, width, outputHeight, size, &t.width, &t.height);
  return t;
} catch (const std::bad_alloc&) {
  return Failure(recording + ": out of memory");
}

std::vector<uint8_t> Shrink(const std::vector<uint8_t>& picture, int32_t width, int32_t height, int32_t size,
                            int32_t* outWidth, int32_t* outHeight) {
  const int32_t longer = std::max(width, height);
  int32_t w = width, h = height;
  if (size > 0 && longer > size) {
    w = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(width) * size / longer));
    h = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(height) * size / longer));
  }
  *outWidth = w;
  *outHeight = h;
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(y) * height / h);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(y + 1) * height / h));
    for (int32_t x = 0; x < w; ++x) {
      const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(x) * width / w);
      const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(static_cast<int64_t>(x + 1) * width / w));
      for (int c = 0; c < 3; ++c) {
        uint32_t sum = 0;
        for (int32_t sy = y0; sy < y1; ++sy)
          for (int32_t sx = x0; sx < x1; ++sx) sum += picture[(static_cast<size_t>(sy) * width + sx) * 3 + c];
        const uint32_t n = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
        out[(static_cast<size_t>(y) * w + x) * 3 + c] = static_cast<uint8_t>((sum + n / 2) / n);
      }
    }
  }
  return out;
}

}  // namespace zentrova::gst
