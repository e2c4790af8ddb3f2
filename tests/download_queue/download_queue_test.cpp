#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "download_fixture.h"

namespace qs::test {
namespace {

using namespace std::chrono_literals;

class DownloadQueue : public DownloadFixture {};

TEST_F(DownloadQueue, ThreeEntriesOnSlotsZeroAndTwoAreAllFiledAsDone) {
    NewsServer server;
    server.SetReplyDelay(20ms);  // both workers are busy at once
    AddServer(server);
    settings_.Thread[2] = 1;
    std::string a = PostYenc({&server}, "a.bin", 3000, 3, 1);
    std::string b = PostYenc({&server}, "b.bin", 2000, 2, 2);
    std::string c = PostYenc({&server}, "c.bin", 1000, 1, 3);
    Queue(Entry("a.bin", 3));
    Queue(Entry("b.bin", 2));
    Queue(Entry("c.bin", 1));
    RunWorkers();

    EXPECT_EQ(Count(*queue_db_), 0);
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 3u);
    for (const auto& row : log)
        EXPECT_EQ(row.state, StateDone) << row.Id;
    EXPECT_EQ(ReadFile(OutputDir() + "a.bin"), a);
    EXPECT_EQ(ReadFile(OutputDir() + "b.bin"), b);
    EXPECT_EQ(ReadFile(OutputDir() + "c.bin"), c);
    EXPECT_EQ(server.connections_accepted(), 2);  // one kept connection per slot
    EXPECT_EQ(state_->slot(0).status.Get(), "Ready...");
    EXPECT_EQ(state_->slot(2).status.Get(), "Ready...");
    EXPECT_EQ(events_.Count(EntryOutcome::Done), 3);
    EXPECT_EQ(events_.Filed().size(), 3u);
}

TEST_F(DownloadQueue, PartMissingOnTheFirstServerIsFetchedFromTheSecond) {
    NewsServer a, b;
    AddServer(a);
    AddServer(b);
    std::string data = PostYenc({&b}, "x.bin", 3000, 3);
    PostYenc({&a}, "x.bin", 3000, 3);
    a.SetReply("BODY", Reply::Line("430 no such article"));  // A has none of them
    settings_.PipelineDepth = 1;  // one command at a time: each server sees only its own
    Queue(Entry("x.bin", 3));
    RunWorkers();

    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(ReadFile(OutputDir() + "x.bin"), data);
    EXPECT_EQ(BodyCount(a, "<x.bin.1@test>"), 1);
    EXPECT_EQ(BodyCount(b, "<x.bin.1@test>"), 1);
    EXPECT_EQ(BodyCount(b, "<x.bin.3@test>"), 1);  // the slot stays on B
    EXPECT_EQ(BodyCount(a, "<x.bin.3@test>"), 0);
}

TEST_F(DownloadQueue, PartMissingEverywhereIsFetchedFourTimesThenTheEntryFails) {
    NewsServer a, b;
    AddServer(a);
    AddServer(b);
    settings_.ConnectionRetries = 1;
    settings_.SkipMissing = 0;
    settings_.PipelineDepth = 1;  // one command at a time: part 3 is never asked for
    // Only a stop puts an entry back: one that cannot be had would come round for ever.
    settings_.CancelledBackInQueue = 1;
    PostYenc({&a, &b}, "m.bin", 3000, 3);
    Attachment entry = Entry("m.bin", 3);
    entry.partlist[1].MessageId = "<gone@test>";
    Queue(entry);
    RunWorkers();

    EXPECT_EQ(BodyCount(a, "<gone@test>") + BodyCount(b, "<gone@test>"), 4);
    EXPECT_EQ(BodyCount(a, "<gone@test>"), 2);  // servers 0, 1, 0, 1
    EXPECT_EQ(BodyCount(a, "<m.bin.3@test>") + BodyCount(b, "<m.bin.3@test>"), 0);
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateFailed);
    EXPECT_EQ(Count(*queue_db_), 0);
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Failed);
    EXPECT_FALSE(filed[0].still_queued);
    EXPECT_EQ(filed[0].reason.rfind("part 2 of 3: not found (430", 0), 0u) << filed[0].reason;
}

