// Output files by their path, in any container: the AVI writer's own file, or a Matroska or MP4
// file through the libav module, which is why this sits above the module's loader.
#include "avi/ByteSink.h"
#include "container/ContainerFile.h"

namespace zentrova::container {

int OpenOutput(std::shared_ptr<avi::AviFile>& file, Format format, const std::string& path, std::string* reason) {
  if (format == Format::Avi) return avi::OpenAviFile(file, path, reason);
  std::unique_ptr<avi::ByteSink> sink = avi::OpenFileSink(path, reason);
  if (!sink) return -1;
  return OpenMediaFile(file, format, std::move(sink), {}, reason);
}

}  // namespace zentrova::container
