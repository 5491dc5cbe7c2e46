// The batch form: folders searched, several conversions at once, rows as JSON, reruns that skip
// complete outputs, exit statuses, and folders full of bad input.
#include <sys/stat.h>

#include <set>

#include "CliTestSupport.h"
#include "avi/AviReader.h"
#include "cli/Json.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

// The JSON rows by input name (relative to `base`), with their text.
std::map<std::string, std::string> RowsByInput(const std::string& out, const std::string& base) {
  std::map<std::string, std::string> rows;
  for (const std::string& line : Lines(out)) {
    EXPECT_EQ(line.front(), '{') << line;
    EXPECT_EQ(line.back(), '}') << line;
    const std::string key = "\"input\": \"";
    const size_t at = line.find(key);
    if (at == std::string::npos) continue;
    const size_t end = line.find('"', at + key.size());
    std::string input = line.substr(at + key.size(), end - at - key.size());
    if (input.rfind(base, 0) == 0) input = input.substr(base.size());
    rows[input] = line;
  }
  return rows;
}

std::string Field(const std::string& row, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  const size_t at = row.find(key);
  if (at == std::string::npos) return "";
  size_t end = at + key.size();
  if (row[end] == '"') {
    const size_t close = row.find('"', end + 1);
    return row.substr(end + 1, close - end - 1);
  }
  const size_t close = row.find_first_of(",}", end);
  return row.substr(end, close - end);
}

// Every regular file below `root`, relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.symlink_status().type() == fs::file_type::regular) files.insert(fs::relative(e.path(), root).string());
  return files;
}

struct BatchFolder {
  TempDir dir;
  std::string in = dir.file("in") + "/";
  std::string out = dir.file("out");
  BatchFolder() {
    fs::create_directories(in + "sub/deeper");
    MakeRecording(in + "a.zr", 20);
    MakeRecording(in + "sub/b.ZRX", 15, 130);
    MakeRecording(in + "sub/deeper/c.zr", 10);
    WriteAll(in + "broken.zr", "ZR but not really a recording");
    WriteAll(in + "notes.txt", "not a recording, not a row");
  }
};

