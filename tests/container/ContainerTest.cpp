// Whole conversions into AVI, Matroska and MP4, read back by ffprobe and ffmpeg: pictures and
// sound that end together, the recording's facts as tags, and what the command line refuses
// before it writes anything.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "container/ConversionTestSupport.h"
#include "container/ContainerFile.h"
#include "container/Tags.h"
#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "support/Opened.h"

namespace zentrova {
namespace {

using avi::testing::RunCommand;
using container::Format;
using testing::Recording;
using testing::Write;
using testing::Converted;
using testing::Convert;
using testing::In;
using testing::Probe;
using testing::Extension;
using testing::Zentrova;
using testing::ExitStatus;
using testing::RunZentrova;
using testing::TempDir;

// Where a stream's last packet ends, in seconds (decoding times: no codec here reorders), and how
// many packets it has.
struct StreamEnd {
  double end = 0;
  int packets = 0;
};

StreamEnd EndOf(const std::string& path, const char* stream) {
  const std::string out = RunCommand("ffprobe -v error -select_streams " + std::string(stream) +
                                     " -show_entries packet=dts_time,duration_time -of csv=p=0 '" + path + "'");
  StreamEnd e;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    ++e.packets;
    e.end = std::max(e.end, std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1));
  }
  return e;
}

// --- Pictures and sound end together ----------------------------------------------------------

struct SyncCase {
  Format format;
  const char* codec;
  int fps;         // the recorder's
  int audioBytes;  // per frame
  int frames;
  int headerSeconds;
};

void PrintTo(const SyncCase& c, std::ostream* os) {
  *os << container::FormatName(c.format) << " " << c.codec << " " << c.fps << " fps";
}

class Sync : public ::testing::TestWithParam<SyncCase> {};

TEST_P(Sync, PicturesAndSoundEndWithinOneFrame) {
  SKIP_WITHOUT_FFMPEG();
  const SyncCase c = GetParam();
  TempDir dir;
  Recording r;
  r.frames = c.frames;
  r.audioBytes = c.audioBytes;
  r.headerSeconds = c.headerSeconds;
  Write(dir.file("in.zr"), r);
  const std::string out = dir.file(std::string("out.") + Extension(c.format));
  const Converted run = Convert(dir.file("in.zr"), out, c.codec, In(c.format));
  ASSERT_TRUE(run.saved);
  EXPECT_EQ(run.rate.source, RateSource::Sound);

  const StreamEnd video = EndOf(out, "v:0");
  const StreamEnd audio = EndOf(out, "a:0");
  const double sound = c.frames * (c.audioBytes / 3 * 8) / 8000.0;
  EXPECT_EQ(video.packets, c.frames);
  EXPECT_NEAR(audio.end, sound, 0.13);  // AAC ends on a whole packet of 1024 samples
  EXPECT_NEAR(video.end, sound, 1.0 / c.fps);
  EXPECT_NEAR(video.end, audio.end, 1.0 / c.fps + (c.format == Format::Mp4 ? 0.13 : 0.0));
  // ffmpeg decodes every picture.
  EXPECT_EQ(Probe(out, "stream=nb_read_frames"), std::to_string(c.frames));
}

INSTANTIATE_TEST_SUITE_P(
    Containers, Sync,
    ::testing::Values(
        // 25 fps, the header's whole seconds short of the sound (253 frames "in 10 s").
        SyncCase{Format::Avi, "h264", 25, 120, 253, 10}, SyncCase{Format::Matroska, "mpeg4", 25, 120, 253, 10},
        SyncCase{Format::Mp4, "h264", 25, 120, 253, 10},
        // 1 fps: a second of sound a frame.
        SyncCase{Format::Avi, "mjpeg", 1, 3000, 10, 10}, SyncCase{Format::Matroska, "ffv1", 1, 3000, 10, 10},
        SyncCase{Format::Mp4, "mpeg4", 1, 3000, 10, 10},
        // 30 fps: 264 samples a frame (99 bytes), so the rate is 1000/33.
        SyncCase{Format::Avi, "raw", 30, 99, 300, 10}, SyncCase{Format::Matroska, "ffv1", 30, 99, 300, 10},
        SyncCase{Format::Mp4, "h264", 30, 99, 300, 10}));

