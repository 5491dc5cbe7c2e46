// The AVI files of the command line: what an interrupted, killed or full-disk conversion leaves, and
// the exit status of each ending, with recordings made by ZrWriter.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "TempDir.h"
#include "avi/AviTestSupport.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

TEST(AviJob, InterruptingTheCommandLineLeavesAFileThatOpens) {
  SKIP_WITHOUT_FFMPEG();
  const std::string zentrova = std::string(ZENTROVA_BINARY_DIR) + "/src/cli/zentrova";
  if (!std::filesystem::exists(zentrova)) GTEST_SKIP() << "no " << zentrova;
  TempDir dir;
  MakeSoundRecording(dir.file("in.zr"), 133, 20000, 800);
  const std::string out = dir.file("out.avi");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::freopen("/dev/null", "w", stdout);
    ::execl(zentrova.c_str(), "zentrova", "convert", dir.file("in.zr").c_str(), out.c_str(), "--codec", "mjpeg",
            "--quality", "50", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until frames are going in, then interrupt.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  pid_t ended = 0;
  auto size = [&] {
    std::error_code ec;
    const auto n = std::filesystem::file_size(out, ec);
    return ec ? 0 : n;
  };
  while (std::chrono::steady_clock::now() < deadline && size() < 200000 &&
         (ended = ::waitpid(child, &status, WNOHANG)) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(ended, 0) << "the conversion ended before it was interrupted";
  ::kill(child, SIGINT);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_NE(WEXITSTATUS(status), 0);

  const std::vector<uint8_t> bytes = ReadFile(out);
  const auto strh = Find(ListRiffChunks(bytes), "AVI /hdrl/strl/strh");
  ASSERT_EQ(strh.size(), 2u);
  const uint32_t frames = Le32(&bytes[strh[0].data + 32]);
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, 20000u);
  EXPECT_EQ(ProbeStream(out, 0)["nb_read_packets"], std::to_string(frames));
  EXPECT_EQ(ProbeStream(out, 0)["height"], "576");
}

std::string Cli() { return std::string(ZENTROVA_BINARY_DIR) + "/src/cli/zentrova"; }

#define SKIP_WITHOUT_CLI() \
  if (!std::filesystem::exists(Cli())) GTEST_SKIP() << "no " << Cli()

// Runs the command line through the shell; its exit status, standard output and error.
struct CliRun {
  int status = -1;
  std::string out, err;
};
// `setup` runs in the shell first ("ulimit -f 4096;"), `wrapper` runs the program ("", "timeout 10").
CliRun RunCli(const TempDir& dir, const std::string& arguments, const std::string& setup = "",
              const std::string& wrapper = "") {
  CliRun r;
  const std::string err = dir.file("stderr.txt");
  int raw = 0;
  r.out = RunCommand("sh -c '" + setup + " exec " + wrapper + " " + Cli() + " " + arguments + "' 2>" + err, &raw);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  const std::vector<uint8_t> e = ReadFile(err);
  r.err.assign(e.begin(), e.end());
  return r;
}

TEST(AviJob, TheExitStatusTellsSavedFromShortFromPartialFromRefused) {
  SKIP_WITHOUT_CLI();
  TempDir dir;
  const std::string in = dir.file("in.zr");
  MakeSoundRecording(in, 130, 200, 8);
  const std::string out = dir.file("out.avi");
  CliRun ok;
  ok = RunCli(dir, "convert " + in + " " + out + " --codec raw");
  EXPECT_EQ(ok.status, 0) << ok.err;
  CliRun again = RunCli(dir, "convert " + in + " " + out + " --codec raw");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "File open failed!\n");
  EXPECT_EQ(again.err, "zentrova: out.avi already exists; use -y to replace it\n");
  EXPECT_EQ(RunCli(dir, "convert " + in + " " + out + " --codec raw -y").status, 0);
  CliRun codec = RunCli(dir, "convert " + in + " " + out + " -y --codec nosuch");
  EXPECT_EQ(codec.status, 2);  // a usage mistake, said before anything is opened
  EXPECT_NE(codec.err.find("the codecs are raw, mjpeg"), std::string::npos) << codec.err;

  // A file-size limit of 2 MB (ulimit counts 512-byte blocks): the write fails with EFBIG.
  const std::string limited = dir.file("limited.avi");
  CliRun partial = RunCli(dir, "convert " + in + " " + limited + " --codec raw", "ulimit -f 4096;");
  EXPECT_EQ(partial.status, 3) << partial.err;
  EXPECT_NE(partial.err.find("File too large"), std::string::npos) << partial.err;
  const size_t last = partial.out.rfind("File size limit reached: ");
  ASSERT_NE(last, std::string::npos) << partial.out;
  const int saved = std::atoi(partial.out.c_str() + last + 25);
  EXPECT_GT(saved, 0);
  EXPECT_LT(saved, 200);
  EXPECT_EQ(ProbeStream(limited, 0)["nb_read_packets"], std::to_string(saved));
  const Snapshot s = Inspect(ReadFile(limited), limited);
  EXPECT_EQ(s.headerFrames, static_cast<uint32_t>(saved));
  EXPECT_EQ(s.indexedFrames, static_cast<uint64_t>(saved));

  // Cut short: saved, and said so, with status 4.
  std::filesystem::resize_file(in, std::filesystem::file_size(in) - 100 * 316);
  CliRun shortRun = RunCli(dir, "convert " + in + " " + dir.file("short.avi") + " --codec raw");
  EXPECT_EQ(shortRun.status, 4) << shortRun.err;
  EXPECT_EQ(shortRun.out,
            "Saving the AVI file! Please waiting...\nFile saved!\nThe recording ended after 100 of 200 frames.\n");
}

