// The command line's conventions: usage errors, versions, info and codecs as JSON, write errors
// on standard output, and the one-file form as it always was.
#include <regex>

#include "CliTestSupport.h"
#include "avi/AviReader.h"
#include "cli/Json.h"
#include "cli/Progress.h"

namespace zentrova::testing {
namespace {

TEST(CliConventions, UsageErrorsExitTwoWithTheUsageLineOnStandardError) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"convert"},
      {"convert", "a.zr", "b.zr", "c.avi"},  // three names and no -o
      {"convert", "a.zr", "-o", "out", "-j", "0"},
      {"convert", "a.zr", "b.avi", "--no-such-option"},
      {"convert", "a.zr", "b.avi", "-y", "-n"},
      {"info"},
      {"frobnicate"},
  };
  for (const auto& args : cases) {
    const CliRun run = RunCli(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_TRUE(Contains(run.err, "Usage: zentrova convert")) << shown << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST(CliConventions, VersionAndHelpGoToStandardOutputAndSucceed) {
  const CliRun version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(Contains(version.out, "zentrova 1.")) << version.out;
  EXPECT_TRUE(Contains(version.out, "libavcodec ")) << version.out;
  const CliRun help = RunCli({"convert", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "--jobs")) << help.out;
  EXPECT_EQ(help.err, "");
}

TEST(CliConventions, InfoOnSeveralRecordingsGivesOneJsonObjectEach) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 5);
  MakeRecording(dir.file("b.zrx"), 3, 130);
  WriteAll(dir.file("bad.zr"), "not a recording at all");
  const CliRun run = RunCli({"info", dir.file("a.zr"), dir.file("bad.zr"), dir.file("b.zrx"), "--json"});
  EXPECT_EQ(run.status, 1);  // one of them is not a recording
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_TRUE(Contains(lines[0], "\"status\": \"ok\""));
  EXPECT_TRUE(Contains(lines[0], "\"frameCount\": 5"));
  EXPECT_TRUE(Contains(lines[1], "\"status\": \"failed\""));
  EXPECT_TRUE(Contains(lines[1], "\"reason\": "));
  EXPECT_TRUE(Contains(lines[2], "\"width\": 352"));
  const std::regex iso("\"startTime\": \"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\"");
  EXPECT_TRUE(std::regex_search(lines[0], iso)) << lines[0];
  EXPECT_TRUE(Contains(run.err, "bad.zr")) << run.err;
}

TEST(CliConventions, CodecsAsJson) {
  const CliRun run = RunCli({"codecs", "--json"});
  EXPECT_EQ(run.status, 0);
  const auto lines = Lines(run.out);
  ASSERT_GE(lines.size(), 2u);
  for (const auto& l : lines) {
    EXPECT_EQ(l.front(), '{');
    EXPECT_EQ(l.back(), '}');
    EXPECT_TRUE(Contains(l, "\"name\": "));
  }
  EXPECT_TRUE(Contains(run.out, "\"name\": \"raw\""));
}

TEST(CliConventions, AWriteErrorOnStandardOutputIsAFailure) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 5);
  // The real program with its standard output on a full device.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int full = ::open("/dev/full", O_WRONLY);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(full, 1);
    ::dup2(null, 2);
    ::execl(ZentrovaProgram().c_str(), "zentrova", "info", dir.file("a.zr").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);

  // In this process: a stream that refuses every byte.
  struct Refusing : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } refusing;
  std::ostream out(&refusing);
  std::ostringstream err;
  std::string a = "zentrova", b = "codecs";
  char* argv[] = {a.data(), b.data(), nullptr};
  EXPECT_EQ(cli::Run(2, argv, out, err), 1);
  EXPECT_TRUE(Contains(err.str(), "cannot write to standard output")) << err.str();
}

