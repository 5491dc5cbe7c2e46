#pragma once
// The pictures of one ZR recording held in memory, so that a decode rate measures the decoder
// and nothing of the file.
#include <cstdint>
#include <string>
#include <vector>

#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"

namespace zentrova::bench {

struct RecordingFrames {
  uint32_t stamp = 0x20020114;
  int width = 0;  // the recording's (delivered) picture size
  int height = 0;
  std::vector<std::vector<uint8_t>> pictures;  // video bytes of the frames that hold a picture
  uint64_t videoBytes = 0;
};

inline bool LoadRecordingFrames(const std::string& path, RecordingFrames& out, std::string& error) {
  ZrReader reader;
  reader.setFileErrorSink([&](const std::string& message) { error = message; });
  RecordingInfo info;
  if (auto opened = reader.open(path, &info); !opened) {
    if (error.empty()) error = "cannot open " + path + ": " + opened.reason();
    return false;
  }
  out.stamp = reader.version() == 4096 ? 0x20020219 : 0x20020114;
  out.width = info.width;
  out.height = info.height;
  std::vector<uint8_t> video(614400), audio(65536);
  FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());
  for (int32_t i = 0; i < reader.frameCount(); ++i) {
    if (!reader.fetchFrame(&record, -1, 0)) break;
    if (record.flags & FlagNoPicture) continue;
    out.pictures.emplace_back(video.begin(), video.begin() + record.videoBytes);
    out.videoBytes += record.videoBytes;
  }
  if (out.pictures.empty()) error = path + " holds no pictures";
  return !out.pictures.empty();
}

}  // namespace zentrova::bench
