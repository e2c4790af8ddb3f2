#include "cli/worker_progress.h"

#include "cli/printable.h"

#include <unistd.h>

#include <algorithm>
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
    void Draw(const EngineStatus& status) {
        std::string out;
        for (int i = 0; i < lines_; ++i)
            out += "\033[A";
        int count = 0;
        for (int i = 0; i < kThreadSlots; ++i) {
            const SlotStatus& slot = status.slots[static_cast<size_t>(i)];
            if (!slot.alive)
                continue;
            // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string (-Wrestrict).
            out.append("\r\033[KThread ").append(std::to_string(i + 1)).append(": ");
            out.append(Printable(slot.status));
            if (slot.progress_range > 0)
                out.append(" ")
                    .append(
                        std::to_string(std::min(100, slot.progress * 100 / slot.progress_range)))
                    .append("%");
            out.append("\n");
            ++count;
        }
        out.append("\r\033[K").append(std::to_string(status.speed)).append(" KB/s\n");
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
        out.append(Printable(text)).append("\n");
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

void CliEvents::OnEntryFiled(const FiledEntry& entry) {
    std::lock_guard lock(mutex_);
    // An entry put back before it was downloaded is neither done nor failed.
    const bool put_back = !entry.in_log && entry.outcome == EntryOutcome::Stopped;
    if (entry.outcome == EntryOutcome::DiskFull) {
        ++counts_[entry.outcome];
        lines_.push_back(entry.filename + ": left queued: " + entry.reason);
        return;
    }
    if (!put_back)
        ++counts_[entry.outcome];
    if (entry.outcome == EntryOutcome::Incomplete && !entry.set_name.empty())
        ++incomplete_in_sets_[entry.set_name];
    if (put_back || entry.outcome == EntryOutcome::Unreachable)
        lines_.push_back(entry.filename + ": left queued: " + entry.reason);
    else if (IsFailure(entry.outcome) || entry.still_queued)
        lines_.push_back(entry.filename + ": " + OutcomeName(entry.outcome) +
                         (entry.reason.empty() ? "" : ": " + entry.reason));
}

void CliEvents::OnSetProcessed(const ProcessedSet& set) {
    std::lock_guard lock(mutex_);
    lines_.push_back("set " + set.name + ": " + set.outcome);
    auto incomplete = incomplete_in_sets_.find(set.name);
    if (set.damaged) {
        ++sets_damaged_;
    } else if (!set.failed && incomplete != incomplete_in_sets_.end()) {
        incomplete_repaired_ += incomplete->second;
        incomplete_in_sets_.erase(incomplete);
    }
}

int CliEvents::sets_damaged() const {
    std::lock_guard lock(mutex_);
    return sets_damaged_;
}

int CliEvents::incomplete_not_repaired() const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(EntryOutcome::Incomplete);
    return (it == counts_.end() ? 0 : it->second) - incomplete_repaired_;
}

void CliEvents::OnScanEnded(const ScanReport& report) {
    std::lock_guard lock(mutex_);
    scans_.push_back(report);
    for (const ServerScan& server : report.servers) {
        if (!server.complete)
            lines_.push_back(report.group + ": " + server.host + ": " + server.error);
    }
}

std::vector<std::string> CliEvents::TakeLines() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
}

int CliEvents::count(EntryOutcome outcome) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(outcome);
    return it == counts_.end() ? 0 : it->second;
}

std::vector<ScanReport> CliEvents::scans() const {
    std::lock_guard lock(mutex_);
    return scans_;
}

void RunWorkersWithProgress(Engine& engine, CliEvents& events) {
    struct sigaction action {
    }, previous{};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous);

    const bool terminal = ::isatty(STDERR_FILENO);
    SlotLines lines;
    bool stopped = false;
    int ticks = 0;
    auto print_lines = [&] {
        for (const std::string& text : events.TakeLines())
            lines.Print(terminal, text);
    };
    while (engine.Busy()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (g_interrupted.load() && !stopped) {
            lines.Print(terminal, "Stopping...");
            engine.StopAll();
            stopped = true;
        }
        print_lines();
        if (++ticks % 10 == 0) {
            EngineStatus status = engine.Tick();
            if (terminal)
                lines.Draw(status);
        }
    }
    engine.WaitForWorkers();
    print_lines();
    ::sigaction(SIGINT, &previous, nullptr);
}

}  // namespace qs::cli
