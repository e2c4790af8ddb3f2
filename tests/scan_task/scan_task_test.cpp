#include "scan/scan_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/engine.h"
#include "nntp/nntp_test_util.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::MemoryCorpus;
using test::NewsServer;
using test::Reply;

constexpr const char* kGroup = "alt.binaries.test";

// A home with settings pointing at the given servers, and an engine on it.
class ScanFixture : public ::testing::Test {
  protected:
    void StartEngine(const std::vector<const NewsServer*>& servers,
                     void (*tweak)(Settings&) = nullptr) {
        Settings s;
        for (const NewsServer* server : servers)
            s.servers.push_back({server->host(), "", "", 0, server->port()});
        s.groups.push_back({kGroup, home_.File("dl") + "/", 0});
        s.SocketTimeout = 2;
        s.AutoCreateDirs = 1;
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;  // one slot unless a test wants more
        if (tweak)
            tweak(s);
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        ASSERT_TRUE(engine_->Open());
        for (int i = 0; i < kThreadSlots; ++i) {
            engine_->workers().slot(i).status.SetListener([this, i](const std::string& text) {
                std::lock_guard lock(status_mutex_);
                statuses_[i].push_back(text);
            });
        }
    }

    void ScanToEnd() {
        ASSERT_GT(engine_->StartScan(kGroup), 0);
        engine_->WaitForWorkers();
    }

    std::shared_ptr<HeaderDatabase> db() { return engine_->ViewDatabase(kGroup); }

    std::vector<std::string> StatusesOf(int slot) {
        std::lock_guard lock(status_mutex_);
        return statuses_[slot];
    }

    static bool Contains(const std::vector<std::string>& texts, const std::string& text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    static std::vector<std::string> Xovers(const NewsServer& server) {
        std::vector<std::string> out;
        for (const auto& c : server.commands())
            if (c.rfind("XOVER", 0) == 0)
                out.push_back(c);
        return out;
    }

    static void AddPosts(MemoryCorpus& corpus, int first_number = 1000) {
        corpus.AddGroup(kGroup, first_number);
        for (int p = 1; p <= 3; ++p) {
            MemoryCorpus::Article a;
            a.subject = "holiday.rar (" + std::to_string(p) + "/3)";
            corpus.Add(kGroup, a);
        }
        MemoryCorpus::Article single;
        single.subject = "notes.txt";
        corpus.Add(kGroup, single);
    }

    test::TempDir home_;
    test::RecordingHost host_;
    std::unique_ptr<Engine> engine_;
    std::mutex status_mutex_;
    std::vector<std::string> statuses_[kThreadSlots];
};

TEST(ScanStart, NumberFromStoredStatOrMaxHeaders) {
    EXPECT_EQ(ScanStartNumber(0, 120, 500, 0), 120);       // nothing stored: the first article
    EXPECT_EQ(ScanStartNumber(300, 120, 500, 0), 300);     // later scans: the highest stored
    EXPECT_EQ(ScanStartNumber(0, 1, 50000, 1000), 49000);  // the limit moves the start up
    EXPECT_EQ(ScanStartNumber(49500, 1, 50000, 1000), 49500);
}

TEST_F(ScanFixture, FirstScanJoinsPartsAndRescanAddsNothing) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    StartEngine({&server});
    ScanToEnd();

    ASSERT_EQ(db()->CountRows(), 2);
    ASSERT_TRUE(db()->SetFilter("holiday"));
    Attachment a;
    ASSERT_TRUE(db()->AttachmentAt(0, a));
    EXPECT_EQ(a.filename, "holiday.rar ");
    EXPECT_EQ(a.parts, 3);
    EXPECT_EQ(a.partcount, 3);
    EXPECT_EQ(a.state, StateComplete);
    EXPECT_EQ(a.dir, home_.File("dl") + "/");
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 1000-"});
    EXPECT_GT(engine_->FindGroup(kGroup)->lastscanned, 0);
    EXPECT_EQ(StatusesOf(0).back(), "Ready...");

    // The second scan starts at the highest stored number; what it reads again is not added.
    server.ClearCommands();
    ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 1003-"});
    db()->SetFilter("");
    EXPECT_EQ(db()->CountRows(), 2);
    ASSERT_TRUE(db()->SetFilter("holiday"));
    ASSERT_TRUE(db()->AttachmentAt(0, a));
    EXPECT_EQ(a.partcount, 3);
}

TEST_F(ScanFixture, MaxHeadersLimitsTheFirstScan) {
    NewsServer server;
    server.memory_corpus()->AddGroup(kGroup, 1);
    for (int i = 0; i < 50; ++i)
        server.memory_corpus()->Add(kGroup, {});
    StartEngine({&server}, [](Settings& s) { s.MaxHeaders = 10; });
    ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 40-"});
    EXPECT_EQ(db()->CountRows(), 11);  // 40 to 50
}

TEST_F(ScanFixture, GroupRefusedOnOneServerTheOtherIsScanned) {
    NewsServer refusing, good;
    refusing.SetReply("GROUP", Reply::Line("411 no such group"));
    AddPosts(*good.memory_corpus());
    StartEngine({&refusing, &good});
    ScanToEnd();
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Error Setting Group...411 no such group\r"));
    EXPECT_EQ(engine_->scans().servers_failed.load(), 1);
    EXPECT_EQ(engine_->scans().servers_scanned.load(), 1);
    EXPECT_EQ(db()->CountRows(), 2);
}

