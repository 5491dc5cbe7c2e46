#pragma once
// An output that writes nothing: it takes the frames a conversion hands to a raw AVI file and
// keeps, per picture, the digest of what a reader of that file decodes (24-bit BGR, top row
// first), the digest of the whole sound (16-bit PCM as stored), and the rate the file would
// carry. `zentrova hash` prints them; `verify` compares them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviFile.h"
#include "convert/Digest.h"
#include "convert/FrameRate.h"

namespace zentrova {

class DigestOutput final : public OutputFile {
 public:
  // Sees every picture as the job hands it over: rows bottom first, width x height x 3 bytes.
  using PictureSink = std::function<void(uint32_t index, const uint8_t* bottomUp, int32_t width, int32_t height)>;

  explicit DigestOutput(DigestKind kind, PictureSink pictures = {});

  Expected<std::shared_ptr<OutputStream>> CreateStream(const StreamInfo& info) override;
  Expected<void> SetTags(const FileTags&) override { return {}; }
  Completion Complete() override { return {pictures_.size(), 0}; }

  const std::vector<std::string>& pictureDigests() const { return pictures_; }
  // The MD5 of the sound's bytes, whatever the pictures' digest.
  std::string soundMd5() const { return soundMd5_; }
  uint64_t soundBytes() const { return soundBytes_; }
  FrameRate rate() const { return rate_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t pictureBytes() const { return static_cast<uint32_t>(width_) * static_cast<uint32_t>(height_) * 3; }

 private:
  class VideoSide;
  class SoundSide;
  friend class VideoSide;
  friend class SoundSide;

  DigestKind kind_;
  PictureSink pictureSink_;
  std::vector<std::string> pictures_;
  Digest pictureDigest_;
  Digest sound_{DigestKind::Md5};
  std::string soundMd5_;
  uint64_t soundBytes_ = 0;
  FrameRate rate_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int streams_ = 0;
  int open_ = 0;  // streams still held: the sound's digest is taken when the last goes
};

// The per-picture lines of ffmpeg's framemd5 (or framehash) text for these digests, header first,
// as `ffmpeg -i OUT.avi -map 0:v -f framemd5 -` prints them for a raw output; `software` names
// the program that made them.
std::string FrameHashText(const DigestOutput& output, DigestKind kind, const std::string& software);

}  // namespace zentrova
