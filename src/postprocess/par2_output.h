#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qs {

// What par2cmdline's verify and repair output says, gathered line by line.
struct Par2Report {
    bool all_correct = false;      // "All files are correct, repair is not required."
    bool repair_required = false;  // "Repair is required."
    bool repair_possible = false;  // "Repair is possible."
    bool repair_not_possible = false;
    bool repair_complete = false;  // "Repair complete."
    int blocks_available = 0;      // "You have N recovery blocks available."
    // Sum of "Loaded N new packets including M recovery blocks": the only count par2 gives
    // when nothing needs repair.
    int blocks_loaded = 0;
    int blocks_missing = 0;     // "You need N more recovery blocks to be able to repair."
    int blocks_used = 0;        // "N recovery blocks will be used to repair."
    int data_blocks_total = 0;  // "You have N out of M data blocks available."
    int data_blocks_present = 0;
    std::string last_line;  // the last line that is not progress, for error reasons
};

// A progress line: "Scanning: 12.3%", "Repairing: 45.6%" ...
struct Par2Progress {
    std::string phase;
    double percent = 0;
};

std::optional<Par2Progress> ParsePar2Progress(std::string_view line);

// Adds one line (progress lines included: they are ignored) to the report.
void AddPar2Line(std::string_view line, Par2Report& report);

}  // namespace qs
