// Damaged recordings on the command line: a plain conversion never passes over frames in silence,
// --recover converts them, `recover` writes repaired recordings, `info` warns. The recordings are
// small zrgen recordings damaged by zrgen's damage classes.
#include "CliTestSupport.h"
#include "avi/AviReader.h"
#include "zrgen/Damage.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMoreFrames = "more frames after the end of the recording's block chain; --recover converts them.";

// `inputs` damaged by `damage` into `output` (the truth beside it); the damage's own figures.
zrgen::DamageReport Damage(zrgen::DamageClass damage, const std::string& output, std::vector<std::string> inputs,
                           uint64_t seed = 1) {
  zrgen::DamageOptions o;
  o.damage = damage;
  o.output = output;
  o.inputs = std::move(inputs);
  o.seed = seed;
  zrgen::DamageReport report;
  EXPECT_TRUE(zrgen::WriteDamagedRecording(o, report)) << report.error;
  return report;
}

// A recording of 60 frames in blocks of 6 that lost power while recording: its chain stops short
// of its last blocks, and on some seeds the file ends inside the last frame. A recovery must
// convert every intact frame.
struct PowerLoss {
  TempDir dir;
  std::string path = dir.file("cam.zr");
  zrgen::DamageReport truth;
  PowerLoss() {
    MakeRecording(dir.file("whole.zr"), 60, 0, 6);
    truth = Damage(zrgen::DamageClass::PowerLoss, path, {dir.file("whole.zr")}, 5);
  }
};

TEST(CliDamaged, APlainConversionOfAPowerLossSaysWhatItLeftOutAndExitsFour) {
  PowerLoss rec;
  ASSERT_GE(rec.truth.intact, 59);
  const CliRun run = RunCli({"convert", rec.path, rec.dir.file("plain.avi"), "--codec", "raw"});
  EXPECT_EQ(run.status, 4) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, kMoreFrames)) << run.out;
  EXPECT_LT(avi::ProbeAvi(rec.dir.file("plain.avi")).frames, static_cast<uint32_t>(rec.truth.intact));
}

TEST(CliDamaged, RecoveringAPowerLossConvertsEveryFrameAndStillExitsFour) {
  PowerLoss rec;
  const CliRun run = RunCli({"convert", "--recover", rec.path, rec.dir.file("out.avi"), "--codec", "raw"});
  EXPECT_EQ(run.status, 4) << run.out << run.err;  // the file was damaged, even though nothing is missing now
  const avi::AviProbe probe = avi::ProbeAvi(rec.dir.file("out.avi"));
  EXPECT_TRUE(probe.finished);
  EXPECT_EQ(probe.frames, static_cast<uint32_t>(rec.truth.intact));
  EXPECT_FALSE(Contains(run.out, kMoreFrames)) << run.out;
  // The report of what was found, on standard error.
  EXPECT_TRUE(Contains(run.err, ": " + std::to_string(rec.truth.intact) + " frames")) << run.err;
  EXPECT_FALSE(fs::exists(rec.dir.file("out-2.avi")));
}

