#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qs {

// "Shutdown when finished": a thread that waits until the work it was started for has
// ended, then calls `finished` once. Ending the watcher (Stop, or destroying it) never
// calls `finished`, so an engine that closes mid-download does not power the machine off.
class ShutdownWatcher {
  public:
    // `busy` says whether a worker or Autograb still runs; it is asked about ten times a
    // second. `finished` runs on the watcher's thread.
    ShutdownWatcher(std::function<bool()> busy, std::function<void()> finished);
    ~ShutdownWatcher();
    ShutdownWatcher(const ShutdownWatcher&) = delete;
    ShutdownWatcher& operator=(const ShutdownWatcher&) = delete;

    // Starts watching unless a watcher runs already. Call it only once work has started:
    // work that has ended by the watcher's first look counts as finished.
    void Start();
    // Ends the watcher without calling `finished`; waits for its thread.
    void Stop();

  private:
    void Watch();

    std::function<bool()> busy_;
    std::function<void()> finished_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// Powers the machine off: runs `command` through /bin/sh -c in a process of its own,
// without waiting for it. False (and a line in the debug log) when it could not start.
bool RunPowerOffCommand(const std::string& command);

}  // namespace qs