// --- The command line --------------------------------------------------------------------------

TEST(FormatOption, ContainersFollowTheNameOrTheOptionAndRefuseBeforeWriting) {
  SKIP_WITHOUT_FFMPEG();
  SKIP_WITHOUT_CLI();
  TempDir dir;
  Recording r;
  r.frames = 25;
  r.headerSeconds = 1;
  Write(dir.file("in.zr"), r);
  const std::string in = "'" + dir.file("in.zr") + "' ";
  ASSERT_EQ(RunZentrova("convert --codec mjpeg " + in + "'" + dir.file("a.MKV") + "'"), 0);
  EXPECT_EQ(Probe(dir.file("a.MKV"), "format=format_name", ""), "matroska,webm");
  // --format wins over the name; the "avi" rule holds only for AVI.
  ASSERT_EQ(RunZentrova("convert --format mp4 --codec h264 " + in + "'" + dir.file("clip.bin") + "'"), 0);
  EXPECT_EQ(Probe(dir.file("clip.bin"), "format=format_name", ""), "mov,mp4,m4a,3gp,3g2,mj2");
  EXPECT_EQ(RunZentrova("convert --format avi --codec raw " + in + "'" + dir.file("clip.mkv") + "'"), 2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("clip.mkv")));

  // Raw pictures in MP4: a usage error, and no file.
  std::string err;
  EXPECT_EQ(RunZentrova("convert --codec raw " + in + "'" + dir.file("raw.mp4") + "'", &err, dir.file("err")), 2);
  EXPECT_NE(err.find("MP4 carries h264 or mpeg4"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("raw.mp4")));
  // A folder that cannot be written: the reason, status 1, nothing left behind.
  for (const char* name : {"none/out.mkv", "none/out.mp4"}) {
    EXPECT_EQ(RunZentrova("convert --codec h264 " + in + "'" + dir.file(name) + "'", &err, dir.file("err")), 1);
    EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("none")));
}

TEST(FormatOption, AJobRefusesPicturesItsContainerCannotHold) {
  TempDir dir;
  Recording r;
  r.frames = 2;
  Write(dir.file("in.zr"), r);
  // Raw pictures in MP4 or Matroska (players show none in Matroska): refused before a file exists.
  for (const char* name : {"out.mp4", "out.mkv"}) {
    const Converted run = Convert(dir.file("in.zr"), dir.file(name), "raw", In(container::FormatOfName(name)));
    EXPECT_FALSE(run.saved);
    EXPECT_EQ(run.log.back(), "Unavailable format!");
    EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
  }
  auto carried = container::CanCarry(Format::Mp4, "mjpeg");
  ASSERT_FALSE(carried);
  EXPECT_NE(carried.reason().find("mjpeg"), std::string::npos);
  carried = container::CanCarry(Format::Matroska, "raw");
  ASSERT_FALSE(carried);
  EXPECT_NE(carried.reason().find("ffv1"), std::string::npos) << carried.reason();
  for (const char* codec : {"raw", "mjpeg", "mpeg4", "h264", "ffv1"}) {
    EXPECT_EQ(static_cast<bool>(container::CanCarry(Format::Matroska, codec)), std::string(codec) != "raw");
    EXPECT_TRUE(container::CanCarry(Format::Avi, codec));
  }
  EXPECT_EQ(container::FormatOfName("x.Mp4"), Format::Mp4);
  EXPECT_EQ(container::FormatOfName("x.mkv.avi"), Format::Avi);
  EXPECT_EQ(container::FormatOfName("mkv"), Format::Avi);
}

