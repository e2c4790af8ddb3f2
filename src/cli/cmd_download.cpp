#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/worker_progress.h"

namespace qs::cli {

namespace {

struct EnqueueArgs {
    std::string group;
    std::string filter;
};

struct NzbArgs {
    std::vector<std::string> files;
};

void RequireServer(Engine& engine) {
    if (engine.settings()->servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");
}

int Enqueue(Engine& engine, const EnqueueArgs& args) {
    CommandResult queued = CliContext::OrUsageError(engine.Enqueue(args.group, args.filter, false));
    std::cout << queued.count << " attachments queued\n";
    return queued.count;
}

// "N downloaded (k with missing parts), f failed, u left queued (no server reached), s sets
// beyond repair", and the exit status the outcomes call for.
int Summarise(Engine& engine, const CliEvents& events) {
    const int done = events.count(EntryOutcome::Done) + events.count(EntryOutcome::Incomplete);
    const int incomplete = events.count(EntryOutcome::Incomplete);
    const int failed = events.count(EntryOutcome::Failed) + events.count(EntryOutcome::Stopped);
    // A worker that reached no server, or a disk that took no more, leaves every entry it
    // did not take queued too.
    const bool disk_full = events.count(EntryOutcome::DiskFull) > 0;
    const int64_t unreached =
        events.count(EntryOutcome::Unreachable) > 0 || disk_full ? engine.Status().tasks : 0;
    std::cerr << done << " downloaded";
    if (incomplete > 0)
        std::cerr << " (" << incomplete << " with missing parts)";
    std::cerr << ", " << failed << " failed";
    if (unreached > 0)
        std::cerr << ", " << unreached << " left queued"
                  << (disk_full ? " (the disk took no more)" : " (no server reached)");
    const int sets_damaged = events.sets_damaged();
    if (sets_damaged > 0)
        std::cerr << ", " << sets_damaged << (sets_damaged == 1 ? " set" : " sets")
                  << " beyond repair";
    std::cerr << "\n";
    // A file with holes is no success for a script, even when the user let it be written;
    // a file of a set that par2 repaired has none left.
    const bool holes = events.incomplete_not_repaired() > 0;
    return failed > 0 || unreached > 0 || holes || sets_damaged > 0 || Interrupted()
               ? kExitTaskFailed
               : kExitOk;
}

// Runs the workers until the queue holds nothing they can take.
int Download(Engine& engine) {
    RequireServer(engine);
    CliEvents events;
    engine.SetListener(&events);
    CommandResult started = engine.StartDownloads();
    if (!started.ok || started.count == 0) {
        engine.SetListener(nullptr);
        if (!started.ok)
            throw UsageError(started.message);  // another process downloads from this home
        std::cerr << "no thread slot is enabled\n";
        return kExitTaskFailed;
    }
    RunWorkersWithProgress(engine, events);
    engine.SetListener(nullptr);
    return Summarise(engine, events);
}

int RunEnqueue(CliContext& context, const EnqueueArgs& args) {
    Enqueue(context.engine(), args);
    return kExitOk;
}

int RunNzb(CliContext& context, const NzbArgs& args) {
    Engine& engine = context.engine();
    bool all_ok = true;
    for (const std::string& file : args.files) {
        CommandResult result = engine.ImportNzb(file);
        std::cout << file << ": " << result.count << " files queued\n";
        all_ok = all_ok && result.ok;
    }
    return all_ok ? kExitOk : kExitTaskFailed;
}

int RunDownload(CliContext& context) {
    return Download(context.engine());
}

int RunGrab(CliContext& context, const EnqueueArgs& args) {
    Engine& engine = context.engine();
    RequireServer(engine);
    Enqueue(engine, args);
    return Download(engine);
}

int RunAutograb(CliContext& context) {
    Engine& engine = context.engine();
    RequireServer(engine);
    if (engine.settings()->groups.empty())
        throw UsageError("no group is subscribed");
    CliEvents events;
    engine.SetListener(&events);
    CliContext::OrUsageError(engine.StartAutograb(engine.settings()->AutoScanOnly != 0));
    RunWorkersWithProgress(engine, events);
    engine.SetListener(nullptr);
    bool scanned = true;
    for (const ScanReport& report : events.scans()) {
        std::cerr << report.group << ": " << report.Summary() << "\n";
        scanned = scanned && report.servers_scanned() > 0;
    }
    int status = Summarise(engine, events);
    return scanned ? status : kExitTaskFailed;
}

}  // namespace

void AddDownloadCommands(CLI::App& app, CommandSlot chosen) {
    auto enqueue_args = std::make_shared<EnqueueArgs>();
    CLI::App* enqueue =
        app.add_subcommand("enqueue", "Queue every attachment of a group's view, or of the log");
    enqueue->add_option("group", enqueue_args->group, "Subscribed newsgroup, or log")->required();
    enqueue->add_option("--filter", enqueue_args->filter,
                        "Only rows whose file name contains TEXT");
    enqueue->callback([chosen, enqueue_args] {
        *chosen = [enqueue_args](CliContext& c) { return RunEnqueue(c, *enqueue_args); };
    });

    auto nzb_args = std::make_shared<NzbArgs>();
    CLI::App* nzb = app.add_subcommand("nzb", "Import NZB files into the queue");
    nzb->add_option("files", nzb_args->files, "NZB files")->required();
    nzb->callback([chosen, nzb_args] {
        *chosen = [nzb_args](CliContext& c) { return RunNzb(c, *nzb_args); };
    });

    CLI::App* download =
        app.add_subcommand("download", "Download the queue until it is empty (Ctrl-C stops)");
    download->callback([chosen] { *chosen = [](CliContext& c) { return RunDownload(c); }; });

    auto grab_args = std::make_shared<EnqueueArgs>();
    CLI::App* grab = app.add_subcommand("grab", "Queue a group's view, then download the queue");
    grab->add_option("group", grab_args->group, "Subscribed newsgroup")->required();
    grab->add_option("--filter", grab_args->filter, "Only rows whose file name contains TEXT");
    grab->callback([chosen, grab_args] {
        *chosen = [grab_args](CliContext& c) { return RunGrab(c, *grab_args); };
    });

    CLI::App* autograb = app.add_subcommand(
        "autograb", "Scan every subscribed group in turn, queue and download what each found");
    autograb->callback([chosen] { *chosen = [](CliContext& c) { return RunAutograb(c); }; });
}

}  // namespace qs::cli
