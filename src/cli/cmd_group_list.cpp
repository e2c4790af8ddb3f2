#include <iostream>
#include <memory>

#include "cli/commands.h"

namespace qs::cli {

namespace {

struct SubscribeArgs {
    std::string group;
    std::string dir;
};

int Subscribe(CliContext& context, const SubscribeArgs& args) {
    CommandResult result =
        CliContext::OrUsageError(context.engine().Subscribe(args.group, args.dir));
    if (!result.message.empty())
        std::cerr << result.message << "\n";
    return kExitOk;
}

int Unsubscribe(CliContext& context, const std::string& group) {
    CliContext::OrUsageError(context.engine().Unsubscribe(group));
    return kExitOk;
}

int ListSubscribed(CliContext& context) {
    std::cout << "group\tdirectory\tlastscanned\n";
    for (const auto& g : context.engine().settings()->groups)
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
