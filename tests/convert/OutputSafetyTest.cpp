// What a conversion may do to files that are already there, and what it says when it falls short:
// the recording is never the output, an existing file is replaced only when asked and only by a
// file with frames, every failure line is followed by its reason, and a write that fails or a
// recording that ends early is reported after "File saved!".
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "convert/ConversionJob.h"
#include "convert/Messages.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "support/RecordingBytes.h"

namespace zentrova {
namespace {

namespace fs = std::filesystem;
using avi::testing::ProbeStream;
using avi::testing::ReadFile;
using testing::TempDir;

struct Job {
  explicit Job(JobOptions options = {}, std::string codec = "raw")
      : codec(std::move(codec)),
        job([this](const std::string& l) { log.push_back(l); }, {}, options,
            [this](const std::string& e) { reasons.push_back(e); }) {}
  // Convert, loop and Finish; the loop's result, or nothing when the set-up did not start.
  std::optional<ConversionJob::LoopResult> run(const std::string& in, const std::string& out,
                                               const ProgressSink& progress = {}) {
    setup = job.Convert(in, out, [this] { return std::optional(avi::CompressOptions{codec, 100}); });
    if (setup != ConversionJob::Setup::Started) return std::nullopt;
    ConversionJob::LoopResult r = job.RunFrameLoop(nullptr, progress);
    job.Finish();
    return r;
  }
  std::string codec;
  std::vector<std::string> log, reasons;
  ConversionJob::Setup setup = ConversionJob::Setup::Failed;
  ConversionJob job;
};

// A 176 x 144 recording of `frames` frames without pictures, each with 300 audio bytes.
void MakeRecording(const std::string& path, int frames) { avi::testing::MakeSoundRecording(path, 128, frames, 2); }

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> b = ReadFile(path);
  return {b.begin(), b.end()};
}
bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}
// Files in the folder other than the ones named: temporary files left behind would show here.
std::vector<std::string> Others(const TempDir& dir, std::initializer_list<std::string> known) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) out.push_back(name);
  }
  return out;
}

const std::vector<std::string> kOpenFailedLog = {messages::kOpenFailed};

TEST(OutputSafety, TheRecordingItselfIsRefusedInEverySpelling) {
  TempDir dir;
  const std::string rec = dir.file("cam.avi");  // a recording that happens to end in "avi"
  MakeRecording(rec, 5);
  const std::vector<uint8_t> before = ReadFile(rec);
  fs::create_symlink(rec, dir.file("link.avi"));
  fs::create_hard_link(rec, dir.file("hard.avi"));
  const std::string spellings[] = {rec, dir.path().string() + "/./cam.avi",
                                   dir.path().string() + "/../" + dir.path().filename().string() + "/cam.avi",
                                   dir.file("link.avi"), dir.file("hard.avi")};
  for (const std::string& out : spellings) {
    for (const bool overwrite : {false, true}) {
      JobOptions o;
      o.overwrite = overwrite;
      Job j(o);
      EXPECT_FALSE(j.run(rec, out)) << out;
      EXPECT_EQ(j.log, kOpenFailedLog) << out;
      ASSERT_EQ(j.reasons.size(), 1u) << out;
      EXPECT_NE(j.reasons[0].find("is the recording itself"), std::string::npos) << j.reasons[0];
      EXPECT_FALSE(j.job.busy());
    }
  }
  EXPECT_EQ(ReadFile(rec), before);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.avi")));
  EXPECT_EQ(Others(dir, {"cam.avi", "link.avi", "hard.avi"}), std::vector<std::string>{});
}

TEST(OutputSafety, AnExistingFileIsReplacedOnlyWhenAskedAndKeepsItsMode) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  const std::string out = dir.file("keep.avi");
  WriteText(out, "data\n");
  ::chmod(out.c_str(), 0640);
  EXPECT_TRUE(ConversionJob::WouldReplace(out));
  EXPECT_FALSE(ConversionJob::WouldReplace(dir.file("new.avi")));
  {
    Job j;
    EXPECT_FALSE(j.run(dir.file("in.zr"), out));
    EXPECT_EQ(j.log, kOpenFailedLog);
    EXPECT_EQ(j.reasons, std::vector<std::string>{"keep.avi already exists; use -y to replace it"});
    EXPECT_EQ(ReadText(out), "data\n");
  }
  JobOptions o;
  o.overwrite = true;
  Job j(o);
  ASSERT_TRUE(j.run(dir.file("in.zr"), out));
  EXPECT_EQ(ProbeStream(out, 0)["nb_read_packets"], "5");
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Others(dir, {"in.zr", "keep.avi"}), std::vector<std::string>{});
}

