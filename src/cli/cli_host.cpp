#include "cli/cli_host.h"

#include "cli/printable.h"

#include <iostream>

namespace qs::cli {

namespace {
// Message boxes may span lines; on a terminal one line per message reads better. They may
// carry a server's words, so control characters are escaped.
std::string OneLine(const std::string& text) {
    return Printable(text);
}
}  // namespace

void CliHost::ShowMessage(const std::string& text, Icon icon) {
    std::lock_guard lock(mutex_);
    const char* prefix = icon == Icon::Stop          ? "error: "
                         : icon == Icon::Exclamation ? "warning: "
                                                     : "";
    std::cerr << prefix << OneLine(text) << std::endl;
}

bool CliHost::AskYesNo(const std::string& question) {
    std::lock_guard lock(mutex_);
    std::cerr << OneLine(question) << " " << (yes_ ? "Yes (--yes)" : "No (use --yes to answer Yes)")
              << std::endl;
    return yes_;
}

}  // namespace qs::cli
