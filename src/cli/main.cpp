// zentrova: converts ZR recordings into AVI files from the command line.
#include <iostream>

#include "cli/Run.h"

int main(int argc, char** argv) { return zentrova::cli::Run(argc, argv, std::cout, std::cerr); }
