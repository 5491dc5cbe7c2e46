#pragma once
// What the tests of whole conversions share: recordings of sound and no pictures with the facts a
// container carries, a job run into any container, ffprobe's word on the result, and the command
// line run by the shell.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "avi/AviTestSupport.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

namespace zentrova::testing {

using avi::testing::RunCommand;
using container::Format;

inline constexpr int32_t kStart = 1200000000;  // 2008-01-10T21:20:00Z

struct Recording {
  int frames = 250;
  int headerSeconds = 10;
  int audioBytes = 120;  // per frame; 120 bytes are 320 samples, 1/25 s
  std::string text1 = "Gate camera", text2 = "North site", text3 = "night shift";
};

inline void Write(const std::string& path, const Recording& r) {
  ZrHeaderFields fields;
  fields.resolutionCode = 128;  // 176 x 144
  fields.startTime = kStart;
  fields.endTime = kStart + r.headerSeconds;
  fields.text1 = r.text1;
  fields.text2 = r.text2;
  fields.text3 = r.text3;
  ZrWriter w;
  ASSERT_TRUE(w.Open(path, fields));
  const std::vector<uint8_t> audio(static_cast<size_t>(r.audioBytes), 0x5A);
  for (int i = 0; i < r.frames; ++i) {
    ZrFrame f;
    f.flags = FlagNoPicture | (r.audioBytes > 0 ? FlagAudio : 0);
    f.audio = audio;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());
}

struct Converted {
  bool saved = false;
  DerivedRate rate;
  std::vector<std::string> log;
};

inline Converted Convert(const std::string& in, const std::string& out, const std::string& codec,
                         JobOptions options = {}) {
  Converted c;
  ConversionJob job([&](const std::string& l) { c.log.push_back(l); }, {}, options);
  c.saved = job.Run(in, out, [&] { return std::optional(avi::CompressOptions{codec, 90}); });
  c.rate = job.rate();
  return c;
}

inline JobOptions In(Format format) {
  JobOptions o;
  o.format = format;
  return o;
}

// One ffprobe entry ("format=duration", "stream=r_frame_rate") of the file or its first video stream.
inline std::string Probe(const std::string& path, const std::string& entry, const std::string& select = "v:0") {
  const std::string streams = select.empty() ? "" : " -select_streams " + select;
  std::string out = RunCommand("ffprobe -v error" + streams + " -count_frames -show_entries " + entry +
                               " -of default=nw=1:nk=1 '" + path + "'");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

inline const char* Extension(Format f) { return f == Format::Avi ? "avi" : container::FormatName(f); }

inline std::string Zentrova() { return std::string(ZENTROVA_BINARY_DIR) + "/src/cli/zentrova"; }

inline int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

inline int RunZentrova(const std::string& args, std::string* err = nullptr, const std::string& errFile = "") {
  int status = -1;
  const std::string redirect = errFile.empty() ? " 2>/dev/null" : " 2>'" + errFile + "'";
  RunCommand("'" + Zentrova() + "' " + args + " >/dev/null" + redirect, &status);
  if (err && !errFile.empty()) {
    const auto bytes = avi::testing::ReadFile(errFile);
    err->assign(bytes.begin(), bytes.end());
  }
  return ExitStatus(status);
}

#define SKIP_WITHOUT_CLI()                                       \
  if (!std::filesystem::exists(::zentrova::testing::Zentrova())) \
  GTEST_SKIP() << "no " << ::zentrova::testing::Zentrova()

// Where a stream's last packet ends, in seconds (decoding times: no codec here reorders), and how
// many packets it has.
struct StreamEnd {
  double end = 0;
  int packets = 0;
};

inline StreamEnd EndOf(const std::string& path, const char* stream) {
  const std::string out = RunCommand("ffprobe -v error -select_streams " + std::string(stream) +
                                     " -show_entries packet=dts_time,duration_time -of csv=p=0 '" + path + "'");
  StreamEnd e;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    ++e.packets;
    e.end = std::max(e.end, std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1));
  }
  return e;
}

}  // namespace zentrova::testing
