#pragma once

#include <string>

namespace qs {

inline constexpr const char* kSettingsFileName = "Quillstream.ini";
inline constexpr const char* kLogFileName = "log.txt";

// Where settings, log.txt and data/ live: `explicit_home` (--home), else $QUILLSTREAM_HOME,
// else the executable's directory when a Quillstream.ini stands there (portable use), else
// $XDG_CONFIG_HOME/quillstream (~/.config/quillstream). Returned without a trailing slash.
std::string ResolveHomeDir(const std::string& explicit_home, const std::string& executable_path);

// The running program's path from /proc/self/exe, or `argv0` when that cannot be read.
std::string ExecutablePath(const char* argv0);

// Creates `path` and its parents; true when it exists as a directory afterwards.
bool MakeDirectories(const std::string& path, unsigned mode = 0755);

// `file` made absolute when it names an existing regular file; empty otherwise.
std::string ResolveCommandLineFile(const std::string& file);

// Where downloads go when no base directory is set: ~/Downloads.
std::string DefaultDownloadDir();

std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace qs
