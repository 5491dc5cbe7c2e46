#pragma once
// What the AVI tests share: synthetic pictures, audio and recordings, a clip written through the layer,
// finding the chunks the AVI reader lists, and running ffprobe/ffmpeg.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "avi/AviFile.h"
#include "avi/AviReader.h"
#include "avi/Compressor.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "support/Opened.h"

namespace zentrova::avi::testing {

// Runs a shell command; its standard output, and its exit status through `status`.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int rc = ::pclose(pipe);
  if (status) *status = rc;
  return out;
}

inline bool HaveFfmpegTools() {
  int a = -1, b = -1;
  RunCommand("ffprobe -version >/dev/null 2>&1", &a);
  RunCommand("ffmpeg -version >/dev/null 2>&1", &b);
  return a == 0 && b == 0;
}

#define SKIP_WITHOUT_FFMPEG() \
  if (!::zentrova::avi::testing::HaveFfmpegTools()) GTEST_SKIP() << "ffprobe/ffmpeg not installed"

// Key=value lines of ffprobe for one stream: codec_name, width, nb_read_packets, ...
inline std::map<std::string, std::string> ProbeStream(const std::string& path, int index) {
  const std::string out = RunCommand(
      "ffprobe -v error -count_packets -select_streams " + std::to_string(index) +
      " -show_entries stream=index,codec_type,codec_name,codec_tag_string,width,height,pix_fmt,"
      "sample_rate,channels,nb_read_packets,r_frame_rate -of default=nw=1 '" + path + "'");
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

inline int StreamCount(const std::string& path) {
  const std::string out =
      RunCommand("ffprobe -v error -show_entries stream=index -of csv=p=0 '" + path + "' | wc -l");
  return std::atoi(out.c_str());
}

// ffmpeg's decoding of one stream: "-map 0:v -f rawvideo -pix_fmt bgr24" style arguments.
inline std::string Decode(const std::string& path, const std::string& args) {
  return RunCommand("ffmpeg -v error -i '" + path + "' " + args + " - 2>/dev/null");
}

// A picture of `width` x `height` 24-bit pixels, bottom row first as the AVI layer takes them.
// Smooth enough for lossy codecs to keep, and different top to bottom and from frame to frame.
inline std::vector<uint8_t> MakePicture(int width, int height, int frame) {
  std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* px = &p[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = static_cast<uint8_t>(40 + 160 * y / height);               // blue rises to the top
      px[1] = static_cast<uint8_t>(40 + 160 * x / width);                // green rises to the right
      px[2] = static_cast<uint8_t>(60 + (frame * 7 + (x + y) / 8) % 120);  // red moves with the frame
    }
  return p;
}

inline std::vector<int16_t> MakeAudio(int samples, int frame) {
  std::vector<int16_t> a(samples);
  for (int i = 0; i < samples; ++i) a[i] = static_cast<int16_t>(((frame * samples + i) * 37) % 20000 - 10000);
  return a;
}

// A recording of `frames` frames over `seconds` seconds, each with 300 audio bytes (800 samples)
// and no picture.
inline void MakeSoundRecording(const std::string& path, uint8_t resolutionCode, int frames, int seconds) {
  ZrHeaderFields fields;
  const bool newer = resolutionCode == 4 || resolutionCode == 5 || resolutionCode == 132 || resolutionCode == 133;
  fields.version = newer ? kVersionNewer : kVersionOlder;
  fields.resolutionCode = resolutionCode;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + seconds;
  ZrWriter writer;
  ASSERT_TRUE(writer.Open(path, fields));
  const std::vector<uint8_t> audio(300, 0x5A);
  for (int i = 0; i < frames; ++i) {
    ZrFrame frame;
    frame.flags = FlagAudio | FlagNoPicture;
    frame.audio = audio;
    ASSERT_TRUE(writer.WriteFrame(frame));
  }
  ASSERT_TRUE(writer.Close());
}

// Rows in display order (top row first) from a bottom-up picture.
inline std::vector<uint8_t> Flip(const std::vector<uint8_t>& p, int width, int height) {
  std::vector<uint8_t> out(p.size());
  const size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) std::memcpy(&out[y * row], &p[(height - 1 - y) * row], row);
  return out;
}