TEST_F(ScanFixture, OverviewErrorReplyEndsThatServerAtOnce) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    server.SetReply("XOVER", Reply::Line("420 No article(s) selected"));
    StartEngine({&server});
    auto started = std::chrono::steady_clock::now();
    ScanToEnd();
    // No wait for the two-second time-out and no endless retries.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Error Scanning...420 No article(s) selected\r"));
    EXPECT_EQ(Xovers(server).size(), 1u);
    EXPECT_EQ(engine_->scans().servers_failed.load(), 1);
}

TEST_F(ScanFixture, JunkLinesAreSkippedAndADroppedConnectionResumes) {
    NewsServer server;
    server.memory_corpus()->AddGroup(kGroup, 1);
    server.memory_corpus()->Add(kGroup, {});
    const std::string good =
        "7\tsong.mp3 (1/2)\tme <m@x>\tMon, 01 Jan 2024 12:00:00 +0000\t<a@x>\t\t100\t2";
    const std::string second =
        "8\tsong.mp3 (2/2)\tme <m@x>\tMon, 01 Jan 2024 12:00:00 +0000\t<b@x>\t\t100\t2";
    // The first answer breaks off after one line; the retry delivers the rest.
    server.QueueReply("XOVER", Reply::Raw("224 overview\r\n" + good + "\r\nno digit here\r\n"));
    server.QueueReply("XOVER", Reply::Multi("224 overview", {good, "status: junk", second}));
    server.SetDropAfterBytes(-1);
    StartEngine({&server});
    // The first reply never ends: the read times out, which takes the socket-error path.
    ScanToEnd();
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Socket error...retrying..."));
    EXPECT_EQ(Xovers(server).size(), 2u);
    ASSERT_EQ(db()->CountRows(), 1);
    Attachment a;
    ASSERT_TRUE(db()->AttachmentAt(0, a));
    EXPECT_EQ(a.partcount, 2);
    EXPECT_EQ(a.state, StateComplete);
}

TEST_F(ScanFixture, ServerThatKeepsDroppingIsGivenUp) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    server.SetReply("XOVER", Reply::Close("224 overview\r\n"));
    StartEngine({&server}, [](Settings& s) { s.ConnectionRetries = 1; });
    ScanToEnd();
    // The first pass and one restart, both without a new line; then the server is given up.
    EXPECT_EQ(Xovers(server).size(), 2u);
    EXPECT_EQ(engine_->scans().servers_failed.load(), 1);
}

TEST_F(ScanFixture, NoSlotEnabledQueuesAScanEntryAtTheHead) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    StartEngine({&server}, [](Settings& s) {
        for (int& t : s.Thread)
            t = 0;
    });
    Attachment download;
    download.state = StateQueued;
    download.Id = download.filename = "something else";
    engine_->queue()->StoreAttachment(nullptr, download);

    EXPECT_EQ(engine_->StartScan(kGroup), 0);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].first, "No threads enabled.");
    Attachment head;
    ASSERT_EQ(engine_->queue()->CountRows(), 2);
    ASSERT_TRUE(engine_->queue()->AttachmentAt(0, head));
    EXPECT_EQ(head.state, StateScanJob);
    EXPECT_EQ(head.Id, kGroup);
    EXPECT_EQ(head.newsgroup, kGroup);
}

TEST_F(ScanFixture, TwoSlotsShareTheServerList) {
    NewsServer a, b, c;
    for (NewsServer* s : {&a, &b, &c})
        AddPosts(*s->memory_corpus());
    StartEngine({&a, &b, &c}, [](Settings& s) { s.Thread[2] = 1; });
    ScanToEnd();
    EXPECT_EQ(engine_->scans().servers_scanned.load(), 3);
    for (NewsServer* s : {&a, &b, &c})
        EXPECT_EQ(Xovers(*s).size(), 1u);
    EXPECT_EQ(db()->CountRows(), 2);  // the same message-ids on every server
}

TEST_F(ScanFixture, StopEndsTheScanAndLeavesServersInTheList) {
    NewsServer slow, other;
    AddPosts(*slow.memory_corpus());
    AddPosts(*other.memory_corpus());
    Reply trickle = Reply::Raw("224 overview\r\n");
    trickle.after = Reply::After::Silence;
    slow.SetReply("XOVER", trickle);
    StartEngine({&slow, &other}, [](Settings& s) { s.SocketTimeout = 30; });
    ASSERT_EQ(engine_->StartScan(kGroup), 1);
    ASSERT_TRUE(
        slow.WaitForCommands(4, std::chrono::seconds(5)));  // MODE READER, GROUP, STAT, XOVER
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto stopped = std::chrono::steady_clock::now();
    engine_->Stop();
    engine_->WaitForWorkers();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_EQ(StatusesOf(0).back(), "Ready...");
    std::lock_guard lock(engine_->workers().queue_mutex());
    EXPECT_EQ(engine_->scans().servers.size(), 1u);  // the other server waits for the next scan
}

}  // namespace
}  // namespace qs
