// Placeholder until the AVI writer lands: refuses to open.
#include "avi/AviFile.h"
#include "avi/Compressor.h"

namespace zentrova::avi {

int OpenAviFile(std::shared_ptr<AviFile>&, const std::string&, std::string* reason) {
  if (reason) *reason = "the AVI writer is not built yet";
  return -1;
}

std::vector<CompressorInfo> ListCompressors() { return {}; }

int MakeCompressedStream(std::shared_ptr<AviStream>&, const std::shared_ptr<AviStream>&, const CompressOptions&) {
  return -1;
}

}  // namespace zentrova::avi
