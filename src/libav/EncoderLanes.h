#pragma once
// A stream coded by a fixed number of encoders, each taking whole key-frame intervals in turn:
// lane 0 codes frames 0 .. n-1, lane 1 frames n .. 2n-1, and so on round the lanes. With threads
// the lanes code side by side, no encoder waiting on another picture by picture as slice threads
// do; without, the caller's thread codes each picture in its lane as it comes. An encoder's
// bytes depend on what it coded before (its motion search starts from the last vectors), so the
// lanes, not the threads, decide them: the file is the same either way. The packets reach the
// file in frame order, on the thread that writes the pictures.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
}

namespace zentrova::avi {

class EncoderLanes {
 public:
  // Hands one packet to the file; false when the file refuses it.
  using Deliver = std::function<bool(int64_t pts, const uint8_t* data, int32_t size, bool key)>;
  // Gives a picture of the pool a buffer of its own; false when there is no memory for it.
  using NewBuffer = std::function<bool(AVFrame* picture)>;
  // A new encoder, opened, of the stream's settings; null when it cannot be had.
  using OpenEncoder = std::function<AVCodecContext*()>;

  // `lanes` encoders from `open`, with a thread each when `threaded`; they must put out a packet
  // for every picture as it comes in (no B-frames, no look-ahead). `interval`: frames per
  // key-frame interval. `pictures`: pictures filled and not yet coded at most (the memory the
  // lanes may hold).
  EncoderLanes(size_t lanes, bool threaded, const OpenEncoder& open, int32_t interval, size_t pictures,
               NewBuffer newBuffer, Deliver deliver);
  // Stops the lanes; what they have not handed over is dropped (Finish first to keep it).
  ~EncoderLanes();
  EncoderLanes(const EncoderLanes&) = delete;
  EncoderLanes& operator=(const EncoderLanes&) = delete;

  // False when a lane's encoder or thread could not be had: the caller codes on its own.
  bool started() const { return !lanes_.empty(); }

  // The first lane's encoder, for the stream's format (its extradata); null unless started.
  const AVCodecContext* FirstEncoder() const { return lanes_.empty() ? nullptr : lanes_[0].encoder; }

  // A picture to fill for the next frame, waiting while all are in the lanes; null once
  // something has failed or there is no memory for one. Every write must cover the picture.
  AVFrame* Picture();

  // Codes the picture last given by Picture as the frame at `start` (frames come in order) and
  // hands on every packet that is ready. False when this or an earlier frame failed: the file
  // refused a packet, an encoder or the memory for a packet gave out.
  bool Submit(int64_t start);

  // Waits for every frame submitted and hands on all of them. False as Submit.
  bool Flush();

  // Whether a failure was the memory for handing a packet on running out.
  bool outOfMemory() const { return outOfMemory_; }

  // Flush, and then what the encoders still hold; nothing can be submitted after.
  bool Finish();

 private:
  struct Packet {
    int64_t pts = 0;
    bool key = false;
    std::vector<uint8_t> data;
  };
  struct Job {
    size_t picture = 0;  // in pictures_
    int64_t pts = 0;
    bool key = false;
    bool done = false;  // coded (or failed) by its lane
    bool failed = false;
    std::vector<Packet> packets;
  };
  struct Slot {
    AVFrame* frame = nullptr;
    bool inLane = false;  // submitted and not yet coded
  };
  struct Lane {
    AVCodecContext* encoder = nullptr;
    AVPacket* packet = nullptr;
    std::deque<Job*> queue;  // submitted, in frame order; the front is being coded
    std::thread thread;
  };

  void Run(Lane& lane);
  bool Code(Lane& lane, AVFrame* frame, Job& job);
  // Takes every packet the lane's encoder has ready into `job`.
  static bool Receive(Lane& lane, Job& job);
  // Hands the packets to the file, unless something failed before.
  void Hand(const std::vector<Packet>& packets);
  // Hands on the packets of the finished jobs at the front; with `all`, waits for every job.
  void WriteFinished(bool all);
  void Stop();
  // Stops the lanes and frees their encoders.
  void Release();

  bool threaded_;
  int32_t interval_;
  size_t mostPictures_;
  NewBuffer newBuffer_;
  Deliver deliver_;
  std::vector<Lane> lanes_;
  std::vector<Slot> pictures_;
  size_t filling_ = SIZE_MAX;  // the picture Picture gave out last
  std::deque<Job> jobs_;       // submitted and not yet handed on, in frame order
  int64_t last_ = -1;          // the last frame submitted
  bool failed_ = false;        // a packet was lost: nothing further is coded or handed on
  bool finished_ = false;
  bool outOfMemory_ = false;

  std::mutex mutex_;
  std::condition_variable work_;  // a lane has a job, or the lanes stop
  std::condition_variable coded_;  // a job is done
  uint64_t coded_count_ = 0;  // jobs the lanes have done
  bool stopping_ = false;
};

}  // namespace zentrova::avi
