#include "app/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace qs {

void LowerThreadPriority() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

namespace {

// A thread kept at the priority it was started with, which starts threads for others.
class Launcher {
  public:
    ~Launcher() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void StartHere() {
        std::lock_guard lock(mutex_);
        if (thread_.joinable() || stopping_)
            return;
        thread_ = std::thread([this] { Run(); });
        pid_ = ::getpid();
    }

    std::thread Launch(std::function<void()> body) {
        std::unique_lock lock(mutex_);
        // A forked child has no copy of the launcher's thread.
        if (!thread_.joinable() || stopping_ || pid_ != ::getpid()) {
            lock.unlock();
            return std::thread(std::move(body));
        }
        Request request{std::move(body), {}, {}, false};
        requests_.push_back(&request);
        cv_.notify_all();
        cv_.wait(lock, [&request] { return request.done; });
        if (request.error)
            std::rethrow_exception(request.error);
        return std::move(request.started);
    }

  private:
    struct Request {
        std::function<void()> body;
        std::thread started;
        std::exception_ptr error;  // the thread could not be started
        bool done;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
            if (requests_.empty())
                return;  // stopping, and nobody waits
            Request* request = requests_.front();
            requests_.pop_front();
            try {
                request->started = std::thread(std::move(request->body));
            } catch (...) {
                request->error = std::current_exception();
            }
            request->done = true;
            cv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Request*> requests_;
    std::thread thread_;
    pid_t pid_ = 0;
    bool stopping_ = false;
};

Launcher& TheLauncher() {
    static Launcher launcher;
    return launcher;
}

}  // namespace

void KeepNormalPriorityHere() {
    TheLauncher().StartHere();
}

std::thread StartAtNormalPriority(std::function<void()> body) {
    return TheLauncher().Launch(std::move(body));
}

}  // namespace qs