TEST_F(DownloadQueue, SkipMissingGoesOnWithTheOtherPartsAndEndsGood) {
    NewsServer a;
    AddServer(a);
    settings_.ConnectionRetries = 1;
    settings_.SkipMissing = 1;
    std::string data = PostYenc({&a}, "s.bin", 3000, 3);
    Attachment entry = Entry("s.bin", 3);
    entry.partlist[0].MessageId = "<gone@test>";  // detection fails on part 1 only
    Queue(entry);
    RunWorkers();

    EXPECT_EQ(BodyCount(a, "<gone@test>"), 3);  // 1 server x 1 retry + 2
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    std::string out = ReadFile(OutputDir() + "s.bin");
    ASSERT_EQ(out.size(), data.size());
    EXPECT_EQ(out.substr(1000), data.substr(1000));  // parts 2 and 3 in place
    // Done as asked, but the user hears that the file has a hole.
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Incomplete);
    EXPECT_NE(filed[0].reason.find("1 of 3 parts missing"), std::string::npos) << filed[0].reason;
    auto messages = host_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("1 of 3 parts missing"), std::string::npos) << messages[0];
}

TEST_F(DownloadQueue, AllPartsMissingWithSkipMissingFails) {
    NewsServer a;
    AddServer(a);
    settings_.ConnectionRetries = 1;
    a.SetReply("BODY", Reply::Line("430 no such article"));
    Queue(Entry("none.bin", 2));
    RunWorkers();
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateFailed);
    EXPECT_EQ(events_.Count(EntryOutcome::Failed), 1);
}

TEST_F(DownloadQueue, BodyCutShortByADroppedConnectionIsFetchedAgain) {
    NewsServer a;
    AddServer(a);
    std::string data = PostYenc({&a}, "d.bin", 6000, 2);
    std::string body = YencPart("d.bin", data, 1, 2, 0, 3000);
    std::string wire;
    AppendWireLines(body, wire);
    a.QueueReply("BODY",
                 Reply::Close("222 0 <d.bin.1@test>\r\n" + wire.substr(0, wire.size() / 2)));
    Queue(Entry("d.bin", 2));
    RunWorkers();

    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(ReadFile(OutputDir() + "d.bin"), data);
    EXPECT_EQ(BodyCount(a, "<d.bin.1@test>"), 2);
    EXPECT_EQ(a.connections_accepted(), 2);
}

