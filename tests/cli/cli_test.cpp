#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/ini_file.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/posting_corpus.h"
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
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced", "PostProcess"}).out, "2\n");
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced", "PostProcess", "1"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced", "PostProcess"}).out, "1\n");
}

// A settings file that cannot be read is a configuration error with its path and cause,
// never an empty configuration (a later save would write over the user's servers).
TEST(CliConfig, UnreadableSettingsFileIsAnErrorNotAnEmptyConfiguration) {
    TempDir home;
    std::filesystem::create_directories(home.File("Quillstream.ini"));
    Result r = RunCliIn(home.path(), {"servers"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read " + home.File("Quillstream.ini") + ": Is a directory"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(CliConfig, UnknownKeyAndBadUsageExitTwoWithOneLine) {
    TempDir home;
    Result r = RunCliIn(home.path(), {"config", "Advanced", "NoSuchKey"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(RunCliIn(home.path(), {"config", "Advanced"}).status, 2);
    Result unknown = RunCliIn(home.path(), {"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
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
    EXPECT_EQ(list.out, "host\tport\tuser\tstate\ttls\nnews.example.com\t119\tu\tenabled\t-\n");

    EXPECT_EQ(RunCliIn(home.path(), {"servers", "add", "news.example.com"}).status,
              2);  // already there
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "remove", "news.example.com"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "remove", "news.example.com"}).status, 2);
}

TEST(CliServers, DisabledEntriesAreSavedAfterEnabledOnes) {
    TempDir home;
    RunCliIn(home.path(), {"servers", "add", "A"});
    RunCliIn(home.path(), {"servers", "add", "B", "--disabled"});
    RunCliIn(home.path(), {"servers", "add", "C", "--tls", "--verify", "1"});
    EXPECT_EQ(RunCliIn(home.path(), {"servers", "add", "D", "--verify", "1"}).status, 2);
    IniFile ini = IniFile::Load(home.File("Quillstream.ini"));
    EXPECT_EQ(ini.GetString("Newsservers", "Server0"), "A");
    EXPECT_EQ(ini.GetString("Newsservers", "Server1"), "C");
    EXPECT_EQ(ini.GetString("Newsservers", "Server2"), "B");
    EXPECT_EQ(ini.GetInt("Newsservers", "Server2Disabled", 0), 1);
    EXPECT_FALSE(ini.Has("Newsservers", "Server1Disabled"));
    EXPECT_EQ(ini.GetInt("Newsservers", "Server1SSL", -1), 1);
    EXPECT_EQ(ini.GetInt("Newsservers", "Server1Verify", -1), 1);
    EXPECT_EQ(RunCliIn(home.path(), {"servers"}).out,
              "host\tport\tuser\tstate\ttls\nA\t119\t\tenabled\t-\nC\t563\t\tenabled\tverify "
              "1\nB\t119\t\tdisabled\t-\n");
}

TEST(CliGroups, SubscribeUnsubscribe) {
    TempDir home;
    const std::string base = home.File("dl");
    ASSERT_EQ(RunCliIn(home.path(), {"config", "Advanced", "BaseDir", base}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "alt.binaries.test", "--dir", "/dl/t"}).status,
              0);
    // Without --dir the group gets its own directory below the base directory.
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "alt.test"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.test\t/dl/t\t0\nalt.test\t" + base +
                  "/alt.test/\t0\n");
    EXPECT_EQ(RunCliIn(home.path(), {"subscribe", "../evil"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"unsubscribe", "alt.test"}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"unsubscribe", "alt.test"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.test\t/dl/t\t0\n");
}

// The server's list of groups: fetched, searched (server text printed safely), a refused
// LIST told once with exit 1; a new base directory moves the groups' directories.
TEST(CliGroups, FetchSearchAndBaseDirectory) {
    TempDir home;
    test::NewsServer server;
    server.SetReply("LIST", test::Reply::Multi("215 list follows",
                                               {"alt.binaries.a 10 3 y", "alt.esc\x1b[2J 5 1 y",
                                                "alt.two-fields 5"}));
    ASSERT_EQ(RunCliIn(home.path(),
                       {"servers", "add", server.host(), "--port", std::to_string(server.port())})
                  .status,
              0);
    ASSERT_EQ(RunCliIn(home.path(), {"subscribe", "alt.binaries.a", "--dir", "/dl/a"}).status, 0);
    Result fetched = RunCliIn(home.path(), {"groups", "fetch"});
    EXPECT_EQ(fetched.status, 0) << fetched.err;
    EXPECT_EQ(fetched.out, "2 groups\n");
    EXPECT_EQ(RunCliIn(home.path(), {"groups", "search", "BINARIES"}).out,
              "alt.binaries.a\t3\t10\t7\t*\n");
    Result all = RunCliIn(home.path(), {"groups", "search", ""});
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 2);
    EXPECT_EQ(all.out.find('\x1b'), std::string::npos) << all.out;
    EXPECT_EQ(RunCliIn(home.path(), {"groups", "search", "it's"}).out, "");
    EXPECT_EQ(RunCliIn(home.path(), {"groups"}).status, 2);

    server.SetReply("LIST", test::Reply::Line("503 program fault"));
    Result refused = RunCliIn(home.path(), {"groups", "fetch"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    const std::string message = "Can't connect to server!";
    ASSERT_NE(refused.err.find(message), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find(message, refused.err.find(message) + 1), std::string::npos)
        << refused.err;
    EXPECT_EQ(RunCliIn(home.path(), {"groups", "search", "alt"}).out.size(), all.out.size());

    const std::string base = home.File("base");
    ASSERT_EQ(RunCliIn(home.path(), {"--yes", "config", "Advanced", "BaseDir", base}).status, 0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.a\t" + base + "/alt.binaries.a/\t0\n");
    EXPECT_TRUE(std::filesystem::is_directory(base + "/alt.binaries.a"));
    ASSERT_EQ(RunCliIn(home.path(), {"config", "Advanced", "NoAutoSubdir", "1"}).status, 0);
    ASSERT_EQ(RunCliIn(home.path(), {"--yes", "config", "Advanced", "BaseDir", base + "2"}).status,
              0);
    EXPECT_EQ(RunCliIn(home.path(), {"subscribed"}).out,
              "group\tdirectory\tlastscanned\nalt.binaries.a\t" + base + "2/\t0\n");
}

TEST(CliScan, ScanThenListAsTabSeparatedRows) {
    TempDir home;
    test::NewsServer server;
    auto& corpus = *server.memory_corpus();
    corpus.AddGroup("alt.binaries.test", 500);
    for (int p = 1; p <= 2; ++p) {
        test::MemoryCorpus::Article a;
        a.subject = "big.iso (" + std::to_string(p) + "/2)";
        a.body = std::string(40, 'x') + "\n" + std::string(40, 'y');
        corpus.Add("alt.binaries.test", a);
    }
    test::MemoryCorpus::Article note;
    note.subject = "a note\x1b[2J\x07";  // a server's bytes must not reach the terminal raw
    note.from = "Bob <b@x>";
    corpus.Add("alt.binaries.test", note);

    const std::string port = std::to_string(server.port());
    ASSERT_EQ(RunCliIn(home.path(), {"servers", "add", "127.0.0.1", "--port", port}).status, 0);
    ASSERT_EQ(
        RunCliIn(home.path(), {"subscribe", "alt.binaries.test", "--dir", home.File("dl")}).status,
        0);
    EXPECT_EQ(RunCliIn(home.path(), {"scan"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"scan", "alt.not.subscribed"}).status, 2);
    Result scan = RunCliIn(home.path(), {"--yes", "scan", "alt.binaries.test"});
    ASSERT_EQ(scan.status, 0) << scan.err;

    Result list = RunCliIn(home.path(), {"list", "alt.binaries.test", "--order", "filename"});
    ASSERT_EQ(list.status, 0);
    std::istringstream lines(list.out);
    std::string header, first, second, extra;
    std::getline(lines, header);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, extra));
    EXPECT_EQ(header, "state\tparts\tpartcount\tbytes\tlines\tdate\temail\tfilename\tId");
    EXPECT_EQ(std::count(first.begin(), first.end(), '\t'), 8) << first;
    EXPECT_NE(first.find("\tBob <b@x>\ta note\\x1b[2J\\x07\t<"), std::string::npos) << first;
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(second.substr(0, 6), "1\t2\t2\t");  // complete, 2 of 2 parts
    EXPECT_NE(second.find("\tbig.iso \tbig.iso "), std::string::npos) << second;

    Result limited =
        RunCliIn(home.path(), {"list", "alt.binaries.test", "--filter", "NOTE", "--limit", "5"});
    EXPECT_EQ(std::count(limited.out.begin(), limited.out.end(), '\n'), 2);
    Result paged =
        RunCliIn(home.path(), {"list", "alt.binaries.test", "--offset", "1", "--limit", "1"});
    EXPECT_EQ(std::count(paged.out.begin(), paged.out.end(), '\n'), 2);
    EXPECT_EQ(RunCliIn(home.path(), {"list", "alt.binaries.test", "--order", "bogus"}).status, 2);
    EXPECT_EQ(RunCliIn(home.path(), {"list", "queue"}).out,
              "state\tparts\tpartcount\tbytes\tlines\tdate\temail\tfilename\tId\n");
    EXPECT_EQ(RunCliIn(home.path(), {"queue"}).out, RunCliIn(home.path(), {"list", "queue"}).out);
    EXPECT_EQ(RunCliIn(home.path(), {"log", "--limit", "3"}).out,
              "state\tparts\tpartcount\tbytes\tlines\tdate\temail\tfilename\tId\treason\n");
}

// No server reachable: every entry stays queued, and the summary counts them all.
TEST(CliDownload, UnreachableServerLeavesEveryEntryQueuedAndSaysHowMany) {
    TempDir home;
    std::string nzb = "<nzb>";
    for (const char* name : {"a", "b", "c"})
        nzb += std::string("<file subject=\"") + name +
               " (1/1)\"><groups><group>alt.test</group></groups><segments><segment "
               "number=\"1\">" +
               name + "@x</segment></segments></file>";
    test::WriteFile(home.File("three.nzb"), nzb + "</nzb>");
    const std::string port = std::to_string(test::UnusedLoopbackPort());
    ASSERT_EQ(RunCliIn(home.path(), {"servers", "add", "127.0.0.1", "--port", port}).status, 0);
    ASSERT_EQ(RunCliIn(home.path(), {"config", "Advanced", "ConnectionRetries", "1"}).status, 0);
    ASSERT_EQ(RunCliIn(home.path(), {"config", "Advanced", "BaseDir", home.File("dl")}).status, 0);
    ASSERT_EQ(RunCliIn(home.path(), {"--yes", "nzb", home.File("three.nzb")}).status, 0);

    Result r = RunCliIn(home.path(), {"download"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("0 downloaded, 0 failed, 3 left queued (no server reached)"),
              std::string::npos)
        << r.err;
    const std::string queue = RunCliIn(home.path(), {"queue"}).out;
    EXPECT_EQ(std::count(queue.begin(), queue.end(), '\n'), 4);  // the header and three rows
}

// A header database with a damaged page inside (its header intact) is reported as damaged,
// never listed as empty with exit 0.
TEST(CliList, ADamagedDatabaseIsReportedNotListedAsEmpty) {
    TempDir home;
    test::NewsServer server;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        test::MemoryCorpus::Article post;
        post.subject = name;
        server.memory_corpus()->Add("alt.binaries.test", post);
    }
    const std::string port = std::to_string(server.port());
    ASSERT_EQ(RunCliIn(home.path(), {"servers", "add", "127.0.0.1", "--port", port}).status, 0);
    ASSERT_EQ(
        RunCliIn(home.path(), {"subscribe", "alt.binaries.test", "--dir", home.File("dl")}).status,
        0);
    ASSERT_EQ(RunCliIn(home.path(), {"--yes", "scan", "alt.binaries.test"}).status, 0);

    // Junk over the page of the index a list by file name reads.
    const std::string path = home.File("data/alt.binaries.test.db");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(
                  raw, "SELECT rootpage FROM sqlite_master WHERE name='Attachment_filename'", -1,
                  &s, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    const int64_t page = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(raw);
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.is_open());
        file.seekp((page - 1) * 16384);
        const std::string junk(16384, '\x5a');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }

    Result list = RunCliIn(home.path(), {"list", "alt.binaries.test", "--order", "filename"});
    EXPECT_EQ(list.status, 1) << list.out;
    EXPECT_NE(list.err.find("the database is damaged"), std::string::npos) << list.err;
}

}  // namespace
}  // namespace qs::cli

