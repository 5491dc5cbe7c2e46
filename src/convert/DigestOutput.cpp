#include "convert/DigestOutput.h"

#include <cstdio>
#include <cstring>

namespace zentrova {

class DigestOutput::VideoSide final : public OutputStream {
 public:
  explicit VideoSide(DigestOutput& out) : out_(out) {}

  Expected<void> SetFormat(int32_t, const void* format, int32_t size) override {
    if (!format || size < static_cast<int32_t>(sizeof(BitmapInfoHeader)))
      return Refusal("a picture format is shorter than a bitmap header");
    BitmapInfoHeader header;
    std::memcpy(&header, format, sizeof header);
    if (header.biWidth <= 0 || header.biHeight <= 0 || header.biWidth > 4096 || header.biHeight > 4096)
      return Refusal("the picture's size is out of range");
    out_.width_ = header.biWidth;
    out_.height_ = header.biHeight;
    return {};
  }

  // A raw AVI file stores the rows bottom first; a reader hands them over top first.
  Expected<void> Write(int32_t, int32_t samples, const void* data, int32_t bytes, uint32_t) override {
    if (samples != 1 || bytes < 0 || static_cast<uint32_t>(bytes) != out_.pictureBytes())
      return Refusal("a picture is one whole frame of the stream's size");
    const auto* rows = static_cast<const uint8_t*>(data);
    const size_t row = static_cast<size_t>(out_.width_) * 3;
    for (int32_t r = out_.height_ - 1; r >= 0; --r) out_.pictureDigest_.Update(rows + row * r, row);
    if (out_.pictureSink_)
      out_.pictureSink_(static_cast<uint32_t>(out_.pictures_.size()), rows, out_.width_, out_.height_);
    out_.pictures_.push_back(out_.pictureDigest_.Finish());
    return {};
  }

  Expected<void> SetRate(uint32_t rate, uint32_t scale) override {
    out_.rate_ = FrameRate::Reduced(rate, scale);
    return {};
  }

 private:
  DigestOutput& out_;
};

class DigestOutput::SoundSide final : public OutputStream {
 public:
  explicit SoundSide(DigestOutput& out) : out_(out) { ++out_.open_; }
  ~SoundSide() override {
    if (--out_.open_ == 0) out_.soundMd5_ = out_.sound_.Finish();
  }

  Expected<void> SetFormat(int32_t, const void*, int32_t) override { return {}; }

  Expected<void> Write(int32_t, int32_t, const void* data, int32_t bytes, uint32_t) override {
    if (bytes < 0) return Refusal("no sound to write");
    out_.sound_.Update(data, static_cast<size_t>(bytes));
    out_.soundBytes_ += static_cast<uint64_t>(bytes);
    return {};
  }

 private:
  DigestOutput& out_;
};

DigestOutput::DigestOutput(DigestKind kind, PictureSink pictures)
    : kind_(kind), pictureSink_(std::move(pictures)), pictureDigest_(kind) {
  soundMd5_ = Digest(DigestKind::Md5).Finish();  // no sound: the digest of nothing
}

// The pictures first, then the sound, as the job creates them.
Expected<std::shared_ptr<OutputStream>> DigestOutput::CreateStream(const StreamInfo& info) {
  std::shared_ptr<OutputStream> stream;
  if (info.fccType == FourCC('v', 'i', 'd', 's') && streams_ == 0) {
    stream = std::make_shared<VideoSide>(*this);
    rate_ = FrameRate::Reduced(info.dwRate, info.dwScale);
  } else if (info.fccType == FourCC('a', 'u', 'd', 's') && streams_ == 1) {
    stream = std::make_shared<SoundSide>(*this);
  } else {
    return Refusal("the digests take one picture stream, then one sound stream");
  }
  ++streams_;
  return stream;
}

std::string FrameHashText(const DigestOutput& output, DigestKind kind, const std::string& software) {
  const FrameRate tb = output.rate();
  std::string text = "#format: frame checksums\n#version: 2\n";
  text += std::string("#hash: ") + DigestName(kind) + "\n";
  if (!software.empty()) text += "#software: " + software + "\n";
  text += "#tb 0: " + std::to_string(tb.den) + "/" + std::to_string(tb.num) + "\n";
  text += "#media_type 0: video\n#codec_id 0: rawvideo\n";
  text += "#dimensions 0: " + std::to_string(output.width()) + "x" + std::to_string(output.height()) + "\n";
  text += "#sar 0: 0/1\n";
  text += "#stream#, dts,        pts, duration,     size, hash\n";
  const std::vector<std::string>& digests = output.pictureDigests();
  char line[160];
  for (size_t i = 0; i < digests.size(); ++i) {
    std::snprintf(line, sizeof line, "0, %10zu, %10zu, %8d, %8u, %s\n", i, i, 1, output.pictureBytes(),
                  digests[i].c_str());
    text += line;
  }
  return text;
}

}  // namespace zentrova
