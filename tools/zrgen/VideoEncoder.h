#pragma once
// The closed-loop video encoder: plans each picture against the reference, writes it, and
// decodes the bytes with the converter's own decoder, whose planes become the next reference.
// So inter pictures never drift from what a conversion shows.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PictureSyntax.h"
#include "Planes.h"
#include "video/VideoDecoder.h"

namespace zentrova::zrgen {

struct EncoderSettings {
  uint32_t generation = 0x20020114;  // stamp handed to the decoder that closes the loop
  IdctChoice idct = IdctChoice::Auto;
  int codedWidth = 352;
  int codedHeight = 288;
  int quantiser = 8;        // inter pictures
  int intraQuantiser = 8;   // intra pictures
  int intraPeriod = 25;     // an intra picture every N pictures (1: all intra; 0: only the first)
  int groupCount = 0;       // G of every picture
  bool notCodedWhenStatic = true;  // an inter picture whose macroblocks all skip goes out empty
};

struct EncodedPicture {
  std::vector<uint8_t> bytes;
  bool intra = false;
  bool notCoded = false;
  int skipped = 0, intraMacroblocks = 0, interMacroblocks = 0;
  double psnrY = 0, psnrCb = 0, psnrCr = 0;  // decoded against the source (coded planes)
  std::string error;                          // set when the decoder did not take the picture
};

class VideoEncoder {
 public:
  VideoEncoder();
  ~VideoEncoder();

  // False when the decoder cannot be initialised or the settings are out of range.
  bool Initialise(const EncoderSettings& settings, std::string* error = nullptr);

  // Codes one source picture at the coded size, bottom row first (as the planes hold it).
  EncodedPicture Encode(const Planes& source);

  // Writes a picture planned by someone else (the stress streams) and follows it in the loop.
  EncodedPicture EncodePlan(const PicturePlan& plan);

  // What the decoder holds after the last picture: the reference, at the coded size.
  const Planes& reconstruction() const { return reference_; }
  // The 24-bit picture the decoder delivered for the last picture (enlarged in the newer
  // generation), blue green red, plane row 0 first, and its size.
  const std::vector<uint8_t>& deliveredPicture() const { return picture_; }
  int deliveredWidth() const { return deliveredWidth_; }
  int deliveredHeight() const { return deliveredHeight_; }
  int macroblockColumns() const { return settings_.codedWidth / 16; }
  int macroblockRows() const { return settings_.codedHeight / 16; }
  const EncoderSettings& settings() const { return settings_; }

 private:
  PicturePlan PlanIntra(const Planes& source) const;
  PicturePlan PlanInter(const Planes& source) const;
  bool Decode(const std::vector<uint8_t>& bytes, std::string& error);

  EncoderSettings settings_;
  std::unique_ptr<VideoDecoder> decoder_;
  Planes reference_;
  std::vector<uint8_t> picture_;
  int deliveredWidth_ = 0, deliveredHeight_ = 0;
  int64_t pictureIndex_ = 0;
};

}  // namespace zentrova::zrgen
