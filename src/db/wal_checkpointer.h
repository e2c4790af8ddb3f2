#pragma once

// Copies a database's write-ahead log back into the database file on a thread of its own,
// through a connection of its own. The connection that writes (a scan's merge above all)
// then does not copy the pages and wait for the two syncs of a checkpoint while it holds
// the database lock; it only asks for one after a commit.
//
// A checkpoint from here never blocks the writer or the readers (SQLite's passive mode):
// it copies what no reader still needs. The log starts over from its beginning when a
// write transaction begins after everything in it was copied.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace qs {

class WalCheckpointer {
  public:
    explicit WalCheckpointer(std::string path);
    // Lets a running checkpoint end, then closes the connection.
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

    // Asks for a checkpoint and returns at once; requests made while one waits or runs
    // fold into it. The thread starts with the first request.
    void Request();
    // Returns when no checkpoint is asked for or running.
    void WaitIdle();

  private:
    void Run();
    bool Checkpoint();

    const std::string path_;
    sqlite3* db_ = nullptr;  // the thread's own connection, opened at its first checkpoint
    std::mutex mu_;
    std::condition_variable cv_;
    bool requested_ = false;
    bool running_ = false;
    bool stopping_ = false;
    bool gave_up_ = false;  // the connection could not be opened
    std::thread thread_;
};

}  // namespace qs
