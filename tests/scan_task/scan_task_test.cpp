#include "scan/scan_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

#include "app/home_dir.h"
#include "db/header_view.h"
#include "engine/engine.h"
#include "nntp/nntp_test_util.h"
#include "nntp/worker_state.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::MemoryCorpus;
using test::NewsServer;
using test::Reply;

constexpr const char* kGroup = "alt.binaries.test";

// Settings pointing at the given servers, a worker state over them and the group's
// header database; scans are started as the engine starts them and their ends recorded.
class ScanFixture : public ::testing::Test, public EventListener {
  protected:
    ~ScanFixture() override {
        if (state_) {
            state_->StopAll();
            state_->JoinAll();
        }
    }

    void StartWorkerState(const std::vector<const NewsServer*>& servers,
                          void (*tweak)(Settings&) = nullptr) {
        Settings s;
        for (const NewsServer* server : servers)
            s.servers.push_back({server->host(), "", "", 0, server->port()});
        s.SocketTimeout = 2;
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;  // one slot unless a test wants more
        if (tweak)
            tweak(s);
        settings_ = std::make_shared<const Settings>(s);
        state_ = std::make_unique<WorkerState>(settings_, &host_);
        state_->SetStatusListener([this](int slot, const std::string& text) {
            std::lock_guard lock(mutex_);
            statuses_[slot].push_back(text);
        });
        Group group;
        group.name = group_;
        ASSERT_TRUE(OpenHeaderDatabase(group, DbEnv{home_.path(), &host_}));
        db_ = group.db;
    }

    // A scan of the group from its highest stored article, on every enabled free slot.
    std::shared_ptr<ScanJob> StartScan() {
        ScanTarget target;
        target.group.name = group_;
        target.group.downloaddir = home_.File("dl") + "/";
        target.group.state = 1;
        target.db = db_;
        target.start_article = db_->HighestArticleId();
        std::vector<std::string> hosts;
        for (const ServerEntry& server : settings_->servers)
            hosts.push_back(server.host);
        auto job = std::make_shared<ScanJob>(std::move(target), hosts, this);
        state_->SetDownloading(true);
        state_->StartInterval();
        for (int i = 0; i < kThreadSlots; ++i) {
            if (!state_->slot(i).enabled || state_->slot(i).busy)
                continue;
            job->AddWorker();
            if (state_->Launch(i, [this, job, i] { Scanproc(*state_, i, *job); }))
                ++started_;
            else
                job->Leave();
        }
        job->Seal();
        return job;
    }

    // Scans the group and waits for the end; the report of that end.
    ScanReport ScanToEnd() {
        started_ = 0;
        std::shared_ptr<ScanJob> job = StartScan();
        EXPECT_GT(started_, 0);
        state_->JoinAll();
        EXPECT_TRUE(job->ended());
        std::lock_guard lock(mutex_);
        EXPECT_FALSE(reports_.empty());
        return reports_.empty() ? ScanReport{} : reports_.back();
    }

    void OnScanEnded(const ScanReport& report) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(report);
    }

    size_t ReportCount() {
        std::lock_guard lock(mutex_);
        return reports_.size();
    }

    // The group's rows whose file name holds `filter`, as a list window reads them.
    std::vector<Attachment> Rows(const std::string& filter = {}) {
        HeaderView view(db_);
        view.SetFilter(filter);
        std::vector<Attachment> rows;
        Attachment a;
        for (int64_t row = 0; view.AttachmentAt(row, a); ++row)
            rows.push_back(a);
        return rows;
    }

    std::vector<std::string> StatusesOf(int slot) {
        std::lock_guard lock(mutex_);
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

    std::string group_ = kGroup;
    test::TempDir home_;
    test::RecordingHost host_;
    std::shared_ptr<const Settings> settings_;
    std::unique_ptr<WorkerState> state_;
    std::shared_ptr<HeaderDatabase> db_;
    int started_ = 0;
    std::mutex mutex_;
    std::vector<std::string> statuses_[kThreadSlots];
    std::vector<ScanReport> reports_;
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
    StartWorkerState({&server});
    ScanReport report = ScanToEnd();

    EXPECT_EQ(report.group, kGroup);
    ASSERT_EQ(report.servers.size(), 1u);
    EXPECT_TRUE(report.servers[0].complete);
    EXPECT_EQ(report.servers[0].headers, 4);
    EXPECT_EQ(report.servers[0].error, "");
    ASSERT_EQ(Rows().size(), 2u);
    std::vector<Attachment> holiday = Rows("holiday");
    ASSERT_EQ(holiday.size(), 1u);
    const Attachment& a = holiday[0];
    EXPECT_EQ(a.filename, "holiday.rar ");
    EXPECT_EQ(a.parts, 3);
    EXPECT_EQ(a.partcount, 3);
    EXPECT_EQ(a.state, StateComplete);
    EXPECT_EQ(a.dir, home_.File("dl") + "/");
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 1000-"});
    EXPECT_EQ(StatusesOf(0).back(), "Ready...");

    // The second scan starts at the highest stored number; what it reads again is not added.
    server.ClearCommands();
    ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 1003-"});
    EXPECT_EQ(Rows().size(), 2u);
    holiday = Rows("holiday");
    ASSERT_EQ(holiday.size(), 1u);
    EXPECT_EQ(holiday[0].partcount, 3);
    EXPECT_EQ(ReportCount(), 2u);  // each scan ended once
}