// A disk that fills after `capacity` bytes.
class FullDisk final : public avi::ByteSink {
 public:
  FullDisk(const std::string& path, uint64_t capacity) : file_(avi::OpenFileSink(path).valueOr(nullptr)), capacity_(capacity) {}
  bool WriteAt(uint64_t offset, std::initializer_list<avi::Piece> pieces) override {
    for (const avi::Piece& p : pieces) {
      if (offset + p.size > capacity_) return false;
      if (!file_->WriteAt(offset, {p})) return false;
      offset += p.size;
    }
    return true;
  }
  bool Truncate(uint64_t size) override { return file_->Truncate(size); }

 private:
  std::unique_ptr<avi::ByteSink> file_;
  uint64_t capacity_;
};

// Pictures ffmpeg decodes from a file (0 when it opens none).
int DecodedFrames(const std::string& path) {
  const std::string n = Probe(path, "stream=nb_read_frames");
  return n.empty() ? 0 : std::atoi(n.c_str());
}

TEST(MediaFile, AFullDiskLeavesAPlayableFileHoldingTheFramesItCounts) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    for (uint64_t capacity : {uint64_t{0}, uint64_t{100}, uint64_t{5000}, uint64_t{60000}, uint64_t{1} << 24}) {
      std::shared_ptr<OutputFile> file;
      const std::string path = dir.file("full." + std::string(container::FormatName(format)));
      ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, std::make_unique<FullDisk>(path, capacity))));
      avi::testing::ClipWriter w;
      avi::testing::Clip clip;
      clip.codec = "mpeg4";
      clip.frames = 100;  // 4 s: pieces of the file are counted about once a second
      ASSERT_EQ(w.Open(file, clip), 0);
      int refused = 0;
      for (int i = 0; i < clip.frames; ++i) refused += w.WriteFrame(clip, i) != 0;
      w.Release();
      const Completion done = file->Complete();
      file.reset();
      const std::string what = std::string(container::FormatName(format)) + " on " + std::to_string(capacity);
      EXPECT_LE(std::filesystem::file_size(path), capacity) << what;
      if (capacity < 5000) {
        EXPECT_NE(done.error, 0) << what;
      }
      if (done.error == 0) {
        EXPECT_EQ(refused, 0) << what;
        EXPECT_EQ(done.videoFrames, 100u) << what;
      } else {
        EXPECT_LT(done.videoFrames, 100u) << what;
      }
      // What the file says it holds is what a player gets from it, no more.
      if (done.videoFrames > 0) {
        EXPECT_EQ(DecodedFrames(path), static_cast<int>(done.videoFrames)) << what;
      }
    }
  }
  // Nothing was kept anywhere else.
  size_t left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left += entry.path().filename() != "full.mkv" &&
                                                                                   entry.path().filename() != "full.mp4";
  EXPECT_EQ(left, 0u);
}

TEST(MediaFile, AFileCutOffMidwayPlaysUpToAboutItsLastSecond) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    const std::string path = dir.file("live." + std::string(container::FormatName(format)));
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, avi::OpenFileSink(path).valueOr(nullptr))));
    avi::testing::ClipWriter w;
    avi::testing::Clip clip;
    clip.codec = "mpeg4";
    clip.frames = 150;
    ASSERT_EQ(w.Open(file, clip), 0);
    for (int i = 0; i < clip.frames; ++i) ASSERT_EQ(w.WriteFrame(clip, i), 0);
    // What stands on the disk now is what a kill would leave.
    const std::string killed = dir.file("killed." + std::string(container::FormatName(format)));
    std::filesystem::copy_file(path, killed);
    w.Release();
    ASSERT_EQ(file->Complete().error, 0);
    file.reset();
    const int frames = DecodedFrames(killed);
    EXPECT_GE(frames, 150 - 2 * 25) << container::FormatName(format);
    EXPECT_LT(frames, 150) << container::FormatName(format);
    EXPECT_EQ(DecodedFrames(path), 150);
    EXPECT_GT(EndOf(killed, "a:0").packets, 0) << container::FormatName(format);
  }
}

