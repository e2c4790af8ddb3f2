#pragma once

#include <string>

namespace qs {

// Installs handlers for fatal signals and std::terminate that write the signal and a
// backtrace to "crash-<time>.txt" in `report_dir`, then let the process die as it would
// have. Call before anything else runs.
void InstallCrashHandler(const std::string& report_dir);

}  // namespace qs
