#include "engine/engine.h"

#include <gtest/gtest.h>

#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

class EngineTest : public ::testing::Test {
  protected:
    std::unique_ptr<Engine> OpenEngine() {
        auto engine = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        EXPECT_TRUE(engine->Open());
        return engine;
    }

    static int StateOf(Engine& engine, const std::string& id) {
        for (int64_t row = 0; row < engine.queue()->CountRows(); ++row) {
            Attachment a;
            if (engine.queue()->AttachmentAt(row, a) && a.Id == id)
                return a.state;
        }
        return -1;
    }

    test::TempDir home_;
    SilentHost host_;
};

TEST_F(EngineTest, OnlyTheQueueOwnerRequeuesInterruptedEntries) {
    {
        auto first = OpenEngine();
        Attachment entry;
        entry.state = StateDownloading;
        entry.Id = entry.filename = "busy.bin";
        first->queue()->StoreAttachment(nullptr, entry);

        // A second process on the same home (a CLI list while the GUI downloads) must not
        // hand out what the first one is downloading.
        auto second = OpenEngine();
        EXPECT_EQ(StateOf(*second, "busy.bin"), StateDownloading);
    }
    // Both gone, as after a crash: the next engine queues the entry again.
    auto next = OpenEngine();
    EXPECT_EQ(StateOf(*next, "busy.bin"), StateQueued);
}

// A one-part yEnc post of "abc" under the given file name.
test::MemoryCorpus::Article SmallYencPost(const std::string& name) {
    test::MemoryCorpus::Article a;
    a.subject = name + " yEnc";
    a.body = "=ybegin line=128 size=3 name=" + name + "\n\x8b\x8c\x8d\n=yend size=3\n";
    return a;
}

TEST_F(EngineTest, AutograbScansAndDownloadsEveryGroupInTurn) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    server.memory_corpus()->Add("alt.binaries.two", SmallYencPost("two.bin"));
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({"alt.binaries.one", home_.File("one") + "/", 0});
    s.groups.push_back({"alt.binaries.two", home_.File("two") + "/", 0});
    s.SocketTimeout = 5;
    ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    auto engine = OpenEngine();

    std::vector<std::pair<std::string, bool>> done;
    engine->Autograb(
        false, [&] { engine->WaitForWorkers(); },
        [&](const std::string& group, bool ok) { done.emplace_back(group, ok); });

    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0], (std::pair<std::string, bool>{"alt.binaries.one", true}));
    EXPECT_EQ(done[1], (std::pair<std::string, bool>{"alt.binaries.two", true}));
    EXPECT_EQ(test::ReadFile(home_.File("one/one.bin")), "abc");
    EXPECT_EQ(test::ReadFile(home_.File("two/two.bin")), "abc");
    EXPECT_EQ(engine->log()->CountRows(), 2);
    // The directories were created without asking, and the setting is as it was.
    EXPECT_EQ(engine->settings().AutoCreateDirs, 0);
}

TEST_F(EngineTest, AutograbScanOnlyQueuesNothing) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({"alt.binaries.one", home_.File("one") + "/", 0});
    ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    auto engine = OpenEngine();
    engine->Autograb(true, [&] { engine->WaitForWorkers(); });
    EXPECT_EQ(engine->ViewDatabase("alt.binaries.one")->CountRows(), 1);
    EXPECT_EQ(engine->queue()->CountRows(), 0);
    EXPECT_EQ(engine->log()->CountRows(), 0);
}

TEST_F(EngineTest, QueuedScanRunsOnADownloadWorkerOfALaterRun) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({"alt.binaries.one", home_.File("one") + "/", 0});
    s.AutoCreateDirs = 1;
    for (int& t : s.Thread)
        t = 0;
    ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    {
        auto engine = OpenEngine();
        EXPECT_EQ(engine->StartScan("alt.binaries.one"), 0);  // no slot: queued as a scan entry
        ASSERT_EQ(engine->queue()->CountRows(), 1);
    }
    s.Thread[0] = 1;
    ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    auto engine = OpenEngine();
    engine->workers().SetDownloading(true);
    ASSERT_EQ(engine->StartDownloads(), 1);
    engine->WaitForWorkers();

    EXPECT_EQ(engine->ViewDatabase("alt.binaries.one")->CountRows(), 1);  // the group was scanned
    EXPECT_EQ(engine->queue()->CountRows(), 0);
    Attachment filed;
    ASSERT_TRUE(engine->log()->AttachmentAt(0, filed));
    EXPECT_EQ(filed.state, StateScanJob);
    EXPECT_EQ(filed.newsgroup, "alt.binaries.one");
}

TEST_F(EngineTest, ScanEntryStaysQueuedWhileItsScanRuns) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    test::Reply silent = test::Reply::Raw("224 overview follows\r\n");
    silent.after = test::Reply::After::Silence;  // the overview never ends
    server.SetReply("XOVER", silent);
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({"alt.binaries.one", home_.File("one") + "/", 0});
    s.AutoCreateDirs = 1;
    ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    auto engine = OpenEngine();
    Attachment entry;
    entry.state = StateScanJob;
    entry.Id = entry.filename = entry.newsgroup = "alt.binaries.one";
    engine->queue()->StoreAttachment(nullptr, entry);

    engine->workers().SetDownloading(true);
    ASSERT_GE(engine->StartDownloads(), 1);
    ASSERT_TRUE(server.WaitForCommands(4, std::chrono::seconds(5)));  // ... GROUP, STAT, XOVER
    // A crash now must not lose the request: it is still in the queue.
    EXPECT_EQ(engine->queue()->CountRows(), 1);
    engine->Stop();
    engine->WaitForWorkers();
    EXPECT_EQ(engine->queue()->CountRows(), 0);
    EXPECT_EQ(engine->log()->CountRows(), 1);
}

}  // namespace
}  // namespace qs