TEST(MediaFile, AFileWrittenWholeCountsItsFramesAndFlagsItsTracksDefault) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    const std::string path = dir.file("whole." + std::string(container::FormatName(format)));
    std::shared_ptr<OutputFile> file;
    auto sink = avi::OpenFileSink(path);
    ASSERT_TRUE(sink) << sink.reason();
    ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, std::move(*sink))));
    avi::testing::ClipWriter w;
    avi::testing::Clip clip;
    clip.codec = "mpeg4";
    clip.frames = 30;
    ASSERT_EQ(w.Open(file, clip), 0);
    for (int i = 0; i < clip.frames; ++i) EXPECT_EQ(w.WriteFrame(clip, i), 0);
    w.Release();
    const Completion done = file->Complete();
    file.reset();
    EXPECT_EQ(done.error, 0);
    EXPECT_EQ(done.videoFrames, 30u);
    // Players pick a track flagged default when they choose one themselves.
    const std::string flags =
        RunCommand("ffprobe -v error -show_entries stream_disposition=default -of csv=p=0 '" + path + "'");
    EXPECT_EQ(flags, "1\n1\n") << container::FormatName(format);
  }
}

TEST(MediaFile, SamplesAreRefusedAtAnEarlierPositionOrPastAGapTooLong) {
  TempDir dir;
  std::shared_ptr<OutputFile> file;
  auto sink = avi::OpenFileSink(dir.file("g.mkv"));
  ASSERT_TRUE(sink) << sink.reason();
  ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(Format::Matroska, std::move(*sink))));
  avi::testing::ClipWriter w;
  avi::testing::Clip clip;
  clip.codec = "ffv1";  // Matroska takes no raw pictures
  ASSERT_EQ(w.Open(file, clip), 0);
  EXPECT_TRUE(file->SetTags({}));
  ASSERT_EQ(w.WriteFrame(clip, 0), 0);
  EXPECT_FALSE(file->SetTags({}));  // fixed once samples are in
  const std::vector<uint8_t> picture(size_t{160} * 120 * 3, 7);
  const auto bytes = static_cast<int32_t>(picture.size());
  EXPECT_FALSE(w.compressed->Write(0, 1, picture.data(), bytes, kKeyFrame));
  EXPECT_FALSE(w.compressed->Write(70000, 1, picture.data(), bytes, kKeyFrame));
  EXPECT_TRUE(w.compressed->Write(5, 1, picture.data(), bytes, kKeyFrame));
  const std::vector<int16_t> pcm(100, 1);
  EXPECT_FALSE(w.audio->Write(320, 100, pcm.data(), 199, 0));  // not whole samples
  EXPECT_TRUE(w.audio->Write(1000, 100, pcm.data(), 200, 0));   // a gap of silence
  EXPECT_FALSE(w.audio->Write(0, 100, pcm.data(), 200, 0));
  w.Release();
  file.reset();
  SKIP_WITHOUT_FFMPEG();
  EXPECT_EQ(avi::testing::Decode(dir.file("g.mkv"), "-map 0:a -f s16le").size(), size_t{1100} * 2);
  EXPECT_EQ(EndOf(dir.file("g.mkv"), "v:0").packets, 2);
  EXPECT_NEAR(EndOf(dir.file("g.mkv"), "v:0").end, 6 / 25.0, 0.002);  // frame 5 keeps its time
}

// --- Tags -----------------------------------------------------------------------------------------

// The file's tags as UTF-8 hex, lower-case keys, read through ffprobe's JSON. A tag that was not
// valid UTF-8 would come back with replacement characters and not match.
std::map<std::string, std::string> Tags(const std::string& path) {
  const std::string out = RunCommand(
      "ffprobe -v error -show_entries format_tags -of json '" + path +
      "' | python3 -c 'import json,sys\n"
      "for k, v in json.load(sys.stdin)[\"format\"].get(\"tags\", {}).items(): print(k.lower(), v.encode().hex())'");
  std::map<std::string, std::string> tags;
  std::istringstream lines(out);
  for (std::string key, hex; lines >> key >> hex;) tags[key] = hex;
  return tags;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// An AVI INFO text of the file as written (the first chunk of that name, up to its zero).
std::string InfoText(const std::string& path, const char* fourcc) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = bytes.find(fourcc);
  if (at == std::string::npos || at + 8 > bytes.size()) return "(none)";
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + 4);
  const size_t size = p[0] | p[1] << 8 | p[2] << 16 | static_cast<size_t>(p[3]) << 24;
  std::string text = bytes.substr(at + 8, size);
  return text.substr(0, text.find('\0'));
}