TEST_F(ScanFixture, MaxHeadersLimitsTheFirstScan) {
    NewsServer server;
    server.memory_corpus()->AddGroup(kGroup, 1);
    for (int i = 0; i < 50; ++i)
        server.memory_corpus()->Add(kGroup, {});
    StartWorkerState({&server}, [](Settings& s) { s.MaxHeaders = 10; });
    ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 40-"});
    EXPECT_EQ(Rows().size(), 11u);  // 40 to 50
}

std::string DateDaysAgo(int days) {
    const time_t when = time(nullptr) - static_cast<time_t>(days) * 86400;
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &parts);
    return text;
}

// Headers older than the days kept are not taken in, and those stored by an earlier scan
// leave the database after the next one; the scan still resumes after the last number read.
TEST_F(ScanFixture, HeadersOlderThanTheDaysKeptExpire) {
    NewsServer server;
    MemoryCorpus& corpus = *server.memory_corpus();
    corpus.AddGroup(kGroup, 1);
    auto post = [&](const std::string& subject, int days_ago) {
        MemoryCorpus::Article a;
        a.subject = subject;
        a.date = DateDaysAgo(days_ago);
        corpus.Add(kGroup, a);
    };
    post("old.bin (1/1)", 30);
    post("new.bin (1/1)", 2);
    post("older.bin (1/1)", 40);  // the highest number, and expired

    // Kept for ever: everything is stored, and the cut-off is 0.
    StartWorkerState({&server}, [](Settings& s) { s.RetentionDays = 0; });
    ScanReport report = ScanToEnd();
    EXPECT_EQ(report.expiry_cutoff, std::optional<int64_t>(0));
    EXPECT_EQ(Rows().size(), 3u);

    // A fortnight: the stored old rows expire after the scan, a new old post is never stored.
    post("late.bin (1/1)", 20);
    post("fresh.bin (1/1)", 1);
    Settings fortnight = *settings_;
    fortnight.RetentionDays = 14;
    state_->SetSettings(std::make_shared<const Settings>(fortnight));
    const int64_t before = time(nullptr);
    report = ScanToEnd();
    ASSERT_TRUE(report.expiry_cutoff.has_value());
    EXPECT_LE(*report.expiry_cutoff, time(nullptr) - 14 * 86400 - 1);
    EXPECT_GE(*report.expiry_cutoff, before - 14 * 86400 - 1);
    EXPECT_EQ(report.expired, 2);
    EXPECT_EQ(report.Summary(), "1 servers scanned, 0 failed, 2 expired");
    std::vector<Attachment> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].filename, "new.bin ");
    EXPECT_EQ(rows[1].filename, "fresh.bin ");
    EXPECT_EQ(db_->TotalKilobytes(), db_->kb_total());

    // The next scan resumes at the last number read, though no stored row carries it.
    server.ClearCommands();
    report = ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 5-"});
    EXPECT_EQ(report.expired, 0);

    // Finding expired articles switched off: no cut-off at all.
    Settings off = fortnight;
    off.FindExpired = 0;
    state_->SetSettings(std::make_shared<const Settings>(off));
    report = ScanToEnd();
    EXPECT_FALSE(report.expiry_cutoff.has_value());

    // Emptying the group (reset, unsubscribe) forgets the resume point too.
    ASSERT_TRUE(db_->Empty());
    EXPECT_EQ(db_->HighestArticleId(), 0);
}

