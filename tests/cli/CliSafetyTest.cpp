// The program's promises when what surrounds it misbehaves: a reader that goes away, a disk
// that does not take the data, texts that would drive the terminal, leftovers of a kill, two
// batches at once.
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CliTestSupport.h"
#include "avi/AviReader.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

// The built program with standard output on a pipe whose reader has already gone, as after
// `| head -n1`; standard error is collected.
CliRun RunIntoClosedPipe(const std::vector<std::string>& args) {
  CliRun run;
  std::vector<std::string> all{ZentrovaProgram()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int o[2], e[2];
  if (::pipe(o) != 0 || ::pipe(e) != 0) return run;
  ::close(o[0]);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGPIPE, SIG_DFL);  // as a shell leaves it
    ::dup2(o[1], 1);
    ::dup2(e[1], 2);
    ::close(e[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(o[1]);
  ::close(e[1]);
  char buf[4096];
  for (ssize_t got; (got = ::read(e[0], buf, sizeof buf)) > 0;) run.err.append(buf, static_cast<size_t>(got));
  ::close(e[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(CliClosedPipe, ConversionsFinishAndTheStatusSaysTheOutputFailed) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/a.zr"), 30);
  MakeRecording(dir.file("in/b.zr"), 30);
  MakeRecording(dir.file("in/c.zr"), 30);

  const CliRun one = RunIntoClosedPipe({"convert", "--codec", "raw", dir.file("in/a.zr"), dir.file("one.avi")});
  EXPECT_EQ(one.status, 1) << one.err;
  EXPECT_TRUE(Contains(one.err, "cannot write to standard output: Broken pipe")) << one.err;
  const avi::AviProbe single = avi::ProbeAvi(dir.file("one.avi"));
  EXPECT_TRUE(single.finished);
  EXPECT_EQ(single.frames, 30u);

  for (const char* form : {"--json", "-v"}) {
    SCOPED_TRACE(form);
    const std::string out = dir.file(std::string("out") + form);
    const CliRun batch = RunIntoClosedPipe({"convert", dir.file("in"), "-o", out, "-j", "1", "--codec", "raw", form});
    EXPECT_EQ(batch.status, 1) << batch.err;
    EXPECT_TRUE(Contains(batch.err, "Broken pipe")) << batch.err;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) {
      const avi::AviProbe probe = avi::ProbeAvi(out + "/" + name);
      EXPECT_TRUE(probe.finished) << name;
      EXPECT_EQ(probe.frames, 30u) << name;
    }
  }

  const CliRun info = RunIntoClosedPipe({"info", dir.file("in/a.zr")});
  EXPECT_EQ(info.status, 1) << info.err;
  EXPECT_TRUE(Contains(info.err, "cannot write to standard output")) << info.err;
}

// Files in `folder` whose names start with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().rfind(prefix, 0) == 0) names.push_back(e.path().filename().string());
  return names;
}

// A file system whose write-back fails: ext4 on a loop device whose image lies on a tmpfs too
// small for it. Writes land in memory and succeed; putting them on the disk fails.
class FailingDisk {
 public:
  explicit FailingDisk(const TempDir& dir) : tmpfs_(dir.file("tmpfs")), mount_(dir.file("disk")) {
    fs::create_directories(tmpfs_);
    fs::create_directories(mount_);
    if (!Shell("mount -t tmpfs -o size=6m tmpfs '" + tmpfs_ + "'")) return;
    tmpfsMounted_ = true;
    if (!Shell("truncate -s 64M '" + tmpfs_ + "/image'")) return;
    FILE* p = ::popen(("losetup -f --show '" + tmpfs_ + "/image' 2>/dev/null").c_str(), "r");
    char line[128] = {};
    if (p && std::fgets(line, sizeof line, p)) loop_ = std::string(line, std::strcspn(line, "\n"));
    if (p) ::pclose(p);
    if (loop_.empty() || !Shell("mkfs.ext4 -q -F " + loop_) || !Shell("mount " + loop_ + " '" + mount_ + "'")) return;
    diskMounted_ = true;
  }
  ~FailingDisk() {
    if (diskMounted_) Shell("umount '" + mount_ + "'");
    if (!loop_.empty()) Shell("losetup -d " + loop_);
    if (tmpfsMounted_) Shell("umount '" + tmpfs_ + "'");
  }
  bool ready() const { return diskMounted_; }
  std::string file(const std::string& name) const { return mount_ + "/" + name; }

 private:
  static bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
  std::string tmpfs_, mount_, loop_;
  bool tmpfsMounted_ = false, diskMounted_ = false;
};

TEST(CliOnDisk, NothingIsReportedSavedBeforeTheDiskHasIt) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 40, 130);  // 352 x 288: 12 MB of raw pictures
  FailingDisk disk(dir);
  if (!disk.ready()) GTEST_SKIP() << "cannot mount a tmpfs and an ext4 loop device here (needs root)";

  const CliRun avi = RunProgram({"convert", "--codec", "raw", dir.file("in.zr"), disk.file("out.avi")});
  EXPECT_EQ(avi.status, 3) << avi.out << avi.err;
  EXPECT_TRUE(Contains(avi.out, "File saved!\n")) << avi.out;
  EXPECT_TRUE(Contains(avi.out, " of 40 frames saved.")) << avi.out;
  EXPECT_FALSE(Contains(avi.out, "40 of 40")) << avi.out;
  EXPECT_TRUE(Contains(avi.err, "cannot write ")) << avi.err;

  // A Matroska file that cannot reach the disk never takes the place of the one there.
  WriteAll(disk.file("keep.mkv"), "an older file\n");
  const CliRun mkv = RunProgram({"convert", "-y", "--codec", "ffv1", dir.file("in.zr"), disk.file("keep.mkv")});
  EXPECT_EQ(mkv.status, 3) << mkv.out << mkv.err;
  EXPECT_TRUE(Contains(mkv.out, "0 of 40 frames saved; " + disk.file("keep.mkv") + " is as it was.")) << mkv.out;
  EXPECT_TRUE(Contains(mkv.err, "was left as it was")) << mkv.err;
  EXPECT_EQ(ReadAll(disk.file("keep.mkv")), "an older file\n");
}

