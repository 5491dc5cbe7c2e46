#pragma once
// The command line of `zentrova`: main() only calls Run. The parsing is apart from the running so
// that a fuzz target can drive the parser alone.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace zentrova::cli {

// Parses and runs one command line; results and the job's log go to `out`, errors, warnings and
// the progress line to `err`. Returns the exit status (cli/ExitStatus.h). A failed write to `out`
// is an error: the status is then at least kExitFailed.
int Run(int argc, char** argv, std::ostream& out, std::ostream& err);

// Fills `how` from the arguments (argv[0] is the program's name). Returns nothing when a command
// is to run; otherwise the status to exit with at once (help and --version print on `out` and
// give 0, a usage error prints on `err` and gives kExitUsage).
std::optional<int> Parse(const std::vector<std::string>& args, Invocation& how, std::ostream& out, std::ostream& err);

// Runs a parsed command.
int Execute(const Invocation& how, std::ostream& out, std::ostream& err);

}  // namespace zentrova::cli
