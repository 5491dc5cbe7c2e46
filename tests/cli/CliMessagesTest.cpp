// What the command line says when it refuses or finishes: the reason on standard error with the
// exit status of a usage mistake, suggestions for slips of the fingers, output names in any case,
// a JSON object for one recording, info on folders, texts in any encoding, the final stats line.
#include <regex>

#include "CliTestSupport.h"

namespace zentrova::testing {
namespace {

TEST(CliRefusals, NameMistakesExitTwoWithTheReasonOnStandardError) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 3);
  MakeRecording(dir.file("b.zr"), 3);
  std::filesystem::create_directory(dir.file("out"));
  struct Case {
    std::vector<std::string> args;
    std::string reason;
    bool oldLine;  // "Please check the AVI file name(*.avi)!" stays on standard output
  };
  const Case cases[] = {
      {{"convert", dir.file("a.zr"), dir.file("b.zr")}, "several recordings: add -o DIR", true},
      {{"convert", dir.file("a.zr"), dir.file("b.zr"), dir.file("c.avi")}, "several recordings: add -o DIR", false},
      {{"convert", dir.file("a.zr"), dir.file("out.mov")}, "must end in .avi, .mkv or .mp4", true},
      {{"convert", dir.file("a.zr"), dir.file("out")}, "is a folder", true},
      {{"convert", dir.file("a.zr"), "-"}, "standard output", true},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.status, 2) << c.args.back();
    EXPECT_TRUE(Contains(run.err, c.reason)) << run.err;
    EXPECT_EQ(run.out, c.oldLine ? "Please check the AVI file name(*.avi)!\n" : "") << c.args.back();
  }
  // Nothing was written anywhere.
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("out")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
}

TEST(CliRefusals, AviInAnyCaseIsAnAviOutputAsIsANameEndingInAvi) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 3);
  for (const std::string name : {"OUT.AVI", "Out.Avi", "clipavi"}) {
    const CliRun run = RunCli({"convert", dir.file("a.zr"), dir.file(name), "--codec", "raw"});
    EXPECT_EQ(run.status, 0) << name << run.err;
    EXPECT_EQ(ReadAll(dir.file(name)).substr(0, 4), "RIFF") << name;
  }
}

TEST(CliRefusals, SlipsOfTheFingersGetASuggestionAndOptionsComeBeforeFiles) {
  const CliRun command = RunCli({"conver", "a.zr", "b.avi"});
  EXPECT_EQ(command.status, 2);
  EXPECT_TRUE(Contains(command.err, "unknown command \"conver\" (did you mean \"convert\"?)")) << command.err;

  TempDir dir;
  MakeRecording(dir.file("a.zr"), 3);
  WriteAll(dir.file("taken.avi"), "mine");
  // A mistyped codec is said first, before the output that exists.
  const CliRun codec = RunCli({"convert", dir.file("a.zr"), dir.file("taken.avi"), "--codec", "mpg4"});
  EXPECT_EQ(codec.status, 2);
  EXPECT_TRUE(Contains(codec.err, "unknown codec \"mpg4\" (did you mean \"mpeg4\"?)")) << codec.err;
  EXPECT_FALSE(Contains(codec.err, "exists")) << codec.err;
  EXPECT_EQ(ReadAll(dir.file("taken.avi")), "mine");
  // Names in any case.
  const CliRun upper = RunCli({"convert", dir.file("a.zr"), dir.file("b.avi"), "--codec", "RAW"});
  EXPECT_EQ(upper.status, 0) << upper.err;
}

TEST(CliReports, OneRecordingWithJsonGivesOneObjectAndNothingElseOnStandardOutput) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 5);
  const CliRun run = RunCli({"convert", dir.file("a.zr"), dir.file("a.mkv"), "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_TRUE(Contains(lines[0], "\"status\": \"ok\""));
  EXPECT_TRUE(Contains(lines[0], "\"framesWritten\": 5"));
  // The log names the container it writes, on standard error here.
  EXPECT_TRUE(Contains(run.err, "Saving the Matroska file")) << run.err;
  EXPECT_FALSE(Contains(run.err, "Saving the AVI file")) << run.err;
}

TEST(CliReports, InfoSearchesFoldersAndSaysWhatAConversionWouldMake) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("cams/north"));
  MakeRecording(dir.file("cams/north/wide.ZRX"), 3, 3);  // 640 x 240, doubled when converted
  MakeRecording(dir.file("cams/small.zr"), 5);
  WriteAll(dir.file("cams/notes.txt"), "not a recording");
  const CliRun run = RunCli({"info", dir.file("cams")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "== " + dir.file("cams/north/wide.ZRX"))) << run.out;
  EXPECT_TRUE(Contains(run.out, "== " + dir.file("cams/small.zr"))) << run.out;
  EXPECT_FALSE(Contains(run.out, "notes.txt"));
  EXPECT_TRUE(Contains(run.out, "640 x 240 (converted to 640 x 480), 3 frames")) << run.out;
  EXPECT_TRUE(Contains(run.out, "output size:      640 x 480")) << run.out;

  // A recording cut short says so before a conversion does.
  const std::string whole = ReadAll(dir.file("cams/small.zr"));
  WriteAll(dir.file("cut.zr"), whole.substr(0, whole.size() - 600));
  const CliRun cut = RunCli({"info", dir.file("cut.zr")});
  EXPECT_TRUE(Contains(cut.out, "warning:          the file ends after")) << cut.out << cut.err;
  EXPECT_TRUE(Contains(cut.err, "warning")) << cut.err;
}

TEST(CliReports, TextsAreUtf8WhenValidElseWindows1252OrTheEncodingNamed) {
  TempDir dir;
  auto make = [&](const std::string& name, const std::string& text) {
    zrgen::GeneratorOptions o;
    o.output = dir.file(name);
    o.frames = 2;
    o.resolutionCode = 0;
    o.text1 = text;
    zrgen::GeneratorReport report;
    ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  };
  make("utf8.zr", "\xC3\x89v\xC3\xA9nement");  // "Événement" in UTF-8
  make("cp1252.zr", "Caf\xE9 \x80");          // "Café €" in Windows-1252
  make("latin2.zr", "\xB1");                  // "ą" in ISO-8859-2
  EXPECT_TRUE(Contains(RunCli({"info", dir.file("utf8.zr")}).out, "text1:            \xC3\x89v\xC3\xA9nement"));
  EXPECT_TRUE(Contains(RunCli({"info", dir.file("cp1252.zr")}).out, "text1:            Caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_TRUE(Contains(RunCli({"info", dir.file("latin2.zr"), "--text-encoding", "ISO-8859-2"}).out,
                       "text1:            \xC4\x85"));
  const CliRun unknown = RunCli({"info", dir.file("latin2.zr"), "--text-encoding", "NO-SUCH-CODE"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(Contains(unknown.err, "unknown text encoding")) << unknown.err;
}

TEST(CliReports, ATerminalKeepsAFinalStatsLine) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 25);
  const CliRun run = RunProgram({"convert", dir.file("a.zr"), dir.file("a.avi"), "--codec", "raw"}, true);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("25 frames, 0:0\\d of video in \\d+:\\d\\d \\([0-9.]+x\\), \\d+")))
      << run.out;
}

}  // namespace
}  // namespace zentrova::testing
