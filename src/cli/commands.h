#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "cli/cli_context.h"

namespace qs::cli {

// A command's body runs after the start-up steps; it returns the exit status.
using CommandBody = std::function<int(CliContext&)>;
// Each group of commands adds its subcommands and sets the body of the one chosen.
using CommandSlot = CommandBody*;

void AddConfigCommands(CLI::App& app, CommandSlot chosen);
void AddServerCommands(CLI::App& app, CommandSlot chosen);
void AddGroupListCommands(CLI::App& app, CommandSlot chosen);
void AddGroupsCommands(CLI::App& app, CommandSlot chosen);
void AddScanCommands(CLI::App& app, CommandSlot chosen);
void AddListCommands(CLI::App& app, CommandSlot chosen);
void AddDownloadCommands(CLI::App& app, CommandSlot chosen);
void AddArticleCommands(CLI::App& app, CommandSlot chosen);

}  // namespace qs::cli
