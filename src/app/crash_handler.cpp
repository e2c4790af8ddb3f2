#include "app/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

namespace qs {

namespace {

char g_report_dir[1024];
char g_signal_stack[64 * 1024];

// Only async-signal-safe calls from here on.
void WriteText(int fd, const char* text) {
    ssize_t unused = ::write(fd, text, std::strlen(text));
    (void)unused;
}

void WriteNumber(int fd, unsigned long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value && n < 23);
    char out[24];
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = '\0';
    WriteText(fd, out);
}

void WriteReport(const char* what, int signal_number) {
    char path[1200];
    size_t len = std::strlen(g_report_dir);
    if (len + 40 > sizeof path)
        return;
    std::memcpy(path, g_report_dir, len);
    std::memcpy(path + len, "/crash-", 7);
    len += 7;
    unsigned long now = static_cast<unsigned long>(::time(nullptr));
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + now % 10);
        now /= 10;
    } while (now && n < 23);
    while (n > 0)
        path[len++] = digits[--n];
    std::memcpy(path + len, ".txt", 5);

    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    WriteText(fd, "Quillstream crashed: ");
    WriteText(fd, what);
    if (signal_number > 0) {
        WriteText(fd, " (signal ");
        WriteNumber(fd, static_cast<unsigned long>(signal_number));
        WriteText(fd, ")");
    }
    WriteText(fd, "\nBacktrace:\n");
    void* frames[64];
    int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
}

void OnFatalSignal(int signal_number) {
    const char* name = "fatal signal";
    switch (signal_number) {
        case SIGSEGV:
            name = "SIGSEGV";
            break;
        case SIGBUS:
            name = "SIGBUS";
            break;
        case SIGFPE:
            name = "SIGFPE";
            break;
        case SIGILL:
            name = "SIGILL";
            break;
        case SIGABRT:
            name = "SIGABRT";
            break;
        default:
            break;
    }
    WriteReport(name, signal_number);
    // SA_RESETHAND restored the default action: die the way the signal asks.
    ::raise(signal_number);
}

void OnTerminate() {
    WriteReport("unhandled exception", 0);
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

}  // namespace

void InstallCrashHandler(const std::string& report_dir) {
    std::snprintf(g_report_dir, sizeof g_report_dir, "%s", report_dir.c_str());
    // Load libgcc's unwinder now: backtrace() would otherwise allocate inside the handler.
    void* warm[1];
    ::backtrace(warm, 1);

    stack_t stack{};
    stack.ss_sp = g_signal_stack;
    stack.ss_size = sizeof g_signal_stack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::sigaction(sig, &action, nullptr);
    std::set_terminate(OnTerminate);
}

}  // namespace qs
