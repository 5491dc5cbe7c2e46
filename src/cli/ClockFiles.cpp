#include "cli/ClockFiles.h"

#include <sys/stat.h>

#include "cli/ExitStatus.h"
#include "cli/Json.h"

namespace zentrova::cli {

Expected<void> ClockFiles::Plan(const TimeOptions& t, const std::string& output, container::Format format,
                                bool overwrite) {
  struct stat st {};
  frameTimes_ = t.frameTimes;
  if (!frameTimes_.empty() && ::stat(frameTimes_.c_str(), &st) == 0 && !overwrite) {
    return Failure(Printable(frameTimes_) + " exists; -y replaces it");
  }
  subRip_ = SubRipNameFor(output);
  // Only beside a file: an output that is a device or a pipe has no place beside it.
  writeSubRip_ = format == container::Format::Avi && !t.noSubtitles &&
                 (::stat(output.c_str(), &st) != 0 || S_ISREG(st.st_mode));
  subRipKept_ = writeSubRip_ && ::lstat(subRip_.c_str(), &st) == 0 && !overwrite;
  if (subRipKept_) writeSubRip_ = false;
  return {};
}

int ClockFiles::Write(const WrittenFrames& written, int status, std::ostream& err) const {
  if (written.count == 0) return status;
  if (subRipKept_)
    err << "zentrova: " << Printable(subRip_) << " exists and is kept; -y replaces it with the frames' clock times"
        << std::endl;
  if (!frameTimes_.empty()) {
    if (auto saved = WriteFrameTimes(frameTimes_, written); !saved) {
      err << "zentrova: " << Printable(saved.reason()) << std::endl;
      status = WorseStatus(status, kExitPartial);
    }
  }
  // The subtitles were not asked for by name: a folder that cannot take them is only a warning.
  if (!writeSubRip_) return status;
  if (auto saved = WriteSubRip(subRip_, written); !saved)
    err << "zentrova: warning: " << Printable(saved.reason()) << std::endl;
  return status;
}

}  // namespace zentrova::cli