inline StreamInfo VideoInfo(int width, int height, uint32_t rate) {
  StreamInfo info;
  info.fccType = FourCC('v', 'i', 'd', 's');
  info.dwScale = 1;
  info.dwRate = rate;
  info.dwInitialFrames = 1;
  info.dwSuggestedBufferSize = static_cast<uint32_t>(width * height * 3);
  info.rcFrame = {0, 0, width, height};
  return info;
}

inline StreamInfo AudioInfo() {
  StreamInfo info;
  info.fccType = FourCC('a', 'u', 'd', 's');
  info.dwScale = 2;
  info.dwRate = 16000;
  info.dwInitialFrames = 1;
  info.dwSuggestedBufferSize = 1920;
  info.dwSampleSize = 2;
  return info;
}

struct Clip {
  std::string codec = "raw";
  int quality = 90;
  int width = 160;
  int height = 120;
  uint32_t rate = 25;
  int frames = 10;
  int audioPerFrame = 320;  // samples appended before each picture
};

// The streams of one file, made the way the conversion job makes them.
struct ClipWriter {
  std::shared_ptr<OutputFile> file;
  std::shared_ptr<OutputStream> video, compressed, audio;
  int32_t audioPosition = 0;

  // 0 when every creation step succeeded.
  int Open(std::shared_ptr<OutputFile> f, const Clip& clip) {
    file = std::move(f);
    video = file->CreateStream(VideoInfo(clip.width, clip.height, clip.rate)).valueOr(nullptr);
    if (!video) return 1;
    compressed = MakeCompressedStream(video, {clip.codec, clip.quality}).valueOr(nullptr);
    if (!compressed) return 2;
    BitmapInfoHeader bih;
    bih.biWidth = clip.width;
    bih.biHeight = clip.height;
    if (!compressed->SetFormat(0, &bih, sizeof bih)) return 3;
    audio = file->CreateStream(AudioInfo()).valueOr(nullptr);
    if (!audio) return 4;
    WaveFormatEx wfx;
    if (!audio->SetFormat(0, &wfx, sizeof wfx)) return 5;
    return 0;
  }

  // Appends one frame's audio then its picture; 0 when both went in.
  int WriteFrame(const Clip& clip, int i) {
    int failures = 0;
    if (clip.audioPerFrame > 0) {
      const std::vector<int16_t> pcm = MakeAudio(clip.audioPerFrame, i);
      if (audio->Write(audioPosition, clip.audioPerFrame, pcm.data(), clip.audioPerFrame * 2, 0))
        audioPosition += clip.audioPerFrame;
      else
        ++failures;
    }
    const std::vector<uint8_t> picture = MakePicture(clip.width, clip.height, i);
    if (!compressed->Write(i, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame)) ++failures;
    return failures;
  }

  // The job's release order: video stream, compressed stream, audio stream, file.
  void Release() {
    video.reset();
    compressed.reset();
    audio.reset();
    file.reset();
  }
};

// Writes the whole clip into `path`, with the segment limits given.
inline void WriteClip(const std::string& path, const Clip& clip, const WriterLimits& limits = {}) {
  std::shared_ptr<OutputFile> file;
  auto sink = OpenFileSink(path);
  ASSERT_TRUE(sink) << sink.reason();
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(std::move(*sink), limits)));
  ClipWriter w;
  ASSERT_EQ(w.Open(file, clip), 0);
  for (int i = 0; i < clip.frames; ++i) ASSERT_EQ(w.WriteFrame(clip, i), 0) << "frame " << i;
  w.Release();
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pictures and the sound of an uncompressed AVI file, from its chunks.
struct AviStreams {
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint8_t> sound;
};

inline AviStreams ReadStreams(const std::string& path) {
  AviStreams s;
  const std::vector<uint8_t> f = ReadFile(path);
  for (const RiffChunk& c : ListRiffChunks(f)) {
    if (c.path.find("movi/") == std::string::npos || c.path.size() < 4) continue;
    const std::string tail = c.path.substr(c.path.size() - 4);
    if (tail == "00db" || tail == "00dc") s.pictures.emplace_back(f.begin() + c.data, f.begin() + c.data + c.size);
    if (tail == "01wb") s.sound.insert(s.sound.end(), f.begin() + c.data, f.begin() + c.data + c.size);
  }
  return s;
}

inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

inline std::string Tag(uint32_t fourcc) { return std::string(reinterpret_cast<const char*>(&fourcc), 4); }

// The chunks listed at `path` ("AVI /hdrl/strl/strh"), in file order.
inline std::vector<RiffChunk> Find(const std::vector<RiffChunk>& chunks, const std::string& path) {
  std::vector<RiffChunk> found;
  for (const RiffChunk& c : chunks)
    if (c.path == path) found.push_back(c);
  return found;
}

// What the headers and indexes of a file (or of a file cut off anywhere) say, each index entry
// checked against the chunk it points at; `when` goes into the failure messages.
struct Snapshot {
  bool started = false;         // the header holds sizes (the first refresh has been written)
  uint32_t headerFrames = 0;    // video strh length
  uint32_t headerSamples = 0;   // audio strh length
  uint32_t dmlhFrames = 0;
  uint64_t indexedFrames = 0;   // video chunks the super and standard indexes name
  uint64_t indexedSamples = 0;  // audio samples they name
};

inline Snapshot Inspect(const std::vector<uint8_t>& f, const std::string& when) {
  Snapshot s;
  if (f.size() < 12 || Le32(&f[4]) == 0) return s;  // the placeholder header before any sample
  s.started = true;
  EXPECT_LE(Le32(&f[4]) + uint64_t{8}, f.size()) << when;
  const std::vector<RiffChunk> chunks = ListRiffChunks(f);
  const auto strh = Find(chunks, "AVI /hdrl/strl/strh");
  const auto indx = Find(chunks, "AVI /hdrl/strl/indx");
  const auto dmlh = Find(chunks, "AVI /hdrl/odml/dmlh");
  if (strh.size() != 2 || dmlh.size() != 1) {
    ADD_FAILURE() << when << ": header not readable";
    return s;
  }
  s.headerFrames = Le32(&f[strh[0].data + 32]);
  s.headerSamples = Le32(&f[strh[1].data + 32]);
  s.dmlhFrames = Le32(&f[dmlh[0].data]);
  for (const RiffChunk& super : indx) {  // a stream without chunks yet has JUNK in its place
    const uint8_t* sup = &f[super.data];
    const uint32_t chunkId = Le32(sup + 8);
    const int stream = (Tag(chunkId)[0] - '0') * 10 + (Tag(chunkId)[1] - '0');
    const uint32_t used = Le32(sup + 4);
    for (uint32_t e = 0; e < used; ++e) {
      const uint64_t at = Le64(sup + 24 + 16 * e);
      if (at + 32 > f.size()) {
        ADD_FAILURE() << when << ": super index entry " << e << " points past the end";
        continue;
      }
      const std::string tag = Tag(Le32(&f[at]));
      EXPECT_EQ(tag.substr(0, 2), "ix") << when << ": stream " << stream << " entry " << e;
      const uint32_t entries = Le32(&f[at + 12]);
      EXPECT_EQ(Le32(&f[at + 16]), chunkId) << when;
      const uint64_t base = Le64(&f[at + 20]);
      EXPECT_LE(at + 32 + uint64_t{8} * entries, f.size()) << when;
      for (uint32_t i = 0; i < entries && at + 32 + 8 * (i + 1) <= f.size(); ++i) {
        const uint64_t data = base + Le32(&f[at + 32 + 8 * i]);
        const uint32_t size = Le32(&f[at + 36 + 8 * i]) & 0x7FFFFFFF;
        const bool fits = data >= 8 && data + size <= f.size();
        EXPECT_TRUE(fits) << when << ": stream " << stream << " chunk " << i << " is not on disk";
        if (!fits) continue;
        EXPECT_EQ(Le32(&f[data - 8]), chunkId) << when << ": stream " << stream << " chunk " << i;
        EXPECT_EQ(Le32(&f[data - 4]), size) << when;
        if (stream == 0) ++s.indexedFrames;
        if (stream == 1) s.indexedSamples += size / 2;
      }
    }
  }
  return s;
}

}  // namespace zentrova::avi::testing
