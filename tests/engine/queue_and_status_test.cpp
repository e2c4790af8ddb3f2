// What the main frame shows and does through the engine: the timer's figures, Grab And
// Open's order, queue edits that give rows back to their group, dragging queue rows, and
// the power-off once the work has ended.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/engine_fixture.h"

namespace qs {
namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A slot receiving a little every few milliseconds for minutes: the timer's figures are
// checked tick by tick against the bytes each tick took, on a clock the test moves.
TEST_F(EngineTest, TheTimerTurnsByteCountersIntoSpeedTotalAndEta) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(server, {"alt.binaries.one"}, [](Settings& s) {
        for (int i = 1; i < kThreadSlots; ++i)
            s.Thread[i] = 0;
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    std::string body = "222 0 <one@test> body\r\n";
    for (int i = 0; i < 30000; ++i)
        body += std::string(98, 'A') + "\r\n";
    test::Reply trickle = test::Reply::Raw(body);
    trickle.chunk = 100;
    trickle.chunk_pause = 5ms;
    server.SetReply("BODY", trickle);

    std::atomic<int64_t> now{1'000'000};
    engine->SetClockForTests([&] { return now.load(); });
    ASSERT_EQ(engine->Grab("alt.binaries.one", "", false).count, 1);
    for (int i = 0; i < 500 && BodyCommands(server) == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(BodyCommands(server), 1);  // one.bin is taken
    // 3 GiB waiting behind it, so that the time left counts.
    Attachment big;
    big.state = StateQueued;
    big.Id = big.filename = big.newsgroup = "big.bin";
    big.bytes = int64_t{3} << 30;
    ASSERT_TRUE(engine->OpenView("queue")->db()->StoreAttachment(nullptr, big));

    int speed = 0, eta = 0;
    int64_t total = 0;
    // Waits for bytes, moves the clock on by `ms` and ticks; the figures must follow from
    // the bytes the tick took (the total's growth).
    auto tick_after = [&](int64_t ms) {
        for (int i = 0; i < 1000 && engine->Status().slots[0].bytes == 0; ++i)
            std::this_thread::sleep_for(2ms);
        now += ms;
        const EngineStatus s = engine->Tick();
        const int64_t took = s.received_total - total;
        EXPECT_GT(took, 0);
        if (ms > 0)
            speed = static_cast<int>((took / ms + speed) / 2);
        eta = speed > 0 ? static_cast<int>((s.queued_kb / speed / 60 + eta) / 2) : 0;
        EXPECT_EQ(s.speed, speed) << took << " bytes in " << ms << " ms";
        EXPECT_EQ(s.eta_minutes, eta);
        EXPECT_EQ(s.tasks, 2);
        total = s.received_total;
        return s;
    };
    tick_after(0);  // the start's own millisecond: bytes counted, no speed yet
    EXPECT_EQ(speed, 0);
    tick_after(1);
    tick_after(3);
    ASSERT_GT(speed, 0);
    ASSERT_GT(eta, 0);
    const int before = speed;
    tick_after(0);  // the same millisecond again: the speed stays, the total grows
    EXPECT_EQ(speed, before);
    tick_after(7);

    engine->StopAll();
    ASSERT_TRUE(engine->WaitIdle(10s));
    now += 1000;
    const EngineStatus idle = engine->Tick();
    EXPECT_EQ(idle.speed, 0);  // no worker alive
    EXPECT_EQ(idle.eta_minutes, 0);
    EXPECT_EQ(idle.tasks, 1);  // big.bin; the stopped entry went to the log
    EXPECT_EQ(idle.QueueText(), "1 Tasks / 3072 MB / 0:00 ETA");
    EXPECT_EQ(idle.SpeedText(), "Speed: 0 KB/s");

    EngineStatus shown;
    shown.tasks = 7;
    shown.queued_kb = 5 * 1024 + 1023;
    shown.eta_minutes = 125;
    shown.received_total = (int64_t{3} << 20) - 1;
    EXPECT_EQ(shown.QueueText(), "7 Tasks / 5 MB / 2:05 ETA");
    EXPECT_EQ(shown.ReceivedText(), "MB: 2");
}

// Grab And Open of rows a, b, c with b queued already: c goes to the top, a second, b
// stays where it was; all three are opened once downloaded, and d is neither.
TEST_F(EngineTest, GrabAndOpenPutsTheLastPickedRowFirstAndOpensEveryPickedFile) {
    test::NewsServer server;
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"})
        server.memory_corpus()->Add("alt.binaries.one", SmallYencPost(name));
    Configure(server, {"alt.binaries.one"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    std::unique_ptr<HeaderView> view = engine->OpenView("alt.binaries.one");
    ASSERT_TRUE(view->SetOrder("filename"));

    ASSERT_EQ(engine->EnqueueRows("alt.binaries.one", *view, {1}, false).count, 1);
    ASSERT_EQ(engine->EnqueueRows("alt.binaries.one", *view, {0, 1, 2}, true).count, 2);
    EXPECT_EQ(Filenames(*engine, "queue"),
              (std::vector<std::string>{"c.bin yEnc", "a.bin yEnc", "b.bin yEnc"}));

    ASSERT_GT(engine->StartDownloads().count, 0);
    engine->WaitForWorkers();
    EXPECT_EQ(host_.opened(), (std::set<std::string>{"a.bin", "b.bin", "c.bin"}));
    EXPECT_EQ(GroupState(*engine, "alt.binaries.one", "d.bin yEnc"), StateComplete);
}

// Entries leaving the queue unfinished give their group rows back: incomplete (2) when
// parts are missing, else complete (1), so they can be queued again. A scan entry stands
// for no row and touches none.
TEST_F(EngineTest, RemovingFromOrClearingTheQueueGivesTheRowsBackToTheirGroup) {
    test::NewsServer server;
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("whole.bin"));
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("other.bin"));
    for (int p = 1; p <= 2; ++p) {
        test::MemoryCorpus::Article part;
        part.subject = "half.bin (" + std::to_string(p) + "/3)";
        part.body = "x\n";
        server.memory_corpus()->Add("alt.binaries.one", part);
    }
    Configure(server, {"alt.binaries.one"}, [](Settings& s) { s.ShowIncomplete = 1; });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    const std::string group = "alt.binaries.one";
    const std::string half = "half.bin ";  // the subject without its counter
    ASSERT_EQ(GroupState(*engine, group, half), StateIncomplete);
    ASSERT_EQ(engine->Enqueue(group, "", false).count, 3);
    for (int i = 0; i < kThreadSlots; ++i)
        ASSERT_TRUE(engine->SetSlotEnabled(i, false).ok);
    ASSERT_EQ(engine->StartScan(group).count, 0);  // no free slot: a scan entry, state 8
    ASSERT_EQ(engine->Status().tasks, 4);

    auto id_of = [&](const std::string& filename) {
        for (const Attachment& a : Rows(*engine, "queue"))
            if (a.filename == filename)
                return a.Id;
        return std::string();
    };
    EXPECT_EQ(engine->RemoveFromQueue({id_of(group), id_of(half)}).count, 2);
    EXPECT_EQ(GroupState(*engine, group, half), StateIncomplete);
    EXPECT_EQ(GroupState(*engine, group, "whole.bin yEnc"), StateQueued);
    EXPECT_EQ(Filenames(*engine, "queue").size(), 2u);

    ASSERT_TRUE(engine->ClearQueue().ok);
    EXPECT_EQ(engine->Status().tasks, 0);
    EXPECT_EQ(GroupState(*engine, group, "whole.bin yEnc"), StateComplete);
    EXPECT_EQ(GroupState(*engine, group, "other.bin yEnc"), StateComplete);
    EXPECT_EQ(Rows(*engine, group).size(), 3u);
    EXPECT_EQ(engine->Enqueue(group, "", false).count, 3);
}

TEST_F(EngineTest, DraggingQueueRowsStopsAtEitherEndAndKeepsTheirOrder) {
    auto engine = OpenEngine();
    std::shared_ptr<HeaderDatabase> queue = engine->OpenView("queue")->db();
    for (const char* name : {"q0", "q1", "q2", "q3", "q4"}) {
        Attachment a;
        a.state = StateQueued;
        a.Id = a.filename = name;
        ASSERT_TRUE(queue->StoreAttachment(nullptr, a));
    }
    using Names = std::vector<std::string>;
    std::vector<int64_t> to;

    // Up past row 0 and down past the end: nothing moves.
    EXPECT_EQ(engine->MoveQueueRows({1, 3}, -2, &to).count, 0);
    EXPECT_EQ(to, (std::vector<int64_t>{1, 3}));
    EXPECT_EQ(engine->MoveQueueRows({1, 3}, 2, &to).count, 0);
    EXPECT_EQ(Filenames(*engine, "queue"), (Names{"q0", "q1", "q2", "q3", "q4"}));

    // Down: the last row first, so the rows keep their order; `to` follows `rows`.
    CommandResult down = engine->MoveQueueRows({2, 0}, 2, &to);
    EXPECT_TRUE(down.ok);
    EXPECT_EQ(down.count, 2);
    EXPECT_EQ(to, (std::vector<int64_t>{4, 2}));
    EXPECT_EQ(Filenames(*engine, "queue"), (Names{"q1", "q3", "q0", "q4", "q2"}));

    // Up, with one row beside another that is not selected.
    EXPECT_EQ(engine->MoveQueueRows({2, 4}, -1, &to).count, 2);
    EXPECT_EQ(to, (std::vector<int64_t>{1, 3}));
    EXPECT_EQ(Filenames(*engine, "queue"), (Names{"q1", "q0", "q3", "q2", "q4"}));
    // Rows that are not in the queue are skipped.
    EXPECT_EQ(engine->MoveQueueRows({-1, 9}, 1).count, 0);
}

// The power-off command runs once when the downloads end with the flag set, not when it
// is clear, not after Stop, and never when the engine closes mid-download.
TEST_F(EngineTest, ShutdownWhenFinishedRunsThePowerOffCommandOnlyAfterTheWorkEnds) {
    test::NewsServer server;
    for (const char* name : {"one.bin", "two.bin", "three.bin"})
        server.memory_corpus()->Add("alt.binaries.one", SmallYencPost(name));
    const std::string marker = home_.File("powered-off");
    Configure(server, {"alt.binaries.one"}, [&](Settings& s) {
        s.PowerOffCommand = "echo off >> '" + marker + "'";
        s.CancelledBackInQueue = 1;
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    auto wait_for_marker = [&] {
        for (int i = 0; i < 500 && ReadAll(marker).empty(); ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(300ms);  // time for a second run, were there one
    };

    EXPECT_FALSE(engine->shutdown_when_finished());
    ASSERT_EQ(engine->Grab("alt.binaries.one", "one.bin", false).count, 1);
    engine->WaitForWorkers();
    wait_for_marker();
    EXPECT_EQ(ReadAll(marker), "");

    engine->SetShutdownWhenFinished(true);
    EXPECT_TRUE(engine->shutdown_when_finished());
    ASSERT_EQ(engine->Grab("alt.binaries.one", "two.bin", false).count, 1);
    engine->WaitForWorkers();
    wait_for_marker();
    EXPECT_EQ(ReadAll(marker), "off\n");

    // Stopping is not finishing: the work ends, the machine stays on.
    server.SetReply("BODY", test::Reply::Silence());
    ASSERT_EQ(engine->Grab("alt.binaries.one", "three.bin", false).count, 1);
    for (int i = 0; i < 500 && BodyCommands(server) < 3; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(BodyCommands(server), 3);
    engine->StopAll();
    engine->WaitForWorkers();
    wait_for_marker();
    EXPECT_EQ(ReadAll(marker), "off\n");

    ASSERT_GT(engine->StartDownloads().count, 0);  // three.bin again
    for (int i = 0; i < 500 && BodyCommands(server) < 4; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(BodyCommands(server), 4);
    engine.reset();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ReadAll(marker), "off\n");
}

}  // namespace
}  // namespace qs
