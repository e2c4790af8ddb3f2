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

// Scans one group to the end; false when no server could be read.
bool ScanOne(Engine& engine, const std::string& group) {
    ScanShared& scans = engine.scans();
    scans.servers_scanned.store(0);
    scans.servers_failed.store(0);
    if (engine.StartScan(group) <= 0) {
        std::cerr << group << ": no thread slot is enabled\n";
        return false;
    }
    RunWorkersWithProgress(engine);
    std::shared_ptr<HeaderDatabase> db = engine.ViewDatabase(group);
    int64_t rows = db ? db->CountRows() : 0;
    std::cerr << group << ": " << rows << " attachments (" << scans.servers_scanned.load()
              << " servers scanned, " << scans.servers_failed.load() << " failed)\n";
    return scans.servers_scanned.load() > 0;
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

    std::vector<std::string> groups;
    if (args.all) {
        for (const auto& g : engine.settings().groups)
            groups.push_back(g.name);
        if (groups.empty())
            throw UsageError("no group is subscribed");
    } else {
        if (!engine.FindGroup(args.group))
            throw UsageError("not subscribed to " + args.group);
        groups.push_back(args.group);
    }
    bool all_ok = true;
    for (const auto& group : groups) {
        all_ok = ScanOne(engine, group) && all_ok;
        engine.SaveSettings();  // the scan time of the group
        if (Interrupted())
            break;
    }
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
