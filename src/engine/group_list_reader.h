#pragma once

// Reads a server's list of groups (LIST) into the "groups" database, on whatever thread
// calls Run, while other threads read its progress and may stop it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "db/header_db.h"
#include "engine/engine.h"

namespace qs {

class WorkerState;

// One line of a LIST answer: "name last first [flags]". False for a line without a name
// and both numbers.
bool ParseActiveLine(std::string_view line, Group& out);

class GroupListReader {
  public:
    struct Request {
        std::vector<ServerEntry> servers;  // the first one is used
        std::shared_ptr<const Settings> settings;
        std::shared_ptr<HeaderDatabase> db;
        std::vector<GroupListEntry> keep;  // marked subscribed again once the list is in
        Host* host = nullptr;
        std::function<void()> rows_changed;  // the database's rows changed; may be null
    };
    struct Progress {
        bool running = false;
        bool finished = false;
        int64_t stored = 0;
        std::string status;
        std::string error;
    };

    // Marks the reader running; called before Run (before its thread starts), so a poll or
    // a stop right after the start never meets an idle reader.
    void MarkStarting();
    // Reads the list; count: records stored. Failures go to the host's message box too.
    CommandResult Run(const Request& request);
    // Clears the running flag and wakes a blocked receive; Run ends at its next check.
    void RequestStop();
    Progress progress() const;
    bool running() const;

  private:
    CommandResult Fail(const Request& request, const std::string& message);
    CommandResult ReadList(const Request& request, WorkerState& state);
    void SetStored(int64_t stored);

    std::atomic<bool> keep_going_{false};  // the running flag RequestStop clears
    mutable std::mutex mutex_;             // everything below
    Progress progress_;
    WorkerState* connection_state_ = nullptr;  // while Run holds a connection
};

}  // namespace qs
