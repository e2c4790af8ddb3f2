#include "cli/cli_context.h"

namespace qs::cli {

void CliContext::Begin(const char* argv0) {
    startup = BeginApplication(explicit_home, argv0, {});
}

Engine& CliContext::engine() {
    if (!engine_) {
        host_ = std::make_unique<CliHost>(yes);
        engine_ = std::make_unique<Engine>(startup, *host_);
        if (!engine_->Open())
            throw TaskFailed("cannot open the databases in " + startup.home_dir);
    }
    return *engine_;
}

CommandResult CliContext::OrUsageError(CommandResult result) {
    if (!result.ok)
        throw UsageError(result.message);
    return result;
}

}  // namespace qs::cli
