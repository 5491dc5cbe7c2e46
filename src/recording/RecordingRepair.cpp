#include "recording/RecordingRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "recording/ZrWriter.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"

namespace zentrova {
namespace {

constexpr uint32_t kVideoCapacity = 1u << 20;  // the scan takes no frame with more video
constexpr uint32_t kAudioCapacity = 65536;

// Whether the video bytes hold an inter picture (which needs the picture before it).
bool IsInterPicture(const uint8_t* bytes, uint32_t count) {
  uint8_t look[40] = {};
  std::memcpy(look, bytes, std::min<uint32_t>(count, 32));
  BitReader reader;
  reader.Reset(look, std::min<uint32_t>(count, 32));
  if (!FindStartCode(reader)) return false;
  return !ReadPictureHeader(reader).intra();
}

Expected<void> SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failure(std::strerror(errno));
  const bool synced = ::fdatasync(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!synced) return Failure(std::strerror(err));
  return {};
}

void SyncFolder(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

RepairResult WriteRepairedRecording(const std::string& input, const FoundRecording& found, const std::string& output,
                                    bool overwrite, const std::atomic<bool>* cancel) {
  RepairResult result;
  struct stat st {};
  if (!overwrite && ::lstat(output.c_str(), &st) == 0) {
    result.error = output + " exists; -y replaces it";
    return result;
  }
  ZrReader reader;
  RecordingInfo info;
  if (auto opened = reader.openFound(input, found, &info); !opened) {
    result.error = input + ": " + opened.reason();
    return result;
  }
  const std::string temporary = output + ".partial";
  ZrHeaderFields header = found.header;
  if (!found.headerFound) {
    header.text1 = "recovered by zentrova";
    header.limitByte = kMaxLimitByte;
  }
  // An end time never written (a recorder that lost power, a lost header) is set from the sound,
  // 8,000 samples a second, or else the block ticks, so that the repaired file says how long it is.
  const bool endUnknown = header.endTime == header.startTime;
  ZrWriter writer;
  if (auto opened = writer.Open(temporary, header); !opened) {
    result.error = "cannot create " + temporary + ": " + opened.reason();
    return result;
  }
  std::vector<uint8_t> video(kVideoCapacity), audio(kAudioCapacity);
  FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = kVideoCapacity;
  record.audioData = audio.data();
  record.audioCapacity = kAudioCapacity;
  bool referenceLost = false;
  uint64_t samples = 0;
  uint32_t run = 0, inRun = 0;
  Expected<void> written;  // the first failed write of the repaired file
  bool ok = true;
  for (int32_t n = 0; n < reader.frameCount(); ++n) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      result.error = "cancelled";
      ok = false;
      break;
    }
    const auto fetched = reader.fetchFrame(&record, -1, 0);
    if (!fetched || record.cut) {
      // A frame the scan saw whole and the reader cuts: the file changed in between.
      result.error = input + ": " + (fetched ? std::string("the file changed since it was scanned") : fetched.reason());
      ok = false;
      break;
    }
    // Each run of frames found together becomes a block of its own, with its block's tick.
    while (run < found.runs.size() && inRun >= found.runs[run].frames) ++run, inRun = 0;
    if (inRun == 0 && run < found.runs.size() && !(written = writer.BeginBlock(found.runs[run].tick))) {
      ok = false;
      break;
    }
    ++inRun;
    const bool hasPicture = !(record.flags & FlagNoPicture) && record.videoBytes > 0;
    const bool inter = hasPicture && IsInterPicture(record.videoData, record.videoBytes);
    if (record.afterGap && inter) referenceLost = true;
    if (hasPicture && !inter) referenceLost = false;
    ZrFrame frame;
    frame.frameTag = record.frameTag;
    frame.flags = record.flags;
    // An inter picture whose reference was lost would show garbled in any reader: it keeps its
    // bytes and its sound but is marked as holding no picture, so it shows black.
    if (referenceLost && inter) frame.flags |= FlagNoPicture;
    frame.frameParam = record.frameParam;
    frame.video = {record.videoData, record.videoBytes};
    frame.audio = {record.audioData, (record.flags & FlagAudio) ? record.audioBytes : 0u};
    if (!(written = writer.WriteFrame(frame)) || writer.bytesWritten() >= 0xFFFFFFF0u) {
      if (writer.bytesWritten() >= 0xFFFFFFF0u) result.error = "the recording would pass 4 GB, more than its format can hold";
      ok = false;
      break;
    }
    if ((record.flags & FlagAudio) && record.audioBytes > 0) samples += record.audioBytes / 3 * 8;
    ++result.frames;
  }
  if (ok && endUnknown) {
    uint64_t seconds = (samples + 7999) / 8000;
    if (seconds == 0 && found.ticksFound) seconds = (found.lastTick - found.firstTick + 999u) / 1000u;
    if (seconds > 0 && seconds < 0x7FFFFFFF - static_cast<uint64_t>(std::max(header.startTime, 0)))
      ok = (written = writer.SetEndTime(static_cast<int32_t>(header.startTime + static_cast<int64_t>(seconds)))).ok();
  }
  result.bytes = writer.bytesWritten();
  if (Expected<void> closed = writer.Close(); written && !closed) written = closed;
  if (written && ok) written = SyncFile(temporary);
  if (!written || !ok) {
    if (result.error.empty())
      result.error = "cannot write " + temporary + ": " + (written ? std::string(std::strerror(EIO)) : written.reason());
    ::unlink(temporary.c_str());
    return result;
  }
  if (std::rename(temporary.c_str(), output.c_str()) != 0) {
    result.error = "cannot name " + output + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return result;
  }
  SyncFolder(output);
  result.ok = true;
  return result;
}

}  // namespace zentrova
