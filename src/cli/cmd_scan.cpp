#include <iostream>
#include <memory>

#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/worker_progress.h"
#include "engine/engine.h"

namespace qs::cli {

namespace {

struct ScanArgs {
    std::string group;
    bool all = false;
};

void ReportGroup(Engine& engine, const std::string& group) {
    std::shared_ptr<HeaderDatabase> db = engine.ViewDatabase(group);
    const ScanShared& scans = engine.scans();
    std::cerr << group << ": " << (db ? db->CountRows() : 0) << " attachments ("
              << scans.servers_scanned.load() << " servers scanned, " << scans.servers_failed.load()
              << " failed)\n";
}

int RunScan(CliContext& context, const ScanArgs& args) {
    if (args.all == !args.group.empty())
        throw UsageError("scan needs GROUP or --all");
    CliHost host(context.yes);
    Engine engine(context.startup, host);
    if (!engine.Open())
        return kExitTaskFailed;
    if (engine.settings().servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");

    bool all_ok = true;
    auto wait = [&engine] { RunWorkersWithProgress(engine); };
    if (args.all) {
        if (engine.settings().groups.empty())
            throw UsageError("no group is subscribed");
        engine.Autograb(true, wait, [&](const std::string& group, bool ok) {
            ReportGroup(engine, group);
            all_ok = all_ok && ok;
        });
    } else {
        if (!engine.FindGroup(args.group))
            throw UsageError("not subscribed to " + args.group);
        engine.scans().servers_scanned.store(0);
        engine.scans().servers_failed.store(0);
        if (engine.StartScan(args.group) <= 0) {
            std::cerr << args.group << ": no thread slot is enabled\n";
            all_ok = false;
        } else {
            wait();
            ReportGroup(engine, args.group);
            all_ok = engine.scans().servers_scanned.load() > 0;
        }
    }
    engine.SaveSettings();  // the groups' scan times
    return all_ok && !Interrupted() ? kExitOk : kExitTaskFailed;
}

}  // namespace

void AddScanCommands(CLI::App& app, CommandSlot chosen) {
    auto args = std::make_shared<ScanArgs>();
    CLI::App* scan =
        app.add_subcommand("scan", "Scan one subscribed group, or every group in turn");
    scan->add_option("group", args->group, "Newsgroup name");
    scan->add_flag("--all", args->all, "Scan every subscribed group");
    scan->callback(
        [chosen, args] { *chosen = [args](CliContext& c) { return RunScan(c, *args); }; });
}

}  // namespace qs::cli
