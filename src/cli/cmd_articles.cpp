#include <iostream>
#include <iterator>
#include <memory>

#include "cli/commands.h"
#include "cli/printable.h"

namespace qs::cli {

namespace {

struct ReadArgs {
    std::string message_id;
    std::string group;
};

struct PostArgs {
    std::string group;
    std::string subject;
    std::string from;
    std::string references;
};

void RequireServer(Engine& engine) {
    if (engine.settings()->servers.empty())
        throw UsageError("no news server is configured (servers add HOST)");
}

// The article line by line, each made safe for a terminal and ended by LF.
void PrintArticle(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::cout << Printable(line) << '\n';
        start = end + 1;
    }
}

int ReadArticle(CliContext& context, const ReadArgs& args) {
    Engine& engine = context.engine();
    RequireServer(engine);
    // Each status as it comes: the last one says why a read failed.
    ArticleRead read = engine.ReadArticle(
        args.group, args.message_id,
        [](const std::string& status) { std::cerr << Printable(status) << "\n"; });
    PrintArticle(read.text);
    return read.ok ? kExitOk : kExitTaskFailed;
}

int PostArticle(CliContext& context, const PostArgs& args) {
    Engine& engine = context.engine();
    RequireServer(engine);
    PostRequest request{args.group, args.from, args.subject, args.references, {}};
    if (request.from.empty())
        request.from = engine.settings()->UserName;
    if (request.from.empty())
        throw UsageError("no From address: give --from or set it (config UserInfo Name VALUE)");
    request.body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    // The file's last line end ends its last line; the post ends that line itself, so
    // keeping it would add an empty line to the article.
    if (request.body.ends_with("\r\n"))
        request.body.resize(request.body.size() - 2);
    else if (request.body.ends_with('\n'))
        request.body.pop_back();
    CommandResult result = engine.PostArticle(request);
    std::cerr << Printable(result.message) << "\n";
    return result.ok ? kExitOk : kExitTaskFailed;
}

}  // namespace

void AddArticleCommands(CLI::App& app, CommandSlot chosen) {
    auto read_args = std::make_shared<ReadArgs>();
    CLI::App* read = app.add_subcommand("read", "Print one article, headers and body");
    read->add_option("message-id", read_args->message_id, "Message-ID, with its angle brackets")
        ->required();
    read->add_option("--group", read_args->group, "Select this group first (with SetGroup)");
    read->callback([chosen, read_args] {
        *chosen = [read_args](CliContext& c) { return ReadArticle(c, *read_args); };
    });

    auto post_args = std::make_shared<PostArgs>();
    CLI::App* post = app.add_subcommand("post", "Post the text on stdin as a new article");
    post->add_option("--group", post_args->group, "Newsgroup to post to")->required();
    post->add_option("--subject", post_args->subject, "Subject line")->required();
    post->add_option("--from", post_args->from, "From line (default: UserInfo Name)");
    post->add_option("--references", post_args->references, "References line of a follow-up");
    post->callback([chosen, post_args] {
        *chosen = [post_args](CliContext& c) { return PostArticle(c, *post_args); };
    });
}

}  // namespace qs::cli
