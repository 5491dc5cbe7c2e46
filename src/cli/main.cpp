// zentrova: converts ZR recordings into AVI files from the command line.
#include <csignal>
#include <iostream>

#include "cli/Run.h"

int main(int argc, char** argv) {
  // A reader that goes away (`| head`) makes writes to standard output fail instead of ending
  // the program: a batch finishes its files, and the exit status says that the output failed.
  std::signal(SIGPIPE, SIG_IGN);
  return zentrova::cli::Run(argc, argv, std::cout, std::cerr);
}
