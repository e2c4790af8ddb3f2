#include "app/thread_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace qs {
namespace {

int OwnNice() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

// A worker lowers its priority, and the thread it asks for runs at the priority of the
// thread that kept it; a forked child, which has no launcher, starts the thread itself.
TEST(ThreadPriority, AWorkerStartsThreadsAtTheKeptPriority) {
    const int kept = OwnNice();
    KeepNormalPriorityHere();
    int worker_nice = 0, started_nice = 0;
    std::thread worker([&] {
        LowerThreadPriority();
        worker_nice = OwnNice();
        std::thread started = StartAtNormalPriority([&] { started_nice = OwnNice(); });
        started.join();
    });
    worker.join();
    EXPECT_EQ(worker_nice, 19);
    EXPECT_EQ(started_nice, kept);

#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not start threads in a forked child";
#endif
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ran = false;
        std::thread started = StartAtNormalPriority([&] { ran = true; });
        started.join();
        ::_exit(ran ? 0 : 1);
    }
    int status = -1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (status == -1) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the forked child waited for a launcher it does not have";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace qs