TEST(Tags, TheStartTimeAndTextsReadBackInEveryContainer) {
  SKIP_WITHOUT_FFMPEG();
  int python = -1;
  RunCommand("python3 -c pass", &python);
  if (python != 0) GTEST_SKIP() << "no python3";
  TempDir dir;
  Recording r;
  r.frames = 10;
  // Every byte value but zero, and a text that a zero byte ends early.
  r.text1.clear();
  for (int b = 1; b < 256; ++b) r.text1 += static_cast<char>(b);
  r.text2 = "Hof M\xfchle";
  r.text3 = std::string("keep\0dropped", 12);
  Write(dir.file("in.zr"), r);

  // Every byte value, which is not UTF-8: read as Windows-1252 (0x80 is the euro sign).
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  const std::string title = container::Windows1252ToUtf8(bytes);
  ASSERT_EQ(title.substr(0x7F, 3), "\xe2\x82\xac");
  const std::string comment = "Hof M\xc3\xbchle\nkeep";

  // AVI INFO texts are read as Windows-1252 by players: every one of these characters is there.
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("t.avi"), "raw").saved);
  EXPECT_EQ(InfoText(dir.file("t.avi"), "INAM"), bytes);
  EXPECT_EQ(InfoText(dir.file("t.avi"), "ICMT"), "Hof M\xfchle\nkeep");
  EXPECT_EQ(InfoText(dir.file("t.avi"), "ICRD"), "2008-01-10T21:20:00Z");
  EXPECT_EQ(InfoText(dir.file("t.avi"), "ISFT"), "Zentrova 1.0");

  for (auto [format, name] : {std::pair{Format::Matroska, "t.mkv"}, std::pair{Format::Mp4, "t.mp4"}}) {
    ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file(name), "mpeg4", In(format)).saved) << name;
    auto tags = Tags(dir.file(name));
    EXPECT_EQ(tags["title"], Hex(title)) << name;
    EXPECT_EQ(tags["comment"], Hex(comment)) << name;
    EXPECT_EQ(tags["creation_time"], Hex("2008-01-10T21:20:00.000000Z")) << name;
  }
}

// A text with characters Windows-1252 lacks stays as the recording holds it in AVI INFO (UTF-8
// here), never cut down to what the code page has; Matroska carries it as UTF-8 all the same.
TEST(Tags, AnAviInfoTextBeyondWindows1252KeepsTheRecordingsOwnBytes) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 5;
  r.text1 = "\xe5\xa4\xa7\xe9\x97\xa8 Gate";  // two CJK characters, in UTF-8
  r.text2 = "Caf\xc3\xa9";                   // in Windows-1252 as well
  r.text3.clear();
  Write(dir.file("in.zr"), r);
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("t.avi"), "raw").saved);
  EXPECT_EQ(InfoText(dir.file("t.avi"), "INAM"), r.text1);
  EXPECT_EQ(InfoText(dir.file("t.avi"), "ICMT"), "Caf\xe9");
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("t.mkv"), "mpeg4", In(Format::Matroska)).saved);
  EXPECT_EQ(Probe(dir.file("t.mkv"), "format_tags=title", ""), r.text1);
  EXPECT_EQ(Probe(dir.file("t.mkv"), "format_tags=comment", ""), r.text2);
}

// --- What players read in the files -----------------------------------------------------------

