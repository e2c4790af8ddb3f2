#include "cli/cli_context.h"

namespace qs::cli {

void CliContext::Begin(const char* argv0) {
    startup = BeginApplication(explicit_home, argv0, {});
    settings = LoadSettings(startup.settings_path);
}

void CliContext::SaveOrThrow() const {
    if (!SaveSettings(settings, startup.settings_path))
        throw UsageError("cannot write the settings file " + startup.settings_path);
}

}  // namespace qs::cli