TEST(OutputSafety, TheReplacementTakesTheNameOnlyOnceItIsWhole) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  const std::string out = dir.file("keep.avi");
  WriteText(out, "data\n");
  fs::create_symlink(out, dir.file("alias.avi"));
  JobOptions o;
  o.overwrite = true;
  Job j(o);
  std::vector<std::string> seen;
  // Through a symbolic link the file it leads to is replaced, and the link stays a link.
  ASSERT_TRUE(j.run(dir.file("in.zr"), dir.file("alias.avi"), [&](uint32_t done, uint32_t) {
    if (done == 1) seen.push_back(ReadText(out).substr(0, 4));
  }));
  EXPECT_EQ(seen, std::vector<std::string>{"data"});
  EXPECT_EQ(ReadText(out).substr(0, 4), "RIFF");
  EXPECT_TRUE(fs::is_symlink(dir.file("alias.avi")));
  EXPECT_EQ(Others(dir, {"in.zr", "keep.avi", "alias.avi"}), std::vector<std::string>{});
}

TEST(OutputSafety, ACancelledReplacementLeavesTheOldFileAndKeepsItsPartBeside) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 8);
  const std::string out = dir.file("keep.avi");
  WriteText(out, "data\n");
  std::atomic<bool> cancel = false;
  JobOptions o;
  o.overwrite = true;
  o.cancel = &cancel;
  for (const char* partial : {"keep.partial.avi", "keep.partial-2.avi"}) {
    cancel = false;
    Job j(o);
    const auto r = j.run(dir.file("in.zr"), out, [&](uint32_t done, uint32_t) { cancel = done == 3; });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->outcome, JobOutcome::Cancelled);
    EXPECT_EQ(ReadText(out), "data\n");
    EXPECT_EQ(r->partialPath, dir.file(partial));
    EXPECT_EQ(ProbeStream(dir.file(partial), 0)["nb_read_packets"], "3");
    // The log ends with the cancel, never with "File saved!".
    EXPECT_EQ(j.log, (std::vector<std::string>{messages::kSaving, "Conversion cancelled: 3 of 8 frames saved in " +
                                                                       dir.file(partial) + "; " + out + " is as it was."}));
  }
  EXPECT_EQ(Others(dir, {"in.zr", "keep.avi", "keep.partial.avi", "keep.partial-2.avi"}), std::vector<std::string>{});
}

TEST(OutputSafety, ACancelledNewOutputKeepsItsFramesAtItsName) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 8);
  std::atomic<bool> cancel = false;
  JobOptions o;
  o.cancel = &cancel;
  Job j(o);
  std::vector<std::string> seen;
  // A new output stands at its name from its first frame, so a kill too leaves a playable file.
  const auto r = j.run(dir.file("in.zr"), dir.file("new.avi"), [&](uint32_t done, uint32_t) {
    seen.push_back(ReadText(dir.file("new.avi")).substr(0, 4));
    cancel = done == 2;
  });
  ASSERT_TRUE(r);
  EXPECT_EQ(seen, (std::vector<std::string>{"RIFF", "RIFF"}));
  EXPECT_EQ(r->partialPath, "");
  EXPECT_EQ(ProbeStream(dir.file("new.avi"), 0)["nb_read_packets"], "2");
  EXPECT_EQ(j.log.back(), "Conversion cancelled: 2 of 8 frames saved.");
  EXPECT_FALSE(Contains(j.log, messages::kSaved));
  EXPECT_EQ(Others(dir, {"in.zr", "new.avi"}), std::vector<std::string>{});
}

TEST(OutputSafety, AMatroskaFileReplacesTheOldOneOnlyOnceItIsWritten) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  const std::string out = dir.file("keep.mkv");
  WriteText(out, "data\n");
  JobOptions o;
  o.overwrite = true;
  o.format = container::Format::Matroska;
  Job j(o, "ffv1");
  std::vector<std::string> seen;
  // The container is written when it completes: until then the old file stands.
  ASSERT_TRUE(j.run(dir.file("in.zr"), out, [&](uint32_t, uint32_t) { seen.push_back(ReadText(out)); }));
  EXPECT_EQ(seen, std::vector<std::string>(5, "data\n"));
  EXPECT_EQ(ProbeStream(out, 0)["nb_read_packets"], "5");
  EXPECT_EQ(Others(dir, {"in.zr", "keep.mkv"}), std::vector<std::string>{});
}

