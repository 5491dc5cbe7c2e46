// Fuzz target: the Matroska and MP4 writers driven by a program of operations read from the
// input: streams created with any rate, picture formats of every codec the writers take (and
// some they do not) with any size and extradata, pictures of any bytes and key flags at any
// position, sound of any length after gaps, rates changed late, tags of any bytes, completion at
// any point; over a sink in memory that fails like a full disk or a dying one. Whatever happened,
// the file may claim no more pictures than were handed over, and what is left must begin the way
// its container begins (the writer cuts a failed file back to its last whole piece, or to
// nothing).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "MemorySink.h"
#include "avi/AviFile.h"
#include "container/ContainerFile.h"
#include "libav/Module.h"

namespace {

using zentrova::FourCC;
using zentrova::container::Format;

constexpr uint32_t kCodecs[] = {0,
                                FourCC('M', 'J', 'P', 'G'),
                                FourCC('X', 'V', 'I', 'D'),
                                FourCC('F', 'M', 'P', '4'),
                                FourCC('H', '2', '6', '4'),
                                FourCC('F', 'F', 'V', '1'),
                                FourCC('D', 'I', 'V', 'X')};

const bool kTrace = std::getenv("ZENTROVA_FUZZ_TRACE") != nullptr;

constexpr uint32_t kMostSound = 64000;

bool BeginsAsItsContainer(const zentrova::fuzz::Buffer& bytes, Format format) {
  if (format == Format::Matroska)
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "\x1A\x45\xDF\xA3", 4) == 0;
  return bytes.size() >= 8 && std::memcmp(bytes.data() + 4, "ftyp", 4) == 0;
}

