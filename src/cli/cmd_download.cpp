#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/worker_progress.h"
#include "engine/engine.h"

namespace qs::cli {

namespace {

struct EnqueueArgs {
    std::string group;
    std::string filter;
};

struct NzbArgs {
    std::vector<std::string> files;
};

// Queues the group's view; -1 (after a message) when that is not possible.
int Enqueue(Engine& engine, const EnqueueArgs& args) {
    int queued = engine.EnqueueAttachments(args.group, args.filter, false);
    if (queued < 0)
        throw UsageError("not subscribed to " + args.group);
    std::cout << queued << " attachments queued\n";
    return queued;
}

// Runs the workers until the queue holds nothing they can take.
int Download(Engine& engine) {
    if (engine.settings().servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");
    DownloadShared& downloads = engine.downloads();
    downloads.ResetCounters();
    if (engine.StartDownloads() == 0) {
        std::cerr << "no thread slot is enabled\n";
        return kExitTaskFailed;
    }
    RunWorkersWithProgress(engine);
    int done = downloads.entries_done.load();
    int failed = downloads.entries_failed.load();
    int unreached = downloads.entries_unreached.load();
    int incomplete = downloads.entries_incomplete.load();
    std::cerr << done << " downloaded";
    if (incomplete > 0)
        std::cerr << " (" << incomplete << " with missing parts)";
    std::cerr << ", " << failed << " failed";
    if (unreached > 0)
        std::cerr << ", " << unreached << " left queued (no server reached)";
    std::cerr << "\n";
    // A file with holes is no success for a script, even when the user let it be written.
    return failed > 0 || unreached > 0 || incomplete > 0 || Interrupted() ? kExitTaskFailed
                                                                          : kExitOk;
}

int RunEnqueue(CliContext& context, const EnqueueArgs& args) {
    CliHost host(context.yes);
    Engine engine(context.startup, host);
    if (!engine.Open())
        return kExitTaskFailed;
    Enqueue(engine, args);
    return kExitOk;
}

int RunNzb(CliContext& context, const NzbArgs& args) {
    CliHost host(context.yes);
    Engine engine(context.startup, host);
    if (!engine.Open())
        return kExitTaskFailed;
    bool all_ok = true;
    for (const std::string& file : args.files) {
        NzbImportResult result = engine.ImportNzb(file);
        std::cout << file << ": " << result.files << " files queued\n";
        all_ok = all_ok && !result.error;
    }
    return all_ok ? kExitOk : kExitTaskFailed;
}

int RunDownload(CliContext& context) {
    CliHost host(context.yes);
    Engine engine(context.startup, host);
    if (!engine.Open())
        return kExitTaskFailed;
    return Download(engine);
}

int RunGrab(CliContext& context, const EnqueueArgs& args) {
    CliHost host(context.yes);
    Engine engine(context.startup, host);
    if (!engine.Open())
        return kExitTaskFailed;
    if (engine.settings().servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");
    Enqueue(engine, args);
    return Download(engine);
}

}  // namespace

void AddDownloadCommands(CLI::App& app, CommandSlot chosen) {
    auto enqueue_args = std::make_shared<EnqueueArgs>();
    CLI::App* enqueue = app.add_subcommand("enqueue", "Queue every attachment of a group's view");
    enqueue->add_option("group", enqueue_args->group, "Subscribed newsgroup")->required();
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
}

}  // namespace qs::cli
