#include "engine/shutdown_watcher.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/debug_log.h"

namespace qs {

ShutdownWatcher::ShutdownWatcher(std::function<bool()> busy, std::function<void()> finished)
    : busy_(std::move(busy)), finished_(std::move(finished)) {}

ShutdownWatcher::~ShutdownWatcher() {
    Stop();
}

void ShutdownWatcher::Start() {
    std::lock_guard lock(mutex_);
    if (running_ || stopping_)
        return;
    // An earlier watcher has ended (it cleared running_ as its last step); collect it.
    if (thread_.joinable())
        thread_.join();
    running_ = true;
    thread_ = std::thread([this] { Watch(); });
}

void ShutdownWatcher::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ShutdownWatcher::Watch() {
    // The work was started before the watcher: when it is over by the first look (a small
    // download on a fast server), it has finished all the same.
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        const bool busy = busy_();
        lock.lock();
        if (!busy || stopping_)
            break;
        wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; });
    }
    const bool run = !stopping_;
    lock.unlock();
    if (run)
        finished_();
    lock.lock();
    running_ = false;
}

bool RunPowerOffCommand(const std::string& command) {
    if (command.empty()) {
        LogLine("Shutdown: no power-off command is set\n");
        return false;
    }
    LogLine("Shutdown: running %s\n", command.c_str());
    // The outer shell starts the command in the background and ends at once: the command
    // is adopted by init, so nothing here waits for it and no zombie is left. The command
    // comes as $0, so it needs no quoting.
    const char* argv[] = {"sh", "-c", "/bin/sh -c \"$0\" </dev/null &", command.c_str(), nullptr};
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ);
    if (error != 0) {
        LogLine("Shutdown: cannot start /bin/sh: %s\n", std::strerror(error));
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        LogLine("Shutdown: /bin/sh could not start the power-off command\n");
        return false;
    }
    return true;
}

}  // namespace qs