std::string Text(zentrova::fuzz::Bytes& in) {
  size_t n = in.u8() % 48;
  const uint8_t* p = in.take(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrova::fuzz::Bytes in(data, size);
  const Format format = in.u8() & 1 ? Format::Mp4 : Format::Matroska;
  const uint64_t capacity = in.u8() % 2 == 0 ? 200 + in.u16() * 4 : (uint64_t{64} << 20);
  const uint32_t failAfterWrites = in.u8() < 32 ? in.u8() : UINT32_MAX;

  zentrova::fuzz::Buffer bytes;
  static std::vector<uint8_t> payload(1u << 20, 0xA5);
  static std::vector<int16_t> sound(1u << 16, 0x1234);
  bool sinkFailed = false, outOfMemory = false;
  uint32_t soundGiven = 0;      // samples of sound handed over
  uint64_t picturesHanded = 0;  // one past the last picture position the writer accepted
  zentrova::Completion completion;
  {
    zentrova::fuzz::AllocationBudget budget(data, size);
    std::shared_ptr<zentrova::OutputFile> file;
    std::vector<std::shared_ptr<zentrova::OutputStream>> streams;
    try {
      auto sink = std::make_unique<zentrova::fuzz::MemorySink>(bytes, capacity, failAfterWrites, sinkFailed);
      auto opened = zentrova::libav::OpenMediaFile(format, std::move(sink));
      if (!opened) return 0;
      file = std::move(*opened);
      for (int op = 0; op < 96 && !in.empty(); ++op) {
        const uint8_t code = in.u8();
        auto stream = [&]() -> zentrova::OutputStream* {
          if (streams.empty()) return nullptr;
          return streams[in.u8() % streams.size()].get();
        };
        switch (code % 8) {
          case 0: {
            zentrova::StreamInfo info;
            const uint8_t kind = in.u8();
            info.fccType = kind % 3 == 0   ? FourCC('a', 'u', 'd', 's')
                           : kind % 3 == 1 ? FourCC('v', 'i', 'd', 's')
                                           : FourCC('t', 'x', 't', 's');
            info.dwScale = in.u8() & 1 ? in.u32() : 1;
            info.dwRate = in.u8() & 1 ? in.u32() : 25;
            if (in.u8() & 1) info.dwFlags = zentrova::container::kTimedBySound;
            std::shared_ptr<zentrova::OutputStream> s = file ? file->CreateStream(info).valueOr(nullptr) : nullptr;
            const int rc = s ? 0 : -1;
            if (kTrace) std::fprintf(stderr, "create %.4s %u/%u -> %d\n", reinterpret_cast<const char*>(&info.fccType),
                                     info.dwRate, info.dwScale, rc);
            if (rc == 0) streams.push_back(std::move(s));
            break;
          }
          case 1:
            if (auto* s = stream()) {
              std::vector<uint8_t> record;
              if (s->Info().fccType == FourCC('v', 'i', 'd', 's')) {
                zentrova::BitmapInfoHeader bih;
                bih.biCompression = kCodecs[in.u8() % std::size(kCodecs)];
                bih.biWidth = in.u8() & 1 ? static_cast<int32_t>(in.u32()) : 16 * (1 + in.u8() % 48);
                bih.biHeight = in.u8() & 1 ? static_cast<int32_t>(in.u32()) : 16 * (1 + in.u8() % 36);
                bih.biBitCount = in.u8() & 1 ? in.u16() : 24;
                record.resize(sizeof bih);
                std::memcpy(record.data(), &bih, sizeof bih);
              } else {
                zentrova::WaveFormatEx wfx;
                if (in.u8() & 1) wfx.nSamplesPerSec = in.u32() % 200000;
                if (in.u8() % 8 == 0) wfx.wBitsPerSample = 8;
                record.resize(sizeof wfx);
                std::memcpy(record.data(), &wfx, sizeof wfx);
              }
              // Extradata after the record, or a record cut short.
              const uint8_t shape = in.u8();
              if (shape % 4 == 0) {
                size_t n = in.u8();
                const uint8_t* p = in.take(n);
                record.insert(record.end(), p, p + n);
              } else if (shape % 4 == 1) {
                record.resize(in.u8() % record.size());
              }
              const int rc = s->SetFormat(in.u8() % 8 == 0 ? 1 : 0, record.empty() ? nullptr : record.data(),
                                          static_cast<int32_t>(record.size()))
                                 .ok()
                                 ? 0
                                 : -1;
              if (kTrace) std::fprintf(stderr, "format %zu bytes -> %d\n", record.size(), rc);
            }
            break;
          case 2:
          case 3:
            if (auto* s = stream()) {
              const bool video = s->Info().fccType == FourCC('v', 'i', 'd', 's');
              const uint8_t where = in.u8();
              const int32_t start = where % 4 == 0 ? static_cast<int32_t>(in.u32()) : -1 + (where >> 4);
              int32_t samples = 1, bytesCount = 0;
              const void* source = payload.data();
              if (video) {
                // The picture's bytes from the input (for the muxers that look into them) or filler.
                const uint8_t sizing = in.u8();
                if (sizing % 4 == 0) {
                  size_t n = in.u16() % 4096;
                  source = in.take(n);
                  bytesCount = static_cast<int32_t>(n);
                } else {
                  bytesCount = static_cast<int32_t>(in.u16()) << (sizing % 5);
                }
                if (sizing % 16 == 15) samples = static_cast<int32_t>(in.u8()) - 2;
              } else {
                // Up to half a second a write, and 8 s an input: coding the sound (AAC for MP4) is
                // the slow part, and an input stays well under a second.
                samples = static_cast<int32_t>(in.u16() % 4096);
                if (soundGiven + static_cast<uint32_t>(samples) > kMostSound) samples = 0;
                soundGiven += static_cast<uint32_t>(samples);
                bytesCount = in.u8() % 16 == 0 ? static_cast<int32_t>(in.u16()) : samples * 2;
                source = sound.data();
              }
              const uint32_t flags = in.u8() & 1 ? zentrova::kKeyFrame : 0;
              const int rc = s->Write(start, samples, source, bytesCount, flags).ok() ? 0 : -1;
              // An empty picture counts too: it repeats the one before.
              if (rc == 0 && video) {
                const uint64_t at = start < 0 ? picturesHanded : static_cast<uint64_t>(start);
                picturesHanded = std::max(picturesHanded, at + static_cast<uint64_t>(samples));
              }
              if (kTrace) std::fprintf(stderr, "write %s at %d, %d samples, %d bytes -> %d\n", video ? "picture" : "sound",
                                       start, samples, bytesCount, rc);
            }
            break;
          case 4:
            if (auto* s = stream()) {
              const int rc = s->SetRate(in.u32(), in.u8() & 1 ? in.u32() : 1).ok() ? 0 : -1;
              if (kTrace) std::fprintf(stderr, "rate -> %d\n", rc);
            }
            break;
          case 5:
            if (file) {
              zentrova::FileTags tags;
              tags.hasStartTime = in.u8() & 1;
              tags.startTime = static_cast<int64_t>(static_cast<int32_t>(in.u32())) * (in.u8() % 4 == 0 ? 100000 : 1);
              tags.title = Text(in);
              tags.comment = Text(in);
              tags.software = Text(in);
              (void)file->SetTags(tags);
            }
            break;
          case 6:
            if (!streams.empty()) streams.erase(streams.begin() + in.u8() % streams.size());
            break;
          default:
            if (file && in.u8() % 4 == 0) {
              completion = file->Complete();
              if (kTrace) std::fprintf(stderr, "complete: %llu frames, error %d\n",
                                       static_cast<unsigned long long>(completion.videoFrames), completion.error);
              if (completion.videoFrames != zentrova::Completion::kUnknown &&
                  completion.videoFrames > picturesHanded)
                __builtin_trap();
            }
        }
      }
      if (file) {
        completion = file->Complete();
        if (completion.videoFrames != zentrova::Completion::kUnknown && completion.videoFrames > picturesHanded)
          __builtin_trap();
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
    streams.clear();
    file.reset();
    outOfMemory = outOfMemory || zentrova::fuzz::AllocationBudget::Refused();
  }
  if (kTrace)
    std::fprintf(stderr, "%s, capacity %llu, fail after %u writes, sink failed %d, %zu bytes left\n",
                 format == Format::Mp4 ? "mp4" : "mkv", static_cast<unsigned long long>(capacity), failAfterWrites,
                 sinkFailed, bytes.size());
  if (!outOfMemory && !bytes.empty() && !BeginsAsItsContainer(bytes, format)) __builtin_trap();
  return 0;
}
