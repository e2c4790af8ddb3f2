#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

namespace qs {

// The optional trace file. Lines come from every thread; each goes to the file in one
// write, so lines never interleave. The file is opened at the first line written while
// the log is enabled and appended to across runs; when it cannot be opened, logging
// is silently skipped and the program goes on.
class DebugLog {
  public:
    static DebugLog& Instance();

    void SetPath(const std::string& path);
    void SetEnabled(bool enabled);
    bool enabled() const;

    void WriteV(const char* format, va_list args);
    void Close();

    // "%a, %b %d, %Y %H:%M:%S - " in English whatever the locale.
    static std::string FormatPrefix(const std::tm& local_time);

  private:
    DebugLog() = default;
    struct State;
    State& state();
};

// printf-style trace line; callers end their lines with "\n".
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qs
