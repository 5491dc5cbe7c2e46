#include "libav/EncoderLanes.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <new>
#include <system_error>

namespace zentrova::avi {

EncoderLanes::EncoderLanes(size_t lanes, bool threaded, const OpenEncoder& open, int32_t interval, size_t pictures,
                           NewBuffer newBuffer, Deliver deliver)
    : threaded_(threaded),
      interval_(std::max<int32_t>(1, interval)),
      // An encoder keeps the picture it last coded as its reference: three a lane keep every
      // lane fed.
      mostPictures_(threaded ? std::max(pictures, 3 * lanes) : 3 * lanes),
      newBuffer_(std::move(newBuffer)),
      deliver_(std::move(deliver)),
      lanes_(lanes) {
  pictures_.reserve(mostPictures_);
  bool ready = true;
  for (Lane& lane : lanes_) {
    lane.encoder = open();
    lane.packet = av_packet_alloc();
    ready = ready && lane.encoder && lane.packet;
  }
  try {
    if (ready) {
      if (threaded_) {
        for (Lane& lane : lanes_) lane.thread = std::thread([this, &lane] { Run(lane); });
      }
      return;
    }
  } catch (const std::system_error&) {
  }
  Release();
}

EncoderLanes::~EncoderLanes() {
  Release();
  for (Slot& slot : pictures_) av_frame_free(&slot.frame);
}

void EncoderLanes::Release() {
  Stop();
  for (Lane& lane : lanes_) {
    av_packet_free(&lane.packet);
    avcodec_free_context(&lane.encoder);
  }
  lanes_.clear();
}

void EncoderLanes::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (Lane& lane : lanes_) {
    if (lane.thread.joinable()) lane.thread.join();
  }
}

void EncoderLanes::Run(Lane& lane) {
  for (;;) {
    Job* job = nullptr;
    AVFrame* frame = nullptr;
    {
      std::unique_lock lock(mutex_);
      work_.wait(lock, [&] { return stopping_ || !lane.queue.empty(); });
      if (stopping_) return;
      job = lane.queue.front();
      frame = pictures_[job->picture].frame;
    }
    const bool ok = Code(lane, frame, *job);
    {
      std::lock_guard lock(mutex_);
      lane.queue.pop_front();
      pictures_[job->picture].inLane = false;
      job->failed = !ok;
      job->done = true;
      ++coded_count_;
    }
    coded_.notify_all();
  }
}

bool EncoderLanes::Code(Lane& lane, AVFrame* frame, Job& job) {
  frame->pts = job.pts;
  frame->pict_type = job.key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  frame->quality = lane.encoder->global_quality;
  if (avcodec_send_frame(lane.encoder, frame) < 0) return false;
  return Receive(lane, job);
}

bool EncoderLanes::Receive(Lane& lane, Job& job) {
  for (;;) {
    const int got = avcodec_receive_packet(lane.encoder, lane.packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) return false;
    // Copied out at its own size: the encoder's packet buffer is sized for the worst picture.
    bool kept = true;
    try {  // on a lane's thread: nothing may escape
      Packet& p = job.packets.emplace_back();
      p.pts = lane.packet->pts;
      p.key = (lane.packet->flags & AV_PKT_FLAG_KEY) != 0;
      p.data.assign(lane.packet->data, lane.packet->data + lane.packet->size);
    } catch (const std::bad_alloc&) {
      kept = false;
    }
    av_packet_unref(lane.packet);
    if (!kept) return false;
  }
}