// The disk full for real, when this machine lets the test mount a small tmpfs.
TEST(AviJob, AFullDiskGivesAValidFileWithExactCountsAndStatus3) {
  SKIP_WITHOUT_CLI();
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string mnt = dir.file("full");
  std::filesystem::create_directory(mnt);
  int mounted = -1;
  RunCommand("mount -t tmpfs -o size=3m tmpfs '" + mnt + "' 2>/dev/null", &mounted);
  if (mounted != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string at;
    ~Unmount() { RunCommand("umount '" + at + "'"); }
  } unmount{mnt};
  MakeSoundRecording(dir.file("in.zr"), 130, 200, 8);
  // Raw pictures, and compressed ones of zrgen's moving pattern.
  int generated = -1;
  RunCommand(std::string(ZENTROVA_BINARY_DIR) + "/tools/zrgen/zrgen -r 133 --format-version 4096 -n 200 '" +
                 dir.file("big.zr") + "' >/dev/null 2>&1",
             &generated);
  ASSERT_EQ(generated, 0);
  for (const std::string codec : {"raw", "mjpeg"}) {
    const std::string out = mnt + "/" + codec + ".avi";
    const std::string in = dir.file(codec == "raw" ? "in.zr" : "big.zr");
    const CliRun r = RunCli(dir, "convert " + in + " " + out + " --codec " + codec + " --quality 100");
    EXPECT_EQ(r.status, 3) << codec << ": " << r.out << r.err;
    const size_t at = r.out.find("Disk full: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const int saved = std::atoi(r.out.c_str() + at + 11);
    EXPECT_GT(saved, 0);
    EXPECT_NE(r.out.find(" of 200 frames saved."), std::string::npos);
    const Snapshot s = Inspect(ReadFile(out), out);
    EXPECT_EQ(s.headerFrames, static_cast<uint32_t>(saved)) << codec;
    EXPECT_EQ(s.indexedFrames, static_cast<uint64_t>(saved)) << codec;
    EXPECT_EQ(ProbeStream(out, 0)["nb_read_packets"], std::to_string(saved)) << codec;
    std::filesystem::remove(out);
  }
}

TEST(AviJob, AFifoAsRecordingOrOutputIsRefusedAtOnce) {
  SKIP_WITHOUT_CLI();
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("f.zr").c_str(), 0644), 0);
  MakeSoundRecording(dir.file("in.zr"), 130, 5, 1);
  ASSERT_EQ(::mkfifo(dir.file("o.avi").c_str(), 0644), 0);
  // The shell's timeout would end a blocked run with status 124.
  const CliRun in = RunCli(dir, "convert " + dir.file("f.zr") + " " + dir.file("x.avi"), "", "timeout 10");
  EXPECT_EQ(in.status, 1);
  EXPECT_NE(in.err.find("not a regular file but a FIFO"), std::string::npos) << in.err;
  EXPECT_EQ(RunCli(dir, "info " + dir.file("f.zr"), "", "timeout 10").status, 1);
  const CliRun out = RunCli(dir, "convert " + dir.file("in.zr") + " " + dir.file("o.avi"), "", "timeout 10");
  EXPECT_EQ(out.status, 1);
  EXPECT_NE(out.err.find("o.avi is a FIFO"), std::string::npos) << out.err;
}

