#include "cli/worker_progress.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qs::cli {

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// Redraws the slot lines in place: up to the previous line count, then the new lines.
class SlotLines {
  public:
    void Draw(Engine& engine, int64_t bytes_per_second) {
        std::string out;
        for (int i = 0; i < lines_; ++i)
            out += "\033[A";
        int count = 0;
        for (int i = 0; i < kThreadSlots; ++i) {
            ThreadSlot& slot = engine.workers().slot(i);
            if (!slot.busy.load())
                continue;
            int range = slot.progress_range.load(), position = slot.progress.load();
            // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string (-Wrestrict).
            out.append("\r\033[KThread ").append(std::to_string(i + 1)).append(": ");
            out.append(slot.status.Get());
            if (range > 0)
                out.append(" ")
                    .append(std::to_string(std::min(100, position * 100 / range)))
                    .append("%");
            out.append("\n");
            ++count;
        }
        out.append("\r\033[K").append(std::to_string(bytes_per_second / 1024)).append(" KB/s\n");
        ++count;
        for (int i = count; i < lines_; ++i)
            out += "\r\033[K\n";
        for (int i = count; i < lines_; ++i)
            out += "\033[A";
        lines_ = count;
        std::fputs(out.c_str(), stderr);
        std::fflush(stderr);
    }

    // A message line; on a terminal it goes above the slot lines, which are drawn anew.
    void Print(bool terminal, const std::string& text) {
        std::string out;
        if (terminal) {
            for (int i = 0; i < lines_; ++i)
                out += "\033[A";
            out += "\r\033[J";
            lines_ = 0;
        }
        out.append(text).append("\n");
        std::fputs(out.c_str(), stderr);
        std::fflush(stderr);
    }

  private:
    int lines_ = 0;
};

// What the workers report as going wrong ("Connect Failed!! 481 ...", "Error Setting
// Group...", " Error!!"): collected on the workers' threads, printed by the waiting one.
class FailureTexts {
  public:
    static bool LooksLikeFailure(const std::string& text) {
        return text.find("Error") != std::string::npos || text.find("error") != std::string::npos ||
               text.find("Failed") != std::string::npos ||
               text.find("could not") != std::string::npos;
    }

    void Listen(Engine& engine) {
        for (int i = 0; i < kThreadSlots; ++i) {
            engine.workers().slot(i).status.SetListener([this, i](const std::string& text) {
                if (!LooksLikeFailure(text))
                    return;
                std::string line = "Thread " + std::to_string(i + 1) + ": " + text;
                while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                    line.pop_back();
                std::lock_guard lock(mutex_);
                if (line != last_[i])
                    pending_.push_back(line);
                last_[i] = line;
            });
        }
    }
    void Stop(Engine& engine) {
        for (int i = 0; i < kThreadSlots; ++i)
            engine.workers().slot(i).status.SetListener(nullptr);
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(pending_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> pending_;
    std::string last_[kThreadSlots];
};

}  // namespace

bool Interrupted() {
    return g_interrupted.load();
}

void RunWorkersWithProgress(Engine& engine) {
    struct sigaction action {
    }, previous{};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous);

    const bool terminal = ::isatty(STDERR_FILENO);
    SlotLines lines;
    FailureTexts failures;
    failures.Listen(engine);
    bool stopped = false;
    int ticks = 0;
    auto print_failures = [&] {
        for (const std::string& text : failures.Take())
            lines.Print(terminal, text);
    };
    while (engine.WorkersAlive()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (g_interrupted.load() && !stopped) {
            lines.Print(terminal, "Stopping...");
            engine.Stop();
            stopped = true;
        }
        print_failures();
        if (++ticks % 10 == 0) {
            int64_t bytes = engine.Tick();
            if (terminal)
                lines.Draw(engine, bytes);
        }
    }
    engine.WaitForWorkers();
    failures.Stop(engine);
    print_failures();
    ::sigaction(SIGINT, &previous, nullptr);
}

}  // namespace qs::cli