TEST_F(DownloadQueue, YencPartFailingItsCheckIsFetchedFromTheNextServer) {
    NewsServer a, b;
    AddServer(a);
    AddServer(b);
    std::string data = PostYenc({&a, &b}, "c.bin", 4000, 2);
    std::string bad = YencPart("c.bin", data, 1, 2, 0, 2000);
    bad[bad.find("=ypart") + 40] ^= 0x01;  // one data byte changed
    std::vector<std::string> lines;
    for (size_t start = 0, nl; (nl = bad.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(bad.substr(start, nl - start));
    a.QueueReply("BODY", Reply::Multi("222 0 <c.bin.1@test>", lines));
    Queue(Entry("c.bin", 2));
    RunWorkers();

    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(ReadFile(OutputDir() + "c.bin"), data);
    EXPECT_EQ(BodyCount(a, "<c.bin.1@test>"), 1);
    EXPECT_EQ(BodyCount(b, "<c.bin.1@test>"), 1);
}

// A server that never ends its body is cut off at the size limit, not read into memory
// without end; the part then comes from the next server.
TEST_F(DownloadQueue, AnEndlessBodyIsCutOffAndThePartIsFetchedFromTheNextServer) {
    NewsServer a, b;
    AddServer(a);
    AddServer(b);
    std::string data = PostYenc({&a, &b}, "e.bin", 4000, 2);
    a.QueueReply("BODY", Reply::Endless("222 0 <e.bin.1@test>\r\n=ybegin part=1 "));
    Queue(Entry("e.bin", 2));
    RunWorkers();

    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(ReadFile(OutputDir() + "e.bin"), data);
    EXPECT_EQ(BodyCount(a, "<e.bin.1@test>"), 1);
    EXPECT_EQ(BodyCount(b, "<e.bin.1@test>"), 1);
}

TEST_F(DownloadQueue, OverLongBodyLinesAreReadWhole) {
    NewsServer a;
    AddServer(a);
    std::string data = MadeUpBytes(5000, 9);
    MemoryCorpus::Article art;
    art.message_id = "<long.1@test>";
    // One yEnc line of about 5000 characters: far beyond a reply buffer.
    std::string body = YencPart("long.bin", data, 1, 1, 0, data.size());
    std::string joined;
    for (size_t start = 0, nl; (nl = body.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = body.substr(start, nl - start);
        bool data_line = line.rfind("=y", 0) != 0;
        joined += line;
        if (!data_line || start + line.size() + 1 >= body.rfind("=yend"))
            joined += "\n";
    }
    art.body = joined;
    a.memory_corpus()->Add("alt.binaries.test", art);
    Queue(Entry("long", 1));
    RunWorkers();
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    EXPECT_EQ(ReadFile(OutputDir() + "long.bin"), data);
}

TEST_F(DownloadQueue, UseFirstServerOneReturnsToTheFirstServerAfterAGoodPart) {
    NewsServer a, b;
    AddServer(a);
    AddServer(b);
    settings_.UseFirstServer = 1;
    PostYenc({&a, &b}, "f.bin", 3000, 3);
    Queue(Entry("f.bin", 3));
    Shared();
    state_->slot(0).server_index.store(1);  // after a fail-over
    RunWorkers();

    EXPECT_EQ(BodyCount(b, "<f.bin.1@test>"), 1);
    EXPECT_EQ(BodyCount(a, "<f.bin.2@test>"), 1);
    EXPECT_EQ(BodyCount(a, "<f.bin.3@test>"), 1);
    EXPECT_EQ(Rows(*log_db_).at(0).state, StateDone);
}

TEST_F(DownloadQueue, TextOnlyPostFailsWithErrorAndItsFileIsDeleted) {
    NewsServer a;
    AddServer(a);
    settings_.DeleteIncomplete = 1;
    MemoryCorpus::Article art;
    art.message_id = "<text.1@test>";
    art.body = "just some words\nand more words\n";
    a.memory_corpus()->Add("alt.binaries.test", art);
    Attachment entry = Entry("text", 1);
    DownloadShared& shared = Shared();
    state_->SetDownloading(true);
    SlotConnection connection;
    EntryResult result = DownloadAttachment(shared, 0, entry, connection);
    EXPECT_EQ(result.outcome, EntryOutcome::Failed);
    EXPECT_EQ(result.reason, "no yEnc, UU or MIME data to decode");
    std::string status = state_->slot(0).status.Get();
    EXPECT_EQ(status.substr(status.size() - 8), " Error!!") << status;

    // A yEnc file whose second part is missing, without SkipMissing: its file goes away.
    std::string data = PostYenc({&a}, "half.bin", 2000, 2);
    Attachment half = Entry("half.bin", 2);
    half.partlist[1].MessageId = "<gone@test>";
    settings_.SkipMissing = 0;
    settings_.ConnectionRetries = 1;
    ApplySettings();
    result = DownloadAttachment(shared, 0, half, connection);
    EXPECT_EQ(result.outcome, EntryOutcome::Failed);
    EXPECT_EQ(result.reason.rfind("part 2 of 2: ", 0), 0u) << result.reason;
    EXPECT_EQ(result.output_path, OutputDir() + "half.bin");
    EXPECT_NE(::access(result.output_path.c_str(), F_OK), 0);
}

TEST_F(DownloadQueue, GrabAndOpenOpensTheFinishedFile) {
    NewsServer a;
    AddServer(a);
    PostYenc({&a}, "open.bin", 1000, 1);
    Queue(Entry("open.bin", 1));
    queue_->AddOpenAfter(Entry("open.bin", 1).Id);
    RunWorkers();
    ASSERT_EQ(host_.opened.size(), 1u);
    EXPECT_EQ(host_.opened[0], OutputDir() + "open.bin");
    EXPECT_FALSE(queue_->IsOpenAfter(Entry("open.bin", 1).Id));
}

// Stop during a download; the server never answers BODY.
class StopDuringDownload : public DownloadQueue, public ::testing::WithParamInterface<bool> {};

TEST_P(StopDuringDownload, EntryIsFiledFailedAndQueuedAgainOnlyWhenAsked) {
    NewsServer a;
    AddServer(a);
    settings_.CancelledBackInQueue = GetParam() ? 1 : 0;
    a.SetReply("BODY", Reply::Silence());
    Queue(Entry("stop.bin", 2));
    Queue(Entry("next.bin", 1));
    StartWorkers();
    ASSERT_TRUE(a.WaitForCommands(3, 5s));  // MODE READER, CAPABILITIES, BODY
    for (int i = 0; i < 100 && Rows(*queue_db_).at(0).state != StateDownloading; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(Rows(*queue_db_).at(0).state, StateDownloading);
    state_->StopAll();
    state_->JoinAll();

    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateFailed);
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Stopped);
    EXPECT_EQ(filed[0].still_queued, GetParam());
    auto queue = Rows(*queue_db_);
    if (GetParam()) {
        ASSERT_EQ(queue.size(), 2u);
        EXPECT_EQ(queue[0].Id, Entry("next.bin", 1).Id);
        EXPECT_EQ(queue[1].Id, Entry("stop.bin", 2).Id);  // at the end
        EXPECT_EQ(queue[1].state, StateQueued);
        Attachment again = queue[1];
        ASSERT_TRUE(queue_db_->LoadParts(again));
        EXPECT_EQ(again.partlist.size(), 2u);
    } else {
        ASSERT_EQ(queue.size(), 1u);
        EXPECT_EQ(queue[0].Id, Entry("next.bin", 1).Id);
        EXPECT_EQ(queue[0].state, StateQueued);
    }
}

INSTANTIATE_TEST_SUITE_P(CancelledBackInQueue, StopDuringDownload, ::testing::Bool());

TEST_F(DownloadQueue, StopOfOneSlotEndsItsEntryAndTheWorkerGoesOnWithTheNext) {
    NewsServer a;
    AddServer(a);
    std::string next = PostYenc({&a}, "next.bin", 1000, 1);
    a.QueueReply("BODY", Reply::Silence());  // the first BODY only
    Queue(Entry("stop.bin", 2));
    Queue(Entry("next.bin", 1));
    StartWorkers();
    ASSERT_TRUE(a.WaitForCommands(3, 5s));  // MODE READER, CAPABILITIES, BODY
    state_->RequestStop(0);
    state_->JoinAll();

    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 2u);
    EXPECT_EQ(filed[0].id, Entry("stop.bin", 2).Id);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Stopped);
    EXPECT_EQ(filed[1].outcome, EntryOutcome::Done);
    EXPECT_EQ(ReadFile(OutputDir() + "next.bin"), next);
    EXPECT_EQ(Count(*queue_db_), 0);
    EXPECT_FALSE(state_->slot(0).stop_requested());  // taken with the stopped entry
    EXPECT_EQ(state_->slot(0).status.Get(), "Ready...");
}

