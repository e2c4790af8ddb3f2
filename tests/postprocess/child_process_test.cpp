#include "postprocess/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace qs {
namespace {

using namespace std::chrono_literals;

ChildCommand Command(std::string program, std::vector<std::string> args,
                     std::vector<std::string>* lines = nullptr) {
    ChildCommand command;
    command.program = std::move(program);
    command.args = std::move(args);
    command.timeout = 30s;
    if (lines)
        command.on_line = [lines](std::string_view line) { lines->emplace_back(line); };
    return command;
}

TEST(ChildProcess, SplitsOutputAtCrAndLfAndReturnsTheExitCode) {
    std::vector<std::string> lines;
    // printf is given the text as data: nothing passes through a shell.
    const ChildResult result = RunChildProcess(Command(
        "sh", {"-c", "printf '%s' \"$1\"; echo err >&2; exit 3", "sh", "a: 1%\rb: 2%\r\nc\n\nd\n"},
        &lines));
    ASSERT_EQ(result.status, ChildResult::Status::exited) << result.error;
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"a: 1%", "b: 2%", "c", "d", "err"}));
}

TEST(ChildProcess, ChildRunsInItsOwnGroupAtLowestPriorityWithOnlyStandardDescriptors) {
    std::vector<std::string> lines;
    // /proc/self/stat: pid (comm) state ppid pgrp ... field 19 is the nice value.
    ASSERT_TRUE(RunChildProcess(Command("cat", {"/proc/self/stat"}, &lines)).Exited());
    ASSERT_EQ(lines.size(), 1u);
    std::istringstream fields(lines[0].substr(lines[0].rfind(')') + 2));
    std::vector<std::string> stat{"pid", "comm"};
    for (std::string field; fields >> field;)
        stat.push_back(field);
    ASSERT_GT(stat.size(), 18u);
    EXPECT_EQ(stat[4], lines[0].substr(0, lines[0].find(' ')));  // its own process group
    EXPECT_EQ(stat[18], "19");

    lines.clear();
    ASSERT_TRUE(RunChildProcess(Command("ls", {"/proc/self/fd"}, &lines)).Exited());
    EXPECT_EQ(lines, (std::vector<std::string>{"0", "1", "2", "3"}));  // 3: ls's own listing
}

TEST(ChildProcess, TimeOutAndStopKillTheWholeGroup) {
    // The shell's own child holds the output open: only killing the group ends the run.
    ChildCommand command = Command("sh", {"-c", "sleep 60 & sleep 60"});
    command.timeout = 300ms;
    auto started = std::chrono::steady_clock::now();
    ChildResult result = RunChildProcess(command);
    EXPECT_EQ(result.status, ChildResult::Status::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);

    command.timeout = 60s;
    std::atomic<bool> stop = false;
    command.should_stop = [&] { return stop.load(); };
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop = true;
    });
    started = std::chrono::steady_clock::now();
    result = RunChildProcess(command);
    stopper.join();
    EXPECT_EQ(result.status, ChildResult::Status::stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

TEST(ChildProcess, ReportsWhatKeptTheProgramFromStarting) {
    ChildResult result = RunChildProcess(Command("no-such-program-qs", {}));
    EXPECT_EQ(result.status, ChildResult::Status::failed_to_start);
    EXPECT_NE(result.error.find("not found"), std::string::npos) << result.error;

    ChildCommand command = Command("true", {});
    command.working_dir = "/no/such/dir";
    result = RunChildProcess(command);
    EXPECT_EQ(result.status, ChildResult::Status::failed_to_start);
    EXPECT_NE(result.error.find("/no/such/dir"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace qs