TEST_F(ScanFixture, GroupRefusedOnOneServerTheOtherIsScanned) {
    NewsServer refusing, good;
    refusing.SetReply("GROUP", Reply::Line("411 no such group"));
    AddPosts(*good.memory_corpus());
    StartWorkerState({&refusing, &good});
    ScanReport report = ScanToEnd();
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Error Setting Group...411 no such group\r"));
    EXPECT_EQ(report.servers_failed(), 1);
    EXPECT_EQ(report.servers_scanned(), 1);
    ASSERT_EQ(report.servers.size(), 2u);
    EXPECT_FALSE(report.servers[0].complete);
    EXPECT_NE(report.servers[0].error.find("411 no such group"), std::string::npos);
    EXPECT_TRUE(report.servers[1].complete);
    EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(ScanFixture, OverviewErrorReplyEndsThatServerAtOnce) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    server.SetReply("XOVER", Reply::Line("420 No article(s) selected"));
    StartWorkerState({&server});
    auto started = std::chrono::steady_clock::now();
    ScanReport report = ScanToEnd();
    // No wait for the two-second time-out and no endless retries.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Error Scanning...420 No article(s) selected\r"));
    EXPECT_EQ(Xovers(server).size(), 1u);
    EXPECT_EQ(report.servers_failed(), 1);
}

TEST_F(ScanFixture, JunkLinesAreSkippedAndADroppedConnectionResumes) {
    NewsServer server;
    server.memory_corpus()->AddGroup(kGroup, 1);
    for (int i = 0; i < 8; ++i)  // GROUP announces 1-8, the numbers of the lines below
        server.memory_corpus()->Add(kGroup, {});
    const std::string good =
        "7\tsong.mp3 (1/2)\tme <m@x>\t" + test::RecentDate() + "\t<a@x>\t\t100\t2";
    const std::string second =
        "8\tsong.mp3 (2/2)\tme <m@x>\t" + test::RecentDate() + "\t<b@x>\t\t100\t2";
    // The first answer breaks off after one line; the retry delivers the rest.
    server.QueueReply("XOVER", Reply::Raw("224 overview\r\n" + good + "\r\nno digit here\r\n"));
    server.QueueReply("XOVER", Reply::Multi("224 overview", {good, "status: junk", second}));
    server.SetDropAfterBytes(-1);
    StartWorkerState({&server});
    // The first reply never ends: the read times out, which takes the socket-error path.
    ScanReport report = ScanToEnd();
    EXPECT_TRUE(Contains(StatusesOf(0), "127.0.0.1:Socket error...retrying..."));
    EXPECT_EQ(Xovers(server).size(), 2u);
    EXPECT_EQ(report.servers_scanned(), 1);
    std::vector<Attachment> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].partcount, 2);
    EXPECT_EQ(rows[0].state, StateComplete);
}

// What a hostile or broken server sends in an overview: an over-long line is skipped alone;
// a number past the group's announced last article ends the pass and never becomes the
// point the next scan resumes from; an overview that never ends stops growing the store.
TEST_F(ScanFixture, OverLongLinesAndNumbersPastTheGroupEndAreNotTakenIn) {
    NewsServer server;
    server.memory_corpus()->AddGroup(kGroup, 1);
    for (int i = 0; i < 3; ++i)
        server.memory_corpus()->Add(kGroup, {});
    auto line = [](int64_t number, const std::string& subject, const std::string& id) {
        return std::to_string(number) + "\t" + subject + "\tme <m@x>\t" + test::RecentDate() +
               "\t" + id + "\t\t100\t2";
    };
    server.SetReply(
        "XOVER",
        Reply::Multi("224 overview",
                     {line(1, "a.bin", "<a@x>"), line(2, std::string(20000, 'L'), "<long@x>"),
                      line(3, "c.bin", "<c@x>"), line(9223372036854775807LL, "far.bin", "<far@x>"),
                      line(4, "after.bin", "<after@x>")}));
    StartWorkerState({&server});
    ScanReport report = ScanToEnd();
    EXPECT_EQ(report.servers_scanned(), 1);
    EXPECT_EQ(Xovers(server).size(), 1u);  // no reconnect over the long line
    std::vector<std::string> names;
    for (const Attachment& a : Rows())
        names.push_back(a.filename);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "c.bin"}));
    EXPECT_EQ(db_->HighestArticleId(), 3);

    // The next scan resumes from the last good number, not from the broken one.
    server.ClearCommands();
    ScanToEnd();
    EXPECT_EQ(Xovers(server), std::vector<std::string>{"XOVER 3-"});
}

TEST_F(ScanFixture, ServerThatKeepsDroppingIsGivenUp) {
    NewsServer server;
    AddPosts(*server.memory_corpus());
    server.SetReply("XOVER", Reply::Close("224 overview\r\n"));
    StartWorkerState({&server}, [](Settings& s) { s.ConnectionRetries = 1; });
    ScanReport report = ScanToEnd();
    // The first pass and one restart, both without a new line; then the server is given up.
    EXPECT_EQ(Xovers(server).size(), 2u);
    EXPECT_EQ(report.servers_failed(), 1);
    ASSERT_EQ(report.servers.size(), 1u);
    EXPECT_EQ(report.servers[0].error, "the connection kept failing");
}

