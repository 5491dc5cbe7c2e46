// convert --report, verify of a report, and the recording left exactly as it was by every kind of
// run.
#include <signal.h>
#include <sys/stat.h>

#include "EvidenceTestSupport.h"
#include "cli/ExitStatus.h"
#include "convert/ConversionReport.h"

namespace zentrova::testing {
namespace {

std::string Sha256sum(const std::string& path) { return Capture("sha256sum '" + path + "'").substr(0, 64); }

std::string ReportLine(const std::string& text, const std::string& name) {
  for (const std::string& line : Lines(text))
    if (line.rfind("  " + name + ": ", 0) == 0) return line.substr(name.size() + 4);
  return "";
}

TEST(Report, NamesTheSha256OfBothFilesAndTheFramesWithoutAPicture) {
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  // The stress walk leaves frames without a picture; the generator says which frames have one.
  zrgen::GeneratorOptions o;
  o.output = zr;
  o.stress = true;
  o.frames = 30;
  o.resolutionCode = 0;
  o.idct = IdctChoice::Plain;
  std::set<int> pictured;
  zrgen::GeneratorReport generated;
  ASSERT_TRUE(zrgen::GenerateRecording(o, generated,
                                       [&](int frame, const zrgen::EncodedPicture&, const zrgen::VideoEncoder&) {
                                         pictured.insert(frame);
                                       }))
      << generated.error;
  ASSERT_GT(generated.framesWithoutPicture, 0);
  std::string black;
  for (int f = 0; f < generated.frames; ++f) {
    if (pictured.count(f)) continue;
    // Runs as the report writes them: "5-6, 9".
    if (!black.empty() && pictured.count(f - 1) == 0 && f > 0) {
      const size_t dash = black.find_last_of("-, ");
      if (dash != std::string::npos && black[dash] == '-')
        black.erase(dash);
      black += "-" + std::to_string(f);
      continue;
    }
    black += (black.empty() ? "" : ", ") + std::to_string(f);
  }

  const std::string out = dir.file("out.avi");
  const CliRun run = RunCli({"convert", zr, out, "--codec", "ffv1", "--report"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string text = ReadAll(dir.file("out.report.txt"));
  const std::string json = ReadAll(dir.file("out.report.json"));
  ASSERT_FALSE(text.empty());
  EXPECT_TRUE(Contains(json, "\"sha256\": \"" + Sha256sum(zr) + "\"")) << json;
  EXPECT_TRUE(Contains(json, "\"sha256\": \"" + Sha256sum(out) + "\"")) << json;
  EXPECT_TRUE(Contains(json, "\"gaps\": []")) << json;
  EXPECT_EQ(ReportLine(text, "black, no picture"), black) << text;
  EXPECT_EQ(ReportLine(text, "damaged, previous picture repeated"), "none");
  EXPECT_EQ(ReportLine(text, "frames"), std::to_string(generated.frames));
  EXPECT_TRUE(Contains(text, "Exit status: 0"));
  EXPECT_TRUE(Contains(text, "  File saved!"));

  const CliRun verified = RunCli({"verify", dir.file("out.report.json")});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  std::string bytes = ReadAll(out);
  bytes[bytes.size() / 2] ^= 1;
  WriteAll(out, bytes);
  const CliRun changed = RunCli({"verify", dir.file("out.report.json")});
  EXPECT_EQ(changed.status, 1);
  EXPECT_TRUE(Contains(changed.out, "has changed")) << changed.out;
}

TEST(Report, ACutEndIsACutAndRepeatedFrameAndTheExitStatusSaysSo) {
  TempDir dir;
  MakeRecording(dir.file("whole.zr"), 30, 0);
  const std::string whole = ReadAll(dir.file("whole.zr"));
  WriteAll(dir.file("cut.zr"), whole.substr(0, whole.size() - 300));
  const CliRun run = RunCli({"convert", dir.file("cut.zr"), dir.file("cut.avi"), "--codec", "raw", "--report"});
  EXPECT_EQ(run.status, 4);
  const std::string text = ReadAll(dir.file("cut.report.txt"));
  EXPECT_EQ(ReportLine(text, "cut short in the recording"), "29") << text;
  EXPECT_EQ(ReportLine(text, "damaged, previous picture repeated"), "29") << text;
  EXPECT_TRUE(Contains(text, "Exit status: 4"));
  EXPECT_TRUE(Contains(text, "frames were cut short in the recording."));
}

TEST(Report, OneBesideEveryOutputOfABatchAndAnEarlierReportIsNotReplacedWithoutOverwrite) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/one.zr"), 6, 0);
  MakeRecording(dir.file("in/two.zr"), 6, 0);
  const CliRun run = RunCli({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw", "--report"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const char* name : {"one", "two"}) {
    const std::string json = ReadAll(dir.file(std::string("out/") + name + ".report.json"));
    EXPECT_TRUE(Contains(json, Sha256sum(dir.file(std::string("out/") + name + ".avi")))) << name;
    EXPECT_TRUE(std::filesystem::exists(dir.file(std::string("out/") + name + ".report.txt")));
  }
  const std::string before = ReadAll(dir.file("out/one.report.json"));
  const CliRun again = RunCli({"convert", dir.file("in/one.zr"), dir.file("out/one.avi"), "--report"});
  EXPECT_NE(again.status, 0);
  EXPECT_EQ(ReadAll(dir.file("out/one.report.json")), before);
  // Without its output the earlier report still stands: nothing is converted over it.
  std::filesystem::remove(dir.file("out/one.avi"));
  const CliRun orphan = RunCli({"convert", dir.file("in/one.zr"), dir.file("out/one.avi"), "--report"});
  EXPECT_EQ(orphan.status, 1);
  EXPECT_TRUE(Contains(orphan.err, "one.report.json exists; -y replaces it")) << orphan.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/one.avi")));
  EXPECT_EQ(ReadAll(dir.file("out/one.report.json")), before);
  EXPECT_EQ(RunCli({"convert", dir.file("in/one.zr"), dir.file("out/one.avi"), "--report", "-y"}).status, 0);
  EXPECT_NE(ReadAll(dir.file("out/one.report.json")), before);
}

// 60 frames at 25 a second (40 ms each) in blocks of 5, the recorder paused for 5 s before frame
// 10 and for 3 s before frame 20: frames 10..19 run from 5400 ms, frames 20.. from 8800 ms.
std::string MakePausedRecording(const std::string& path) {
  zrgen::GeneratorOptions o;
  o.output = path;
  o.resolutionCode = 0;
  o.frames = 60;
  o.framesPerBlock = 5;
  o.startTime = 1700000000;
  o.pauses = {{10, 5000}, {20, 3000}};
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  EXPECT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  return path;
}

TEST(Report, GivesEachPauseOfTheRecorderAmongTheFramesWrittenWithItsTimes) {
  TempDir dir;
  const std::string zr = MakePausedRecording(dir.file("paused.zr"));
  ASSERT_EQ(RunCli({"convert", zr, dir.file("all.avi"), "--codec", "raw", "--report"}).status, 0);
  const std::string json = ReadAll(dir.file("all.report.json"));
  EXPECT_TRUE(Contains(json, "\"gaps\": [{\"frame\": 10, \"recordingFrame\": 10, \"from\": \"2023-11-14T22:13:20.400Z\", "
                             "\"fromMs\": 1700000000400, \"to\": \"2023-11-14T22:13:25.400Z\", \"toMs\": 1700000005400, "
                             "\"seconds\": 5.000},{\"frame\": 20, \"recordingFrame\": 20, "))
      << json;
  EXPECT_TRUE(Contains(json, "\"fromMs\": 1700000005800, \"to\": \"2023-11-14T22:13:28.800Z\", \"toMs\": 1700000008800, "
                             "\"seconds\": 3.000}], \"clock\": \"ticks\""))
      << json;
  const std::string text = ReadAll(dir.file("all.report.txt"));
  EXPECT_TRUE(Contains(text, "  gap in the clock: before frame 10 (frame 10 of the recording): 2023-11-14T22:13:20.400Z "
                             "to 2023-11-14T22:13:25.400Z, 5.000 s\n"))
      << text;

  // A window from 5.5 s begins at frame 13: only the second pause lies among its frames, before
  // its eighth frame.
  ASSERT_EQ(RunCli({"convert", zr, dir.file("part.avi"), "--codec", "raw", "--report", "--from", "5.5"}).status, 0);
  const std::string part = ReadAll(dir.file("part.report.json"));
  EXPECT_TRUE(Contains(part, "\"gaps\": [{\"frame\": 7, \"recordingFrame\": 20, ")) << part;
  EXPECT_TRUE(Contains(part, "\"seconds\": 3.000}]")) << part;
  EXPECT_EQ(ReportLine(ReadAll(dir.file("part.report.txt")), "frames"), "47");

  // A recording without pauses has none, and says its clock was read.
  MakeRecording(dir.file("steady.zr"), 30, 0);
  ASSERT_EQ(RunCli({"convert", dir.file("steady.zr"), dir.file("steady.avi"), "--codec", "raw", "--report"}).status, 0);
  EXPECT_EQ(ReportLine(ReadAll(dir.file("steady.report.txt")), "gaps in the clock"), "none");
}

TEST(BatchReport, NamesEveryRecordingWithBothDigestsAndAnEarlierBatchsReportStays) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("in"));
  MakePausedRecording(dir.file("in/paused.zr"));
  MakeRecording(dir.file("in/steady.zr"), 6, 0);
  WriteAll(dir.file("in/broken.zr"), "not a recording");
  const CliRun run = RunCli({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw", "--report"});
  ASSERT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "Report: " + dir.file("out/zentrova-batch.report.json"))) << run.out;
  const std::string json = ReadAll(dir.file("out/zentrova-batch.report.json"));
  for (const char* name : {"paused", "steady"}) {
    EXPECT_TRUE(Contains(json, Sha256sum(dir.file(std::string("in/") + name + ".zr")))) << name;
    EXPECT_TRUE(Contains(json, Sha256sum(dir.file(std::string("out/") + name + ".avi")))) << name;
  }
  EXPECT_TRUE(Contains(json, Sha256sum(dir.file("in/broken.zr"))));
  EXPECT_TRUE(Contains(json, "\"output\": null, \"status\": \"failed\", \"exitStatus\": 1")) << json;
  EXPECT_TRUE(Contains(json, "\"status\": \"ok\", \"exitStatus\": 0, \"frames\": 60")) << json;
  EXPECT_TRUE(Contains(json, "--codec raw --report\"")) << json;
  EXPECT_TRUE(Contains(json, "\"notStarted\": 0, \"exitStatus\": 1}")) << json;
  const std::string text = ReadAll(dir.file("out/zentrova-batch.report.txt"));
  EXPECT_TRUE(Contains(text, "Recordings (3)")) << text;
  EXPECT_TRUE(Contains(text, "Exit status: 1\n")) << text;
  // The recording's own report, which the row names, has its pauses from its clock.
  EXPECT_TRUE(Contains(json, "\"report\": \"" + dir.file("out/paused.report.json") + "\"")) << json;
  EXPECT_TRUE(Contains(ReadAll(dir.file("out/paused.report.json")), "\"gaps\": [{\"frame\": 10, "));
  // verify checks every file the batch's report names, the failed recording's too.
  const CliRun verified = RunCli({"verify", dir.file("out/zentrova-batch.report.json")});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  EXPECT_EQ(std::count(verified.out.begin(), verified.out.end(), '\n'), 6) << verified.out;

  // A rerun skips the complete outputs, still with their digests, beside the first report.
  std::filesystem::remove(dir.file("in/broken.zr"));
  const CliRun again = RunCli({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw", "--report"});
  ASSERT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_EQ(ReadAll(dir.file("out/zentrova-batch.report.json")), json);
  const std::string rerun = ReadAll(dir.file("out/zentrova-batch-2.report.json"));
  EXPECT_TRUE(Contains(rerun, Sha256sum(dir.file("out/steady.avi")) + "\"}, \"status\": \"skipped\"")) << rerun;
  EXPECT_TRUE(Contains(rerun, "\"exitStatus\": 0}")) << rerun;
  std::string bytes = ReadAll(dir.file("out/steady.avi"));
  bytes[bytes.size() / 2] ^= 1;
  WriteAll(dir.file("out/steady.avi"), bytes);
  const CliRun changed = RunCli({"verify", dir.file("out/zentrova-batch-2.report.json")});
  EXPECT_EQ(changed.status, 1);
  EXPECT_TRUE(Contains(changed.out, "steady.avi has changed")) << changed.out;
}

// The desktop dialog's reports give each outcome the status the command line exits with.
TEST(Report, StatusOfEveryOutcomeIsTheCommandLines) {
  for (JobOutcome outcome :
       {JobOutcome::Saved, JobOutcome::RecordingShort, JobOutcome::WriteFailed, JobOutcome::Cancelled})
    EXPECT_EQ(ReportStatusOf(outcome), cli::ExitStatusOf(outcome));
  EXPECT_EQ(kReportNotStarted, cli::kExitFailed);
}

// The recording's bytes, and its times, after every kind of run that reads it.
TEST(InputUntouched, ByEveryKindOfConversionHashAndVerifyIncludingCancelledAndFailingOnes) {
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  MakeRecording(zr, 400, 130);
  ASSERT_EQ(::chmod(zr.c_str(), 0444), 0);
  const std::string digest = Sha256sum(zr);
  struct stat before {};
  ASSERT_EQ(::stat(zr.c_str(), &before), 0);

  std::vector<std::vector<std::string>> runs = {
      {"convert", zr, dir.file("raw.avi"), "--codec", "raw", "--report"},
      {"convert", zr, dir.file("ffv1.mkv"), "--codec", "ffv1"},
      {"convert", zr, dir.file("mpeg4.mp4")},
      {"convert", zr, dir.file("raw.avi")},                      // refused: the output exists
      {"convert", zr, dir.file("no/such/folder.avi")},           // fails: no folder
      {"convert", zr, zr + ".avi", "--codec", "nonesuch"},       // fails: no such compressor
      {"convert", zr, dir.file("rec.avi"), "--recover"},
      {"convert", zr, "-o", dir.file("batch"), "--report"},
      {"recover", zr, "--list"},
      {"hash", zr},
      {"verify", dir.file("raw.avi"), zr},
      {"verify", dir.file("raw.report.json")},
  };
  for (const auto& args : runs) RunCli(args);
  // Cancelled while it converts.
  bool sent = false;
  const CliRun cancelled = RunProgram({"convert", zr, dir.file("cancelled.avi"), "--codec", "raw"}, false,
                                      [&](const std::string& out, pid_t child) {
                                        if (!sent && Contains(out, "Saving")) {
                                          sent = true;
                                          ::kill(child, SIGINT);
                                        }
                                      });
  EXPECT_TRUE(sent);

  EXPECT_EQ(Sha256sum(zr), digest);
  struct stat after {};
  ASSERT_EQ(::stat(zr.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mode, before.st_mode);
  // We own the file, so O_NOATIME holds: no run moved its access time.
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
}

}  // namespace
}  // namespace zentrova::testing
