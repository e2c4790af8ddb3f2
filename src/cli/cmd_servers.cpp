#include <iostream>
#include <memory>

#include "cli/commands.h"

namespace qs::cli {

namespace {

struct AddArgs {
    std::string host;
    int port = 0;  // 0: 119, or 563 with TLS
    std::string user;
    std::string password;
    bool disabled = false;
    bool tls = false;
    int verify = 2;
    bool no_compress = false;
};

int ListServers(CliContext& context) {
    std::shared_ptr<const Settings> settings = context.engine().settings();
    std::cout << "host\tport\tuser\tstate\ttls\n";
    auto print = [](const ServerEntry& s, const char* state) {
        std::cout << s.host << '\t' << s.port << '\t' << s.user << '\t' << state << '\t'
                  << (s.ssl ? "verify " + std::to_string(s.verify) : "-") << '\n';
    };
    for (const auto& s : settings->servers)
        print(s, "enabled");
    for (const auto& s : settings->disabled_servers)
        print(s, "disabled");
    return kExitOk;
}

int AddServer(CliContext& context, const AddArgs& args) {
    ServerEntry entry{args.host, args.user, args.password, args.disabled ? 1 : 0, args.port};
    entry.ssl = args.tls ? 1 : 0;
    entry.verify = args.verify;
    entry.compress = args.no_compress ? 0 : 1;
    if (entry.port == 0)
        entry.port = args.tls ? kTlsNntpPort : kPlainNntpPort;
    CliContext::OrUsageError(context.engine().AddServer(std::move(entry)));
    return kExitOk;
}

int RemoveServer(CliContext& context, const std::string& host) {
    CliContext::OrUsageError(context.engine().RemoveServer(host));
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
    add->add_option("--port", add_args->port, "TCP port (default 119, 563 with --tls)")
        ->check(CLI::Range(1, 65535));
    add->add_option("--user", add_args->user, "User name for AUTHINFO");
    add->add_option("--password", add_args->password, "Password");
    add->add_flag("--disabled", add_args->disabled, "Add to the disabled list");
    add->add_flag("--tls", add_args->tls, "Connect over TLS (NNTPS)");
    add->add_option("--verify", add_args->verify,
                    "With --tls, check the certificate: 2 chain and host name (default), 1 "
                    "chain only, 0 not at all")
        ->check(CLI::Range(0, 2))
        ->needs("--tls");
    add->add_flag("--no-compress", add_args->no_compress,
                  "Never ask for COMPRESS DEFLATE (used by default when the server offers it)");
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