// A recording without sound gets no sound stream (an empty one made players invent a length for
// it or stop); one with sound keeps it.
TEST(Players, ARecordingWithoutSoundGetsNoSoundStream) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording silent;
  silent.frames = 30;
  silent.audioBytes = 0;
  Write(dir.file("silent.zr"), silent);
  Recording sound;
  sound.frames = 30;
  Write(dir.file("sound.zr"), sound);
  for (Format f : {Format::Avi, Format::Matroska, Format::Mp4}) {
    for (const char* in : {"silent", "sound"}) {
      const std::string out = dir.file(std::string(in) + "." + Extension(f));
      ASSERT_TRUE(Convert(dir.file(std::string(in) + ".zr"), out, "mpeg4", In(f)).saved) << out;
      EXPECT_EQ(Probe(out, "stream=codec_type", ""), std::string(in) == "silent" ? "video" : "video\naudio") << out;
    }
  }
}

// MPEG-4 Part 2 claims a Simple Profile level that holds its picture size and rate (it claimed
// level 1, for 176 x 144 at 15 pictures a second, whatever it held).
TEST(Players, MpegFourClaimsALevelThatHoldsItsPictures) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 10;
  Write(dir.file("in.zr"), r);
  for (Format f : {Format::Avi, Format::Matroska}) {
    const std::string out = dir.file(std::string("l.") + Extension(f));
    ASSERT_TRUE(Convert(dir.file("in.zr"), out, "mpeg4", In(f)).saved);
    EXPECT_EQ(Probe(out, "stream=profile,level"), "Simple Profile\n4") << out;
  }
}

// FFV1 is version 3 in slices with checksums: it decodes to the very pictures of the raw output,
// and a damaged picture is reported rather than shown as if whole.
TEST(Players, FfvOneInSlicesDecodesExactlyAndReportsDamage) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string gen = std::string(ZENTROVA_BINARY_DIR) + "/tools/zrgen/zrgen";
  if (!std::filesystem::exists(gen)) GTEST_SKIP() << "no zrgen";
  int status = -1;
  RunCommand("'" + gen + "' --quiet -r 130 -n 5 '" + dir.file("in.zr") + "' >/dev/null 2>&1", &status);
  ASSERT_EQ(ExitStatus(status), 0);
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("raw.avi"), "raw").saved);
  const std::string raw = avi::testing::Decode(dir.file("raw.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
  ASSERT_EQ(raw.size(), size_t{5} * 352 * 288 * 3);
  for (Format f : {Format::Avi, Format::Matroska}) {
    const std::string out = dir.file(std::string("f.") + Extension(f));
    ASSERT_TRUE(Convert(dir.file("in.zr"), out, "ffv1", In(f)).saved);
    EXPECT_TRUE(avi::testing::Decode(out, "-map 0:v -f rawvideo -pix_fmt bgr24") == raw) << out;
    // Bytes in the middle of the last picture changed: its slice's checksum no longer matches.
    const auto size = std::filesystem::file_size(out);
    {
      std::fstream file(out, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(size - size / 20));
      file.write("\x55\xaa\x55\xaa\x55\xaa\x55\xaa", 8);
    }
    const std::string errors = RunCommand("ffmpeg -nostdin -v error -i '" + out + "' -map 0:v -f null - 2>&1");
    EXPECT_NE(errors.find("CRC"), std::string::npos) << out << ": " << errors;
  }
}

// Matroska gives its pictures' display size in pixels (it said "unknown" before) and names this
// program as the one that wrote it.
TEST(Players, MatroskaShowsSquarePixelsAndNamesItsWriter) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Recording r;
  r.frames = 5;
  Write(dir.file("in.zr"), r);
  ASSERT_TRUE(Convert(dir.file("in.zr"), dir.file("s.mkv"), "mpeg4", In(Format::Matroska)).saved);
  EXPECT_EQ(Probe(dir.file("s.mkv"), "stream=sample_aspect_ratio"), "1:1");
  std::ifstream in(dir.file("s.mkv"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.find("\x54\xb2\x81\x03"), std::string::npos);  // DisplayUnit: unknown
  EXPECT_EQ(Probe(dir.file("s.mkv"), "format_tags=encoder", ""), "Zentrova 1.0");
}

}  // namespace
}  // namespace zentrova
