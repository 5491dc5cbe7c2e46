#pragma once
// Where pictures and sound come from: the built-in pattern, a tone, silence, or raw yuv420p
// frames and raw s16le PCM from a file or a pipe ("-" is standard input).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Planes.h"

namespace zentrova::zrgen {

class PictureSource {
 public:
  virtual ~PictureSource() = default;
  // The next picture at the recording size, top row first; false when the source has ended.
  virtual bool Next(Planes& out) = 0;
};

class SoundSource {
 public:
  virtual ~SoundSource() = default;
  // Fills `count` samples; a source that has ended delivers silence.
  virtual void Next(int16_t* out, int count) = 0;
};

// `still`: the pattern's first picture over and over (a static scene).
std::unique_ptr<PictureSource> MakePatternSource(int width, int height, bool still = false);
// nullptr when the file cannot be opened.
std::unique_ptr<PictureSource> MakeYuvSource(const std::string& path, int width, int height);

std::unique_ptr<SoundSource> MakeToneSource(double frequency, double amplitude);
std::unique_ptr<SoundSource> MakeSilenceSource();
std::unique_ptr<SoundSource> MakePcmSource(const std::string& path);

}  // namespace zentrova::zrgen
