#pragma once

namespace qs::cli {

// Parses the command line, runs one command and returns the exit status.
int RunCli(int argc, char** argv);

}  // namespace qs::cli