AVFrame* EncoderLanes::Picture() {
  for (;;) {
    WriteFinished(false);
    if (failed_ || finished_) return nullptr;
    size_t reuse = SIZE_MAX;
    {
      std::unique_lock lock(mutex_);
      bool anyInLane = false;
      for (size_t i = 0; i < pictures_.size(); ++i) {
        if (pictures_[i].inLane) {
          anyInLane = true;
          continue;
        }
        if (av_frame_is_writable(pictures_[i].frame)) {
          filling_ = i;
          return pictures_[i].frame;
        }
        reuse = i;
      }
      if (pictures_.size() < mostPictures_) {
        reuse = SIZE_MAX;
      } else if (anyInLane) {
        // Every picture is being coded or held: wait for a lane to finish one.
        const uint64_t seen = coded_count_;
        coded_.wait(lock, [&] { return coded_count_ != seen; });
        continue;
      }
    }
    if (reuse == SIZE_MAX) {
      AVFrame* fresh = av_frame_alloc();
      if (!fresh || !newBuffer_(fresh)) {
        av_frame_free(&fresh);
        return nullptr;
      }
      std::lock_guard lock(mutex_);
      pictures_.push_back(Slot{fresh, false});
      filling_ = pictures_.size() - 1;
      return fresh;
    }
    // The encoders hold every picture as a reference: this one leaves them its buffer and takes
    // a new one.
    AVFrame* frame = pictures_[reuse].frame;
    av_frame_unref(frame);
    if (!newBuffer_(frame)) return nullptr;
    filling_ = reuse;
    return frame;
  }
}

bool EncoderLanes::Submit(int64_t start) {
  if (failed_ || finished_ || filling_ == SIZE_MAX || start < 0) return false;
  Lane& lane = lanes_[static_cast<size_t>(start / interval_) % lanes_.size()];
  Job& job = jobs_.emplace_back();
  job.picture = filling_;
  job.pts = start;
  job.key = start % interval_ == 0;
  filling_ = SIZE_MAX;
  last_ = start;
  if (!threaded_) {
    job.failed = !Code(lane, pictures_[job.picture].frame, job);
    job.done = true;
    WriteFinished(false);
    return !failed_;
  }
  {
    std::lock_guard lock(mutex_);
    pictures_[job.picture].inLane = true;
    lane.queue.push_back(&job);
  }
  work_.notify_all();
  WriteFinished(false);
  return !failed_;
}

void EncoderLanes::WriteFinished(bool all) {
  while (!jobs_.empty()) {
    Job& job = jobs_.front();
    {
      std::unique_lock lock(mutex_);
      if (!job.done) {
        if (!all) return;
        coded_.wait(lock, [&] { return job.done; });
      }
    }
    // Done: its lane no longer touches it.
    if (job.failed) failed_ = true;
    Hand(job.packets);
    jobs_.pop_front();
  }
}

bool EncoderLanes::Flush() {
  WriteFinished(true);
  return !failed_ && !lanes_.empty();
}

bool EncoderLanes::Finish() {
  if (!Flush() || finished_) return !failed_ && !lanes_.empty();
  finished_ = true;
  // What the encoders still hold (nothing, for encoders that put out a packet per picture), lane
  // by lane in the order of their last intervals. Every lane is idle now.
  const int64_t intervals = last_ < 0 ? 0 : last_ / interval_ + 1;
  for (size_t k = 0; k < lanes_.size() && !failed_; ++k) {
    const int64_t interval = intervals - static_cast<int64_t>(lanes_.size()) + static_cast<int64_t>(k);
    if (interval < 0) continue;
    Lane& lane = lanes_[static_cast<size_t>(interval) % lanes_.size()];
    Job rest;
    const bool ok = lane.encoder && avcodec_send_frame(lane.encoder, nullptr) >= 0 && Receive(lane, rest);
    if (!ok) failed_ = true;
    Hand(rest.packets);
  }
  return !failed_;
}

void EncoderLanes::Hand(const std::vector<Packet>& packets) {
  for (const Packet& p : packets) {
    if (failed_) return;
    try {
      if (!deliver_(p.pts, p.data.data(), static_cast<int32_t>(p.data.size()), p.key)) failed_ = true;
    } catch (const std::bad_alloc&) {
      failed_ = true;
      outOfMemory_ = true;
    }
  }
}

}  // namespace zentrova::avi
