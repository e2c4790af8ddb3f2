#include <iostream>
#include <memory>

#include "app/ini_file.h"
#include "app/text_util.h"
#include "cli/commands.h"

namespace qs::cli {

namespace {

bool SameKey(const std::string& text, const char* name) {
    return ToLower(text) == ToLower(name);
}

int RunConfig(CliContext& context, const std::vector<std::string>& args) {
    Engine& engine = context.engine();
    IniFile ini = SettingsToIni(*engine.settings());
    if (args.empty()) {
        std::cout << ini.Serialize();
        return kExitOk;
    }
    if (args.size() == 1)
        throw UsageError("config needs SECTION KEY [VALUE]");
    const std::string& section = args[0];
    const std::string& key = args[1];
    if (!ini.Has(section, key))
        throw UsageError("unknown setting [" + section + "] " + key);
    if (args.size() == 2) {
        std::cout << ini.GetString(section, key) << "\n";
        return kExitOk;
    }
    ini.SetString(section, key, args[2]);
    CliContext::OrUsageError(engine.ApplySettings(SettingsFromIni(ini)));
    // A new base directory moves every group's download directory below it, as the
    // options dialog's OK does.
    if (SameKey(section, "Advanced") && SameKey(key, "BaseDir") && !args[2].empty())
        CliContext::OrUsageError(engine.AssignAutoDownloadDirs());
    return kExitOk;
}

}  // namespace

void AddConfigCommands(CLI::App& app, CommandSlot chosen) {
    auto args = std::make_shared<std::vector<std::string>>();
    CLI::App* config =
        app.add_subcommand("config", "Print all settings, one key, or set one and save");
    config->add_option("args", *args, "SECTION KEY [VALUE]")->expected(0, 3);
    config->callback(
        [chosen, args] { *chosen = [args](CliContext& c) { return RunConfig(c, *args); }; });
}

}  // namespace qs::cli