TEST_F(DownloadQueue, EntryTheLogCannotTakeStaysInTheQueueInItsFinalState) {
    NewsServer a;
    AddServer(a);
    std::string data = PostYenc({&a}, "kept.bin", 1000, 1);
    queue_ = std::make_unique<qs::DownloadQueue>(queue_db_, nullptr, &events_);  // no log
    Queue(Entry("kept.bin", 1));
    RunWorkers();  // ends: an entry in its final state is never taken again

    EXPECT_EQ(ReadFile(OutputDir() + "kept.bin"), data);
    auto queue = Rows(*queue_db_);
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].state, StateDone);
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Done);
    EXPECT_TRUE(filed[0].still_queued);
    EXPECT_NE(filed[0].reason.find("not filed in the log"), std::string::npos) << filed[0].reason;
    EXPECT_EQ(Count(*log_db_), 0);
}

TEST_F(DownloadQueue, EntryStoppedBeforeItBeganWaitsAtTheEndWithItsParts) {
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        Queue(Entry(name, 2));
    std::optional<Attachment> taken = queue_->Take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->filename, "a.bin (1/2)");
    queue_->PutBack(*taken, EntryOutcome::Stopped, "stopped");

    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].filename, "a.bin (1/2)");
    EXPECT_EQ(rows[2].state, StateQueued);
    ASSERT_TRUE(queue_db_->LoadParts(rows[2]));
    EXPECT_EQ(rows[2].partlist.size(), 2u);
    // The next worker takes what now stands first.
    std::optional<Attachment> next = queue_->Take();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->filename, "b.bin (1/2)");
}