TEST(CliConventions, TheOneFileFormPrintsTheJobsLogAndQuietDropsIt) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 10);
  const CliRun first = RunCli({"convert", dir.file("in.zr"), dir.file("out.avi"), "--codec", "mjpeg"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "Saving the AVI file! Please waiting...\nFile saved!\n");
  EXPECT_EQ(avi::ProbeAvi(dir.file("out.avi")).frames, 10u);

  const CliRun replaced = RunCli({"convert", dir.file("in.zr"), dir.file("out.avi"), "-y", "-q"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(replaced.out, "");  // -q: only errors
}

TEST(CliText, JsonStringsStayValidForAnyFileName) {
  EXPECT_EQ(cli::JsonString("a\"b\\c\nd"), "\"a\\\"b\\\\c\\nd\"");
  EXPECT_EQ(cli::JsonString("caf\xC3\xA9"), "\"caf\\u00e9\"");  // plain ASCII out
  EXPECT_EQ(cli::JsonString("\xE2\x82\xAC \xF0\x9F\x8E\xA5"), "\"\\u20ac \\ud83c\\udfa5\"");  // a pair above U+FFFF
  EXPECT_EQ(cli::JsonString("x\xFFy"), "\"x\\ufffdy\"");                             // a stray byte
  EXPECT_EQ(cli::JsonString("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");              // no surrogates
  EXPECT_EQ(cli::JsonString("\xC3"), "\"\\ufffd\"");                                  // cut short
  const std::string row = cli::JsonObject().AddPath("input", "a\xFF.zr").Add("n", 3).Text();
  EXPECT_EQ(row, "{\"input\": \"a\\ufffd.zr\", \"inputBytes\": \"61ff2e7a72\", \"n\": 3}");
  EXPECT_EQ(cli::Printable("two\nlines\xFF.zr"), "two\\nlines\\xff.zr");
  EXPECT_EQ(cli::Iso8601Utc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(cli::Iso8601Utc(1700000000), "2023-11-14T22:13:20Z");
}

TEST(CliText, TheProgressLineFitsItsWidthAndKeepsTheFileName) {
  cli::ProgressFigures f;
  f.framesDone = 250;
  f.framesTotal = 1000;
  f.videoSeconds = 10;
  f.elapsed = 2;
  EXPECT_EQ(cli::ProgressText(f), "frame 250/1000 25.0% 125 fps 5.0x time 0:02 ETA 0:06");
  f.batch = true;
  f.filesDone = 3;
  f.filesTotal = 20;
  f.current = "case 42/disk 1/ch2/ch2-0800.zr";
  EXPECT_EQ(cli::ProgressText(f), "[3/20] frame 250/1000 25.0% 125 fps 5.0x time 0:02 ETA 0:06  " + f.current);
  const std::string narrow = cli::ProgressText(f, 79);
  EXPECT_LE(narrow.size(), 79u);
  EXPECT_TRUE(Contains(narrow, "  ch2-0800.zr")) << narrow;
  EXPECT_EQ(cli::ProgressText(f, 60).find("ch2"), std::string::npos);
  EXPECT_EQ(cli::ClockText(3725), "1:02:05");
}

TEST(CliText, AviProbeTellsAFinishedFileFromACutOne) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 12);
  ASSERT_EQ(RunCli({"convert", dir.file("in.zr"), dir.file("out.avi"), "--codec", "raw"}).status, 0);
  const avi::AviProbe whole = avi::ProbeAvi(dir.file("out.avi"));
  EXPECT_TRUE(whole.isAvi);
  EXPECT_TRUE(whole.finished);
  EXPECT_EQ(whole.frames, 12u);
  EXPECT_GT(whole.rate, 0.0);

  const std::string bytes = ReadAll(dir.file("out.avi"));
  WriteAll(dir.file("cut.avi"), bytes.substr(0, bytes.size() / 2));
  const avi::AviProbe cut = avi::ProbeAvi(dir.file("cut.avi"));
  EXPECT_TRUE(cut.isAvi);
  EXPECT_FALSE(cut.finished);
  WriteAll(dir.file("other.avi"), "RIFX\x10\0\0\0WAVEdata");
  EXPECT_FALSE(avi::ProbeAvi(dir.file("other.avi")).isAvi);
  EXPECT_FALSE(avi::ProbeAvi(dir.file("missing.avi")).isAvi);
}

}  // namespace
}  // namespace zentrova::testing
