#include "cli/BatchPlan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "avi/AviFile.h"
#include "avi/AviReader.h"
#include "cli/PinnedPath.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "cli/TimeWindow.h"
#include "recording/TimedRecording.h"
#include "recording/ZrReader.h"

namespace zentrova::cli::batch {
namespace {

// Whether `path` starts like a Matroska (".mkv") or MP4 (".mp4") file. Their completeness is not
// read: a batch converts such an output again.
bool StartsLikeContainer(const std::string& path, const std::string& extension) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[8] = {};
  const bool read = avi::ReadFileAt(fd, 0, head, sizeof head);
  ::close(fd);
  if (!read) return false;
  if (extension == ".mkv") return head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3;
  if (extension == ".mp4") return std::memcmp(head + 4, "ftyp", 4) == 0;
  return false;
}

}  // namespace

Plan PlanItem(const BatchItem& item, const ConvertOptions& c, std::shared_ptr<const FoundRecording> found) {
  Plan plan;
  plan.item = item;
  plan.found = found;
  Row& row = plan.row;
  row.input = item.input;
  row.output = item.output;
  auto fail = [&](std::string reason) {
    row.status = "failed";
    row.exitStatus = kExitFailed;
    row.reason = std::move(reason);
    return plan;
  };
  if (!item.failure.empty()) {
    row.output.clear();
    return fail(item.failure);
  }
  // A path longer than the system takes in one call is read through its open folder.
  PinnedPath longInput;
  std::string input = item.input;
  if (input.size() >= PATH_MAX) {
    Expected<PinnedPath> found = PinnedPath::Find(input);
    if (!found) {
      row.output.clear();
      return fail(found.reason());
    }
    longInput = std::move(found).value();
    input = longInput.path();
  }
  ZrReader reader;
  reader.setCancelFlag(&Cancel().stop);
  std::string fileError;
  reader.setFileErrorSink([&](const std::string& m) { fileError = m; });
  RecordingInfo info;
  const auto opened = found ? reader.openFound(input, *found, &info) : reader.open(input, &info);
  if (!opened) {
    row.output.clear();
    fail(opened.reason().empty() ? fileError : opened.reason());
    if (Cancel().stop.load()) row.exitStatus = kExitCancelled;
    return plan;
  }
  row.haveRecording = true;
  row.framesDeclared = static_cast<uint32_t>(reader.frameCount());
  row.startTime = reader.startTime();
  row.endTime = reader.endTime();
  if (c.time.windowed()) {
    // Each recording gives the part of the window its clock covers; one outside it is skipped.
    WindowRequest request;
    (void)ParseWindowRequest(c.time, request);  // checked before the batch began
    const std::unique_ptr<RecordingClock> clock = ClockOfReader(reader, ClockOffsetMs(c.time.clockOffsetSeconds));
    const WindowPlacement placed = PlaceWindow(request, reader, *clock, plan.window);
    const std::string& why = placed.why;
    switch (placed.fit) {
      case WindowFit::Invalid: return fail(why);
      case WindowFit::Outside:
        row.status = "skipped";
        row.reason = "outside the window: " + why;
        row.output.clear();
        return plan;
      case WindowFit::Fits: row.framesDeclared = plan.window->frames(); break;
    }
  }
  reader.close();

  struct stat st {};
  if (::lstat(item.output.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return fail("the output exists and is not a regular file");
    // Another batch's file in progress is not a partial output of ours.
    if (avi::IsBeingWritten(item.output))
      return fail("the output is being written by another conversion running now; rerun when it has finished");
    // An empty file at the output name is what a conversion killed before it wrote anything left
    // (earlier versions created the output at once): redone like a partial output.
    const bool empty = st.st_size == 0;
    const std::string extension = OutputExtension(c);
    if (extension != ".avi") {
      if (c.neverOverwrite) return fail("the output exists; -n keeps it");
      if (!c.overwrite && !empty && !StartsLikeContainer(item.output, extension))
        return fail("the output exists and is not a " + extension.substr(1) + " file; -y replaces it");
      plan.replace = true;
      plan.convert = true;
      return plan;
    }
    const avi::AviProbe probe = avi::ProbeAvi(item.output);
    const bool complete = probe.finished && probe.frames == row.framesDeclared;
    if (complete && !c.overwrite) {
      row.status = "skipped";
      row.reason = "the output is complete";
      row.framesWritten = probe.frames;
      row.rate = probe.rate;
      row.fourcc = avi::FourCCText(probe.fourcc);
      row.bytes = probe.bytes;
      return plan;
    }
    if (c.neverOverwrite) return fail("the output exists and is not complete; -n keeps it");
    if (!probe.isAvi && !empty && !c.overwrite)
      return fail("the output exists and is not an AVI file; -y replaces it");
    plan.replace = true;
  }
  plan.convert = true;
  return plan;
}

}  // namespace zentrova::cli::batch
