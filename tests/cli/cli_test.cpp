#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "app/ini_file.h"
#include "support/temp_dir.h"

namespace qs::cli {
namespace {

using test::TempDir;

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs the CLI in-process with `--home home` before the arguments.
Result RunCliIn(const std::string& home, std::vector<std::string> args) {
    args.insert(args.begin(), {"quillstream-cli", "--home", home});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    std::ostringstream out, err;
    auto* old_out = std::cout.rdbuf(out.rdbuf());
    auto* old_err = std::cerr.rdbuf(err.rdbuf());
    int status = RunCli(static_cast<int>(argv.size()), argv.data());
    std::cout.rdbuf(old_out);
    std::cerr.rdbuf(old_err);
    return {status, out.str(), err.str()};
}

TEST(CliConfig, DefaultThenSetThenRead) {
    TempDir home;
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced", "SocketTimeout"}).out, "120\n");
    EXPECT_EQ(RunCliIn(home.path(), {"config", "advanced", "sockettimeout", "30"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced", "SocketTimeout"}).out, "30\n");
    Result all = RunCliIn(home.path(), {"config"});
    EXPECT_NE(all.out.find("SocketTimeout=30"), std::string::npos);
}

TEST(CliConfig, UnknownKeyAndBadUsageExitTwoWithOneLine) {
    TempDir home;
    Result r = RunCliIn(home.path(), {"config", "Advanced", "NoSuchKey"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"frobnicate"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "add", "h", "--port", "x"}).status, 2);
}

TEST(CliServers, AddListRemove) {
    TempDir home;
    ASSERT_EQ(RunCliIn(home.path(),
                       {"servers", "add", "news.example.com", "--user", "u", "--password", "abc"})
                  .status,
              0);
    IniFile ini = IniFile::Load(home.File("Quillstream.ini"));
    EXPECT_EQ(ini.GetString("Newsservers", "Server0PassWord"), "\xA1\xA2\xA3");
    Result list = RunCliIn(home.path(), {"servers"});
    EXPECT_EQ(list.out, "host\tport\tuser\tstate\nnews.example.com\t119\tu\tenabled\n");

    EXPECT_EQ(RunCliIn(home.path(), {"servers", "add", "news.example.com"}).status,
              2);  // already there
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "remove", "news.example.com"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "remove", "news.example.com"}).status, 2);
}

TEST(CliServers, DisabledEntriesAreSavedAfterEnabledOnes) {
    TempDir home;
    RunCliIn(home.path(), {"servers", "add", "A"});
    RunCliIn(home.path(), {"servers", "add", "B", "--disabled"});
    RunCliIn(home.path(), {"servers", "add", "C", "--port", "563"});
    IniFile ini = IniFile::Load(home.File("Quillstream.ini"));
    EXPECT_EQ(ini.GetString("Newsservers", "Server0"), "A");
    EXPECT_EQ(ini.GetString("Newsservers", "Server1"), "C");
    EXPECT_EQ(ini.GetString("Newsservers", "Server2"), "B");
    EXPECT_EQ(ini.GetInt("Newsservers", "Server2Disabled", 0), 1);
    EXPECT_FALSE(ini.Has("Newsservers", "Server1Disabled"));
    EXPECT_EQ(
        RunCliIn(home.path(), {"servers"}).out,
        "host\tport\tuser\tstate\nA\t119\t\tenabled\nC\t563\t\tenabled\nB\t119\t\tdisabled\n");
}

TEST(CliGroups, SubscribeUnsubscribe) {
    TempDir home;
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "alt.binaries.test", "--dir", "/dl/t"}).status,
              0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "alt.test"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.test\t/dl/t\t0\nalt.test\t\t0\n");
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "../evil"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"unsubscribe", "alt.test"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"unsubscribe", "alt.test"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.test\t/dl/t\t0\n");
}

}  // namespace
}  // namespace qs::cli
