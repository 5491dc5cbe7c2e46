#include "MediaSources.h"

#include <cmath>
#include <numbers>

#include "TestPattern.h"

namespace zentrova::zrgen {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f && f != stdin) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenInput(const std::string& path) {
  if (path == "-") return File(stdin);
  return File(std::fopen(path.c_str(), "rb"));
}

bool ReadAll(std::FILE* f, void* data, size_t size) { return size == 0 || std::fread(data, 1, size, f) == size; }

class PatternSource : public PictureSource {
 public:
  PatternSource(int w, int h, bool still) : w_(w), h_(h), still_(still) {}
  bool Next(Planes& out) override {
    out = TestPattern(w_, h_, still_ ? 0 : frame_++);
    return true;
  }

 private:
  int w_, h_;
  bool still_;
  int frame_ = 0;
};

class YuvSource : public PictureSource {
 public:
  YuvSource(File f, int w, int h) : file_(std::move(f)), w_(w), h_(h) {}
  bool Next(Planes& out) override {
    out = Planes(w_, h_);
    return ReadAll(file_.get(), out.y.data(), out.y.size()) && ReadAll(file_.get(), out.cb.data(), out.cb.size()) &&
           ReadAll(file_.get(), out.cr.data(), out.cr.size());
  }

 private:
  File file_;
  int w_, h_;
};

class ToneSource : public SoundSource {
 public:
  ToneSource(double frequency, double amplitude) : step_(2 * std::numbers::pi * frequency / 8000.0), amplitude_(amplitude) {}
  void Next(int16_t* out, int count) override {
    for (int i = 0; i < count; ++i, ++n_)
      out[i] = static_cast<int16_t>(std::lround(amplitude_ * std::sin(step_ * static_cast<double>(n_))));
  }

 private:
  double step_, amplitude_;
  int64_t n_ = 0;
};

class SilenceSource : public SoundSource {
 public:
  void Next(int16_t* out, int count) override {
    for (int i = 0; i < count; ++i) out[i] = 0;
  }
};

class PcmSource : public SoundSource {
 public:
  explicit PcmSource(File f) : file_(std::move(f)) {}
  void Next(int16_t* out, int count) override {
    int got = 0;
    while (file_ && got < count) {
      uint8_t b[2];
      if (std::fread(b, 1, 2, file_.get()) != 2) {
        file_.reset();
        break;
      }
      out[got++] = static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));  // little-endian
    }
    for (; got < count; ++got) out[got] = 0;
  }

 private:
  File file_;
};

}  // namespace

std::unique_ptr<PictureSource> MakePatternSource(int width, int height, bool still) {
  return std::make_unique<PatternSource>(width, height, still);
}

std::unique_ptr<PictureSource> MakeYuvSource(const std::string& path, int width, int height) {
  File f = OpenInput(path);
  if (!f) return nullptr;
  return std::make_unique<YuvSource>(std::move(f), width, height);
}

std::unique_ptr<SoundSource> MakeToneSource(double frequency, double amplitude) {
  return std::make_unique<ToneSource>(frequency, amplitude);
}

std::unique_ptr<SoundSource> MakeSilenceSource() { return std::make_unique<SilenceSource>(); }

std::unique_ptr<SoundSource> MakePcmSource(const std::string& path) {
  File f = OpenInput(path);
  if (!f) return nullptr;
  return std::make_unique<PcmSource>(std::move(f));
}

}  // namespace zentrova::zrgen
