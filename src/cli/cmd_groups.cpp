#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/printable.h"

namespace qs::cli {

namespace {

// Rows are read a page at a time, as a list window would.
constexpr int64_t kSearchPage = 1000;

int FetchGroups(CliContext& context) {
    Engine& engine = context.engine();
    CommandResult result = engine.FetchGroupList();
    if (!result.ok) {
        // The reader's own failures reached stderr through the host already.
        if (result.message != engine.group_list_fetch().error)
            std::cerr << "quillstream-cli: " << Printable(result.message) << "\n";
        return kExitTaskFailed;
    }
    std::cout << result.count << " groups\n";
    return kExitOk;
}

int SearchGroups(CliContext& context, const std::string& text) {
    std::unique_ptr<GroupListView> view = context.engine().OpenGroupList();
    if (!view)
        throw TaskFailed("cannot open the groups database");
    view->SetFilter(text);
    const int64_t rows = view->CountRows();
    Group g;
    for (int64_t row = 0; row < rows; ++row) {
        if (row % kSearchPage == 0 && !view->FillRowCache(row, kSearchPage))
            throw TaskFailed("cannot read the groups database " + view->db()->path());
        if (!view->GroupAt(row, g))
            break;
        std::cout << Printable(g.name) << '\t' << g.first << '\t' << g.last << '\t' << g.amount
                  << '\t' << (g.state == 1 ? "*" : "") << '\n';
    }
    return kExitOk;
}

}  // namespace

void AddGroupsCommands(CLI::App& app, CommandSlot chosen) {
    CLI::App* groups =
        app.add_subcommand("groups", "The server's list of groups: fetch it, search it");
    groups->require_subcommand(1);

    CLI::App* fetch = groups->add_subcommand(
        "fetch", "Read the list of groups of the first enabled server (LIST)");
    fetch->callback([chosen] { *chosen = FetchGroups; });

    auto text = std::make_shared<std::string>();
    CLI::App* search = groups->add_subcommand(
        "search", "Groups whose name holds TEXT: name, first, last, count, * when subscribed");
    search->add_option("text", *text, "Part of the group name, any case")->required();
    search->callback(
        [chosen, text] { *chosen = [text](CliContext& c) { return SearchGroups(c, *text); }; });
}

}  // namespace qs::cli