// A link planted in the download directory under the file's name is never written
// through, with RenameExisting off as it is by default: the download gets a name of its own.
TEST_F(DownloadQueue, ALinkInTheWayIsNotFollowedOutOfTheDirectory) {
    NewsServer a;
    AddServer(a);
    std::string data = PostYenc({&a}, "good.bin", 1000, 1);
    WriteFile(dir_.File("outside"), "precious");
    ASSERT_EQ(::symlink(dir_.File("outside").c_str(), (OutputDir() + "good.bin").c_str()), 0);
    settings_.RenameExisting = 0;
    Queue(Entry("good.bin", 1));
    RunWorkers();

    EXPECT_EQ(ReadFile(dir_.File("outside")), "precious");
    EXPECT_EQ(ReadFile(OutputDir() + "good_1.bin"), data);
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Done);
    EXPECT_EQ(filed[0].output_path, OutputDir() + "good_1.bin");
}

// A yEnc file whose last part carries a whole-file crc32 that does not match: a warning
// when every part matched its own pcrc32 (the trailer is wrong, the bytes are as posted);
// damage when the parts carried none, failed unless SkipMissing lets it be kept.
TEST_F(DownloadQueue, AWholeFileChecksumMismatchIsNeverSimplyDone) {
    NewsServer a;
    AddServer(a);
    auto post = [&](const std::string& name, bool part_crcs) {
        std::string data = MadeUpBytes(3000, 7);
        for (int p = 1; p <= 3; ++p) {
            MemoryCorpus::Article article;
            article.subject = name + " (" + std::to_string(p) + "/3)";
            article.message_id = "<" + name + "." + std::to_string(p) + "@test>";
            std::string body = YencPart(name, data, p, 3, 1000 * static_cast<size_t>(p - 1),
                                        1000 * static_cast<size_t>(p));
            if (!part_crcs)
                body = body.substr(0, body.find(" pcrc32=")) + "\n";
            if (p == 3) {
                body.pop_back();
                body += " crc32=00000bad\n";
            }
            article.body = body;
            a.memory_corpus()->Add("alt.binaries.test", article);
        }
        return data;
    };
    std::string checked = post("checked.bin", true);
    post("unchecked.bin", false);
    settings_.SkipMissing = 0;
    Queue(Entry("checked.bin", 3));
    Queue(Entry("unchecked.bin", 3));
    RunWorkers();

    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 2u);
    std::sort(filed.begin(), filed.end(),
              [](const FiledEntry& x, const FiledEntry& y) { return x.filename < y.filename; });
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Done);
    EXPECT_EQ(filed[0].reason.rfind("warning: its whole-file CRC-32 does not match", 0), 0u)
        << filed[0].reason;
    EXPECT_EQ(ReadFile(OutputDir() + "checked.bin"), checked);
    EXPECT_EQ(filed[1].outcome, EntryOutcome::Failed);
    EXPECT_EQ(filed[1].reason, "the file is damaged: its whole-file CRC-32 does not match");
    auto log = Rows(*log_db_);
    ASSERT_EQ(log.size(), 2u);
    for (const Attachment& row : log)
        EXPECT_FALSE(row.reason.empty()) << row.filename;
}

