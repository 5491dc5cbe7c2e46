#include "VideoEncoder.h"

#include "MacroblockCoder.h"

namespace zentrova::zrgen {

namespace {

// The decoder's largest delivered picture: 640 x 480 luminance samples, 3 bytes each.
constexpr size_t kPictureCapacity = 640 * 480 * 3;

void Count(const PicturePlan& plan, EncodedPicture& out) {
  for (const MacroblockPlan& mb : plan.macroblocks) {
    if (mb.mode == MacroblockMode::Skip) ++out.skipped;
    if (mb.mode == MacroblockMode::Intra) ++out.intraMacroblocks;
    if (mb.mode == MacroblockMode::Inter) ++out.interMacroblocks;
  }
}

}  // namespace

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::Initialise(const EncoderSettings& settings, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (settings.codedWidth % 16 != 0 || settings.codedHeight % 16 != 0 || settings.codedWidth <= 0 ||
      settings.codedHeight <= 0 || settings.codedWidth * settings.codedHeight > 640 * 480)
    return fail("the coded size must be whole macroblocks and at most 640 x 480 samples");
  if (settings.quantiser < 1 || settings.quantiser > 255 || settings.intraQuantiser < 1 ||
      settings.intraQuantiser > 255)
    return fail("quantisers must lie in 1..255");
  if (settings.groupCount < 0 || settings.groupCount > 65535) return fail("the group count must fit 16 bits");
  settings_ = settings;
  decoder_ = std::make_unique<VideoDecoder>();
  if (!decoder_->Initialise(settings.generation, settings.idct)) return fail("the video decoder cannot start");
  reference_ = Planes(settings.codedWidth, settings.codedHeight);
  picture_.assign(kPictureCapacity, 0);
  pictureIndex_ = 0;
  return true;
}

PicturePlan VideoEncoder::PlanIntra(const Planes& source) const {
  PicturePlan plan;
  plan.header.intra = true;
  plan.header.typeCode = 0;
  plan.header.width = settings_.codedWidth;
  plan.header.height = settings_.codedHeight;
  plan.header.quantiser = settings_.intraQuantiser;
  plan.header.groupCount = settings_.groupCount;
  for (int row = 0; row < macroblockRows(); ++row)
    for (int column = 0; column < macroblockColumns(); ++column)
      plan.macroblocks.push_back(IntraMacroblock(LoadMacroblock(source, column, row), settings_.intraQuantiser));
  return plan;
}

PicturePlan VideoEncoder::PlanInter(const Planes& source) const {
  PicturePlan plan;
  plan.header.intra = false;
  plan.header.typeCode = 2;
  plan.header.quantiser = settings_.quantiser;
  plan.header.groupCount = settings_.groupCount;
  bool allSkipped = true;
  for (int row = 0; row < macroblockRows(); ++row)
    for (int column = 0; column < macroblockColumns(); ++column) {
      plan.macroblocks.push_back(InterMacroblock(LoadMacroblock(source, column, row),
                                                 LoadMacroblock(reference_, column, row), settings_.quantiser));
      allSkipped = allSkipped && plan.macroblocks.back().mode == MacroblockMode::Skip;
    }
  if (allSkipped && settings_.notCodedWhenStatic) {
    plan.header.coded = false;
    plan.macroblocks.clear();
  }
  return plan;
}

bool VideoEncoder::Decode(const std::vector<uint8_t>& bytes, std::string& error) {
  const DecodeStatus status =
      decoder_->DecodeFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), picture_.data(), picture_.size());
  if (status.failed) {
    error = "the decoder refused the picture";
    return false;
  }
  deliveredWidth_ = status.width;
  deliveredHeight_ = status.height;
  reference_ = PlanesFromRaw(decoder_->planeY(), decoder_->planeCb(), decoder_->planeCr(), settings_.codedWidth,
                             settings_.codedHeight);
  return true;
}

EncodedPicture VideoEncoder::Encode(const Planes& source) {
  const int period = settings_.intraPeriod;
  const bool intra = pictureIndex_ == 0 || (period > 0 && pictureIndex_ % period == 0);
  EncodedPicture out = EncodePlan(intra ? PlanIntra(source) : PlanInter(source));
  out.psnrY = PlanePsnr(source.y, reference_.y);
  out.psnrCb = PlanePsnr(source.cb, reference_.cb);
  out.psnrCr = PlanePsnr(source.cr, reference_.cr);
  return out;
}

EncodedPicture VideoEncoder::EncodePlan(const PicturePlan& plan) {
  EncodedPicture out;
  out.intra = plan.header.intra;
  out.notCoded = !plan.header.intra && !plan.header.coded;
  Count(plan, out);
  out.bytes = WritePicture(plan, &out.error);
  if (out.bytes.empty()) return out;
  ++pictureIndex_;
  Decode(out.bytes, out.error);
  return out;
}

}  // namespace zentrova::zrgen
