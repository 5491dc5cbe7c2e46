#include "cli/Options.h"

namespace zentrova::cli {

void AddTimeOptions(CLI::App& convert, TimeOptions& t) {
  auto* from = convert.add_option(
      "--from", t.from,
      "Convert from this time on: a clock time with its date in the recorder's time (2008-01-10T02:14:05 or "
      "\"2008-01-10 02:14:05\"; Z for UTC, +hh:mm for another offset) or a position in the recording "
      "(1:23:45.5, 83:20, 90s, 90)");
  auto* to = convert.add_option("--to", t.to, "Convert up to (not including) this time; the same forms as --from");
  convert.add_option("--duration", t.duration, "Convert this long from --from (or from the start): 30, 90s, 2:00")
      ->excludes(to);
  (void)from;
  convert.add_option("--clock-offset", t.clockOffsetSeconds,
                     "Correct a recorder whose clock was wrong: SECONDS (may be negative or fractional) added to "
                     "every time of the recording, shown or written")
      ->check(CLI::Range(-3.0e9, 3.0e9));
  convert.add_option("--frame-times", t.frameTimes,
                     "Write a CSV of every frame written: index, output time, clock time in UTC and in recorder "
                     "time (ISO 8601 with milliseconds)");
  convert.add_flag("--no-srt", t.noSubtitles,
                   "No subtitles of the frames' clock times: no file NAME.srt beside an AVI output, no track "
                   "\"Recording time\" in a Matroska or MP4 output");
  convert.add_option("--timing", t.timing,
                     "rate (the default): the pictures play evenly at the recording's rate; recorded: each at its "
                     "own clock time, so a pause of the recorder stays a pause (an AVI output repeats the last "
                     "picture through it)")
      ->check(CLI::IsMember({"rate", "recorded"}));
  convert.add_flag("--burn-time", t.burnTime,
                   "Draw each frame's clock time, and the camera's name (text1), into the bottom left of the "
                   "pictures");
}

void AddJoinOption(CLI::App& convert, ConvertOptions& o) {
  convert.add_flag("--join", o.join,
                   "INPUT... OUTPUT: recordings of one camera (pictures of one size) into one output in time "
                   "order, each pause between them kept as a pause in Matroska and MP4, filled with repeats of the "
                   "last picture and silence in AVI; with "
                   "--from/--to only the frames inside the window, across the files");
}

}  // namespace zentrova::cli
