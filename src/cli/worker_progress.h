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
    void OnSetProcessed(const ProcessedSet& set) override;

    // The lines gathered since the last call.
    std::vector<std::string> TakeLines();
    int count(EntryOutcome outcome) const;
    // Sets par2 could not make whole, and files with missing parts that no repair made
    // whole (a file of a set that was repaired does not count). An archive that does not
    // unpack is only told of: its files are as posted.
    int sets_damaged() const;
    int incomplete_not_repaired() const;
    std::vector<ScanReport> scans() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::map<EntryOutcome, int> counts_;
    std::vector<ScanReport> scans_;
    int sets_damaged_ = 0;
    // Files of sets filed with missing parts, by set, until the set's repair makes them
    // whole.
    std::map<std::string, int> incomplete_in_sets_;
    int incomplete_repaired_ = 0;
};

// Waits until the engine is idle, acting as the one-second timer and printing what the
// events tell. On a terminal stderr shows one progress line per busy slot; Ctrl-C stops
// like Stop.
void RunWorkersWithProgress(Engine& engine, CliEvents& events);

// True once Ctrl-C was pressed during RunWorkersWithProgress.
bool Interrupted();

}  // namespace qs::cli