// SIGKILL at random moments: what is on disk opens, its headers and indexes name only chunks
// that are there, and they are no more than about two seconds behind them.
TEST(AviJob, AKilledConversionLeavesAFileWhoseHeadersAreAtMostTwoSecondsBehind) {
  SKIP_WITHOUT_CLI();
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeSoundRecording(dir.file("in.zr"), 133, 20000, 800);
  std::mt19937 random(std::random_device{}());
  int gstreamer = -1;
  RunCommand("gst-launch-1.0 --version >/dev/null 2>&1", &gstreamer);
  for (int round = 0; round < 4; ++round) {
    const std::string out = dir.file("killed" + std::to_string(round) + ".avi");
    const int waitMs = 1500 + static_cast<int>(random() % 2500);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::freopen("/dev/null", "w", stdout);
      ::execl(Cli().c_str(), "zentrova", "convert", dir.file("in.zr").c_str(), out.c_str(), "--codec", "mjpeg",
              "--quality", "50", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the conversion ended before the kill";

    const std::vector<uint8_t> bytes = ReadFile(out);
    const std::string when = "round " + std::to_string(round) + " after " + std::to_string(waitMs) + " ms";
    const Snapshot s = Inspect(bytes, when);
    ASSERT_TRUE(s.started) << when;
    EXPECT_GT(s.headerFrames, 0u) << when;
    EXPECT_GE(s.indexedFrames, s.headerFrames) << when;
    // Every complete picture chunk on disk, counted by walking the file as it lies.
    uint64_t onDisk = 0;
    for (size_t at = 0; at + 8 <= bytes.size();) {
      const std::string tag = Tag(Le32(&bytes[at]));
      const uint32_t size = Le32(&bytes[at + 4]);
      if (tag == "RIFF" || tag == "LIST") {
        at += 12;
        continue;
      }
      if (at + 8 + size > bytes.size()) break;
      if (tag == "00dc") ++onDisk;
      at += 8 + size + (size & 1);
    }
    EXPECT_GE(onDisk, s.headerFrames) << when;
    // The header is at most about two seconds of this conversion's pace behind.
    const double perSecond = static_cast<double>(onDisk) * 1000.0 / waitMs;
    EXPECT_LE(static_cast<double>(onDisk - s.headerFrames), 2.0 * perSecond + 2) << when << ": " << onDisk
                                                                                 << " on disk";
    auto v = ProbeStream(out, 0);
    EXPECT_EQ(v["height"], "576") << when;
    EXPECT_GE(std::stoul("0" + v["nb_read_packets"]), s.headerFrames) << when;
    int decoded = -1;
    RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>/dev/null", &decoded);
    EXPECT_EQ(decoded, 0) << when;
    if (gstreamer == 0) {
      int played = -1;
      RunCommand("gst-launch-1.0 -q filesrc location='" + out + "' ! avidemux name=d d.video_0 ! fakesink >/dev/null 2>&1",
                 &played);
      EXPECT_EQ(played, 0) << when << ": GStreamer's avidemux";
    }
  }
}

}  // namespace
}  // namespace zentrova::avi