TEST_F(ScanFixture, TwoSlotsShareTheServerList) {
    NewsServer a, b, c;
    for (NewsServer* s : {&a, &b, &c})
        AddPosts(*s->memory_corpus());
    StartWorkerState({&a, &b, &c}, [](Settings& s) { s.Thread[2] = 1; });
    ScanReport report = ScanToEnd();
    EXPECT_EQ(started_, 2);
    EXPECT_EQ(report.servers_scanned(), 3);
    EXPECT_EQ(ReportCount(), 1u);  // the last worker to leave reports the end, once
    for (NewsServer* s : {&a, &b, &c})
        EXPECT_EQ(Xovers(*s).size(), 1u);
    EXPECT_EQ(Rows().size(), 2u);  // the same message-ids on every server
}

TEST_F(ScanFixture, StopEndsTheScanAndLeavesServersUnscanned) {
    NewsServer slow, other;
    AddPosts(*slow.memory_corpus());
    AddPosts(*other.memory_corpus());
    Reply trickle = Reply::Raw("224 overview\r\n");
    trickle.after = Reply::After::Silence;
    slow.SetReply("XOVER", trickle);
    StartWorkerState({&slow, &other}, [](Settings& s) { s.SocketTimeout = 30; });
    std::shared_ptr<ScanJob> job = StartScan();
    ASSERT_EQ(started_, 1);
    ASSERT_TRUE(slow.WaitForCommands(
        5, std::chrono::seconds(5)));  // MODE READER, CAPABILITIES, GROUP, STAT, XOVER
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto stopped = std::chrono::steady_clock::now();
    state_->StopAll();
    state_->JoinAll();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_EQ(StatusesOf(0).back(), "Ready...");
    // The scan ended; the other server was never read and waits for the next scan.
    ASSERT_TRUE(job->ended());
    ASSERT_EQ(ReportCount(), 1u);
    ScanReport report = job->report();
    ASSERT_EQ(report.servers.size(), 2u);
    EXPECT_TRUE(report.servers[0].complete);  // stopped counts as read
    EXPECT_FALSE(report.servers[1].complete);
    EXPECT_EQ(report.servers[1].error, "not scanned");
    EXPECT_TRUE(Xovers(other).empty());
}