TEST(OutputSafety, ASetUpThatFailsOrIsCancelledLeavesNoFileAndTheOldOneAsItWas) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  for (const bool existing : {false, true}) {
    const std::string out = dir.file("out.avi");
    fs::remove(out);
    if (existing) WriteText(out, "data\n");
    JobOptions o;
    o.overwrite = true;
    {
      Job j(o, "nosuch");
      EXPECT_FALSE(j.run(dir.file("in.zr"), out));
      EXPECT_EQ(j.log, std::vector<std::string>{messages::kConvertFailed});
      EXPECT_EQ(j.reasons, std::vector<std::string>{
                               "unknown video compressor \"nosuch\"; the known ones are raw, mjpeg, mpeg4, h264, ffv1"});
    }
    {
      std::vector<std::string> log;
      ConversionJob job([&](const std::string& l) { log.push_back(l); }, {}, o);
      EXPECT_EQ(job.Convert(dir.file("in.zr"), out, [] { return std::nullopt; }), ConversionJob::Setup::Cancelled);
      EXPECT_TRUE(log.empty());
    }
    if (existing)
      EXPECT_EQ(ReadText(out), "data\n");
    else
      EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(Others(dir, {"in.zr", "out.avi"}), std::vector<std::string>{});
  }
}

TEST(OutputSafety, SpecialFilesAtTheOutputNameAreWrittenInPlaceOrRefusedAtOnce) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 3);
  // A symbolic link to /dev/null, as the benchmarks use: written, never replaced.
  fs::create_symlink("/dev/null", dir.file("null.avi"));
  {
    Job j;
    ASSERT_TRUE(j.run(dir.file("in.zr"), dir.file("null.avi")));
    EXPECT_EQ(j.log, (std::vector<std::string>{messages::kSaving, messages::kSaved}));
    EXPECT_TRUE(fs::is_symlink(dir.file("null.avi")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
  }
  // A FIFO (nobody reads it: opening it for writing would wait for ever), a folder, a socket.
  ASSERT_EQ(::mkfifo(dir.file("fifo.avi").c_str(), 0644), 0);
  fs::create_directory(dir.file("folder.avi"));
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.file("sock.avi").c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  for (const char* name : {"fifo.avi", "folder.avi", "sock.avi"}) {
    Job j;
    EXPECT_FALSE(j.run(dir.file("in.zr"), dir.file(name)));
    EXPECT_EQ(j.log, kOpenFailedLog) << name;
    EXPECT_TRUE(Contains(j.reasons, " is a")) << name;
  }
  ::close(sock);
  EXPECT_TRUE(fs::is_fifo(dir.file("fifo.avi")));
}

TEST(OutputSafety, EveryFailureLineIsFollowedByItsReason) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 3);
  WriteText(dir.file("garbage.zr"), std::string(100, 'x'));
  ASSERT_EQ(::mkfifo(dir.file("fifo.zr").c_str(), 0644), 0);
  struct Case {
    std::string input, output, line, reason;
  } cases[] = {
      {dir.file("missing.zr"), dir.file("o.avi"), messages::kOpenFailed, "No such file or directory"},
      {dir.file("garbage.zr"), dir.file("o.avi"), messages::kOpenFailed, "not a ZR recording"},
      {dir.file("fifo.zr"), dir.file("o.avi"), messages::kOpenFailed, "not a regular file but a FIFO"},
      {"/dev/zero", dir.file("o.avi"), messages::kOpenFailed, "not a regular file but a character device"},
      {dir.file("in.zr"), dir.file("no/such/o.avi"), messages::kOpenFailed, "No such file or directory"},
  };
  for (const Case& c : cases) {
    Job j;
    EXPECT_FALSE(j.run(c.input, c.output));
    EXPECT_EQ(j.log, std::vector<std::string>{c.line}) << c.input;
    ASSERT_EQ(j.reasons.size(), 1u) << c.input;
    EXPECT_NE(j.reasons[0].find(c.reason), std::string::npos) << j.reasons[0];
  }
  EXPECT_FALSE(fs::exists(dir.file("o.avi")));
}

TEST(OutputSafety, AFailedWriteEndsTheLoopAndIsReportedAfterFileSaved) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 20);
  fs::create_symlink("/dev/full", dir.file("full.avi"));  // every write: no space left
  Job j;
  const auto r = j.run(dir.file("in.zr"), dir.file("full.avi"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, JobOutcome::WriteFailed);
  EXPECT_EQ(r->framesWritten, 0u);
  EXPECT_EQ(r->framesDeclared, 20u);
  EXPECT_EQ(j.log, (std::vector<std::string>{messages::kSaving, messages::kSaved, "Disk full: 0 of 20 frames saved."}));
  EXPECT_TRUE(Contains(j.reasons, "No space left on device"));
}

