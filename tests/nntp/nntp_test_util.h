#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/debug_log.h"
#include "app/host.h"
#include "support/temp_dir.h"

namespace qs::test {

// Sends the trace to a temporary file for the life of the object.
class CapturedLog {
  public:
    CapturedLog() {
        DebugLog::Instance().SetPath(dir_.File("log.txt"));
        DebugLog::Instance().SetEnabled(true);
    }
    ~CapturedLog() {
        DebugLog::Instance().SetEnabled(false);
        DebugLog::Instance().Close();
    }
    std::string text() const { return ReadFile(dir_.File("log.txt")); }

  private:
    TempDir dir_;
};

// A host that remembers its messages.
class RecordingHost : public Host {
  public:
    void ShowMessage(const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages.emplace_back(text, icon);
    }
    bool AskYesNo(const std::string&) override { return false; }
    void Refresh() override {}

    std::mutex mutex_;
    std::vector<std::pair<std::string, Icon>> messages;
};

}  // namespace qs::test
