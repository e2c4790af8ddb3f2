#pragma once

#include <string>

namespace qs {

// What the first steps of a run fix: where everything lives and the file named on the
// command line. Shared by both front ends.
struct StartupContext {
    std::string home_dir;
    std::string settings_path;
    std::string command_line_file;  // absolute, or empty when none or not an existing file
};

// Resolves the home directory, installs the crash handler, creates the home directory,
// switches the debug log on when the file's UseLog says so and writes the opening log
// lines. `file_argument` may be empty.
StartupContext BeginApplication(const std::string& explicit_home, const char* argv0,
                                const std::string& file_argument);

}  // namespace qs
