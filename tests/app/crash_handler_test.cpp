#include "app/crash_handler.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace qs {
namespace {

// The files named crash-*.txt in `dir`.
std::vector<std::string> CrashReports(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind("crash-", 0) == 0)
                out.push_back(dir + "/" + name);
        }
        ::closedir(d);
    }
    return out;
}

TEST(CrashHandler, FatalSignalLeavesAReportAndStillKillsTheProcess) {
    test::TempDir dir;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstallCrashHandler(dir.path());
        ::raise(SIGSEGV);
        ::_exit(0);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    std::vector<std::string> reports = CrashReports(dir.path());
    ASSERT_EQ(reports.size(), 1u);
    std::string text = test::ReadFile(reports[0]);
    EXPECT_NE(text.find("SIGSEGV (signal 11)"), std::string::npos) << text;
    EXPECT_NE(text.find("Backtrace:"), std::string::npos) << text;
}

}  // namespace
}  // namespace qs
