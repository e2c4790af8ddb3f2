#include "app/startup.h"

#include <csignal>

#include "app/crash_handler.h"
#include "app/debug_log.h"
#include "app/home_dir.h"
#include "app/ini_file.h"

namespace qs {

StartupContext BeginApplication(const std::string& explicit_home, const char* argv0,
                                const std::string& file_argument) {
    StartupContext context;
    context.home_dir = ResolveHomeDir(explicit_home, ExecutablePath(argv0));
    InstallCrashHandler(context.home_dir);
    // A peer that closes its end must give a failed send, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    MakeDirectories(context.home_dir, 0700);

    context.settings_path = JoinPath(context.home_dir, kSettingsFileName);
    DebugLog& log = DebugLog::Instance();
    log.SetPath(JoinPath(context.home_dir, kLogFileName));
    log.SetEnabled(IniFile::Load(context.settings_path).GetInt("Advanced", "UseLog", 0) != 0);
    LogLine("------------------------------------------------------------------------\n");
    LogLine("Welcome to Quillstream, initializing....\n");
    LogLine("Save initializations to: %s\n", context.settings_path.c_str());
    LogLine("Ini file set: %s\n", context.settings_path.c_str());

    context.command_line_file = ResolveCommandLineFile(file_argument);
    return context;
}

}  // namespace qs
