#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/printable.h"
#include "engine/engine.h"

namespace qs::cli {

namespace {

struct ListArgs {
    std::string view;
    std::string filter;
    std::string order;
    bool desc = false;
    int64_t offset = 0;
    int64_t limit = -1;
};

// Text fields come from servers: keep the tab-separated rows intact and the terminal safe.
std::string Field(const std::string& text) {
    return Printable(text);
}

int RunList(CliContext& context, const ListArgs& args) {
    if (args.offset < 0)
        throw UsageError("--offset must not be negative");
    Engine& engine = context.engine();
    std::unique_ptr<HeaderView> view = engine.OpenView(args.view);
    if (!view) {
        if (!engine.IsSubscribed(args.view))
            throw UsageError("not subscribed to " + args.view);
        return kExitTaskFailed;
    }
    HeaderView* db = view.get();
    if (!args.filter.empty())
        db->SetFilter(args.filter);
    if (!args.order.empty() && !db->SetOrder(args.order + (args.desc ? " desc" : "")))
        throw UsageError("cannot order by '" + args.order +
                         "' (filename, email, bytes, lines, parts or date)");

    // A read that fails (a damaged file) is an error, never an empty or shortened list.
    const std::shared_ptr<HeaderDatabase>& store = db->db();
    const uint64_t failures_before = store->failures();
    auto unreadable = [&] {
        return TaskFailed("cannot read " + store->path() + ": " + store->last_error());
    };
    const int64_t rows = db->CountRows();
    if (rows < 0)
        throw unreadable();
    int64_t end = args.limit < 0 ? rows : std::min(rows, args.offset + args.limit);
    // The log says why an entry failed or is damaged, in a last column.
    const bool with_reason = args.view == "log";
    std::cout << "state\tparts\tpartcount\tbytes\tlines\tdate\temail\tfilename\tId"
              << (with_reason ? "\treason\n" : "\n");
    constexpr int64_t kPage = 500;
    for (int64_t row = args.offset; row < end; ++row) {
        if ((row - args.offset) % kPage == 0)
            db->FillRowCache(row, std::min(kPage, end - row));
        Attachment a;
        if (!db->AttachmentAt(row, a)) {
            if (store->failures() != failures_before)
                throw unreadable();
            break;  // rows went meanwhile
        }
        std::cout << a.state << '\t' << a.parts << '\t' << a.partcount << '\t' << a.bytes << '\t'
                  << a.lines << '\t' << a.date << '\t' << Field(a.email) << '\t'
                  << Field(a.filename) << '\t' << Field(a.Id);
        if (with_reason)
            std::cout << '\t' << Field(a.reason);
        std::cout << '\n';
    }
    return kExitOk;
}

// The paging and ordering options every listing takes.
void AddViewOptions(CLI::App* command, ListArgs& args) {
    command->add_option("--filter", args.filter, "Only rows whose file name contains TEXT");
    command->add_option("--order", args.order, "filename, email, bytes, lines, parts or date");
    command->add_flag("--desc", args.desc, "Descending order");
    command->add_option("--offset", args.offset, "First row");
    command->add_option("--limit", args.limit, "Most rows");
}
}  // namespace

void AddListCommands(CLI::App& app, CommandSlot chosen) {
    auto args = std::make_shared<ListArgs>();
    CLI::App* list = app.add_subcommand("list", "Rows of a group's view, the queue or the log");
    list->add_option("view", args->view, "GROUP, queue or log")->required();
    AddViewOptions(list, *args);
    list->callback(
        [chosen, args] { *chosen = [args](CliContext& c) { return RunList(c, *args); }; });

    // "queue" and "log" are short for "list queue" and "list log".
    for (const char* view : {"queue", "log"}) {
        auto view_args = std::make_shared<ListArgs>();
        view_args->view = view;
        CLI::App* command = app.add_subcommand(view, std::string("Rows of the ") + view);
        AddViewOptions(command, *view_args);
        command->callback([chosen, view_args] {
            *chosen = [view_args](CliContext& c) { return RunList(c, *view_args); };
        });
    }
}

}  // namespace qs::cli
