#pragma once

#include <memory>
#include <string>

#include "avi/AviFile.h"
#include "container/ContainerFile.h"

namespace zentrova {

// Opens the output of a job under the rules of avi::OpenOutputSink, in any container.
int OpenOutput(std::shared_ptr<avi::AviFile>& file, container::Format format, const std::string& path,
               const avi::OutputOptions& options, std::string* reason);

}  // namespace zentrova