// A part that fails its check on every server is kept as it came under SkipMissing: the
// entry says it is damaged, not that a part is missing.
TEST_F(DownloadQueue, APartFailingItsCheckEverywhereIsKeptAsDamaged) {
    NewsServer a;
    AddServer(a);
    std::string data = MadeUpBytes(500, 3);
    MemoryCorpus::Article article;
    article.subject = "bent.bin (1/1)";
    article.message_id = "<bent.bin.1@test>";
    std::string body = YencPart("bent.bin", data, 1, 1, 0, data.size());
    body = body.substr(0, body.find(" pcrc32=")) + " pcrc32=00000bad\n";
    article.body = body;
    a.memory_corpus()->Add("alt.binaries.test", article);
    settings_.SkipMissing = 1;
    settings_.ConnectionRetries = 1;
    Queue(Entry("bent.bin", 1));
    RunWorkers();

    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Incomplete);
    EXPECT_EQ(filed[0].reason.rfind("1 of 1 parts damaged (kept as they came)", 0), 0u)
        << filed[0].reason;
    EXPECT_EQ(ReadFile(OutputDir() + "bent.bin"), data);  // the bytes as posted
}

// A disk that takes no more stops the downloads and leaves every entry queued, with the
// reason told; nothing is filed as failed. (A 16 KiB tmpfs stands in for a full disk; the
// test is skipped where mounting one is not allowed.)
TEST_F(DownloadQueue, AFullDiskStopsTheDownloadsAndLeavesTheEntriesQueued) {
    const std::string small = dir_.File("small");
    ::mkdir(small.c_str(), 0700);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{small};
    NewsServer a;
    AddServer(a);
    PostYenc({&a}, "big1.bin", 40000, 2, 1);
    PostYenc({&a}, "big2.bin", 40000, 2, 2);
    for (const char* name : {"big1.bin", "big2.bin"}) {
        Attachment entry = Entry(name, 2);
        entry.dir = small + "/";
        Queue(entry);
    }
    RunWorkers();

    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::DiskFull);
    EXPECT_TRUE(filed[0].still_queued);
    EXPECT_NE(filed[0].reason.find("No space left on device"), std::string::npos)
        << filed[0].reason;
    auto queue = Rows(*queue_db_);
    ASSERT_EQ(queue.size(), 2u);
    for (const Attachment& row : queue)
        EXPECT_EQ(row.state, StateQueued) << row.filename;
    EXPECT_EQ(Count(*log_db_), 0);
    auto messages = host_.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().rfind("Downloads stopped: Cannot write ", 0), 0u) << messages.back();
}

TEST_F(DownloadQueue, OutputThatCannotBeCreatedFailsAndSaysWhy) {
    NewsServer a;
    AddServer(a);
    PostYenc({&a}, "w.bin", 2000, 2);
    Attachment entry = Entry("w.bin", 2);
    entry.dir = OutputDir() + "missing/";  // nobody created it
    Queue(entry);
    RunWorkers();
    ASSERT_EQ(Rows(*log_db_).size(), 1u);
    EXPECT_EQ(Rows(*log_db_)[0].state, StateFailed);
    auto messages = host_.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(),
              "Cannot write " + OutputDir() + "missing/w.bin: No such file or directory");
}

TEST_F(DownloadQueue, EntriesLeftDownloadingReturnToTheQueueAndDeadServersEndTheWorker) {
    Attachment entry = Entry("left.bin", 1);
    entry.state = StateDownloading;
    Queue(entry);
    Queue(Entry("other.bin", 1));
    EXPECT_EQ(queue_->RequeueInterrupted(), 1);
    EXPECT_EQ(Rows(*queue_db_).at(0).state, StateQueued);

    // Nobody listens: the worker gives up after ConnectionRetries rounds and the entry
    // waits in the queue, still queued.
    ServerEntry dead;
    dead.host = "127.0.0.1";
    dead.port = UnusedLoopbackPort();
    settings_.servers = {dead};
    settings_.ConnectionRetries = 1;
    RunWorkers();
    auto queue = Rows(*queue_db_);
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0].state, StateQueued);
    EXPECT_EQ(queue[1].state, StateQueued);
    EXPECT_EQ(Count(*log_db_), 0);
    auto filed = events_.Filed();
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].outcome, EntryOutcome::Unreachable);
    EXPECT_TRUE(filed[0].still_queued);
    EXPECT_EQ(state_->slot(0).status.Get(), "No news server could be reached");
}

}  // namespace
}  // namespace qs::test
