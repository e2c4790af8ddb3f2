#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace qs::cli {

// What the CLI hears from the engine while workers run: how many entries ended in each
// way, each group's scan report, and the lines that tell the user what went wrong.
class CliEvents : public EventListener {
  public:
    void OnEntryFiled(const FiledEntry& entry) override;
    void OnScanEnded(const ScanReport& report) override;

    // The lines gathered since the last call.
    std::vector<std::string> TakeLines();
    int count(EntryOutcome outcome) const;
    std::vector<ScanReport> scans() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::map<EntryOutcome, int> counts_;
    std::vector<ScanReport> scans_;
};

// Waits until the engine is idle, acting as the one-second timer and printing what the
// events tell. On a terminal stderr shows one progress line per busy slot; Ctrl-C stops
// like Stop.
void RunWorkersWithProgress(Engine& engine, CliEvents& events);

// True once Ctrl-C was pressed during RunWorkersWithProgress.
bool Interrupted();

}  // namespace qs::cli
