#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// A program run as a child process: argv as given (never through a shell), in its own process
// group at the lowest priority (nice 19, SCHED_IDLE where allowed), stdin from /dev/null.
struct ChildCommand {
    std::string program;  // a path, or a name looked up in PATH
    std::vector<std::string> args;
    std::string working_dir;               // empty: the caller's
    std::chrono::milliseconds timeout{0};  // 0: none
    // Each line of stdout and stderr together; CR ends a line as LF does (progress output),
    // empty lines are dropped. Called on the caller's thread.
    std::function<void(std::string_view)> on_line;
    // Polled a few times a second; true kills the child.
    std::function<bool()> should_stop;
};

struct ChildResult {
    enum class Status {
        exited,            // exit_code holds the status
        killed_by_signal,  // exit_code holds the signal
        timed_out,
        stopped,
        failed_to_start,  // error says why
    };
    Status status = Status::failed_to_start;
    int exit_code = -1;
    std::string error;

    bool Exited() const { return status == Status::exited; }
};

// Runs the command to its end; on time-out or stop the whole process group is killed.
// Never throws.
ChildResult RunChildProcess(const ChildCommand& command);

}  // namespace qs
