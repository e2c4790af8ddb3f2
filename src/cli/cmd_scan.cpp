#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/worker_progress.h"

namespace qs::cli {

namespace {

struct ScanArgs {
    std::string group;
    bool all = false;
};

// "group: N attachments (k servers scanned, f failed[, e expired])"; true when a server was read.
bool ReportScan(Engine& engine, const ScanReport& report) {
    std::unique_ptr<HeaderView> view = engine.OpenView(report.group);
    std::cerr << report.group << ": " << (view ? view->CountRows() : 0) << " attachments ("
              << report.Summary() << ")\n";
    return report.servers_scanned() > 0;
}

int RunScan(CliContext& context, const ScanArgs& args) {
    if (args.all == !args.group.empty())
        throw UsageError("scan needs GROUP or --all");
    Engine& engine = context.engine();
    if (engine.settings()->servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");
    CliEvents events;
    engine.SetListener(&events);

    if (args.all) {
        if (engine.settings()->groups.empty())
            throw UsageError("no group is subscribed");
        CliContext::OrUsageError(engine.StartAutograb(true));
    } else {
        if (!engine.IsSubscribed(args.group))
            throw UsageError("not subscribed to " + args.group);
        CommandResult started = CliContext::OrUsageError(engine.StartScan(args.group));
        if (started.count == 0) {
            std::cerr << args.group << ": no thread slot is enabled\n";
            engine.SetListener(nullptr);
            return kExitTaskFailed;
        }
    }
    RunWorkersWithProgress(engine, events);
    engine.SetListener(nullptr);
    bool all_ok = !events.scans().empty();
    for (const ScanReport& report : events.scans())
        all_ok = ReportScan(engine, report) && all_ok;
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