// A range of 200,000 numbers on a server that takes three connections: four slots, four
// chunks. The slot refused a connection leaves its chunk to the others, and a Stop midway
// leaves the unread rest recorded, so that the next scan fills the gaps below the resume
// point and the result is the whole group, each article once.
TEST_F(ScanFixture, ALargeRangeIsReadInChunksAndAStopLeavesNoGap) {
    constexpr int64_t kArticles = 2000, kStep = 100;  // numbers 1 .. 199901
    NewsServer server;
    server.SetCorpus(std::make_shared<test::ScanGroupCorpus>(nullptr, kArticles, kStep));
    server.SetConnectionLimit(3);
    server.SetOverviewPace(25, std::chrono::milliseconds(40));  // 0.8 s a chunk
    group_ = test::ScanGroupCorpus::kGroupName;
    StartWorkerState({&server}, [](Settings& s) {
        s.Thread[1] = s.Thread[2] = s.Thread[3] = 1;
        s.ScanChunks = 4;
    });
    const std::string chunks_of = server.host() + ":" + std::to_string(server.port());

    std::shared_ptr<ScanJob> job = StartScan();
    ASSERT_EQ(started_, 4);
    auto stored = [&] {
        std::vector<Attachment> rows = Rows();
        int64_t parts = 0;
        for (const Attachment& a : rows)
            parts += a.partcount;
        return parts;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Xovers(server).size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    state_->StopAll();
    state_->JoinAll();
    ASSERT_TRUE(job->ended());
    std::vector<std::string> xovers = Xovers(server);
    EXPECT_EQ(xovers.size(), 3u);  // the fourth connection was refused
    EXPECT_TRUE(Contains(xovers, "XOVER 1-49976"));
    std::vector<ArticleRange> unread;
    ASSERT_TRUE(db_->UnreadScanChunks(chunks_of, unread));
    ASSERT_EQ(unread.size(), 4u) << "stopped before any chunk was read through";
    EXPECT_GT(unread[0].first, 1);  // what was stored of a chunk is not recorded as unread
    const std::vector<ArticleRange> whole = {{49977, 99951}, {99952, 149926}, {149927, 199901}};
    EXPECT_EQ(std::count_if(unread.begin(), unread.end(),
                            [&](const ArticleRange& r) {
                                return std::find(whole.begin(), whole.end(), r) != whole.end();
                            }),
              1);  // the chunk given back, never begun
    const int64_t after_stop = stored();
    EXPECT_GT(after_stop, 0);
    EXPECT_LT(after_stop, kArticles);

    // The next scan starts at the highest stored number and reads the gaps below it.
    server.SetOverviewPace(0, std::chrono::milliseconds(0));
    ASSERT_TRUE(server.WaitForNoConnections(std::chrono::seconds(10)));
    server.ClearCommands();
    ScanReport report = ScanToEnd();
    ASSERT_EQ(report.servers.size(), 1u);
    EXPECT_TRUE(report.servers[0].complete) << report.servers[0].error;
    EXPECT_EQ(stored(), kArticles);
    std::vector<Attachment> rows = Rows();
    EXPECT_EQ(rows.size(), static_cast<size_t>(kArticles / test::ScanGroupCorpus::kSetParts));
    for (const Attachment& a : rows)
        EXPECT_EQ(a.state, StateComplete) << a.filename;
    ASSERT_TRUE(db_->UnreadScanChunks(chunks_of, unread));
    EXPECT_TRUE(unread.empty());
}

// One slot reads every chunk on its one connection; a chunk the server has no articles in
// (423) is read, not a failure.
TEST_F(ScanFixture, OneSlotReadsTheChunksInTurnAndAnEmptyChunkIsRead) {
    NewsServer server;
    // Articles 1, 100001 and 200001: the third of four chunks holds none.
    server.SetCorpus(std::make_shared<test::ScanGroupCorpus>(nullptr, 3, 100000));
    group_ = test::ScanGroupCorpus::kGroupName;
    StartWorkerState({&server});
    ScanReport report = ScanToEnd();
    ASSERT_EQ(report.servers.size(), 1u);
    EXPECT_TRUE(report.servers[0].complete) << report.servers[0].error;
    EXPECT_EQ(report.servers[0].headers, 3);
    EXPECT_EQ(server.connections_accepted(), 1);
    EXPECT_EQ(Xovers(server),
              (std::vector<std::string>{"XOVER 1-50001", "XOVER 50002-100001",
                                        "XOVER 100002-150001", "XOVER 150002-200001"}));
    EXPECT_EQ(Rows().size(), 1u);
    std::vector<ArticleRange> unread;
    ASSERT_TRUE(db_->UnreadScanChunks(server.host() + ":" + std::to_string(server.port()), unread));
    EXPECT_TRUE(unread.empty());
}

// The engine's scan start: with no slot enabled the scan waits at the head of the queue.
TEST(EngineScanStart, NoSlotEnabledQueuesAScanEntryAtTheHeadAndStampsTheScanTime) {
    NewsServer server;
    test::TempDir home;
    test::RecordingHost host;
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({kGroup, home.File("dl") + "/", 0});
    s.AutoCreateDirs = 1;
    for (int& t : s.Thread)
        t = 0;
    ASSERT_TRUE(SaveSettings(s, home.File("Quillstream.ini")));
    {
        // A download already waits in the queue.
        ASSERT_TRUE(MakeDirectories(home.File("data"), 0700));
        auto queue = HeaderDatabase::Open(DbEnv{home.File("data"), &host}, "queue");
        ASSERT_TRUE(queue);
        Attachment download;
        download.state = StateQueued;
        download.Id = download.filename = "something else";
        ASSERT_TRUE(queue->StoreAttachment(nullptr, download));
    }
    Engine engine(StartupContext{home.path(), home.File("Quillstream.ini"), ""}, host);
    ASSERT_TRUE(engine.Open());

    CommandResult result = engine.StartScan(kGroup);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, "No threads enabled.");
    std::unique_ptr<HeaderView> queue = engine.OpenView("queue");
    ASSERT_TRUE(queue);
    ASSERT_EQ(queue->CountRows(), 2);
    Attachment head;
    ASSERT_TRUE(queue->AttachmentAt(0, head));
    EXPECT_EQ(head.state, StateScanJob);
    EXPECT_EQ(head.Id, kGroup);
    EXPECT_EQ(head.newsgroup, kGroup);
    ASSERT_EQ(engine.settings()->groups.size(), 1u);
    EXPECT_GT(engine.settings()->groups[0].lastscanned, 0);
}

}  // namespace
}  // namespace qs
