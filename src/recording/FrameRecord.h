#pragma once
// The per-frame transfer record that the reader fills and the decoders read.
#include <cstdint>

namespace zentrova {

struct FrameRecord {
  uint16_t frameTag = 0;
  uint16_t flags = 0;          // FlagNoPicture (bit 0), FlagAudio (bit 15)
  uint32_t frameParam = 0;
  uint32_t videoBytes = 0;     // bytes placed in videoData by the last fetch
  uint8_t* videoData = nullptr;
  uint32_t audioBytes = 0;     // meaningful only when FlagAudio is set
  uint8_t* audioData = nullptr;

  // Capacities of the caller's two buffers. The reader never writes past them: a frame that
  // carries more is cut to the capacity and `cut` is set.
  uint32_t videoCapacity = 0;
  uint32_t audioCapacity = 0;
  bool cut = false;
  // The counts the frame header declares, before any cut: a caller that reads only the first
  // bytes of a frame (its picture header) still learns its sizes.
  uint32_t videoBytesDeclared = 0;
  uint32_t audioBytesDeclared = 0;
  // Frames were lost or skipped right before this one: an inter picture here has lost the
  // picture it was coded against.
  bool afterGap = false;
};

// What opening a recording reports about its pictures.
struct RecordingInfo {
  int32_t aux1 = 0;
  int32_t aux2 = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t sizeFamily = 0;
};

}  // namespace zentrova
