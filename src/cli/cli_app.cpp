#include "cli/cli_app.h"

#include <cstdio>
#include <iostream>

#include "cli/commands.h"

namespace qs::cli {

namespace {
// CLI11 reports a mistyped command as a missing one; name the word instead.
std::string UsageMessage(CLI::App& app, int argc, char** argv, const CLI::ParseError& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--home") {
            ++i;
            continue;
        }
        if (arg.empty() || arg[0] == '-')
            continue;
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands({}))
            known = known || sub->get_name() == arg;
        if (!known)
            return "unknown command '" + arg + "' (--help lists the commands)";
        break;
    }
    return error.what();
}
}  // namespace

int RunCli(int argc, char** argv) {
    CliContext context;
    CommandBody chosen;

    CLI::App app{"Quillstream: a Usenet binary downloader, headless.", "quillstream-cli"};
    app.option_defaults()->always_capture_default();
    app.add_option("--home", context.explicit_home, "Directory of settings, log and databases");
    app.add_flag("--yes", context.yes, "Answer Yes to every question");
    app.require_subcommand(1);
    AddConfigCommands(app, &chosen);
    AddServerCommands(app, &chosen);
    AddGroupListCommands(app, &chosen);
    AddGroupsCommands(app, &chosen);
    AddScanCommands(app, &chosen);
    AddListCommands(app, &chosen);
    AddDownloadCommands(app, &chosen);
    AddArticleCommands(app, &chosen);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "quillstream-cli: " << UsageMessage(app, argc, argv, e) << "\n";
        return kExitUsage;
    }

    try {
        context.Begin(argv[0]);
        return chosen ? chosen(context) : kExitUsage;
    } catch (const UsageError& e) {
        std::cerr << "quillstream-cli: " << e.what() << "\n";
        return kExitUsage;
    } catch (const TaskFailed& e) {
        std::cerr << "quillstream-cli: " << e.what() << "\n";
        return kExitTaskFailed;
    }
}

}  // namespace qs::cli
