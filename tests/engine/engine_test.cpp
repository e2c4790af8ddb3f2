#include "engine/engine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "engine/engine_fixture.h"

namespace qs {
namespace {

using namespace std::chrono_literals;

TEST_F(EngineTest, OnlyTheQueueOwnerRequeuesInterruptedEntries) {
    {
        auto first = OpenEngine();
        Attachment entry;
        entry.state = StateDownloading;
        entry.Id = entry.filename = "busy.bin";
        std::unique_ptr<HeaderView> queue = first->OpenView("queue");
        ASSERT_TRUE(queue->db()->StoreAttachment(nullptr, entry));

        // A second process on the same home (a CLI list while the GUI downloads) must not
        // hand out what the first one is downloading.
        auto second = OpenEngine();
        EXPECT_EQ(StateOf(*second, "busy.bin"), StateDownloading);
    }
    // Both gone, as after a crash: the next engine queues the entry again.
    {
        // Only the owner downloads; the other one says who owns the queue.
        Settings s;
        s.servers.push_back({"127.0.0.1", "", "", 0, test::UnusedLoopbackPort()});
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        auto owner = OpenEngine();
        auto other = OpenEngine();
        CommandResult refused = other->StartDownloads();
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.message.find("(pid " + std::to_string(::getpid()) + ")"),
                  std::string::npos)
            << refused.message;
        EXPECT_FALSE(other->StartAutograb(false).ok);
    }
    auto next = OpenEngine();
    EXPECT_EQ(StateOf(*next, "busy.bin"), StateQueued);
}

// A scan and a download through the engine: the scan's end comes with its counts before
// anything is filed, and every entry is filed with its outcome and reason.
TEST_F(EngineTest, EventsOfAScanAndADownloadComeInOrder) {
    auto corpus = std::make_shared<test::GeneratedCorpus>(test::CorpusOptions{7, 1, 0});
    test::NewsServer server;
    server.SetCorpus(corpus);
    Configure(server, {"alt.binaries.test"});
    auto engine = OpenEngine();

    CommandResult scan = engine->StartScan("alt.binaries.test");
    ASSERT_TRUE(scan.ok) << scan.message;
    EXPECT_EQ(scan.count, kThreadSlots);
    engine->WaitForWorkers();
    ASSERT_EQ(events_.scans().size(), 1u);
    const ScanReport report = events_.scans()[0];
    EXPECT_EQ(report.group, "alt.binaries.test");
    ASSERT_EQ(report.servers.size(), 1u);
    EXPECT_TRUE(report.servers[0].complete);
    EXPECT_GT(report.servers[0].headers, 0);

    CommandResult grab = engine->Grab("alt.binaries.test", "", false);
    ASSERT_TRUE(grab.ok) << grab.message;
    EXPECT_GT(grab.count, 0);
    engine->WaitForWorkers();

    const std::vector<std::string> order = events_.order();
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order[0], "scanned alt.binaries.test");
    int done = 0, failed = 0;
    for (const FiledEntry& e : events_.filed()) {
        EXPECT_FALSE(e.still_queued) << e.filename;
        EXPECT_TRUE(e.in_log) << e.filename;
        if (e.outcome == EntryOutcome::Done) {
            ++done;
            EXPECT_TRUE(e.reason.empty()) << e.reason;
        } else {
            // Only the group's text posts have nothing to decode.
            ++failed;
            EXPECT_EQ(e.outcome, EntryOutcome::Failed);
            EXPECT_EQ(e.reason, "no yEnc, UU or MIME data to decode") << e.filename;
        }
    }
    EXPECT_EQ(done + failed, grab.count);
    ExpectBinariesDownloaded(*corpus);
    EXPECT_EQ(engine->Status().tasks, 0);
    EXPECT_EQ(static_cast<int>(Rows(*engine, "log").size()), grab.count);
}