namespace qs::cli {
namespace {

// stdin is the article's body; the read prints what the server keeps, control bytes escaped.
// The server is the test server's: its generated corpus with the posted articles on top.
TEST(CliArticles, PostFromStdinThenReadItBack) {
    TempDir home;
    test::NewsServer server;
    test::CorpusOptions options;
    options.big_megabytes = 1;
    server.SetCorpus(
        std::make_shared<test::PostingCorpus>(std::make_shared<test::GeneratedCorpus>(options)));
    ASSERT_EQ(RunCliIn(home.path(),
                       {"servers", "add", server.host(), "--port", std::to_string(server.port())})
                  .status,
              0);
    std::istringstream in("hello\x1b[2J\n");
    auto* old_in = std::cin.rdbuf(in.rdbuf());
    Result no_from = RunCliIn(home.path(), {"post", "--group", "alt.test", "--subject", "Hi"});
    Result posted = RunCliIn(home.path(), {"post", "--group", "alt.test", "--subject", "Hi",
                                           "--from", "Me <me@example.com>"});
    std::cin.rdbuf(old_in);
    EXPECT_EQ(no_from.status, 2);
    EXPECT_EQ(std::count(no_from.err.begin(), no_from.err.end(), '\n'), 1) << no_from.err;
    ASSERT_EQ(posted.status, 0) << posted.err;
    EXPECT_EQ(posted.err, "240 Article received <1.alt.test@memory.test>\n");

    Result read = RunCliIn(home.path(), {"read", "<1.alt.test@memory.test>"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find("Subject: Hi\n"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("\n\nhello\\x1b[2J\n"), std::string::npos) << read.out;
    ASSERT_EQ(RunCliIn(home.path(), {"groups", "fetch"}).status, 0);
    Result listed = RunCliIn(home.path(), {"groups", "search", "alt.test"});
    EXPECT_NE(listed.out.find("alt.test\t1\t1\t"), std::string::npos) << listed.out;

    server.SetReply("ARTICLE", test::Reply::Line("430 No such article"));
    Result missing = RunCliIn(home.path(), {"read", "<1.alt.test@memory.test>"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_TRUE(missing.err.ends_with("Error retrieving article...\n")) << missing.err;
}

}  // namespace
}  // namespace qs::cli
