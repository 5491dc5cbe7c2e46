// codecs: the video compressors and whether this machine's libraries provide them.
#include "avi/Compressor.h"
#include "libav/LibavCompressor.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"

namespace zentrova::cli {

int RunCodecs(const Invocation& how, std::ostream& out, std::ostream& err) {
  for (const auto& c : avi::ListCompressors()) {
    if (how.output.json)
      out << JsonObject()
                 .Add("name", c.name)
                 .Add("description", c.description)
                 .Add("available", c.available)
                 .Add("default", c.name == avi::kDefaultCodec)
                 .Text()
          << "\n";
    else
      out << c.name << "\t" << c.description << "\t" << (c.available ? "available" : "not available") << "\n";
  }
  const std::string problem = avi::LibavProblem();
  if (!problem.empty()) err << "zentrova: the compressors could not be loaded: " << problem << "\n";
  return kExitOk;
}

}  // namespace zentrova::cli
