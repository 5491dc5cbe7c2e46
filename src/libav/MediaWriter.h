#pragma once
// A Matroska or MP4 file written as the conversion goes: the header with the first sample, then
// the pictures and the sound as they come (Matroska clusters, MP4 fragments after an MP4 index
// that holds no samples), so that the file is playable up to its last whole cluster or fragment
// whenever the writing stops, by a kill, a full disk or a closed pipe. About once a second the
// muxer is made to hand everything on, and what the file holds then is counted: after a failed
// write the file is cut back to that point and says it holds those frames.
// The pictures are timed as they are written (PictureClock), or by the recording's clock, which
// may also give them a subtitle track of their clock times.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "avi/AviFile.h"
#include "avi/ByteSink.h"
#include "container/ContainerFile.h"
#include "libav/AacEncoder.h"
#include "libav/PictureClock.h"
#include "libav/SinkIo.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace zentrova::libav {

class MediaWriter {
 public:
  MediaWriter(container::Format format, std::unique_ptr<avi::ByteSink> sink);
  ~MediaWriter();
  MediaWriter(const MediaWriter&) = delete;
  MediaWriter& operator=(const MediaWriter&) = delete;

  // The calls of OutputFile and OutputStream, by stream index.
  Expected<int> AddStream(const StreamInfo& info);
  Expected<void> SetFormat(int index, const void* format, int32_t size);
  Expected<void> Write(int index, int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags);
  StreamInfo Info(int index) const;
  Expected<void> SetRate(int index, uint32_t rate, uint32_t scale);
  Expected<void> SetTags(const FileTags& tags);
  Expected<void> SetClock(const OutputClock& clock);
  // Ends the file: what it holds, and the first write that failed.
  Completion Complete();

 private:
  struct Stream {
    StreamInfo info;
    std::vector<uint8_t> format;
    bool video = false;
    uint64_t length = 0;  // frames or samples written, gaps included
    AVStream* st = nullptr;
  };

  Stream* At(int index);
  Stream* Video();
  Stream* Audio();
  bool Start();
  bool DescribeVideo(Stream& s, AVCodecParameters* par);
  bool DescribeAudio(Stream& s, AVCodecParameters* par);
  bool WritePicture(Stream& s, uint64_t at, const void* data, int32_t bytes, bool key);
  bool WriteSound(Stream& s, const int16_t* samples, size_t count);
  bool SendAac(Stream& s, AVPacket* p);
  bool StartCues();
  bool WriteCue(uint64_t at, int64_t pts, int64_t duration, AVRational tb);
  // By the recording's clock: the sound that comes next waits for the next picture when the
  // recorder paused before it.
  bool FollowPause(Stream& sound);
  int64_t SoundOffsetAt(int64_t sample) const;
  bool SendPcm();
  bool Send(AVPacket* packet);
  bool Commit();
  void PatchFrameRate();
  static constexpr AVRational kMilliseconds{1, 1000};
  void HideCueTrack();
  void Finish();

  container::Format format_;
  std::unique_ptr<avi::ByteSink> sink_;
  SinkIo io_;
  AVFormatContext* oc_ = nullptr;
  AacEncoder aac_;
  std::vector<Stream> streams_;
  FileTags tags_;
  std::vector<int16_t> pcm_;  // sound on its way to a Matroska block
  uint64_t soundTaken_ = 0;   // samples taken into Matroska blocks, the one on its way included
  AVRational frameTime_{1, 25};
  PictureClock clock_;
  OutputClock recording_;  // the recording's clock, when the file carries it
  AVStream* cues_ = nullptr;    // the subtitle track of clock times
  bool cueHidden_ = false;      // its MP4 track is marked as not to be shown
  // Where the sound jumps over a pause: from this sample written on, it plays this many samples
  // later than its count (in order; the last one holds from then on).
  std::vector<std::pair<int64_t, int64_t>> soundJumps_;
  int64_t soundPadding_ = 0;  // MP4: silence the AAC encoder took before pauses, beyond the samples written
  int sampleRate_ = 8000;
  int64_t lastPts_ = -1;
  int64_t committedPts_ = 0;  // the time of the last picture counted, in the video stream's units
  uint64_t committedFrames_ = 0;
  uint64_t committedBytes_ = 0;
  bool started_ = false;   // the header is written: the streams and tags are fixed
  bool finished_ = false;
  bool broken_ = false;    // the muxer refused something: nothing more is written
};

}  // namespace zentrova::libav
