#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "app/output_files.h"

namespace qs::cli {

namespace {

struct SubscribeArgs {
    std::string group;
    std::string dir;
};

void CheckGroupName(const std::string& name) {
    if (name.empty() || name.find_first_of(" \t\r\n/\\") != std::string::npos || name[0] == '.')
        throw UsageError("invalid group name '" + name + "'");
}

int Subscribe(CliContext& context, const SubscribeArgs& args) {
    CheckGroupName(args.group);
    auto& groups = context.settings.groups;
    auto it = std::find_if(groups.begin(), groups.end(),
                           [&](const auto& g) { return g.name == args.group; });
    if (it != groups.end()) {
        if (args.dir.empty()) {
            std::cerr << "Already subscribed to " << args.group << "\n";
            return kExitOk;
        }
        it->downloaddir = args.dir;
    } else {
        std::string dir =
            args.dir.empty() ? DownloadDirFor(args.group, context.settings) : args.dir;
        groups.push_back({args.group, dir, 0});
    }
    context.SaveOrThrow();
    return kExitOk;
}

int Unsubscribe(CliContext& context, const std::string& group) {
    auto& groups = context.settings.groups;
    if (std::erase_if(groups, [&](const auto& g) { return g.name == group; }) == 0)
        throw UsageError("not subscribed to " + group);
    context.SaveOrThrow();
    return kExitOk;
}

int ListSubscribed(CliContext& context) {
    std::cout << "group\tdirectory\tlastscanned\n";
    for (const auto& g : context.settings.groups)
        std::cout << g.name << '\t' << g.downloaddir << '\t' << g.lastscanned << '\n';
    return kExitOk;
}

}  // namespace

void AddGroupListCommands(CLI::App& app, CommandSlot chosen) {
    auto sub = std::make_shared<SubscribeArgs>();
    CLI::App* subscribe = app.add_subcommand("subscribe", "Add a group to the group list");
    subscribe->add_option("group", sub->group, "Newsgroup name")->required();
    subscribe->add_option("--dir", sub->dir, "Download directory of the group");
    subscribe->callback(
        [chosen, sub] { *chosen = [sub](CliContext& c) { return Subscribe(c, *sub); }; });

    auto name = std::make_shared<std::string>();
    CLI::App* unsubscribe = app.add_subcommand("unsubscribe", "Remove a group from the group list");
    unsubscribe->add_option("group", *name, "Newsgroup name")->required();
    unsubscribe->callback(
        [chosen, name] { *chosen = [name](CliContext& c) { return Unsubscribe(c, *name); }; });

    CLI::App* subscribed = app.add_subcommand("subscribed", "Show the group list");
    subscribed->callback([chosen] { *chosen = ListSubscribed; });
}

}  // namespace qs::cli