TEST(CliBatch, AFolderWithTwoJobsConvertsTheGoodOnesAndGivesTheBrokenOneItsRow) {
  BatchFolder f;
  const CliRun run = RunCli({"convert", f.in, "-o", f.out, "-j", "2", "--json", "--codec", "mjpeg"});
  EXPECT_EQ(run.status, 1) << run.err;  // one recording failed
  auto rows = RowsByInput(run.out, f.in);
  ASSERT_EQ(rows.size(), 4u) << run.out;
  for (const char* good : {"a.zr", "sub/b.ZRX", "sub/deeper/c.zr"}) {
    EXPECT_EQ(Field(rows[good], "status"), "ok") << rows[good];
    EXPECT_EQ(Field(rows[good], "framesWritten"), Field(rows[good], "framesDeclared"));
    EXPECT_EQ(Field(rows[good], "codec"), "mjpeg");
    EXPECT_NE(Field(rows[good], "bytes"), "0");
  }
  EXPECT_EQ(Field(rows["a.zr"], "framesWritten"), "20");
  EXPECT_EQ(Field(rows["a.zr"], "output"), f.out + "/a.avi");
  EXPECT_EQ(Field(rows["broken.zr"], "status"), "failed");
  EXPECT_FALSE(Field(rows["broken.zr"], "reason").empty());
  EXPECT_EQ(Field(rows["broken.zr"], "exitStatus"), "1");
  // Each AVI output has its clock times beside it.
  EXPECT_EQ(FilesBelow(f.out), (std::set<std::string>{"a.avi", "a.srt", "sub/b.avi", "sub/b.srt", "sub/deeper/c.avi",
                                                       "sub/deeper/c.srt"}));
  EXPECT_EQ(avi::ProbeAvi(f.out + "/sub/b.avi").frames, 15u);
  // Standard error has the reason and the summary; standard output nothing but the rows.
  EXPECT_TRUE(Contains(run.err, "broken.zr")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Summary: 3 converted, 0 skipped, 0 partial, 1 failed")) << run.err;
}

TEST(CliBatch, ARerunSkipsCompleteOutputsAndRedoesCutOnes) {
  BatchFolder f;
  fs::remove(f.in + "broken.zr");
  ASSERT_EQ(RunCli({"convert", f.in, "-o", f.out, "-q"}).status, 0);

  // A conversion cut short (as after a kill): the file does not add up any more.
  const std::string bytes = ReadAll(f.out + "/a.avi");
  WriteAll(f.out + "/a.avi", bytes.substr(0, bytes.size() * 2 / 3));
  const CliRun rerun = RunCli({"convert", f.in, "-o", f.out, "--json"});
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  auto rows = RowsByInput(rerun.out, f.in);
  EXPECT_EQ(Field(rows["a.zr"], "status"), "ok");
  EXPECT_EQ(Field(rows["sub/b.ZRX"], "status"), "skipped");
  EXPECT_EQ(Field(rows["sub/deeper/c.zr"], "status"), "skipped");
  EXPECT_EQ(Field(rows["sub/deeper/c.zr"], "framesWritten"), "10");
  EXPECT_TRUE(avi::ProbeAvi(f.out + "/a.avi").finished);

  // -y converts everything again; -n keeps an incomplete output and says so.
  const CliRun forced = RunCli({"convert", f.in, "-o", f.out, "--json", "-y"});
  EXPECT_EQ(forced.status, 0);
  for (const auto& [input, row] : RowsByInput(forced.out, f.in)) EXPECT_EQ(Field(row, "status"), "ok") << input;
  WriteAll(f.out + "/a.avi", bytes.substr(0, 1000));
  const CliRun never = RunCli({"convert", f.in, "-o", f.out, "--json", "-n"});
  EXPECT_EQ(never.status, 1);
  rows = RowsByInput(never.out, f.in);
  EXPECT_EQ(Field(rows["a.zr"], "status"), "failed");
  EXPECT_EQ(ReadAll(f.out + "/a.avi").size(), 1000u);
}

TEST(CliBatch, AFileAtAnOutputNameThatIsNoAviIsKeptUnlessYes) {
  TempDir dir;
  MakeRecording(dir.file("cam.zr"), 5);
  fs::create_directories(dir.file("out"));
  WriteAll(dir.file("out/cam.avi"), "my notes");
  const CliRun kept = RunCli({"convert", dir.file("cam.zr"), "-o", dir.file("out")});
  EXPECT_EQ(kept.status, 1);
  EXPECT_TRUE(Contains(kept.err, "not an AVI file")) << kept.err;
  EXPECT_EQ(ReadAll(dir.file("out/cam.avi")), "my notes");
  EXPECT_EQ(RunCli({"convert", dir.file("cam.zr"), "-o", dir.file("out"), "-y"}).status, 0);
  EXPECT_EQ(avi::ProbeAvi(dir.file("out/cam.avi")).frames, 5u);
}

TEST(CliBatch, ExitStatusesFollowTheWorstRecording) {
  TempDir dir;
  MakeRecording(dir.file("good.zr"), 10);
  MakeRecording(dir.file("whole.zr"), 60, 0, 10);
  const std::string whole = ReadAll(dir.file("whole.zr"));
  WriteAll(dir.file("short.zr"), whole.substr(0, whole.size() / 2));  // ends before its declared frames

  const CliRun good = RunCli({"convert", dir.file("good.zr"), "-o", dir.file("o1")});
  EXPECT_EQ(good.status, 0);
  EXPECT_TRUE(Contains(good.out, "converted ")) << good.out;
  EXPECT_TRUE(Contains(good.out, "Summary: 1 converted")) << good.out;

  const CliRun cut = RunCli({"convert", dir.file("good.zr"), dir.file("short.zr"), "-o", dir.file("o2"), "--json"});
  EXPECT_EQ(cut.status, 4) << cut.out << cut.err;
  auto rows = RowsByInput(cut.out, dir.file(""));
  EXPECT_EQ(Field(rows["short.zr"], "status"), "partial");
  EXPECT_EQ(Field(rows["short.zr"], "exitStatus"), "4");
  EXPECT_LT(std::stoi(Field(rows["short.zr"], "framesWritten")), std::stoi(Field(rows["short.zr"], "framesDeclared")));

  const CliRun missing = RunCli({"convert", dir.file("short.zr"), dir.file("nothing-here.zr"), "-o", dir.file("o3")});
  EXPECT_EQ(missing.status, 1);  // a failure outranks a short recording

  fs::create_directories(dir.file("empty"));
  const CliRun none = RunCli({"convert", dir.file("empty"), "-o", dir.file("o4")});
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(Contains(none.err, "no recordings")) << none.err;

  const CliRun quiet = RunCli({"convert", dir.file("good.zr"), "-o", dir.file("o5"), "-q"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(RunCli({"convert", dir.file("good.zr"), "-o", dir.file("o6"), "--codec", "nosuch"}).status, 2);
}

TEST(CliBatch, BadNamesLinksAndAnOutputFolderInsideTheInputs) {
  TempDir dir;
  const std::string in = dir.file("in") + "/";
  const std::string out = in + "converted";  // the output folder inside the input folder
  fs::create_directories(in + "sub");
  MakeRecording(in + "with space.zr", 5);
  MakeRecording(in + "two\nlines.zr", 5);
  MakeRecording(in + "latin\xE9.zr", 5);  // not UTF-8
  MakeRecording(in + "sub/ok.zr", 5);
  fs::create_directory_symlink("..", in + "sub/back");  // a loop
  fs::create_symlink("self.zr", in + "self.zr");        // a link to itself
  fs::create_symlink("nowhere.zr", in + "gone.zr");     // a link to nothing
  ASSERT_EQ(::mkfifo((in + "pipe.zr").c_str(), 0600), 0);
  fs::create_directories(out);
  MakeRecording(out + "/stray.zr", 5);  // never searched: it is inside OUTDIR

  const CliRun run = RunCli({"convert", in, "-o", out, "--json", "-j", "2"});
  EXPECT_EQ(run.status, 1);
  auto rows = RowsByInput(run.out, in);
  for (const char* good : {"with space.zr", "two\\nlines.zr", "sub/ok.zr"})
    EXPECT_EQ(Field(rows[good], "status"), "ok") << good << "\n" << run.out;
  EXPECT_EQ(Field(rows["latin\\ufffd.zr"], "status"), "ok") << run.out;
  EXPECT_EQ(Field(rows["latin\\ufffd.zr"], "inputBytes"), cli::HexBytes(in + "latin\xE9.zr"));
  for (const char* broken : {"self.zr", "gone.zr", "pipe.zr", "sub/back"}) {
    EXPECT_EQ(Field(rows[broken], "status"), "failed") << broken << "\n" << run.out;
    EXPECT_FALSE(Field(rows[broken], "reason").empty()) << broken;
  }
  EXPECT_TRUE(Contains(rows["sub/back"], "loop")) << rows["sub/back"];
  EXPECT_EQ(rows.count("converted/stray.zr"), 0u);
  EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"with space.avi", "with space.srt", "two\nlines.avi",
                                                     "two\nlines.srt", "latin\xE9.avi", "latin\xE9.srt", "sub/ok.avi",
                                                     "sub/ok.srt", "stray.zr"}));
  // Every file written is below OUTDIR; the input folder holds what it held.
  std::set<std::string> inputs = FilesBelow(in);
  for (const auto& f : FilesBelow(out)) inputs.erase("converted/" + f);
  EXPECT_EQ(inputs, (std::set<std::string>{"with space.zr", "two\nlines.zr", "latin\xE9.zr", "sub/ok.zr"}));
}

TEST(CliBatch, TwoRecordingsForOneOutputNameAndLinkedFoldersSearchedOnce) {
  TempDir dir;
  const std::string in = dir.file("in") + "/";
  fs::create_directories(in + "real");
  MakeRecording(in + "cam.zr", 5);
  MakeRecording(in + "cam.zrx", 5);
  MakeRecording(in + "real/x.zr", 5);
  fs::create_directory_symlink("real", in + "alias");
  const CliRun run = RunCli({"convert", in, "-o", dir.file("out"), "--json"});
  auto rows = RowsByInput(run.out, in);
  EXPECT_EQ(Field(rows["cam.zr"], "status"), "ok");
  EXPECT_EQ(Field(rows["cam.zrx"], "status"), "failed");
  EXPECT_TRUE(Contains(Field(rows["cam.zrx"], "reason"), "cam.zr")) << rows["cam.zrx"];
  // "alias" sorts first, so the folder is converted under that name, and once.
  EXPECT_EQ(rows.count("alias/x.zr") + rows.count("real/x.zr"), 1u) << run.out;
}

}  // namespace
}  // namespace zentrova::testing
