#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/file_lock.h"

namespace qs {

// One running instance per home directory. A lock file serialises start-ups (held from
// TakeStartupLock until Register or Release); a Unix-domain socket beside it marks the
// first instance and carries messages from later ones: a kind number and a text.
class InstanceChecker {
  public:
    using MessageHandler = std::function<void(int kind, const std::string& text)>;

    explicit InstanceChecker(const std::string& home_dir);
    ~InstanceChecker();
    InstanceChecker(const InstanceChecker&) = delete;
    InstanceChecker& operator=(const InstanceChecker&) = delete;

    // Waits while another instance is starting up. False when the lock file cannot be used.
    bool TakeStartupLock();
    // True when a first instance answers on the socket.
    bool PreviousInstanceRunning() const;
    // Hands `text` with `kind` to the first instance and waits until it has been handled.
    bool SendToPreviousInstance(int kind, const std::string& text) const;
    // Becomes the first instance, unless one runs already; handler calls come from a
    // listener thread. Releases the start-up lock when registered.
    bool Register(MessageHandler handler);
    // Releases whatever is still held (the start-up lock).
    void Release();

    const std::string& socket_path() const { return socket_path_; }

  private:
    void Listen();

    std::string lock_path_;
    std::string socket_path_;
    FileLock startup_lock_;  // held from TakeStartupLock until Register or Release
    int listen_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    MessageHandler handler_;
    std::thread listener_;
};

}  // namespace qs
