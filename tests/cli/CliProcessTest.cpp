// The built program as a user meets it: a progress line on a terminal and never on a pipe, and
// Ctrl-C in the middle of a batch.
#include "CliTestSupport.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

TEST(CliProgress, DrawnOnATerminalOnly) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/a.zr"), 40);
  MakeRecording(dir.file("in/b.zr"), 40);

  const CliRun tty = RunProgram({"convert", dir.file("in"), "-o", dir.file("t"), "-j", "1"}, true);
  EXPECT_EQ(tty.status, 0) << tty.out;
  EXPECT_TRUE(Contains(tty.out, "\r[")) << tty.out;  // the batch line: files, frames, speed, ETA
  EXPECT_TRUE(Contains(tty.out, "] frame ")) << tty.out;
  EXPECT_TRUE(Contains(tty.out, " fps ")) << tty.out;
  EXPECT_TRUE(Contains(tty.out, "ETA")) << tty.out;
  EXPECT_TRUE(Contains(tty.out, "Summary: 2 converted")) << tty.out;

  const CliRun one = RunProgram({"convert", dir.file("in/a.zr"), dir.file("one.avi")}, true);
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_TRUE(Contains(one.out, "\rframe ")) << one.out;
  EXPECT_TRUE(Contains(one.out, "File saved!")) << one.out;

  const CliRun quiet = RunProgram({"convert", dir.file("in"), "-o", dir.file("q"), "--no-progress"}, true);
  EXPECT_FALSE(Contains(quiet.out, "fps")) << quiet.out;

  const CliRun piped = RunProgram({"convert", dir.file("in"), "-o", dir.file("p"), "-j", "1"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_FALSE(Contains(piped.err, "\r")) << piped.err;
  EXPECT_FALSE(Contains(piped.err + piped.out, "fps ")) << piped.err;
  EXPECT_EQ(Lines(piped.out).size(), 4u) << piped.out;  // a line per recording, then two of summary
}

// The program and its libav module copied into `folder`, laid out as they are installed: the
// clone may sit in a folder that another user cannot enter (a fresh mktemp -d, /root).
std::string ProgramCopyIn(const fs::path& folder) {
  const fs::path program = folder / "bin" / "zentrova";
  const fs::path module = fs::path(program.parent_path() / ZENTROVA_MODULE_FROM_PROGRAM / "zentrova-libav.so").lexically_normal();
  const fs::path built = fs::canonical(ZentrovaProgram());
  fs::create_directories(program.parent_path());
  fs::create_directories(module.parent_path());
  fs::copy_file(built, program);
  const fs::path builtModule = built.parent_path() / ZENTROVA_MODULE_FROM_PROGRAM / "zentrova-libav.so";
  if (fs::exists(builtModule)) fs::copy_file(fs::canonical(builtModule), module);
  // Whatever the umask: every user may enter the folders and run the program.
  const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                    fs::perms::others_exec;
  for (const auto& e : fs::recursive_directory_iterator(folder)) fs::permissions(e.path(), open);
  fs::permissions(folder, open);
  return program.string();
}

TEST(CliUnreadable, FilesAndFoldersThatCannotBeReadGetTheirRows) {
  // Root reads everything, so as root the program runs as nobody.
  std::vector<std::string> wrapper;
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root, and no setpriv to run as another user";
    wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  TempDir dir;
  fs::create_directories(dir.file("in/locked folder"));
  MakeRecording(dir.file("in/good.zr"), 5);
  MakeRecording(dir.file("in/locked.zr"), 5);
  MakeRecording(dir.file("in/locked folder/inside.zr"), 5);
  fs::permissions(dir.file("in/locked.zr"), fs::perms::none);
  fs::permissions(dir.file("in/locked folder"), fs::perms::none);
  fs::permissions(dir.path(), fs::perms::all);  // the output folder is made here
  const std::string program = wrapper.empty() ? ZentrovaProgram() : ProgramCopyIn(dir.path() / "program");
  const CliRun run =
      RunProgram({"convert", dir.file("in"), "-o", dir.file("out"), "--json"}, false, {}, wrapper, program);
  fs::permissions(dir.file("in/locked folder"), fs::perms::owner_all);
  EXPECT_EQ(run.status, 1) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out << run.err;
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  EXPECT_TRUE(Contains(all, "in/good.zr\", \"output\"")) << all;
  EXPECT_TRUE(Contains(all, "\"status\": \"ok\"")) << all;
  for (const auto& l : lines)
    if (!Contains(l, "good.zr")) {
      EXPECT_TRUE(Contains(l, "\"status\": \"failed\"")) << l;
      EXPECT_TRUE(Contains(l, "Permission denied")) << l;
    }
}

// A batch big enough that a signal lands while a conversion is in flight.
struct SlowBatch {
  TempDir dir;
  SlowBatch() {
    fs::create_directories(dir.file("in"));
    MakeRecording(dir.file("in/1.zr"), 200, 130);
    for (const char* name : {"2.zr", "3.zr", "4.zr", "5.zr"}) fs::copy_file(dir.file("in/1.zr"), dir.file("in/") + name);
  }
  std::vector<std::string> Args() const {
    return {"convert", dir.file("in"), "-o", dir.file("out"), "-j", "1", "--json", "--codec", "mjpeg"};
  }
};

TEST(CliCancel, CtrlCFinishesTheFileInFlightStartsNoOtherAndSaysWhatWasDone) {
  SlowBatch b;
  bool sent = false;
  const CliRun run = RunProgram(b.Args(), false, [&](const std::string& out, pid_t child) {
    if (!sent && Contains(out, "\n")) {  // the first row: the second conversion is under way
      ::kill(child, SIGINT);
      sent = true;
    }
  });
  ASSERT_TRUE(sent);
  EXPECT_EQ(run.status, 130) << run.err;
  const auto rows = Lines(run.out);
  ASSERT_GE(rows.size(), 1u) << run.out;
  ASSERT_LT(rows.size(), 5u) << run.out;
  for (const auto& row : rows) EXPECT_TRUE(Contains(row, "\"status\": \"ok\"")) << row;  // none cut short
  EXPECT_TRUE(Contains(run.err, "not started")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Summary: " + std::to_string(rows.size()) + " converted")) << run.err;
}

// A recording of `blocks` empty blocks chained back to back: slow to index, quick to write.
void WriteEmptyBlocks(const std::string& path, uint32_t blocks) {
  std::vector<uint8_t> b(44 + 16 * static_cast<size_t>(blocks), 0);
  b[0] = 'Z', b[1] = 'R', b[2] = 0x01, b[3] = 0x01, b[7] = 160, b[12] = 8, b[28] = 44;
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  for (uint32_t i = 0; i < blocks; ++i) {
    const size_t at = 44 + 16 * static_cast<size_t>(i);
    put32(at, i == 0 ? 0xFFFFFFFF : static_cast<uint32_t>(at - 16));
    put32(at + 4, i + 1 == blocks ? 0xFFFFFFFF : static_cast<uint32_t>(at + 16));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                               static_cast<std::streamsize>(b.size()));
}

// Ctrl-C while the batch still looks at its recordings (a chain of a million blocks each, under
// thirty names): it stops there, says the rest were not started, and leaves no output behind.
TEST(CliCancel, CtrlCWhilePlanningStopsBeforeAnyConversion) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  WriteEmptyBlocks(dir.file("in/00.zr"), 1000000);
  for (int i = 1; i < 30; ++i) fs::create_hard_link(dir.file("in/00.zr"), dir.file("in/" + std::to_string(i + 10) + ".zr"));
  bool sent = false;
  const CliRun run = RunProgram({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw"}, true,
                                [&](const std::string& out, pid_t child) {
                                  if (!sent && Contains(out, "checking the recordings")) {
                                    ::kill(child, SIGINT);
                                    sent = true;
                                  }
                                });
  ASSERT_TRUE(sent) << run.out;
  EXPECT_EQ(run.status, 130) << run.out;
  EXPECT_TRUE(Contains(run.out, "not started (stopped)")) << run.out;
  EXPECT_FALSE(Contains(run.out, "converted ")) << run.out;
  EXPECT_TRUE(fs::is_empty(dir.file("out")));
}

TEST(CliCancel, SigtermCutsTheFileInFlightShortAndARerunRedoesIt) {
  SlowBatch b;
  bool sent = false;
  const CliRun run = RunProgram(b.Args(), false, [&](const std::string& out, pid_t child) {
    if (!sent && Contains(out, "\n")) {
      ::kill(child, SIGTERM);
      sent = true;
    }
  });
  ASSERT_TRUE(sent);
  EXPECT_EQ(run.status, 130) << run.err;
  const auto rows = Lines(run.out);
  // The first recording is done; the second was cut short, or stopped while it was being opened
  // (reading its block headers) with nothing written, unless the signal came before it began.
  ASSERT_GE(rows.size(), 1u) << run.out;
  ASSERT_LE(rows.size(), 2u) << run.out;
  EXPECT_TRUE(Contains(rows[0], "\"status\": \"ok\""));
  if (rows.size() == 2) {
    const bool cutShort = Contains(rows[1], "\"status\": \"partial\"");
    const bool stoppedOpening = Contains(rows[1], "cancelled before the conversion started") &&
                                Contains(rows[1], "\"framesWritten\": 0");
    EXPECT_TRUE(cutShort || stoppedOpening) << rows[1];
    EXPECT_TRUE(Contains(rows[1], "\"exitStatus\": 130")) << rows[1];
  }

  const CliRun rerun = RunProgram(b.Args());
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  const auto again = Lines(rerun.out);
  ASSERT_EQ(again.size(), 5u) << rerun.out;
  EXPECT_TRUE(Contains(again[0], "\"status\": \"skipped\"")) << again[0];
  for (size_t i = 1; i < again.size(); ++i) EXPECT_TRUE(Contains(again[i], "\"status\": \"ok\"")) << again[i];
}

// The compressors come from a module loaded on demand: an uncompressed conversion never loads it,
// and a module that cannot be loaded leaves the uncompressed route working and says why the
// others are missing.
TEST(CliLibavModule, LoadedOnlyForCompressorsAndMissedWithAReason) {
  TempDir dir;
  MakeRecording(dir.file("a.zr"), 10);
  const std::vector<std::string> traced = {"/usr/bin/env", "LD_DEBUG=files"};
  const CliRun raw = RunProgram({"convert", "--codec", "raw", dir.file("a.zr"), dir.file("raw.avi")}, false, {}, traced);
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_FALSE(Contains(raw.err, "zentrova-libav.so")) << raw.err;
  EXPECT_FALSE(Contains(raw.err, "libavcodec")) << raw.err;
  const CliRun mpeg4 = RunProgram({"convert", dir.file("a.zr"), dir.file("mpeg4.avi")}, false, {}, traced);
  EXPECT_EQ(mpeg4.status, 0) << mpeg4.err;
  EXPECT_TRUE(Contains(mpeg4.err, "zentrova-libav.so")) << mpeg4.err;

  // The program copied to a folder whose ../lib/zentrova holds a file of that name that is no
  // library.
  fs::create_directories(dir.file("bin"));
  fs::create_directories(dir.file("lib/zentrova"));
  fs::copy_file(ZentrovaProgram(), dir.file("bin/zentrova"));
  WriteAll(dir.file("lib/zentrova/zentrova-libav.so"), "not a library");
  const auto broken = [&](const std::vector<std::string>& args) {
    return RunProgram(args, false, {}, {}, dir.file("bin/zentrova"));
  };
  const CliRun codecs = broken({"codecs"});
  EXPECT_EQ(codecs.status, 0);
  EXPECT_TRUE(Contains(codecs.out, "raw\tFull Frames (Uncompressed)\tavailable\n")) << codecs.out;
  EXPECT_TRUE(Contains(codecs.out, "mpeg4\tMPEG-4 Part 2 (XVID)\tnot available\n")) << codecs.out;
  EXPECT_TRUE(Contains(codecs.err, "the compressors could not be loaded: ")) << codecs.err;
  const CliRun refused = broken({"convert", dir.file("a.zr"), dir.file("refused.avi")});
  EXPECT_NE(refused.status, 0);
  EXPECT_TRUE(Contains(refused.err, "the mpeg4 compressor could not be loaded: ")) << refused.err;
  EXPECT_FALSE(fs::exists(dir.file("refused.avi")));
  const CliRun still = broken({"convert", "--codec", "raw", dir.file("a.zr"), dir.file("still.avi")});
  EXPECT_EQ(still.status, 0) << still.err;
  const CliRun mkv = broken({"convert", "--codec", "ffv1", dir.file("a.zr"), dir.file("a.mkv")});
  EXPECT_NE(mkv.status, 0);
  EXPECT_TRUE(Contains(mkv.err, "could not be loaded")) << mkv.err;
}

}  // namespace
}  // namespace zentrova::testing