TEST(CliDamaged, TwoRecordingsInOneFileBecomeTwoOutputsInTheirOrder) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 30, 0, 10);
  MakeRecording(dir.file("b.zr"), 20, 0, 10);
  Damage(zrgen::DamageClass::Concatenated, dir.file("both.zr"), {dir.file("a.zr"), dir.file("b.zr")});

  const CliRun plain = RunCli({"convert", dir.file("both.zr"), dir.file("plain.avi"), "--codec", "raw"});
  EXPECT_EQ(plain.status, 4) << plain.out << plain.err;  // never a silent 0 with the second recording left out
  EXPECT_TRUE(Contains(plain.out, "The file holds 20 " + std::string(kMoreFrames))) << plain.out;

  // Each recording is whole: nothing was damaged, so nothing is reported as missing.
  const CliRun run = RunCli({"convert", "--recover", dir.file("both.zr"), dir.file("out.avi"), "--codec", "raw"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(avi::ProbeAvi(dir.file("out.avi")).frames, 30u);
  EXPECT_EQ(avi::ProbeAvi(dir.file("out-2.avi")).frames, 20u);
  EXPECT_FALSE(fs::exists(dir.file("out-3.avi")));
  EXPECT_TRUE(Contains(run.err, "recording 2 of 2")) << run.err;
}

TEST(CliDamaged, AValidRecordingConvertsTheSameWithRecoverAndExitsZero) {
  TempDir dir;
  MakeRecording(dir.file("cam.zr"), 30, 0, 10);
  const CliRun plain = RunCli({"convert", dir.file("cam.zr"), dir.file("plain.avi"), "--codec", "raw", "--idct", "plain"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const CliRun recovered =
      RunCli({"convert", "--recover", dir.file("cam.zr"), dir.file("recovered.avi"), "--codec", "raw", "--idct", "plain"});
  EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
  EXPECT_TRUE(Contains(recovered.err, "undamaged")) << recovered.err;
  EXPECT_TRUE(ReadAll(dir.file("plain.avi")) == ReadAll(dir.file("recovered.avi")));
  EXPECT_FALSE(fs::exists(dir.file("recovered-2.avi")));
}

TEST(CliDamaged, RecoverWritesARecordingThatInfoReadsWithoutWarnings) {
  // A sector of zeros over the header of block 3 (of 10): the chain's link into it reads as 0.
  TempDir dir;
  MakeRecording(dir.file("whole.zr"), 60, 0, 6);
  const zrgen::DamageReport truth = Damage(zrgen::DamageClass::BadSectorBlock, dir.file("cam.zr"), {dir.file("whole.zr")}, 3);
  const std::string found = dir.file("found");
  const CliRun run = RunCli({"recover", dir.file("cam.zr"), "-o", found});
  EXPECT_EQ(run.status, 4) << run.err;
  const std::string repaired = found + "/cam.zr";
  ASSERT_TRUE(fs::exists(repaired)) << run.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(found), fs::directory_iterator()), 1);  // nothing beside it
  const CliRun plain = RunCli({"convert", dir.file("cam.zr"), dir.file("plain.avi"), "--codec", "raw"});
  EXPECT_EQ(plain.status, 4);

  const CliRun info = RunCli({"info", repaired});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_FALSE(Contains(info.out + info.err, "warning")) << info.out << info.err;
  const CliRun json = RunCli({"info", "--json", repaired});
  EXPECT_TRUE(Contains(json.out, "\"warnings\": []")) << json.out;

  // The repaired recording holds at least every intact frame, and converts as a whole recording:
  // more frames than the damaged file's chain reached.
  const CliRun convert = RunCli({"convert", repaired, dir.file("repaired.avi"), "--codec", "raw"});
  EXPECT_FALSE(Contains(convert.out, kMoreFrames)) << convert.out;
  const uint32_t frames = avi::ProbeAvi(dir.file("repaired.avi")).frames;
  EXPECT_GE(frames, static_cast<uint32_t>(truth.intact));
  EXPECT_GT(frames, avi::ProbeAvi(dir.file("plain.avi")).frames);
  EXPECT_TRUE(Contains(run.err, "wrote " + repaired + " (" + std::to_string(frames) + " frames)")) << run.err;
}

TEST(CliDamaged, RecoverReplacesAnExistingRecordingOnlyWithOverwrite) {
  PowerLoss rec;
  const std::string found = rec.dir.file("found");
  fs::create_directories(found);
  WriteAll(found + "/cam.zr", "keep me");
  const CliRun refused = RunCli({"recover", rec.path, "-o", found});
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_EQ(ReadAll(found + "/cam.zr"), "keep me");
  const CliRun never = RunCli({"recover", rec.path, "-o", found, "-n"});
  EXPECT_EQ(never.status, 1) << never.err;
  EXPECT_EQ(ReadAll(found + "/cam.zr"), "keep me");

  const CliRun replaced = RunCli({"recover", rec.path, "-o", found, "-y"});
  EXPECT_EQ(replaced.status, 4) << replaced.err;
  EXPECT_EQ(RunCli({"info", found + "/cam.zr"}).status, 0);
}

TEST(CliDamaged, RecoverFindsNothingInNoiseAndSaysSo) {
  TempDir dir;
  std::string noise(64 * 1024, '\0');
  uint32_t x = 12345;
  for (char& c : noise) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  WriteAll(dir.file("noise.bin"), noise);
  const CliRun run = RunCli({"recover", dir.file("noise.bin"), "-o", dir.file("found")});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Contains(run.err, "no recording found")) << run.err;
  EXPECT_TRUE(fs::is_empty(dir.file("found")));
  const CliRun json = RunCli({"recover", "--json", dir.file("noise.bin"), "-o", dir.file("found")});
  EXPECT_EQ(json.status, 1);
  EXPECT_TRUE(Contains(json.out, "\"status\": \"failed\"")) << json.out;

  const CliRun convert = RunCli({"convert", "--recover", dir.file("noise.bin"), dir.file("noise.avi")});
  EXPECT_EQ(convert.status, 1) << convert.err;
  EXPECT_FALSE(fs::exists(dir.file("noise.avi")));
}

