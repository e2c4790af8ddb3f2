#include "app/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "app/text_util.h"

namespace qs {

struct DebugLog::State {
    std::atomic<bool> enabled{false};
    std::mutex mutex;  // guards path, fd and open_failed
    std::string path;
    int fd = -1;
    bool open_failed = false;
};

DebugLog& DebugLog::Instance() {
    static DebugLog log;
    return log;
}

DebugLog::State& DebugLog::state() {
    static State s;
    return s;
}

void DebugLog::SetPath(const std::string& path) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.path == path)
        return;
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = -1;
    s.open_failed = false;
    s.path = path;
}

void DebugLog::SetEnabled(bool enabled) {
    state().enabled.store(enabled);
}

bool DebugLog::enabled() const {
    return const_cast<DebugLog*>(this)->state().enabled.load();
}

void DebugLog::Close() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = -1;
    s.open_failed = false;
}

std::string DebugLog::FormatPrefix(const std::tm& t) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11)
        return {};
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, "%s, %s %02d, %04d %02d:%02d:%02d - ",
                          kDays[t.tm_wday], kMonths[t.tm_mon], t.tm_mday, t.tm_year + 1900,
                          t.tm_hour, t.tm_min, t.tm_sec);
    return n > 0
               ? std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1)
               : std::string();
}

void LogLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    DebugLog::Instance().WriteV(format, args);
    va_end(args);
}

void DebugLog::WriteV(const char* format, va_list args) {
    State& s = state();
    if (!s.enabled.load(std::memory_order_relaxed))
        return;

    char message[512];  // at most 511 characters of a line
    std::vsnprintf(message, sizeof message, format, args);

    std::tm local{};
    std::time_t now = std::time(nullptr);
    std::string line = localtime_r(&now, &local) ? FormatPrefix(local) : std::string();
    line += message;

    std::lock_guard lock(s.mutex);
    if (s.fd < 0 && !s.open_failed && !s.path.empty()) {
        s.fd = ::open(s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        s.open_failed = s.fd < 0;
    }
    if (s.fd >= 0)
        WriteAll(s.fd, line);
}

}  // namespace qs
