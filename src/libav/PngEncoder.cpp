// PNG stills through libavcodec's PNG encoder: a 24-bit picture in, the file's bytes out.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <memory>

#include "libav/Module.h"

namespace zentrova::libav {
namespace {

struct ContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

Expected<void> EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png) {
  auto fail = [](const char* why) { return Failure(why); };
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) return fail("libavcodec has no PNG encoder");
  std::unique_ptr<AVCodecContext, ContextFree> ctx(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!ctx || !frame || !packet) return fail("out of memory");
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = AV_PIX_FMT_RGB24;
  ctx->time_base = AVRational{1, 25};
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return fail("the PNG encoder refused the picture size");
  frame->format = AV_PIX_FMT_RGB24;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return fail("out of memory");
  // Bottom-up blue-green-red rows become top-down red-green-blue ones; the values stay.
  const size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = picture + row * static_cast<size_t>(height - 1 - y);
    uint8_t* dst = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < width; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  if (avcodec_send_frame(ctx.get(), frame.get()) < 0 || avcodec_send_frame(ctx.get(), nullptr) < 0)
    return fail("the PNG encoder refused the picture");
  png.clear();
  while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
    png.insert(png.end(), packet->data, packet->data + packet->size);
    av_packet_unref(packet.get());
  }
  if (png.empty()) return fail("the PNG encoder delivered nothing");
  return {};
}

}  // namespace zentrova::libav
