// Output files by their path, in any container: the AVI writer's own file, or a Matroska or MP4
// file through the libav module, which is why this sits above the module's loader.
#include "avi/ByteSink.h"
#include "container/ContainerFile.h"

namespace zentrova::container {

Expected<std::shared_ptr<avi::OutputFile>> OpenOutput(Format format, const std::string& path) {
  if (format == Format::Avi) return avi::OpenAviFile(path);
  auto sink = avi::OpenFileSink(path);
  if (!sink) return sink.error();
  return OpenMediaFile(format, std::move(*sink));
}

}  // namespace zentrova::container
