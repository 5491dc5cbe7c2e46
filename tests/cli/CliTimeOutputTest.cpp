// The recording's clock in the output itself: a subtitle track of clock times in Matroska and MP4,
// pictures timed by the clock (pauses kept, or filled with repeats in AVI), and the time burnt
// into the pictures. Read back with ffprobe and ffmpeg, and through the AVI file's own chunks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "CliTestSupport.h"
#include "avi/AviTestSupport.h"

namespace zentrova::testing {
namespace {

using avi::testing::AviStreams;
using avi::testing::ReadStreams;

using avi::testing::RunCommand;

constexpr int32_t kStart = 1199931245;  // 2008-01-10T02:14:05Z, 10:14:05 on the recorder (UTC+8)

// 150 frames at 25 a second of 160 x 112 with sound, and a pause of five seconds before frame 60:
// frames 0..59 at 0, 40, ... 2360 ms, frame 60 at 7400 ms.
std::string MakePausedRecording(const TempDir& dir, const std::string& text1 = "Gate 3") {
  zrgen::GeneratorOptions o;
  o.output = dir.file("cam1.zr");
  o.resolutionCode = 0;
  o.frames = 150;
  o.framesPerBlock = 10;
  o.startTime = kStart;
  o.utcOffsetHours = 8;
  o.pauses = {{60, 5000}};
  o.idct = IdctChoice::Plain;
  o.text1 = text1;
  zrgen::GeneratorReport report;
  EXPECT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  return o.output;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// One value per line of ffprobe's entries for the streams or packets of `selection`.
std::vector<std::string> Probe(const std::string& path, const std::string& selection, const std::string& entries) {
  return Lines(RunCommand("ffprobe -v error -select_streams " + selection + " -show_entries " + entries +
                          " -of default=nw=1:nk=1 " + Quoted(path)));
}

// The subtitle track as ffmpeg writes it out in SubRip, on the file's own times (ffmpeg would
// otherwise start them where the MP4 sound's encoder delay starts), without the font that the
// MP4 track's description names.
std::string SubtitlesOf(const std::string& path) {
  return RunCommand("ffmpeg -v error -copyts -i " + Quoted(path) +
                    " -map 0:s -f srt - 2>/dev/null </dev/null | sed -e 's/<font[^>]*>//' -e 's/<\\/font>//'");
}

// Cue `number` of a SubRip text: its times and its text; for an MP4 file only its start, since
// ffmpeg's MP4 reader gives the text samples of a fragmented file no duration (of its own
// fragmented files as well).
std::string Cue(const std::string& srt, int number, bool withEnd) {
  const std::string head = std::to_string(number) + "\n";
  size_t from = head.size();
  if (srt.rfind(head, 0) != 0) {
    const size_t at = srt.find("\n\n" + head);
    if (at == std::string::npos) return "";
    from = at + 2 + head.size();
  }
  const size_t end = srt.find("\n\n", from);
  std::string cue = srt.substr(from, end == std::string::npos ? std::string::npos : end - from);
  if (!withEnd && cue.size() > 29) cue.erase(12, 17);  // "00:00:00,000 --> 00:00:00,040"
  return cue;
}

TEST(CliTimeOutput, MatroskaAndMp4CarryEachFramesClockTimeInASubtitleTrackNotShownByDefault) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string zr = MakePausedRecording(dir);
  for (const char* name : {"clip.mkv", "clip.mp4"}) {
    const std::string out = dir.file(name);
    const CliRun run = RunCli({"convert", zr, out, "--codec", "mpeg4"});
    ASSERT_EQ(run.status, 0) << run.err;
    const bool mkv = Contains(name, "mkv");
    EXPECT_EQ(Probe(out, "s", "stream=codec_name"), std::vector<std::string>{mkv ? "subrip" : "mov_text"}) << name;
    EXPECT_EQ(Probe(out, "s", "stream_disposition=default"), std::vector<std::string>{"0"}) << name;
    const std::string tags = RunCommand("ffprobe -v error -select_streams s -show_entries stream_tags " + Quoted(out));
    EXPECT_TRUE(Contains(tags, mkv ? "TAG:title=Recording time" : "TAG:handler_name=Recording time")) << tags;
    // Each picture has its cue (the MP4 muxer closes the track with an empty one of 2 bytes).
    const std::vector<std::string> sizes = Probe(out, "s", "packet=size");
    EXPECT_EQ(std::count_if(sizes.begin(), sizes.end(), [](const std::string& s) { return s != "2"; }), 150) << name;
    const std::string srt = SubtitlesOf(out);
    EXPECT_EQ(Cue(srt, 1, mkv), mkv ? "00:00:00,000 --> 00:00:00,040\n2008-01-10 10:14:05.000 (UTC+8)"
                                    : "00:00:00,000\n2008-01-10 10:14:05.000 (UTC+8)");
    EXPECT_EQ(Cue(srt, 61, mkv), mkv ? "00:00:02,400 --> 00:00:02,440\n2008-01-10 10:14:12.400 (UTC+8)"
                                     : "00:00:02,400\n2008-01-10 10:14:12.400 (UTC+8)");
    EXPECT_EQ(Cue(srt, 150, mkv), mkv ? "00:00:05,960 --> 00:00:06,000\n2008-01-10 10:14:15.960 (UTC+8)"
                                      : "00:00:05,960\n2008-01-10 10:14:15.960 (UTC+8)");
    EXPECT_EQ(Cue(srt, 151, mkv), "");
  }
  // --no-srt leaves the track out, as it leaves out the file beside an AVI output.
  const std::string bare = dir.file("bare.mkv");
  ASSERT_EQ(RunCli({"convert", zr, bare, "--codec", "mpeg4", "--no-srt"}).status, 0);
  EXPECT_TRUE(Probe(bare, "s", "stream=codec_name").empty());
  EXPECT_EQ(avi::testing::StreamCount(bare), 2);
}

TEST(CliTimeOutput, RecordedTimingKeepsAPauseAsAGapInMatroskaAndMp4) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string zr = MakePausedRecording(dir);
  for (const char* name : {"night.mkv", "night.mp4"}) {
    const std::string out = dir.file(name);
    const CliRun run = RunCli({"convert", zr, out, "--codec", "mpeg4", "--timing", "recorded"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> video = Probe(out, "v", "packet=pts_time");
    ASSERT_EQ(video.size(), 150u) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[59].c_str()), 2.36) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[60].c_str()), 7.4) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[149].c_str()), 10.96) << name;
    // The sound after the pause starts with its first picture (no sound starts inside the pause),
    // and ends with the last picture, not five seconds before it.
    const std::vector<std::string> sound = Probe(out, "a", "packet=pts_time");
    ASSERT_FALSE(sound.empty()) << name;
    const auto afterPause = std::find_if(sound.begin(), sound.end(), [](const std::string& t) {
      return std::atof(t.c_str()) >= 2.4;  // the pause begins at 2.400 s
    });
    ASSERT_NE(afterPause, sound.end()) << name;
    EXPECT_DOUBLE_EQ(std::atof(afterPause->c_str()), 7.4) << name;
    EXPECT_GT(std::atof(sound.back().c_str()), 10.5) << name;
    // The cues follow their pictures.
    const bool mkv = Contains(name, "mkv");
    EXPECT_EQ(Cue(SubtitlesOf(out), 60, mkv), mkv ? "00:00:02,360 --> 00:00:07,400\n2008-01-10 10:14:07.360 (UTC+8)"
                                                  : "00:00:02,360\n2008-01-10 10:14:07.360 (UTC+8)");
    EXPECT_EQ(Cue(SubtitlesOf(out), 61, mkv), mkv ? "00:00:07,400 --> 00:00:07,440\n2008-01-10 10:14:12.400 (UTC+8)"
                                                  : "00:00:07,400\n2008-01-10 10:14:12.400 (UTC+8)");
  }
}

