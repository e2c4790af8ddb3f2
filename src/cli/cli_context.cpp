#include "cli/cli_context.h"

namespace qs::cli {

void CliContext::Begin(const char* argv0) {
    startup = BeginApplication(explicit_home, argv0, {});
}

Engine& CliContext::engine() {
    if (!engine_) {
        host_ = std::make_unique<CliHost>(yes);
        engine_ = std::make_unique<Engine>(startup, *host_);
        if (!engine_->Open()) {
            const Engine::OpenError& error = engine_->open_error();
            // An unreadable settings file is a configuration error; the host said why.
            if (error.settings)
                throw UsageError(error.message);
            throw TaskFailed(error.message.empty() ? "cannot open the home " + startup.home_dir
                                                   : error.message);
        }
    }
    return *engine_;
}

CommandResult CliContext::OrUsageError(CommandResult result) {
    if (!result.ok)
        throw UsageError(result.message);
    return result;
}

}  // namespace qs::cli
