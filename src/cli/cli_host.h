#pragma once

#include <mutex>

#include "app/host.h"

namespace qs::cli {

// The CLI's side of the host interface: messages go to stderr, questions are answered by
// --yes (default No) and echoed with the answer, so a log of the run shows what was decided.
class CliHost : public Host {
  public:
    explicit CliHost(bool yes) : yes_(yes) {}
    void ShowMessage(const std::string& text, Icon icon) override;
    bool AskYesNo(const std::string& question) override;
    void Refresh() override {}

  private:
    bool yes_;
    std::mutex mutex_;  // keeps lines of different workers apart
};

}  // namespace qs::cli
