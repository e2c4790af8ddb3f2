#include "postprocess/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "postprocess/find_program.h"

namespace qs {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLine = 64 * 1024;  // a longer line is passed on in pieces
constexpr int kPollMs = 100;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

// Splits the child's output at LF and CR; par2 redraws its progress with CR.
class LineSplitter {
  public:
    explicit LineSplitter(const std::function<void(std::string_view)>& sink) : sink_(sink) {}
    void Feed(std::string_view data) {
        for (char c : data) {
            if (c == '\n' || c == '\r') {
                Flush();
            } else {
                line_.push_back(c);
                if (line_.size() >= kMaxLine)
                    Flush();
            }
        }
    }
    void Flush() {
        if (!line_.empty() && sink_)
            sink_(line_);
        line_.clear();
    }

  private:
    const std::function<void(std::string_view)>& sink_;
    std::string line_;
};

// What the child reports through the exec pipe when it cannot start the program.
struct StartFailure {
    int stage;  // 1 working directory, 2 exec
    int error;
};

[[noreturn]] void FailInChild(int report_fd, int stage) {
    StartFailure failure{stage, errno};
    [[maybe_unused]] ssize_t ignored = ::write(report_fd, &failure, sizeof failure);
    ::_exit(127);
}

// Runs in the forked child: only async-signal-safe calls from here to exec.
[[noreturn]] void ExecChild(const char* path, char* const* argv, const char* dir, int null_fd,
                            int out_fd, int report_fd) {
    ::setpgid(0, 0);
    ::setpriority(PRIO_PROCESS, 0, 19);
    sched_param param{};
    ::sched_setscheduler(0, SCHED_IDLE, &param);  // refused on some systems; nice 19 stays
    if (::dup2(null_fd, STDIN_FILENO) < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0 ||
        ::dup2(out_fd, STDERR_FILENO) < 0)
        FailInChild(report_fd, 2);
    // Descriptors the caller opened without O_CLOEXEC stay out of the child as well.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (dir && ::chdir(dir) != 0)
        FailInChild(report_fd, 1);
    ::execv(path, argv);
    FailInChild(report_fd, 2);
}

ChildResult Failure(std::string error) {
    ChildResult result;
    result.status = ChildResult::Status::failed_to_start;
    result.error = std::move(error);
    return result;
}

ChildResult FromWaitStatus(int status) {
    ChildResult result;
    if (WIFEXITED(status)) {
        result.status = ChildResult::Status::exited;
        result.exit_code = WEXITSTATUS(status);
    } else {
        result.status = ChildResult::Status::killed_by_signal;
        result.exit_code = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }
    return result;
}

}  // namespace

ChildResult RunChildProcess(const ChildCommand& command) {
    const std::string path = FindProgram(command.program);
    if (path.empty())
        return Failure("program not found: " + command.program);

    std::vector<std::string> arg_strings;
    arg_strings.push_back(command.program);
    arg_strings.insert(arg_strings.end(), command.args.begin(), command.args.end());
    std::vector<char*> argv;
    for (std::string& arg : arg_strings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int report_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0)
        return Failure(std::string("pipe: ") + std::strerror(errno));
    Fd out_read(out_pipe[0]), out_write(out_pipe[1]);
    if (::pipe2(report_pipe, O_CLOEXEC) != 0)
        return Failure(std::string("pipe: ") + std::strerror(errno));
    Fd report_read(report_pipe[0]), report_write(report_pipe[1]);
    Fd null_fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (null_fd.get() < 0)
        return Failure(std::string("/dev/null: ") + std::strerror(errno));

    const char* dir = command.working_dir.empty() ? nullptr : command.working_dir.c_str();
    const pid_t pid = ::fork();
    if (pid < 0)
        return Failure(std::string("fork: ") + std::strerror(errno));
    if (pid == 0)
        ExecChild(path.c_str(), argv.data(), dir, null_fd.get(), out_write.get(),
                  report_write.get());

    ::setpgid(pid, pid);  // also set here, so a kill right away reaches the group
    out_write.Close();
    report_write.Close();
    null_fd.Close();

    StartFailure failure{};
    ssize_t got;
    do {
        got = ::read(report_read.get(), &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status;
        ::waitpid(pid, &status, 0);
        const std::string what =
            failure.stage == 1 ? "working directory " + command.working_dir : "cannot run " + path;
        return Failure(what + ": " + std::strerror(failure.error));
    }

    const auto deadline =
        command.timeout.count() > 0 ? Clock::now() + command.timeout : Clock::time_point::max();
    LineSplitter lines(command.on_line);
    bool output_open = true;
    ChildResult::Status ending = ChildResult::Status::exited;
    char buffer[16384];
    while (true) {
        if (Clock::now() >= deadline) {
            ending = ChildResult::Status::timed_out;
            break;
        }
        if (command.should_stop && command.should_stop()) {
            ending = ChildResult::Status::stopped;
            break;
        }
        if (output_open) {
            pollfd poll_fd{out_read.get(), POLLIN, 0};
            const int ready = ::poll(&poll_fd, 1, kPollMs);
            if (ready < 0 && errno != EINTR)
                output_open = false;
            if (ready > 0) {
                const ssize_t n = ::read(out_read.get(), buffer, sizeof buffer);
                if (n > 0)
                    lines.Feed(std::string_view(buffer, static_cast<size_t>(n)));
                else if (n == 0 || errno != EINTR)
                    output_open = false;
            }
            continue;
        }
        // The output is closed; the child may still be running.
        int status;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            lines.Flush();
            return FromWaitStatus(status);
        }
        if (done < 0 && errno != EINTR) {
            lines.Flush();
            return Failure(std::string("waitpid: ") + std::strerror(errno));
        }
        ::usleep(20 * 1000);
    }

    ::kill(-pid, SIGKILL);
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    lines.Flush();
    ChildResult result;
    result.status = ending;
    result.error = ending == ChildResult::Status::timed_out ? "timed out" : "stopped";
    return result;
}

}  // namespace qs