TEST(CliDamaged, InfoWarnsOfTheDamageItSees) {
  PowerLoss rec;
  const CliRun text = RunCli({"info", rec.path});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_TRUE(Contains(text.out, "warning:          ")) << text.out;
  EXPECT_TRUE(Contains(text.err, "warning: ")) << text.err;
  EXPECT_TRUE(Contains(text.out, "convert --recover converts them")) << text.out;

  const CliRun json = RunCli({"info", "--json", rec.path});
  EXPECT_EQ(json.status, 0);
  EXPECT_TRUE(Contains(json.out, "\"warnings\": [\"")) << json.out;
  EXPECT_TRUE(Contains(json.out, "more frames after the end")) << json.out;
}

TEST(CliDamaged, InfoOnALostHeaderPointsToRecover) {
  TempDir dir;
  MakeRecording(dir.file("whole.zr"), 60, 0, 6);
  Damage(zrgen::DamageClass::LostHeader, dir.file("headless.zr"), {dir.file("whole.zr")});
  const CliRun run = RunCli({"info", dir.file("headless.zr")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "a scan finds")) << run.err;
  EXPECT_TRUE(Contains(run.err, "convert --recover")) << run.err;
}

TEST(CliDamaged, ASizeTheRecorderNeverRecordsIsAUsageError) {
  TempDir dir;
  MakeRecording(dir.file("cam.zr"), 5);
  for (const char* size : {"123x45", "352", "352x288x2", "x288"}) {
    const CliRun convert = RunCli({"convert", "--recover", "--size", size, dir.file("cam.zr"), dir.file("out.avi")});
    EXPECT_EQ(convert.status, 2) << size << convert.err;
    EXPECT_TRUE(Contains(convert.err, "--size")) << convert.err;
    EXPECT_FALSE(fs::exists(dir.file("out.avi")));
    const CliRun recover = RunCli({"recover", "--size", size, dir.file("cam.zr"), "-o", dir.file("found")});
    EXPECT_EQ(recover.status, 2) << size << recover.err;
  }
  EXPECT_EQ(RunCli({"convert", "--recover", "--generation", "middle", dir.file("cam.zr"), dir.file("out.avi")}).status, 2);
  // They describe what a scan finds: without --recover they are refused, not ignored.
  for (const char* option : {"--size=352x288", "--generation=newer"}) {
    const CliRun run = RunCli({"convert", option, dir.file("cam.zr"), dir.file("out.avi")});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_TRUE(Contains(run.err, "--recover")) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("out.avi")));
}

}  // namespace
}  // namespace zentrova::testing