TEST_F(EngineTest, AMissingPartFailsTheEntryWithItsReason) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        s.SkipMissing = 0;
        s.ConnectionRetries = 1;
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    server.SetReply("BODY", test::Reply::Line("430 No such article"));
    ASSERT_TRUE(engine->Grab("alt.binaries.one", "", false).ok);
    engine->WaitForWorkers();

    ASSERT_EQ(events_.filed().size(), 1u);
    const FiledEntry e = events_.filed()[0];
    EXPECT_EQ(e.outcome, EntryOutcome::Failed);
    EXPECT_NE(e.reason.find("part 1 of 1: not found (430 No such article)"), std::string::npos)
        << e.reason;
    std::vector<Attachment> log = Rows(*engine, "log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateFailed);
    EXPECT_EQ(log[0].reason, e.reason);  // the log keeps why

    // Queued again from the log once the server has the article.
    server.ClearReplies();
    EXPECT_EQ(engine->Enqueue("log", "NOTHING", false).count, 0);
    ASSERT_EQ(engine->Enqueue("log", "ONE.BIN", false).count, 1);
    ASSERT_TRUE(engine->StartDownloads().ok);
    engine->WaitForWorkers();
    EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.one/one.bin")), "abc");
    log = Rows(*engine, "log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(log[0].reason, "");  // filed again: the old reason is gone
}

// The log refuses the record: the entry must stay in the queue (not be re-downloaded for
// ever, not be lost), and the reason says so.
TEST_F(EngineTest, AnEntryTheLogRefusesStaysInTheQueue) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(server, {"alt.binaries.one"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(home_.File("data/log.db").c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TRIGGER refuse BEFORE INSERT ON Attachment "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    ASSERT_TRUE(engine->Grab("alt.binaries.one", "", false).ok);
    engine->WaitForWorkers();

    ASSERT_EQ(events_.filed().size(), 1u);
    const FiledEntry e = events_.filed()[0];
    EXPECT_EQ(e.outcome, EntryOutcome::Done);  // the file itself is fine
    EXPECT_TRUE(e.still_queued);
    EXPECT_FALSE(e.in_log);
    EXPECT_NE(e.reason.find("not filed in the log"), std::string::npos) << e.reason;
    EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.one/one.bin")), "abc");
    std::vector<Attachment> queue = Rows(*engine, "queue");
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].state, StateDone);
    EXPECT_TRUE(Rows(*engine, "log").empty());
    // Taken once only: a second run leaves it where it is.
    ASSERT_TRUE(engine->StartDownloads().ok);
    engine->WaitForWorkers();
    EXPECT_EQ(events_.filed().size(), 1u);
}

// A worker blocked in a read (the server never answers BODY) ends when its slot is
// stopped, and the others when everything is stopped.
TEST_F(EngineTest, StopOneSlotThenAllWakeWorkersBlockedInARead) {
    test::NewsServer server;
    for (int i = 0; i < 3; ++i)
        server.memory_corpus()->Add("alt.binaries.one",
                                    SmallYencPost("f" + std::to_string(i) + ".bin"));
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        s.SocketTimeout = 600;  // only a stop can end the wait
        for (int i = 3; i < kThreadSlots; ++i)
            s.Thread[i] = 0;
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    server.SetReply("BODY", test::Reply::Silence());
    ASSERT_EQ(engine->Grab("alt.binaries.one", "", false).count, 3);

    auto bodies = [&] { return BodyCommands(server); };
    for (int i = 0; i < 500 && bodies() < 3; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(bodies(), 3);

    engine->StopSlot(1);
    for (int i = 0; i < 500 && engine->Status().slots[1].alive; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(engine->Status().slots[1].alive);  // nothing else left for it to take
    EXPECT_TRUE(engine->Status().slots[0].alive);
    EXPECT_TRUE(engine->Status().slots[2].alive);
    ASSERT_EQ(events_.filed().size(), 1u);
    EXPECT_EQ(events_.filed()[0].outcome, EntryOutcome::Stopped);

    engine->StopAll();
    EXPECT_TRUE(engine->WaitIdle(10s));
    EXPECT_EQ(events_.filed().size(), 3u);
}

// Settings applied over and over while six workers download: each worker keeps the
// snapshot it took, nothing races (the suite runs under ThreadSanitizer too), and every
// file arrives whole.
TEST_F(EngineTest, SettingsAppliedWhileSixWorkersDownload) {
    auto corpus = std::make_shared<test::GeneratedCorpus>(test::CorpusOptions{3, 1, 0});
    test::NewsServer server;
    server.SetCorpus(corpus);
    Configure(server, {"alt.binaries.test"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.test");

    ASSERT_TRUE(engine->Grab("alt.binaries.test", "", false).ok);
    for (int i = 0; i < 100; ++i) {
        Settings s = *engine->settings();
        s.SocketTimeout = 10 + i % 7;
        s.ConnectionRetries = 2 + i % 3;
        s.UseFirstServer = i % 3;
        s.SpeedUse = i % 2;
        s.SpeedVal = 1000000;  // a limit that never bites, read at every part
        ASSERT_TRUE(engine->ApplySettings(s).ok);
    }
    engine->WaitForWorkers();
    ExpectBinariesDownloaded(*corpus);
}

// The stop button of a scanning slot ends the server it reads; the slot goes on with the
// next server of the scan.
TEST_F(EngineTest, StoppingAScanningSlotEndsOnlyItsServer) {
    test::NewsServer stuck, good;
    stuck.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    good.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    test::Reply silent = test::Reply::Raw("224 overview follows\r\n");
    silent.after = test::Reply::After::Silence;  // the overview never ends
    stuck.SetReply("XOVER", silent);
    Configure(stuck, {"alt.binaries.one"}, [&](Settings& s) {
        s.servers.push_back({good.host(), "", "", 0, good.port()});
        s.SocketTimeout = 600;
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;
    });
    auto engine = OpenEngine();
    ASSERT_EQ(engine->StartScan("alt.binaries.one").count, 1);
    ASSERT_TRUE(WaitForVerb(stuck, "XOVER", 5s));
    engine->StopSlot(0);
    ASSERT_TRUE(engine->WaitIdle(10s));

    ASSERT_EQ(events_.scans().size(), 1u);
    const ScanReport report = events_.scans()[0];
    ASSERT_EQ(report.servers.size(), 2u);
    EXPECT_TRUE(report.servers[0].complete);  // stopped counts as read
    EXPECT_TRUE(report.servers[1].complete);
    EXPECT_EQ(report.servers[1].headers, 1);
    EXPECT_EQ(Rows(*engine, "alt.binaries.one").size(), 1u);
}

// Stop while paused: the workers end, and the next task does not start paused. Resuming
// gives a slot back the text it showed.
TEST_F(EngineTest, PauseShowsOnTheSlotsAndStopUnpauses) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    test::Reply silent = test::Reply::Raw("224 overview follows\r\n");
    silent.after = test::Reply::After::Silence;
    server.SetReply("XOVER", silent);
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;
    });
    auto engine = OpenEngine();
    ASSERT_EQ(engine->StartScan("alt.binaries.one").count, 1);
    ASSERT_TRUE(WaitForVerb(server, "XOVER", 5s));
    const std::string before = engine->Status().slots[0].status;
    engine->TogglePause();
    EXPECT_TRUE(engine->Status().paused);
    EXPECT_EQ(engine->Status().slots[0].status, "Paused...");
    engine->TogglePause();
    EXPECT_EQ(engine->Status().slots[0].status, before);

    engine->TogglePause();
    engine->StopAll();
    EXPECT_FALSE(engine->Status().paused);
    EXPECT_TRUE(engine->WaitIdle(10s));
    EXPECT_EQ(engine->Status().speed, 0);
}

// Unsubscribing takes the group's headers with it, and waits until no worker runs.
TEST_F(EngineTest, UnsubscribeEmptiesTheGroupsHeadersAndIsRefusedWhileWorkersRun) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(server, {"alt.binaries.one"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    ASSERT_EQ(Rows(*engine, "alt.binaries.one").size(), 1u);

    server.SetReply("BODY", test::Reply::Silence());
    ASSERT_TRUE(engine->Grab("alt.binaries.one", "", false).ok);
    EXPECT_FALSE(engine->Unsubscribe("alt.binaries.one").ok);
    engine->StopAll();
    ASSERT_TRUE(engine->WaitIdle(10s));

    ASSERT_TRUE(engine->Unsubscribe("alt.binaries.one").ok);
    ASSERT_TRUE(engine->Subscribe("alt.binaries.one", "").ok);
    EXPECT_TRUE(Rows(*engine, "alt.binaries.one").empty());
}

// A yEnc file of `parts` parts of `part_size` bytes each, every byte encoding to "A".
void AddPlainYencFile(test::MemoryCorpus& corpus, const std::string& group, const std::string& name,
                      int parts, size_t part_size) {
    const size_t size = part_size * static_cast<size_t>(parts);
    for (int p = 1; p <= parts; ++p) {
        test::MemoryCorpus::Article a;
        a.subject = name + " (" + std::to_string(p) + "/" + std::to_string(parts) + ")";
        a.body = "=ybegin part=" + std::to_string(p) + " total=" + std::to_string(parts) +
                 " line=128 size=" + std::to_string(size) + " name=" + name + "\n";
        const size_t begin = part_size * static_cast<size_t>(p - 1);
        a.body += "=ypart begin=" + std::to_string(begin + 1) +
                  " end=" + std::to_string(begin + part_size) + "\n";
        for (size_t left = part_size; left > 0; left -= std::min<size_t>(left, 128))
            a.body += std::string(std::min<size_t>(left, 128), 'A') + "\n";
        a.body += "=yend size=" + std::to_string(part_size) + " part=" + std::to_string(p) + "\n";
        corpus.Add(group, a);
    }
}

// A worker keeps the settings of the part it is fetching and takes the new ones with its
// next part: a speed limit set during part 1 leaves part 1 alone and holds part 2 back.
TEST_F(EngineTest, ANewSpeedLimitTakesHoldAtTheNextPart) {
    test::NewsServer server;
    AddPlainYencFile(*server.memory_corpus(), "alt.binaries.one", "slow.bin", 6, 64 * 1024);
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;
        s.PipelineDepth = 1;  // a BODY command is a part begun
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    server.SetReplyDelay(200ms);
    ASSERT_EQ(engine->Grab("alt.binaries.one", "", false).count, 1);

    auto bodies = [&] { return BodyCommands(server); };
    for (int i = 0; i < 500 && bodies() < 1; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(bodies(), 1);
    Settings slow = *engine->settings();
    slow.SpeedUse = 1;
    slow.SpeedVal = 1;  // KB/s: 50 ms for every line once over it
    ASSERT_TRUE(engine->ApplySettings(slow).ok);

    // Unlimited, the six parts take about 1.2 s; limited, one part takes half a minute.
    std::this_thread::sleep_for(3s);
    EXPECT_GE(bodies(), 1);
    EXPECT_LE(bodies(), 2);
    EXPECT_TRUE(engine->Busy());
    engine->StopAll();
    EXPECT_TRUE(engine->WaitIdle(10s));
}

TEST_F(EngineTest, AutograbScansAndDownloadsEveryGroupInTurnWithoutBlocking) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    server.memory_corpus()->Add("alt.binaries.two", SmallYencPost("two.bin"));
    Configure(server, {"alt.binaries.one", "alt.binaries.two"},
              [](Settings& s) { s.AutoCreateDirs = 0; });
    auto engine = OpenEngine();

    ASSERT_TRUE(engine->StartAutograb(false).ok);
    EXPECT_TRUE(engine->Busy());  // the caller goes on at once
    engine->WaitForWorkers();

    EXPECT_EQ(events_.order(),
              (std::vector<std::string>{"scanned alt.binaries.one", "filed one.bin yEnc",
                                        "scanned alt.binaries.two", "filed two.bin yEnc"}));
    EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.one/one.bin")), "abc");
    EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.two/two.bin")), "abc");
    // The directories were created without asking, and the setting is as it was.
    EXPECT_EQ(engine->settings()->AutoCreateDirs, 0);
}

TEST_F(EngineTest, QueuedScanRunsOnADownloadWorkerOfALaterRun) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        for (int& t : s.Thread)
            t = 0;
    });
    {
        auto engine = OpenEngine();
        CommandResult r = engine->StartScan("alt.binaries.one");
        EXPECT_EQ(r.count, 0);  // no slot: queued as a scan entry
        EXPECT_EQ(Rows(*engine, "queue").size(), 1u);
    }
    auto engine = OpenEngine();
    ASSERT_TRUE(engine->SetSlotEnabled(0, true).ok);
    ASSERT_EQ(engine->StartDownloads().count, 1);
    engine->WaitForWorkers();

    EXPECT_EQ(Rows(*engine, "alt.binaries.one").size(), 1u);  // the group was scanned
    EXPECT_TRUE(Rows(*engine, "queue").empty());
    std::vector<Attachment> log = Rows(*engine, "log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateScanJob);
    EXPECT_EQ(log[0].newsgroup, "alt.binaries.one");
    ASSERT_EQ(events_.scans().size(), 1u);
}

// The user's edits of the queue and the lists, each through its engine command.
TEST_F(EngineTest, QueueAndListCommandsEditWhatTheyName) {
    test::NewsServer server;
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        server.memory_corpus()->Add("alt.binaries.one", SmallYencPost(name));
    Configure(server, {"alt.binaries.one"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    auto id_of = [&](const std::string& name, const std::string& filename) {
        for (const Attachment& a : Rows(*engine, name))
            if (a.filename == filename)
                return a.Id;
        return std::string();
    };

    // The selected row of the caller's own view first, then the rest of the group.
    std::unique_ptr<HeaderView> view = engine->OpenView("alt.binaries.one");
    view->SetFilter("b.bin");
    ASSERT_EQ(view->CountRows(), 1);
    EXPECT_EQ(engine->EnqueueRows("alt.binaries.one", *view, {0}, false).count, 1);
    EXPECT_EQ(engine->Enqueue("alt.binaries.one", "", false).count, 2);
    EXPECT_EQ(engine->Enqueue("alt.binaries.one", "", false).count, 0);  // queued already
    const std::vector<std::string> queued = Filenames(*engine, "queue");
    ASSERT_EQ(queued.size(), 3u);
    EXPECT_EQ(queued[0], "b.bin yEnc");
    ASSERT_TRUE(engine->MoveToTop({id_of("queue", queued[2])}).ok);
    EXPECT_EQ(Filenames(*engine, "queue")[0], queued[2]);
    EXPECT_EQ(engine->RemoveFromQueue({id_of("queue", queued[0])}).count, 1);
    EXPECT_EQ(engine->Status().tasks, 2);
    ASSERT_TRUE(engine->ClearQueue().ok);
    EXPECT_EQ(engine->Status().tasks, 0);

    ASSERT_TRUE(
        engine->RemoveFromList("alt.binaries.one", {id_of("alt.binaries.one", "b.bin yEnc")}).ok);
    EXPECT_EQ(view->CountRows(), 0);
    EXPECT_EQ(Rows(*engine, "alt.binaries.one").size(), 2u);

    // Reading an article marks its row done, in that database only.
    const std::string read_id = id_of("alt.binaries.one", "a.bin yEnc");
    ASSERT_TRUE(engine->MarkAttachmentDone("alt.binaries.one", read_id).ok);
    EXPECT_EQ(GroupState(*engine, "alt.binaries.one", "a.bin yEnc"), StateDone);
    EXPECT_EQ(GroupState(*engine, "alt.binaries.one", "c.bin yEnc"), StateComplete);
    EXPECT_EQ(events_.changed_rows().back(), "alt.binaries.one " + read_id);
    EXPECT_FALSE(engine->MarkAttachmentDone("alt.binaries.one", "no-such-id").ok);
    EXPECT_FALSE(engine->MarkAttachmentDone("queue", read_id).ok);
    EXPECT_FALSE(engine->MarkAttachmentDone("alt.binaries.none", read_id).ok);

    ASSERT_TRUE(engine->ResetGroup("alt.binaries.one").ok);
    EXPECT_TRUE(Rows(*engine, "alt.binaries.one").empty());
    EXPECT_EQ(engine->settings()->groups[0].lastscanned, 0);
    EXPECT_FALSE(engine->ResetGroup("alt.binaries.none").ok);
}

TEST_F(EngineTest, GroupListAndServerCommandsSaveAndTellTheListener) {
    auto engine = OpenEngine();
    EXPECT_TRUE(engine->Subscribe("alt.test", "").ok);
    EXPECT_FALSE(engine->Subscribe("bad/name", "").ok);
    EXPECT_TRUE(engine->AddServer({"a.example", "", "", 0, 119}).ok);
    EXPECT_TRUE(engine->AddServer({"b.example", "", "", 0, 119}).ok);
    EXPECT_FALSE(engine->AddServer({"b.example", "", "", 0, 119}).ok);
    EXPECT_TRUE(engine->MoveServer("b.example", -1).ok);
    EXPECT_TRUE(engine->EnableServer("a.example", false).ok);

    Settings saved = LoadSettings(home_.File("Quillstream.ini"));
    ASSERT_EQ(saved.groups.size(), 1u);
    EXPECT_EQ(saved.groups[0].name, "alt.test");
    ASSERT_EQ(saved.servers.size(), 1u);
    EXPECT_EQ(saved.servers[0].host, "b.example");
    ASSERT_EQ(saved.disabled_servers.size(), 1u);
    EXPECT_EQ(saved.disabled_servers[0].host, "a.example");

    EXPECT_TRUE(engine->Unsubscribe("alt.test").ok);
    EXPECT_FALSE(engine->Unsubscribe("alt.test").ok);
    EXPECT_EQ(events_.order(), (std::vector<std::string>{"groups", "groups"}));
}

}  // namespace
}  // namespace qs
