#pragma once
// Helpers of the evidence tests: recordings of every resolution, ffmpeg run on the outputs.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CliTestSupport.h"

namespace zentrova::testing {

struct Resolution {
  uint8_t code;
  uint16_t version;
};

// Every resolution code of both codec generations.
inline std::vector<Resolution> AllResolutions() {
  std::vector<Resolution> all;
  for (uint8_t code : {0, 1, 2, 3, 128, 129, 130, 131}) all.push_back({code, 257});
  for (uint8_t code : {4, 5, 132, 133}) all.push_back({code, 4096});
  return all;
}

inline void MakeRecordingOf(const std::string& path, Resolution r, int frames, bool stress = false) {
  zrgen::GeneratorOptions o;
  o.output = path;
  o.resolutionCode = r.code;
  o.version = r.version;
  o.frames = frames;
  o.framesPerBlock = 4;
  o.stress = stress;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
}

// Standard output of a shell command.
inline std::string Capture(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return text;
  char buf[4096];
  for (size_t got; (got = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, got);
  ::pclose(pipe);
  return text;
}

// The lines of a framemd5 text that are not comments: one per picture.
inline std::vector<std::string> FrameLines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(text))
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// The header lines, without the one naming the program that wrote them.
inline std::vector<std::string> HeaderLines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(text))
    if (!line.empty() && line[0] == '#' && line.rfind("#software", 0) != 0 && line.rfind("#audio", 0) != 0)
      lines.push_back(line);
  return lines;
}

inline std::string Ffmpeg(const std::string& args) { return Capture("ffmpeg -nostdin -v error " + args + " 2>&1"); }

inline bool HaveFfmpeg() { return Capture("command -v ffmpeg") != ""; }

}  // namespace zentrova::testing
