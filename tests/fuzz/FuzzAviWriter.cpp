// Fuzz target: the AVI writer driven by a program of operations read from the input: streams of
// any type and rate created, formats of any size set, samples of any size written at any position,
// handles released in any order, over a sink in memory that fails (like a full disk or an I/O
// error) after a number of bytes or writes the input chooses. Whatever happened, the bytes left in
// the sink must be a sequence of whole RIFF segments.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "MemorySink.h"
#include "avi/AviFile.h"

namespace {

using zentrova::fuzz::Buffer;
using zentrova::fuzz::MemorySink;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The bytes are RIFF segments back to back, each as long as its size says (plus its pad byte).
bool WholeSegments(const Buffer& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 12 || std::memcmp(bytes.data() + at, "RIFF", 4) != 0) return false;
    const uint64_t size = Le32(bytes.data() + at + 4);
    const uint64_t next = at + 8 + size + (size & 1);
    if (next > bytes.size()) return false;
    at = static_cast<size_t>(next);
  }
  return true;
}

constexpr uint32_t kTypes[] = {zentrova::FourCC('v', 'i', 'd', 's'), zentrova::FourCC('a', 'u', 'd', 's'),
                               zentrova::FourCC('t', 'x', 't', 's'), 0};

// ZENTROVA_FUZZ_TRACE=1 prints the operations and the segments left, to read a finding.
const bool kTrace = std::getenv("ZENTROVA_FUZZ_TRACE") != nullptr;

