#pragma once
// Writes one ZR recording: pictures from a source through the closed-loop encoder (or the
// stress walk), sound through the G.726 encoder, frames grouped into chained blocks.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "VideoEncoder.h"

namespace zentrova::zrgen {

enum class VideoInput { Pattern, StillPattern, Yuv };
enum class AudioInput { None, Tone, Silence, Pcm };

struct GeneratorOptions {
  std::string output;
  uint8_t resolutionCode = 130;
  uint16_t version = 257;  // 4096 selects the newer generation and its reduced coded sizes
  int frames = 50;
  int rate = 25;           // pictures per second; each frame carries 8000 / rate samples of sound
  int quantiser = 8;
  int intraQuantiser = 0;  // 0: the same as quantiser
  int intraPeriod = 25;
  int groupCount = 0;
  int framesPerBlock = 25;
  IdctChoice idct = IdctChoice::Auto;
  VideoInput video = VideoInput::Pattern;
  std::string yuvPath;
  AudioInput audio = AudioInput::Tone;
  std::string pcmPath;
  double toneHz = 440.0;
  double toneAmplitude = 24000.0;  // 16-bit scale, like PCM files
  bool stress = false;
  uint32_t seed = 1;
  int32_t startTime = 1700000000;
  // The recorder's millisecond counter when the file was created. Blocks carry it on from there,
  // wrapping at 2^32 as the recorder's own counter does (a start near 4294967295 wraps inside).
  uint32_t createTick = 0;
  // Pauses in recording, as a motion-triggered recorder makes them: before frame `frame` the
  // recorder stopped for `milliseconds`, and the frame begins a new block.
  struct Pause {
    int frame = 0;
    uint32_t milliseconds = 0;
  };
  std::vector<Pause> pauses;
  int32_t utcOffsetHours = 0;  // 0..23, whole hours east of UTC taken modulo 24
  std::string text1 = "zrgen", text2, text3;
};

struct GeneratorReport {
  int frames = 0;
  int pictures = 0, intraPictures = 0, notCodedPictures = 0, framesWithoutPicture = 0, blocks = 0;
  uint64_t videoBytes = 0, audioBytes = 0, fileBytes = 0;
  double psnrY = 0, psnrCb = 0, psnrCr = 0;  // means over the coded pictures from a source
  double minPsnrY = 0;
  int codedWidth = 0, codedHeight = 0;
  std::string error;  // empty on success
};

// Seen after every picture: the frame index, the picture and the encoder that holds its
// reconstruction and the picture the decoder delivered.
using PictureObserver = std::function<void(int frame, const EncodedPicture&, const VideoEncoder&)>;

bool GenerateRecording(const GeneratorOptions& options, GeneratorReport& report, const PictureObserver& observer = {});

// Milliseconds from the start of the recording to frame n: the sound before it, plus the pauses
// before it. The block ticks of a generated recording are createTick plus this.
uint64_t MillisecondsBeforeFrame(const GeneratorOptions& options, int64_t frame);

// Sound samples of frame n at `rate` frames per second: 8000 / rate on average, a multiple of 8.
int AudioSamplesOfFrame(int64_t frame, int rate);

}  // namespace zentrova::zrgen
