#pragma once

#include <memory>
#include <string>

#include "app/settings.h"
#include "nntp/worker_state.h"

namespace qs {

// The fail-over policy of one slot over the enabled servers: which server is tried now,
// the move to the next after a failure, the return to the first server that
// UseFirstServer asks for, and how many tries a connection or a part gets.
class ServerRotation {
  public:
    ServerRotation(ThreadSlot& slot, std::shared_ptr<const Settings> settings);

    int count() const { return static_cast<int>(settings_->servers.size()); }
    // The slot's current server, moved into range.
    int index() const;
    // The current server; null when none is configured.
    const ServerEntry* current() const;
    std::string host() const;

    // A failure on the current server: the next one in the ring is tried.
    void Next();
    // After a good part (when 1) or a finished attachment (when 2): true when UseFirstServer
    // is `when` and the slot moved back to the first server (its connection must go).
    bool BackToFirst(int when);

    // Connection attempts without a single-attempt limit: ConnectionRetries rounds (at
    // least one) over every server.
    int connect_attempts() const;
    // Retries of one part before it is given up: ConnectionRetries rounds over every server.
    int part_retries() const;

    const Settings& settings() const { return *settings_; }

    // The last failure on a server: its reply line, and "host: reply" for the reason of a
    // failed task (the rotation has moved on from that host by then).
    const std::string& last_reply() const { return last_reply_; }
    std::string last_error() const { return last_host_ + ": " + last_reply_; }
    void SetLastError(std::string host, std::string reply) {
        last_host_ = std::move(host);
        last_reply_ = std::move(reply);
    }

  private:
    ThreadSlot& slot_;
    std::shared_ptr<const Settings> settings_;
    std::string last_host_;
    std::string last_reply_;
};

}  // namespace qs