TEST(OutputSafety, ARecordingThatEndsEarlyIsSavedAndSaysSo) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  MakeRecording(dir.file("cut.zr"), 25);
  // Cut after the 10th frame: 12 + 4 + 300 bytes per frame.
  fs::resize_file(dir.file("cut.zr"), fs::file_size(dir.file("cut.zr")) - 15 * 316);
  Job j;
  const auto r = j.run(dir.file("cut.zr"), dir.file("cut.avi"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, JobOutcome::RecordingShort);
  EXPECT_EQ(r->framesWritten, 10u);
  EXPECT_EQ(j.log, (std::vector<std::string>{messages::kSaving, messages::kSaved,
                                             "The recording ended after 10 of 25 frames."}));
  EXPECT_TRUE(Contains(j.reasons, "the file ends before frame 11"));
  EXPECT_EQ(ProbeStream(dir.file("cut.avi"), 0)["nb_read_packets"], "10");

  // A recording with no frame left replaces nothing: the existing file stays.
  fs::resize_file(dir.file("cut.zr"), fs::file_size(dir.file("cut.zr")) - 10 * 316);
  JobOptions o;
  o.overwrite = true;
  Job again(o);
  const auto none = again.run(dir.file("cut.zr"), dir.file("cut.avi"));
  ASSERT_TRUE(none);
  EXPECT_EQ(none->framesWritten, 0u);
  EXPECT_EQ(again.log.back(), "The recording ended after 0 of 25 frames.");
  EXPECT_TRUE(Contains(again.reasons, "cut.avi was left as it was"));
  EXPECT_EQ(ProbeStream(dir.file("cut.avi"), 0)["nb_read_packets"], "10");
}

TEST(OutputSafety, FramesCutShortOrAChainThatGoesOnPastTheEndAreReported) {
  TempDir dir;
  using testing::RecordingBytes;
  // 176 x 144: the video buffer holds 50,688 bytes; the second frame claims more.
  RecordingBytes big;
  big.header(257, 128).u32(0).u32(0).block(~0u, ~0u, 3).frame(1, {1, 2, 3}).frame(1, std::vector<uint8_t>(60000, 7)).frame(1, {4});
  big.save(dir.file("big.zr"));
  Job j;
  const auto r = j.run(dir.file("big.zr"), dir.file("big.avi"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, JobOutcome::RecordingShort);
  EXPECT_EQ(r->framesWritten, 3u);
  EXPECT_EQ(j.log.back(), "1 of 3 frames were cut short in the recording.");
  EXPECT_TRUE(Contains(j.reasons, "frame 2 larger than the buffers"));

  RecordingBytes chain;
  chain.header(257, 128).u32(0).u32(0).block(~0u, 100000, 2).frame(1, {1}).frame(1, {2});
  chain.save(dir.file("chain.zr"));
  Job k;
  const auto c = k.run(dir.file("chain.zr"), dir.file("chain.avi"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->outcome, JobOutcome::RecordingShort);
  EXPECT_EQ(c->framesWritten, 2u);
  EXPECT_EQ(k.log.back(), "The recording ended after 2 frames; frames may be missing after them.");
  EXPECT_TRUE(Contains(k.reasons, "goes on past the end of the file"));
}

TEST(OutputSafety, ACancelFlagEndsTheSetUpWhileTheChainIsIndexed) {
  TempDir dir;
  using testing::RecordingBytes;
  // 5,000 blocks of one frame each, chained.
  RecordingBytes b;
  b.header(257, 128).u32(0).u32(0);
  for (uint32_t i = 0; i < 5000; ++i) {
    const uint32_t at = static_cast<uint32_t>(b.size());
    b.block(~0u, at + 16 + 13, 1).frame(1, {9});
  }
  b.save(dir.file("many.zr"));
  std::atomic<bool> cancel{true};
  JobOptions o;
  o.cancel = &cancel;
  Job j(o);
  EXPECT_FALSE(j.run(dir.file("many.zr"), dir.file("many.avi")));
  EXPECT_EQ(j.setup, ConversionJob::Setup::Cancelled);
  EXPECT_TRUE(j.log.empty());
  EXPECT_FALSE(fs::exists(dir.file("many.avi")));
  cancel = false;
  ConversionJob k([](const std::string&) {}, {}, o);
  EXPECT_EQ(k.Convert(dir.file("many.zr"), dir.file("many.avi"), [] { return std::optional(avi::CompressOptions{"raw", 1}); }),
            ConversionJob::Setup::Started);
  EXPECT_EQ(k.frameCount(), 5000u);
}

}  // namespace
}  // namespace zentrova