// A Matroska or MP4 file the disk cannot hold: no row or line claims a frame it does not hold,
// and a file that was there before stays.
TEST(CliOnDisk, AFullDiskUnderAMatroskaOrMp4FileClaimsNoFrameItLacksAndKeepsTheOldFile) {
  TempDir dir;
  const std::string mnt = dir.file("small");
  fs::create_directories(mnt);
  if (std::system(("mount -t tmpfs -o size=1m tmpfs '" + mnt + "' >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    std::string at;
    ~Unmount() { (void)!std::system(("umount '" + at + "'").c_str()); }
  } unmount{mnt};
  // 3.2 MB of lossless FFV1 pictures for Matroska; 1.3 MB of MPEG-4 for MP4.
  fs::create_directories(dir.file("in/mkv"));
  fs::create_directories(dir.file("in/mp4"));
  MakeRecording(dir.file("in/mkv/cam.zr"), 300, 130);
  MakeRecording(dir.file("in/mp4/cam.zr"), 600, 130);
  for (const std::string format : {"mkv", "mp4"}) {
    SCOPED_TRACE(format);
    const std::string codec = format == "mkv" ? "ffv1" : "mpeg4";
    const std::string in = dir.file("in/" + format);
    const std::string frames = format == "mkv" ? "300" : "600";
    const std::string out = mnt + "/one." + format;
    const CliRun one = RunProgram({"convert", "--codec", codec, "--quality", "100", in + "/cam.zr", out});
    EXPECT_EQ(one.status, 3) << one.out << one.err;
    EXPECT_TRUE(Contains(one.out, "File saved!\n")) << one.out;
    // A new file keeps the whole pieces written before the disk filled, and says how many
    // frames they hold; one that holds none does not stay at the name.
    const size_t of = one.out.find(" of " + frames + " frames saved.");
    ASSERT_NE(of, std::string::npos) << one.out;
    const size_t from = one.out.rfind(' ', of - 1) + 1;
    const int saved = std::atoi(one.out.substr(from, of - from).c_str());
    EXPECT_LT(saved, std::atoi(frames.c_str())) << one.out;
    EXPECT_EQ(fs::exists(out), saved > 0) << one.out;
    EXPECT_GT(saved, 0) << "seconds of pictures fit before the disk fills";
    fs::remove(out);

    WriteAll(mnt + "/cam." + format, "a good older file\n");
    const CliRun batch = RunProgram({"convert", in, "-o", mnt, "-y", "--json", "--codec", codec,
                                     "--quality", "100", "--format", format});
    EXPECT_EQ(batch.status, 3) << batch.err;
    EXPECT_TRUE(Contains(batch.out, "\"framesWritten\": 0,")) << batch.out;
    EXPECT_TRUE(Contains(batch.out, "\"status\": \"partial\"")) << batch.out;
    EXPECT_EQ(ReadAll(mnt + "/cam." + format), "a good older file\n");
    EXPECT_EQ(NamesStartingWith(mnt, ".zentrova-"), std::vector<std::string>{});
    fs::remove(mnt + "/cam." + format);
  }
}

TEST(CliOnDisk, DevicesWrittenInPlaceHaveNothingToSync) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 10);
  fs::create_symlink("/dev/null", dir.file("null.avi"));
  const CliRun run = RunProgram({"convert", "--codec", "raw", dir.file("in.zr"), dir.file("null.avi")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Saving the AVI file! Please waiting...\nFile saved!\n");
  EXPECT_TRUE(fs::is_symlink(dir.file("null.avi")));
}

TEST(CliInfoTexts, ARecordingsTextsCannotDriveTheTerminalOrForgeALine) {
  TempDir dir;
  zrgen::GeneratorOptions o;
  o.output = dir.file("hostile.zr");
  o.resolutionCode = 0;
  o.frames = 2;
  o.text1 = "\x1b[2J\x1b]0;owned\x07" "cleared";
  o.text2 = "camera 1\nframes:           999999";
  o.text3 = "caf\xc3\xa9 \xc2\x9b" "31m red";  // UTF-8: an e acute, then the C1 CSI
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;

  const CliRun run = RunCli({"info", dir.file("hostile.zr")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(Contains(run.out, "\x1b")) << run.out;
  EXPECT_FALSE(Contains(run.out, "\x07")) << run.out;
  EXPECT_FALSE(Contains(run.out, "\xc2\x9b")) << run.out;
  EXPECT_TRUE(Contains(run.out, "text1:            \\x1b[2J\\x1b]0;owned\\x07cleared\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "text2:            camera 1\\nframes:           999999\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "text3:            caf\xc3\xa9 \\u009b31m red\n")) << run.out;
  size_t frameLines = 0;
  for (const std::string& line : Lines(run.out)) frameLines += line.rfind("frames:", 0) == 0;
  EXPECT_EQ(frameLines, 1u) << run.out;

  // --json was already plain ASCII with escapes; it stays so.
  const CliRun json = RunCli({"info", "--json", dir.file("hostile.zr")});
  EXPECT_TRUE(Contains(json.out, "\"text2\": \"camera 1\\nframes:")) << json.out;
}

TEST(CliLeftovers, AnOutputStandsAtItsNameOnlyOnceItHoldsSomething) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  for (const char* name : {"new.avi", "new.mkv"}) {
    SCOPED_TRACE(name);
    JobOptions options;
    options.format = container::FormatOfName(name);
    ConversionJob job([](const std::string&) {}, {}, options);
    ASSERT_EQ(job.Convert(dir.file("in.zr"), dir.file(name), [] { return std::optional(avi::CompressOptions{"mjpeg", 90}); }),
              ConversionJob::Setup::Started);
    // Set up and about to write its first frame, where a kill used to leave an empty file.
    EXPECT_FALSE(fs::exists(dir.file(name)));
    EXPECT_EQ(NamesStartingWith(dir.path(), ".zentrova-").size(), 1u);
    std::vector<bool> seen;
    job.RunFrameLoop(nullptr, [&](uint32_t, uint32_t) { seen.push_back(fs::exists(dir.file(name))); });
    job.Finish();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(fs::exists(dir.file(name)));
    EXPECT_EQ(NamesStartingWith(dir.path(), ".zentrova-"), std::vector<std::string>{});
  }
  // Someone else takes the name meanwhile: their file stays, ours is kept under its own name.
  {
    ConversionJob job([](const std::string&) {}, {}, JobOptions{});
    ASSERT_EQ(job.Convert(dir.file("in.zr"), dir.file("race.avi"), [] { return std::optional(avi::CompressOptions{"raw", 90}); }),
              ConversionJob::Setup::Started);
    WriteAll(dir.file("race.avi"), "theirs\n");
    const auto result = job.RunFrameLoop(nullptr, {});
    EXPECT_EQ(result.outcome, JobOutcome::WriteFailed);
    EXPECT_EQ(ReadAll(dir.file("race.avi")), "theirs\n");
    EXPECT_EQ(NamesStartingWith(dir.path(), ".zentrova-").size(), 1u);
  }
}

TEST(CliLeftovers, EmptyFilesAtOutputNamesAreRedoneByABatchAndNamedByASingleConversion) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/a.zr"), 6);
  MakeRecording(dir.file("in/b.zr"), 6);
  for (const char* format : {"avi", "mkv"}) {
    SCOPED_TRACE(format);
    const std::string out = dir.file(std::string("out-") + format);
    fs::create_directories(out);
    WriteAll(out + "/a." + format, "");  // what a kill used to leave
    WriteAll(out + "/b." + format, "notes of my own\n");
    const CliRun run = RunCli({"convert", dir.file("in"), "-o", out, "--format", format, "--codec", "mjpeg", "--json"});
    EXPECT_EQ(run.status, 1) << run.err;
    const auto rows = Lines(run.out);
    ASSERT_EQ(rows.size(), 2u) << run.out;
    const bool aFirst = Contains(rows[0], "a.zr\"");
    const std::string& a = rows[aFirst ? 0 : 1];
    const std::string& b = rows[aFirst ? 1 : 0];
    EXPECT_TRUE(Contains(a, "\"status\": \"ok\"")) << a;
    EXPECT_TRUE(Contains(b, "\"status\": \"failed\"")) << b;
    EXPECT_TRUE(Contains(b, "-y replaces it")) << b;
    EXPECT_GT(fs::file_size(out + "/a." + format), 0u);
    EXPECT_EQ(ReadAll(out + "/b." + format), "notes of my own\n");
  }

  WriteAll(dir.file("stopped.avi"), "");
  const CliRun refused = RunCli({"convert", dir.file("in/a.zr"), dir.file("stopped.avi")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.err, "stopped.avi is empty, as a conversion stopped before its first frame leaves it; "
                                    "-y replaces it")) << refused.err;
  const CliRun replaced = RunCli({"convert", "-y", dir.file("in/a.zr"), dir.file("stopped.avi")});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(avi::ProbeAvi(dir.file("stopped.avi")).frames, 6u);
}

TEST(CliTwoBatches, ASecondBatchNeverTakesTheFirstsFilesInProgressForPartialOnes) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/1.zr"), 300, 130);
  for (const char* name : {"2.zr", "3.zr"}) fs::copy_file(dir.file("in/1.zr"), dir.file("in/") + name);
  const std::vector<std::string> args = {"convert", dir.file("in"), "-o", dir.file("out"), "-j", "1", "--json",
                                         "--codec", "mjpeg"};
  // The second batch runs while the first's second file stands at its name, half written.
  CliRun second;
  bool tried = false;
  const CliRun first = RunProgram(args, false, [&](const std::string& out, pid_t) {
    if (tried || !Contains(out, "\n")) return;
    tried = true;
    for (int i = 0; i < 500 && !fs::exists(dir.file("out/2.avi")); ++i) ::usleep(10000);
    second = RunCli(args);
  });
  ASSERT_TRUE(tried);
  EXPECT_EQ(Lines(first.out).size(), 3u) << first.out;
  // Each row of either batch is a whole conversion, a complete file skipped, or a file the other
  // batch was writing left alone; whatever the timing, every file holds every frame.
  for (const std::string& row : Lines(first.out + second.out))
    EXPECT_TRUE((Contains(row, "\"status\": \"ok\"") && Contains(row, "\"framesWritten\": 300")) ||
                Contains(row, "\"status\": \"skipped\"") ||
                (Contains(row, "\"status\": \"failed\"") && Contains(row, "being written by another conversion")))
        << row;
  for (const char* name : {"1.avi", "2.avi", "3.avi"}) EXPECT_EQ(avi::ProbeAvi(dir.file("out/") + name).frames, 300u);
  // The second skipped the finished file (the file in progress depends on the timing: left alone
  // while the first writes it, skipped once it is complete).
  EXPECT_TRUE(Contains(second.out, "1.zr\", \"output\"")) << second.out;
  EXPECT_TRUE(second.status == 0 || second.status == 1) << second.err;

  // Once the first has ended a rerun skips everything.
  const CliRun rerun = RunCli(args);
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(Lines(rerun.out).size(), 3u);
  EXPECT_FALSE(Contains(rerun.out, "\"status\": \"ok\"")) << rerun.out;
}

TEST(CliTwoBatches, TemporaryFilesOfAKilledConversionGoThoseOfALiveOneStay) {
  TempDir dir;
  fs::create_directories(dir.file("in/sub"));
  fs::create_directories(dir.file("out/sub"));
  MakeRecording(dir.file("in/sub/a.zr"), 4);
  // A process id that no process has now.
  const std::string dead = dir.file("out/sub/.zentrova-4000001-1f-0.avi");
  const std::string live = dir.file("out/sub/.zentrova-4000002-1f-0.avi");
  const std::string mine = dir.file("out/sub/.zentrova-notes.txt");
  for (const std::string& f : {dead, live, mine}) WriteAll(f, "x");
  // A conversion writing now holds its file's lock.
  const int held = ::open(live.c_str(), O_RDWR);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const CliRun run = RunCli({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw"});
  ::close(held);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(mine));
}

// A name in the output folder swapped for a symbolic link to a file elsewhere while the output is
// written (a shared folder): the link is what gets replaced or refused, never the file it leads to.
TEST(CliSwappedLinks, AnOutputNameSwappedForALinkNeverLeadsAWriteOutside) {
  TempDir dir;
  MakeRecording(dir.file("in.zr"), 5);
  fs::create_directories(dir.file("out"));
  WriteAll(dir.file("elsewhere.txt"), "not ours\n");
  for (const bool replace : {false, true}) {
    for (const char* name : {"cam.avi", "cam.mkv"}) {
      SCOPED_TRACE(std::string(name) + (replace ? " replacing" : " new"));
      const std::string out = dir.file("out/") + name;
      fs::remove(out);
      if (replace) WriteAll(out, "an older file\n");
      JobOptions options;
      options.format = container::FormatOfName(name);
      options.overwrite = replace;
      ConversionJob job([](const std::string&) {}, {}, options);
      ASSERT_EQ(job.Convert(dir.file("in.zr"), out, [] { return std::optional(avi::CompressOptions{"mjpeg", 90}); }),
                ConversionJob::Setup::Started);
      // Planned and opened; now the name becomes a link to a file outside the folder.
      fs::remove(out);
      fs::create_symlink(dir.file("elsewhere.txt"), out);
      job.RunFrameLoop(nullptr, {});
      job.Finish();
      EXPECT_EQ(ReadAll(dir.file("elsewhere.txt")), "not ours\n");
      // A replacement takes the link's place; a new file leaves the name to whoever took it.
      EXPECT_EQ(fs::is_symlink(out), !replace);
    }
  }
}

}  // namespace
}  // namespace zentrova::testing