TEST(CliTimeOutput, AnMp4WhoseClockRunsPastItsTimeBaseStopsWithAFailureAndKeepsWhatCameBefore) {
  // A pause of twenty days: MP4 holds a picture's and a sound's time in 32 bits of their time
  // bases, which the pictures after it would pass, and the last picture before it too, since it
  // is shown until the next one. The conversion fails there, says so, and the file keeps the
  // pictures before them.
  TempDir dir;
  zrgen::GeneratorOptions o;
  o.output = dir.file("far.zr");
  o.resolutionCode = 0;
  o.frames = 60;
  o.framesPerBlock = 10;
  o.startTime = kStart;
  o.pauses = {{30, 20 * 86400 * 1000}};
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  const std::string out = dir.file("far.mp4");
  const CliRun run = RunCli({"convert", o.output, out, "--codec", "mpeg4", "--timing", "recorded"});
  EXPECT_NE(run.status, 0) << run.out;
  EXPECT_NE(run.status, 134) << run.err;
  SKIP_WITHOUT_FFMPEG();
  EXPECT_TRUE(Contains(run.out, "29 of 60 frames saved")) << run.out;
  EXPECT_EQ(Probe(out, "v", "packet=pts_time").size(), 29u) << run.out << run.err;
}

TEST(CliTimeOutput, APlayerLoadsTheSubRipBesideAnAviAndShowsEachFramesClockTime) {
  int status = -1;
  RunCommand("mpv --version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "mpv not installed";
  TempDir dir;
  const std::string zr = MakePausedRecording(dir);
  const std::string out = dir.file("gate.avi");
  ASSERT_EQ(RunCli({"convert", zr, out, "--codec", "raw"}).status, 0);
  // One second in, the player finds the sidecar by the file's name and shows frame 25's time.
  const std::string played =
      RunCommand("cd " + Quoted(dir.file("")) + " && mpv --no-config --vo=null --ao=null --start=1 --frames=2 "
                 "--term-status-msg='SUB=${sub-text}' gate.avi 2>&1 </dev/null | tr '\\r' '\\n'");
  EXPECT_TRUE(Contains(played, "'gate.srt' (subrip) (external)")) << played;
  EXPECT_TRUE(Contains(played, "SUB=2008-01-10 10:14:06.0")) << played;
}

TEST(CliTimeOutput, AnAviTimedByTheRecordingRepeatsTheLastPictureAndSilenceThroughAPause) {
  TempDir dir;
  const std::string zr = MakePausedRecording(dir);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("even.avi"), "--codec", "raw", "--idct", "plain"}).status, 0);
  const CliRun run =
      RunCli({"convert", zr, dir.file("timed.avi"), "--codec", "raw", "--idct", "plain", "--timing", "recorded"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Pause of 5.000 s before frame 60 filled with 125 repeats of the last picture"))
      << run.out;

  const AviStreams even = ReadStreams(dir.file("even.avi"));
  const AviStreams timed = ReadStreams(dir.file("timed.avi"));
  ASSERT_EQ(even.pictures.size(), 150u);
  ASSERT_EQ(timed.pictures.size(), 275u);
  // Frames 0..59, then frame 59 again for the five seconds at 40 ms a picture, then 60..149.
  for (size_t k = 0; k < 275; ++k) {
    const size_t shown = k < 60 ? k : k < 185 ? 59 : k - 125;
    ASSERT_EQ(timed.pictures[k], even.pictures[shown]) << "picture " << k;
  }
  // The sound of the frames around five seconds of silence (8000 samples of 16 bits a second).
  const size_t before = 60 * 320 * 2, silence = 5 * 8000 * 2;
  ASSERT_EQ(timed.sound.size(), even.sound.size() + silence);
  EXPECT_TRUE(std::equal(even.sound.begin(), even.sound.begin() + before, timed.sound.begin()));
  EXPECT_TRUE(std::all_of(timed.sound.begin() + before, timed.sound.begin() + before + silence,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(even.sound.begin() + before, even.sound.end(), timed.sound.begin() + before + silence));
  // The subtitles beside it show frame 60's time when its picture comes, after the repeats.
  const std::string srt = ReadAll(dir.file("timed.srt"));
  EXPECT_TRUE(Contains(srt, "60\n00:00:02,360 --> 00:00:07,400\n2008-01-10 10:14:07.360 (UTC+8)\n")) << srt.substr(0, 300);
  EXPECT_TRUE(Contains(srt, "61\n00:00:07,400 --> 00:00:07,440\n2008-01-10 10:14:12.400 (UTC+8)\n"));
  if (avi::testing::HaveFfmpegTools()) {
    // Players see 275 pictures at 25 a second, eleven seconds as recorded.
    const auto video = avi::testing::ProbeStream(dir.file("timed.avi"), 0);
    EXPECT_EQ(video.at("nb_read_packets"), "275");
    EXPECT_EQ(video.at("r_frame_rate"), "25/1");
    // ffprobe reads the file beside it as subtitles: frame 59's cue lasts through the pause.
    const std::vector<std::string> cues = Lines(RunCommand(
        "ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 " + Quoted(dir.file("timed.srt"))));
    ASSERT_EQ(cues.size(), 150u);
    EXPECT_EQ(cues[0], "0.000000,0.040000");
    EXPECT_EQ(cues[59], "2.360000,5.040000");
    EXPECT_EQ(cues[60], "7.400000,0.040000");
    EXPECT_EQ(cues[149], "10.960000,0.040000");
  }
}

TEST(CliTimeOutput, BurntInTimeChangesOnlyTheBottomLeftCornerOfEachPicture) {
  TempDir dir;
  const std::string zr = MakePausedRecording(dir);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("plain.avi"), "--codec", "raw", "--idct", "plain"}).status, 0);
  const CliRun run =
      RunCli({"convert", zr, dir.file("burnt.avi"), "--codec", "raw", "--idct", "plain", "--burn-time"});
  ASSERT_EQ(run.status, 0) << run.err;
  const AviStreams plain = ReadStreams(dir.file("plain.avi"));
  const AviStreams burnt = ReadStreams(dir.file("burnt.avi"));
  ASSERT_EQ(burnt.pictures.size(), 150u);
  EXPECT_EQ(burnt.sound, plain.sound);
  constexpr size_t kWidth = 160, kHeight = 112, kRow = kWidth * 3;
  for (size_t k = 0; k < 150; ++k) {
    const std::vector<uint8_t>& p = plain.pictures[k];
    const std::vector<uint8_t>& b = burnt.pictures[k];
    ASSERT_EQ(b.size(), kRow * kHeight);
    // Rows run bottom to top: the upper half of the picture is untouched.
    ASSERT_TRUE(std::equal(p.begin() + kRow * kHeight / 2, p.end(), b.begin() + kRow * kHeight / 2)) << k;
    // In the corner the picture gives way to white text on black: grey levels only, both ends.
    bool grey = true, white = false, black = false;
    for (size_t y = 3; y < 9; ++y)
      for (size_t x = 8; x < 100; ++x) {
        const uint8_t* px = &b[y * kRow + x * 3];
        grey = grey && px[0] == px[1] && px[1] == px[2];
        white = white || px[0] > 200;
        black = black || px[0] == 0;
      }
    ASSERT_TRUE(grey && white && black) << "picture " << k;
  }

  // A font that cannot be loaded stops the conversion before anything is written.
  ::setenv("ZENTROVA_FONT", dir.file("no-such-font.ttf").c_str(), 1);
  const CliRun noFont = RunCli({"convert", zr, dir.file("nofont.avi"), "--codec", "raw", "--burn-time"});
  ::unsetenv("ZENTROVA_FONT");
  EXPECT_EQ(noFont.status, 1);
  EXPECT_TRUE(Contains(noFont.err, "cannot load the font")) << noFont.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("nofont.avi")));
}

}  // namespace
}  // namespace zentrova::testing
