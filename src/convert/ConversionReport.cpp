#include "convert/ConversionReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "container/Tags.h"
#include "convert/Digest.h"

namespace zentrova {
namespace {

std::string Utc(int64_t seconds) { return container::IsoUtc(seconds); }

std::string UtcMillis(int64_t millis) {
  char text[8];
  std::snprintf(text, sizeof text, ".%03d", static_cast<int>(millis % 1000));
  std::string iso = Utc(millis / 1000);
  if (!iso.empty() && iso.back() == 'Z') iso.insert(iso.size() - 1, text);
  return iso;
}

}  // namespace

ConversionReport::File FileFacts(const std::string& path) {
  ConversionReport::File file;
  // Absolute, so that the report can be checked from anywhere.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  file.path = error ? path : absolute.lexically_normal().string();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    file.problem = std::strerror(errno);
    return file;
  }
  file.size = static_cast<uint64_t>(st.st_size);
  file.modified = static_cast<int64_t>(st.st_mtim.tv_sec);
  if (auto digest = DigestOfFile(path, DigestKind::Sha256)) {
    file.sha256 = *digest;
  } else {
    file.problem = digest.reason();
  }
  return file;
}

void ReadRecordingFacts(const std::string& path, ConversionReport& report) {
  ZrReader reader;
  RecordingInfo info;
  if (!reader.open(path, &info)) return;
  report.headerRead = true;
  report.version = reader.version();
  report.width = info.width;
  report.height = info.height;
  report.startTime = reader.startTime();
  report.endTime = reader.endTime();
  report.text1 = reader.text1();
  report.text2 = reader.text2();
  report.text3 = reader.text3();
  report.framesDeclared = static_cast<uint32_t>(reader.frameCount());
  reader.close();
}

void TakeLoopResult(const ConversionJob::LoopResult& loop, const DerivedRate& rate, ConversionReport& report) {
  report.frames = loop.framesWritten;
  report.rate = rate.rate.text();
  report.duration = rate.rate.num ? static_cast<double>(loop.framesWritten) * rate.rate.den / rate.rate.num : 0;
  // A file completed short of what was written holds only the frames it says.
  auto within = [&](FrameSpans spans) {
    FrameSpans kept;
    for (FrameSpan s : spans) {
      if (s.first >= loop.framesWritten) break;
      kept.push_back({s.first, std::min(s.last, loop.framesWritten - 1)});
    }
    return kept;
  };
  report.blackFrames = within(loop.blackFrames);
  report.damagedFrames = within(loop.damagedFrames);
  report.cutFrames = loop.cutFrames;
  report.audioBytesDropped = loop.audioBytesDropped;
}

std::string SpansText(const FrameSpans& spans) {
  if (spans.empty()) return "none";
  std::string text;
  for (const FrameSpan& s : spans) {
    if (!text.empty()) text += ", ";
    text += std::to_string(s.first);
    if (s.last != s.first) text += "-" + std::to_string(s.last);
  }
  return text;
}

std::string ReportPath(const std::string& output, const char* extension) {
  std::filesystem::path path(output);
  path.replace_extension();
  return path.string() + ".report." + extension;
}

std::string ReportText(const ConversionReport& r) {
  std::string t;
  auto line = [&t](const std::string& name, const std::string& value) { t += name + ": " + value + "\n"; };
  auto file = [&](const ConversionReport::File& f) {
    line("  path", f.path);
    line("  size", std::to_string(f.size) + " bytes");
    line("  SHA-256", f.sha256.empty() ? "not read (" + f.problem + ")" : f.sha256);
    line("  modified", Utc(f.modified));
  };
  t += "Conversion report\n\nRecording\n";
  file(r.input);
  if (r.headerRead) {
    line("  format version", std::to_string(r.version));
    line("  picture", std::to_string(r.width) + " x " + std::to_string(r.height));
    line("  start", std::to_string(r.startTime) + " on the recorder's clock (" + Utc(r.startTime) + ")");
    line("  end", std::to_string(r.endTime) + " on the recorder's clock (" + Utc(r.endTime) + ")");
    line("  texts", "\"" + r.text1 + "\", \"" + r.text2 + "\", \"" + r.text3 + "\"");
    line("  frames declared", std::to_string(r.framesDeclared));
  } else {
    t += "  header: could not be read\n";
  }
  t += "\nConversion\n";
  line("  program", r.program);
  std::string libs = r.libraries;
  while (!libs.empty() && libs.back() == '\n') libs.pop_back();
  for (size_t at; (at = libs.find('\n')) != std::string::npos;) libs.replace(at, 1, "; ");
  line("  libraries", libs.empty() ? "none loaded" : libs);
  for (const ReportSetting& s : r.settings) line("  " + s.name, s.value);
  line("  started", UtcMillis(r.started));
  line("  ended", UtcMillis(r.ended));
  t += "\nOutput\n";
  file(r.output);
  line("  container", r.container);
  line("  codec", r.codec);
  line("  frames", std::to_string(r.frames));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s at %s frames/s", r.duration, r.rate.c_str());
  line("  duration", seconds);
  t += "\nFrames not shown as recorded (counted from 0)\n";
  line("  black, no picture", SpansText(r.blackFrames));
  line("  damaged, previous picture repeated", SpansText(r.damagedFrames));
  line("  cut short in the recording", SpansText(r.cutFrames));
  line("  sound bytes dropped", std::to_string(r.audioBytesDropped));
  line("  gaps in the clock", SpansText(r.gaps));
  if (r.damage.empty()) line("  damaged spans found by recovery", "none");
  for (const DamagedSpan& d : r.damage)
    line("  damaged span", "bytes " + std::to_string(d.offset) + " to " + std::to_string(d.offset + d.length) + ": " +
                               d.what);
  t += "\nExit status: " + std::to_string(r.exitStatus) + "\n\nLog\n";
  for (const std::string& l : r.log) t += "  " + l + "\n";
  return t;
}

Expected<void> WriteWholeFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto fail = [&](int error) {
    ::unlink(temporary.c_str());
    return Failure(path + ": " + std::strerror(error));
  };
  if (fd < 0) return Failure(path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      return fail(error);
    }
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(fd) != 0 || ::close(fd) != 0) return fail(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  return {};
}

}  // namespace zentrova
