#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/commands.h"

namespace qs::cli {

namespace {

struct AddArgs {
    std::string host;
    int port = 119;
    std::string user;
    std::string password;
    bool disabled = false;
};

int ListServers(CliContext& context) {
    std::cout << "host\tport\tuser\tstate\n";
    auto print = [](const ServerEntry& s, const char* state) {
        std::cout << s.host << '\t' << s.port << '\t' << s.user << '\t' << state << '\n';
    };
    for (const auto& s : context.settings.servers)
        print(s, "enabled");
    for (const auto& s : context.settings.disabled_servers)
        print(s, "disabled");
    return kExitOk;
}

int AddServer(CliContext& context, const AddArgs& args) {
    if (args.host.empty() || args.host.find_first_of(" \t\r\n") != std::string::npos)
        throw UsageError("invalid host name '" + args.host + "'");
    if (args.port < 1 || args.port > 65535)
        throw UsageError("port must be between 1 and 65535");
    Settings& s = context.settings;
    auto same = [&](const ServerEntry& e) { return e.host == args.host && e.port == args.port; };
    if (std::any_of(s.servers.begin(), s.servers.end(), same) ||
        std::any_of(s.disabled_servers.begin(), s.disabled_servers.end(), same))
        throw UsageError("server " + args.host + ":" + std::to_string(args.port) +
                         " is already configured");
    ServerEntry entry{args.host, args.user, args.password, args.disabled ? 1 : 0, args.port};
    (args.disabled ? s.disabled_servers : s.servers).push_back(std::move(entry));
    context.SaveOrThrow();
    return kExitOk;
}

int RemoveServer(CliContext& context, const std::string& host) {
    Settings& s = context.settings;
    auto matches = [&](const ServerEntry& e) { return e.host == host; };
    size_t before = s.servers.size() + s.disabled_servers.size();
    std::erase_if(s.servers, matches);
    std::erase_if(s.disabled_servers, matches);
    if (before == s.servers.size() + s.disabled_servers.size())
        throw UsageError("no server " + host + " is configured");
    context.SaveOrThrow();
    return kExitOk;
}

}  // namespace

void AddServerCommands(CLI::App& app, CommandSlot chosen) {
    CLI::App* servers = app.add_subcommand("servers", "List or edit the news servers");
    servers->require_subcommand(0, 1);
    // A subcommand's choice wins whichever callback CLI11 runs first.
    servers->callback([chosen] {
        if (!*chosen)
            *chosen = ListServers;
    });

    auto add_args = std::make_shared<AddArgs>();
    CLI::App* add = servers->add_subcommand("add", "Add a news server");
    add->add_option("host", add_args->host, "Host name")->required();
    add->add_option("--port", add_args->port, "TCP port");
    add->add_option("--user", add_args->user, "User name for AUTHINFO");
    add->add_option("--password", add_args->password, "Password");
    add->add_flag("--disabled", add_args->disabled, "Add to the disabled list");
    add->callback([chosen, add_args] {
        *chosen = [add_args](CliContext& c) { return AddServer(c, *add_args); };
    });

    auto host = std::make_shared<std::string>();
    CLI::App* remove = servers->add_subcommand("remove", "Remove every entry of a host");
    remove->add_option("host", *host, "Host name")->required();
    remove->callback(
        [chosen, host] { *chosen = [host](CliContext& c) { return RemoveServer(c, *host); }; });
}

}  // namespace qs::cli
