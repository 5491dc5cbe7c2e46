#pragma once

#include <memory>
#include <string>

#include "avi/AviFile.h"
#include "container/ContainerFile.h"

namespace zentrova {

// Opens the output of a job under the rules of avi::OpenOutputSink, in any container.
Expected<std::shared_ptr<OutputFile>> OpenOutput(container::Format format, const std::string& path,
                                                   const avi::OutputOptions& options);

}  // namespace zentrova
