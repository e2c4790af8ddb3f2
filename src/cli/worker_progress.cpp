#include "cli/worker_progress.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

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

  private:
    int lines_ = 0;
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
    bool stopped = false;
    int ticks = 0;
    while (engine.WorkersAlive()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (g_interrupted.load() && !stopped) {
            std::fputs("Stopping...\n", stderr);
            engine.Stop();
            stopped = true;
        }
        if (++ticks % 10 == 0) {
            int64_t bytes = engine.Tick();
            if (terminal)
                lines.Draw(engine, bytes);
        }
    }
    engine.WaitForWorkers();
    ::sigaction(SIGINT, &previous, nullptr);
}

}  // namespace qs::cli
