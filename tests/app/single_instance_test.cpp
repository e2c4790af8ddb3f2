#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/home_dir.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::TempDir;

struct Received {
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> messages;
};

TEST(SingleInstance, SecondInstanceHandsItsFileToTheFirst) {
    TempDir home;
    Received received;
    InstanceChecker first(home.path());
    ASSERT_TRUE(first.TakeStartupLock());
    EXPECT_FALSE(first.PreviousInstanceRunning());
    ASSERT_TRUE(first.Register([&](int kind, const std::string& text) {
        std::lock_guard lock(received.mutex);
        received.messages.emplace_back(kind, text);
    }));

    InstanceChecker second(home.path());
    ASSERT_TRUE(second.TakeStartupLock());  // released by the first on registering
    ASSERT_TRUE(second.PreviousInstanceRunning());
    // Returns once the first has handled it.
    ASSERT_TRUE(second.SendToPreviousInstance(1, "/tmp/some file.nzb"));
    ASSERT_TRUE(second.SendToPreviousInstance(1, ""));
    second.Release();

    std::lock_guard lock(received.mutex);
    ASSERT_EQ(received.messages.size(), 2u);
    EXPECT_EQ(received.messages[0], (std::pair<int, std::string>{1, "/tmp/some file.nzb"}));
    EXPECT_EQ(received.messages[1], (std::pair<int, std::string>{1, ""}));
}

TEST(SingleInstance, SecondInstanceThatRunsAnywayRegistersNothing) {
    TempDir home;
    InstanceChecker first(home.path());
    first.TakeStartupLock();
    ASSERT_TRUE(first.Register(nullptr));
    InstanceChecker second(home.path());
    second.TakeStartupLock();
    EXPECT_FALSE(second.Register(nullptr));
    second.Release();
    EXPECT_TRUE(InstanceChecker(home.path()).PreviousInstanceRunning());
}

TEST(SingleInstance, StaleSocketOfADeadInstanceIsTakenOver) {
    TempDir home;
    {
        InstanceChecker gone(home.path());
        gone.TakeStartupLock();
        ASSERT_TRUE(gone.Register(nullptr));
    }
    test::WriteFile(home.File("quillstream.sock"), "");  // a leftover path, nobody listening
    InstanceChecker next(home.path());
    next.TakeStartupLock();
    EXPECT_FALSE(next.PreviousInstanceRunning());
    EXPECT_TRUE(next.Register(nullptr));
}

TEST(SingleInstance, StartupLockWaitsForTheInstanceStartingUp) {
    TempDir home;
    InstanceChecker first(home.path());
    ASSERT_TRUE(first.TakeStartupLock());
    std::atomic<bool> second_has_lock{false};
    std::thread later([&] {
        InstanceChecker second(home.path());
        second.TakeStartupLock();
        second_has_lock = true;
        second.Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(second_has_lock.load());
    first.Release();
    later.join();
    EXPECT_TRUE(second_has_lock.load());
}

TEST(HomeDir, OrderOfChoices) {
    TempDir dir;
    ::unsetenv("QUILLSTREAM_HOME");
    EXPECT_EQ(ResolveHomeDir(dir.File("h/"), "/usr/bin/quillstream"), dir.File("h"));
    ::setenv("QUILLSTREAM_HOME", dir.File("env").c_str(), 1);
    EXPECT_EQ(ResolveHomeDir("", "/usr/bin/quillstream"), dir.File("env"));
    ::unsetenv("QUILLSTREAM_HOME");
    test::WriteFile(dir.File("Quillstream.ini"), "");
    EXPECT_EQ(ResolveHomeDir("", dir.File("quillstream")), dir.path());  // portable
    ::setenv("XDG_CONFIG_HOME", dir.File("cfg").c_str(), 1);
    EXPECT_EQ(ResolveHomeDir("", "/nonexistent/quillstream"), dir.File("cfg/quillstream"));
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(HomeDir, CommandLineFileMustExist) {
    TempDir dir;
    test::WriteFile(dir.File("a.nzb"), "<nzb/>");
    EXPECT_EQ(ResolveCommandLineFile(""), "");
    EXPECT_EQ(ResolveCommandLineFile(dir.File("missing.nzb")), "");
    EXPECT_EQ(ResolveCommandLineFile(dir.path()), "");  // a directory is no file
    std::string resolved = ResolveCommandLineFile(dir.File("./a.nzb"));
    EXPECT_EQ(resolved.front(), '/');
    EXPECT_EQ(resolved.substr(resolved.size() - 6), "/a.nzb");
}

}  // namespace
}  // namespace qs