void DumpSegments(const Buffer& bytes) {
  size_t at = 0;
  std::fprintf(stderr, "file: %zu bytes\n", bytes.size());
  while (at + 8 <= bytes.size()) {
    const uint32_t size = Le32(bytes.data() + at + 4);
    std::fprintf(stderr, "  at %zu: %.4s size %u, %.4s\n", at, reinterpret_cast<const char*>(bytes.data() + at), size,
                 at + 12 <= bytes.size() ? reinterpret_cast<const char*>(bytes.data() + at + 8) : "----");
    at += 8 + size + (size & 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrova::fuzz::Bytes in(data, size);
  // Segments small enough that a few writes fill them, and super indexes that run out.
  zentrova::avi::WriterLimits limits;
  limits.segmentBytes = 512 + (static_cast<uint64_t>(in.u16()) << (in.u8() % 12));
  limits.superIndexCapacity = 1 + in.u8() % 8;
  const uint64_t capacity = in.u8() == 0 ? 1000 + in.u16() : (uint64_t{64} << 20);
  const uint32_t failAfterWrites = in.u8() < 32 ? in.u8() : UINT32_MAX;

  Buffer bytes;
  static std::vector<uint8_t> payload(4u << 20, 0x5A);
  bool sinkFailed = false, outOfMemory = false;
  {
    zentrova::fuzz::AllocationBudget budget(data, size);
    std::shared_ptr<zentrova::OutputFile> file;
    std::vector<std::shared_ptr<zentrova::OutputStream>> streams;
    try {
      auto opened = zentrova::avi::OpenAviFile(std::make_unique<MemorySink>(bytes, capacity, failAfterWrites, sinkFailed), limits);
      if (!opened) return 0;
      file = std::move(*opened);
      for (int op = 0; op < 64 && !in.empty(); ++op) {
        const uint8_t code = in.u8();
        auto stream = [&]() -> zentrova::OutputStream* {
          if (streams.empty()) return nullptr;
          return streams[in.u8() % streams.size()].get();
        };
        switch (code % 5) {
          case 0: {
            zentrova::StreamInfo info;
            info.fccType = kTypes[in.u8() % 4];
            info.fccHandler = in.u8() & 1 ? in.u32() : 0;
            info.dwScale = in.u16();
            info.dwRate = in.u32();
            info.dwSampleSize = in.u8() % 5;
            info.dwSuggestedBufferSize = in.u32();
            info.rcFrame = {0, 0, static_cast<int16_t>(in.u16()), static_cast<int16_t>(in.u16())};
            if (in.u8() & 1) info.name.assign(in.u8() % 40, 'n');
            std::shared_ptr<zentrova::OutputStream> s = file ? file->CreateStream(info).valueOr(nullptr) : nullptr;
            const int rc = s ? 0 : -1;
            if (kTrace) std::fprintf(stderr, "create %.4s scale %u rate %u sample %u -> %d\n",
                                     reinterpret_cast<const char*>(&info.fccType), info.dwScale, info.dwRate,
                                     info.dwSampleSize, rc);
            if (rc == 0) streams.push_back(std::move(s));
            break;
          }
          case 1:
            if (auto* s = stream()) {
              const int32_t position = in.u8() % 4 == 0 ? 1 : 0;
              size_t n = in.u8() % 4 == 0 ? in.u16() : 40;
              std::vector<uint8_t> format(n, 0);
              size_t got = n;
              const uint8_t* p = in.take(got);
              if (got) std::memcpy(format.data(), p, got);
              const int rc =
                  s->SetFormat(position, format.empty() ? nullptr : format.data(), static_cast<int32_t>(format.size()))
                          .ok()
                      ? 0
                      : -1;
              if (kTrace) std::fprintf(stderr, "format at %d, %zu bytes -> %d\n", position, format.size(), rc);
            }
            break;
          case 2:
            if (auto* s = stream()) {
              // Starts near the end, behind it, far beyond it, or negative; sizes up to 4 MiB.
              const uint8_t where = in.u8();
              int32_t start = where % 4 == 0 ? static_cast<int32_t>(in.u32()) : -1 + (where >> 2);
              int32_t samples = static_cast<int32_t>(in.u8()) - 8;
              const uint8_t sizing = in.u8();
              int32_t bytesCount = sizing % 8 == 0   ? static_cast<int32_t>(in.u32() % (payload.size() + 1))
                                   : sizing % 8 == 1 ? -static_cast<int32_t>(in.u8())
                                                     : static_cast<int32_t>(in.u16() >> (sizing % 8));
              const uint32_t flags = in.u8() & 1 ? zentrova::kKeyFrame : 0;
              const void* source = in.u8() % 8 == 0 ? nullptr : payload.data();
              const int rc = s->Write(start, samples, source, bytesCount, flags).ok() ? 0 : -1;
              if (kTrace)
                std::fprintf(stderr, "write at %d, %d samples, %d bytes -> %d\n", start, samples, bytesCount, rc);
            }
            break;
          case 3:
            if (!streams.empty()) streams.erase(streams.begin() + in.u8() % streams.size());
            if (kTrace) std::fprintf(stderr, "release a stream\n");
            break;
          default:
            if (in.u8() % 4 == 0) {
              file.reset();  // the streams keep the writer alive; the last release completes it
              if (kTrace) std::fprintf(stderr, "release the file\n");
            } else if (auto* s = stream()) {
              s->Info();
            }
        }
      }
    } catch (const std::bad_alloc&) {
      // Out of memory while the harness builds its records or the writer its buffers; releasing
      // the handles must still be safe.
      outOfMemory = true;
    }
    streams.clear();
    file.reset();
    outOfMemory = outOfMemory || zentrova::fuzz::AllocationBudget::Refused();
  }
  // A sink that keeps failing can leave anything; one that only ran out of room once or more
  // (a full disk, then smaller writes that fit) must hold a file that opens.
  const bool stuck = failAfterWrites != UINT32_MAX && sinkFailed;
  if (kTrace) {
    std::fprintf(stderr, "segment limit %llu, capacity %llu, fail after %u writes, sink failed %d\n",
                 static_cast<unsigned long long>(limits.segmentBytes), static_cast<unsigned long long>(capacity),
                 failAfterWrites, sinkFailed);
    DumpSegments(bytes);
  }
  if (!stuck && !outOfMemory && !bytes.empty() && !WholeSegments(bytes)) __builtin_trap();
  return 0;
}
