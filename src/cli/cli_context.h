#pragma once

#include <stdexcept>
#include <string>

#include "app/settings.h"
#include "app/startup.h"

namespace qs::cli {

// Exit statuses of quillstream-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitTaskFailed = 1;
inline constexpr int kExitUsage = 2;

// A usage or configuration error: one line on stderr, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What every command reaches: the home directory and the settings it holds.
struct CliContext {
    std::string explicit_home;
    bool yes = false;
    StartupContext startup;
    Settings settings;

    // Runs the shared start-up steps and loads the settings; called once before a command.
    void Begin(const char* argv0);
    // Saves the settings; a failed write is a configuration error.
    void SaveOrThrow() const;
};

}  // namespace qs::cli
