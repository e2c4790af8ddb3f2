#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "app/startup.h"
#include "cli/cli_host.h"
#include "engine/engine.h"

namespace qs::cli {

// Exit statuses of quillstream-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitTaskFailed = 1;
inline constexpr int kExitUsage = 2;

// A usage or configuration error: one line on stderr, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A task that could not even start (the engine did not open): exit status 1.
struct TaskFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What every command reaches: the home directory and the engine over it.
struct CliContext {
    std::string explicit_home;
    bool yes = false;
    StartupContext startup;

    // Runs the shared start-up steps; called once before a command.
    void Begin(const char* argv0);
    // The engine over the home, opened on first use.
    Engine& engine();
    // A failed command's message as a usage error, else its result.
    static CommandResult OrUsageError(CommandResult result);

  private:
    std::unique_ptr<CliHost> host_;
    std::unique_ptr<Engine> engine_;
};

}  // namespace qs::cli
