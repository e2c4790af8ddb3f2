#include "app/debug_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace qs {
namespace {

using test::ReadFile;
using test::TempDir;

// The log is process-wide: each test points it at its own file and switches it off after.
class DebugLogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DebugLog::Instance().SetEnabled(false);
        DebugLog::Instance().Close();
        DebugLog::Instance().SetPath("");
    }
    TempDir dir_;
};

TEST(DebugLogPrefix, FixedTime) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_wday = 1;
    t.tm_hour = 10;
    t.tm_min = 5;
    t.tm_sec = 3;
    EXPECT_EQ(DebugLog::FormatPrefix(t), "Mon, Dec 07, 2026 10:05:03 - ");
}

TEST_F(DebugLogTest, DisabledLogCreatesNoFile) {
    DebugLog::Instance().SetPath(dir_.File("log.txt"));
    DebugLog::Instance().SetEnabled(false);
    LogLine("nothing\n");
    EXPECT_FALSE(std::ifstream(dir_.File("log.txt")).good());
}

TEST_F(DebugLogTest, AppendsAcrossRunsAndCutsLongLines) {
    DebugLog& log = DebugLog::Instance();
    log.SetPath(dir_.File("log.txt"));
    log.SetEnabled(true);
    LogLine("first %d\n", 1);
    log.Close();  // as at the end of a run
    LogLine("%s\n", std::string(2000, 'x').c_str());
    std::string text = ReadFile(dir_.File("log.txt"));
    std::istringstream lines(text);
    std::string a, b;
    std::getline(lines, a);
    std::getline(lines, b);
    EXPECT_NE(a.find(" - first 1"), std::string::npos);
    // 511 characters of message at most: the newline was cut away with the rest.
    EXPECT_EQ(b.size() - b.find(" - ") - 3, 511u);
}

TEST_F(DebugLogTest, UnwritableFileDoesNotStopTheProgram) {
    DebugLog::Instance().SetPath(dir_.File("no/such/dir/log.txt"));
    DebugLog::Instance().SetEnabled(true);
    LogLine("goes nowhere\n");
    LogLine("still goes nowhere\n");
    EXPECT_FALSE(std::ifstream(dir_.File("no/such/dir/log.txt")).good());
    // The log goes on as soon as it has a file it can write.
    DebugLog::Instance().SetPath(dir_.File("log.txt"));
    LogLine("written\n");
    EXPECT_NE(ReadFile(dir_.File("log.txt")).find(" - written\n"), std::string::npos);
}

TEST_F(DebugLogTest, ThreadsNeverInterleaveWithinALine) {
    DebugLog::Instance().SetPath(dir_.File("log.txt"));
    DebugLog::Instance().SetEnabled(true);
    constexpr int kThreads = 8, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string body(100, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i)
                LogLine("%s\n", body.c_str());
        });
    }
    for (auto& th : threads)
        th.join();
    std::istringstream lines(ReadFile(dir_.File("log.txt")));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        std::string body = line.substr(line.find(" - ") + 3);
        ASSERT_EQ(body.size(), 100u) << line;
        EXPECT_EQ(body.find_first_not_of(body[0]), std::string::npos) << line;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace qs
