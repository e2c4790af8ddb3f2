#include "db/header_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/host.h"
#include "db/header_view.h"
#include "db/part_runs.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::TempDir;

class RecordingHost : public Host {
  public:
    void ShowMessage(const std::string& text, Icon icon) override {
        std::lock_guard<std::mutex> lock(mu);
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool AskYesNo(const std::string&) override { return false; }
    void Refresh() override {}
    std::mutex mu;
    std::vector<std::string> messages;
    std::vector<Icon> icons;
};

MessageVars Part(const std::string& msgid, int64_t article, int64_t bytes, int partnum = 1) {
    MessageVars p;
    p.MessageId = msgid;
    p.ArticleId = article;
    p.bytes = bytes;
    p.lines = bytes / 100;
    p.partnum = partnum;
    return p;
}

Attachment Att(const std::string& id, int parts, int state = 0, int isnew = 1) {
    Attachment a;
    a.Id = id;
    a.filename = id;
    a.email = "poster@example.com";
    a.parts = parts;
    a.state = state;
    a.isnew = isnew;
    a.newsgroup = "alt.test";
    a.dir = "/downloads";
    return a;
}

// SQLite's own check of the file, and every part belonging to a stored attachment.
void ExpectConsistentFile(const std::string& path) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    for (const char* sql : {"PRAGMA integrity_check",
                            "SELECT count(*) FROM MessageVars m WHERE NOT EXISTS("
                            "SELECT 1 FROM Attachment a WHERE a.partkey=m.partkey)"}) {
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(raw, sql, -1, &s, nullptr), SQLITE_OK) << sql;
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                     sql[0] == 'P' ? "ok" : "0")
            << sql;
        sqlite3_finalize(s);
    }
    sqlite3_close(raw);
}

void ExpectConsistent(Group& g, const std::string& path);

class HeaderDbTest : public ::testing::Test {
  protected:
    Group Open(const std::string& name) {
        Group g;
        g.name = name;
        EXPECT_TRUE(OpenHeaderDatabase(g, Env()));
        return g;
    }
    DbEnv Env() { return DbEnv{dir.File("data"), &host}; }
    static Attachment Row(HeaderView& view, int64_t row) {
        Attachment a;
        EXPECT_TRUE(view.AttachmentAt(row, a)) << "row " << row;
        return a;
    }
    static std::vector<std::string> Ids(HeaderView& view) {
        std::vector<std::string> ids;
        int64_t n = view.CountRows();
        for (int64_t r = 0; r < n; ++r)
            ids.push_back(Row(view, r).Id);
        return ids;
    }
    // What a fresh view in stored order shows.
    static std::vector<std::string> Ids(Group& g) {
        HeaderView view(g.db);
        return Ids(view);
    }

    TempDir dir;
    RecordingHost host;
};

TEST_F(HeaderDbTest, ScannedPartsGrowAnAttachmentUntilComplete) {
    Group g = Open("alt.test");
    HeaderView view(g.db);
    auto p1 = Part("<a1@x>", 101, 300000, 1), p2 = Part("<a2@x>", 102, 200000, 2),
         p3 = Part("<a3@x>", 103, 100000, 3);
    ASSERT_TRUE(g.db->StoreAttachment(&p1, Att("file.rar", 3)));
    ASSERT_TRUE(g.db->StoreAttachment(&p2, Att("file.rar", 3)));
    Attachment a = Row(view, 0);
    EXPECT_EQ(a.state, StateIncomplete);
    EXPECT_EQ(a.partcount, 2);
    EXPECT_EQ(a.bytes, 500000);
    EXPECT_EQ(a.lines, 5000);
    ASSERT_TRUE(g.db->StoreAttachment(&p3, Att("file.rar", 3)));
    EXPECT_EQ(view.CountRows(), 1);
    a = Row(view, 0);
    EXPECT_EQ(a.state, StateComplete);
    EXPECT_EQ(a.partcount, 3);
    EXPECT_EQ(g.db->kb_total(), 300000 / 1024 + 200000 / 1024 + 100000 / 1024);

    // A single-part post is complete at once and keyed apart from a same-named one.
    auto s1 = Part("<s1@x>", 104, 5000);
    ASSERT_TRUE(g.db->StoreAttachment(&s1, Att("<s1@x>", 1)));
    EXPECT_EQ(view.CountRows(), 2);
    EXPECT_EQ(Row(view, 1).state, StateComplete);
    EXPECT_EQ(g.db->HighestArticleId(), 104);

    ASSERT_TRUE(g.db->LoadParts(a));
    ASSERT_EQ(a.partlist.size(), 3u);
    EXPECT_EQ(a.partlist[0], (MessageVars{"<a1@x>", "file.rar", 101, 3000, 300000, 1}));
    EXPECT_EQ(a.partlist[2].partnum, 3);

    // Everything survives a reopen, and the KB total is recounted from the rows.
    g.db.reset();
    Group again = Open("alt.test");
    EXPECT_EQ(again.db->CountView({}), 2);
    EXPECT_EQ(again.db->kb_total(), 600000 / 1024 + 5000 / 1024);
    EXPECT_EQ(again.db->HighestArticleId(), 104);
}

TEST_F(HeaderDbTest, AnArticleStoredAlreadyIsNotCountedAgain) {
    Group g = Open("alt.test");
    HeaderView view(g.db);
    auto p1 = Part("<a1@x>", 101, 300000, 1);
    ASSERT_TRUE(g.db->StoreAttachment(&p1, Att("file.rar", 2)));
    ASSERT_TRUE(g.db->StoreAttachment(&p1, Att("file.rar", 2, 0, 0)));
    Attachment a = Row(view, 0);
    EXPECT_EQ(a.partcount, 1);
    EXPECT_EQ(a.bytes, 300000);
    EXPECT_EQ(a.isnew, 1);  // a repeat changes nothing
    EXPECT_EQ(g.db->kb_total(), 300000 / 1024);
    ASSERT_TRUE(g.db->LoadParts(a));
    EXPECT_EQ(a.partlist.size(), 1u);
}

// The parts of an attachment go into runs: a long batch splits them, later transactions add
// runs of their own, and a repeat is told from the stored runs as well as from the parts of
// its own batch. A run that does not read back fails the reads and merges of its attachment
// with the damage reported, and leaves every other attachment alone.
TEST_F(HeaderDbTest, PartsAreStoredOnceInRunsAcrossBatches) {
    Group g = Open("alt.test");
    const int first_batch = 2500;  // over two runs' worth
    {
        DbBatch batch(g.db);
        for (int i = first_batch; i >= 1; --i) {
            auto p = Part("<p" + std::to_string(i) + "@x>", 1000 + i, 2048, i);
            ASSERT_TRUE(g.db->StoreAttachment(&p, Att("big.rar", 3000)));
            ASSERT_TRUE(g.db->StoreAttachment(&p, Att("big.rar", 3000)));  // repeat in batch
        }
    }
    {
        DbBatch batch(g.db);
        for (int i = first_batch - 9; i <= 3000; ++i) {  // ten repeats of stored runs first
            auto p = Part("<p" + std::to_string(i) + "@x>", 1000 + i, 2048, i);
            ASSERT_TRUE(g.db->StoreAttachment(&p, Att("big.rar", 3000)));
        }
        auto other = Part("<o1@x>", 5000, 100, 1);
        ASSERT_TRUE(g.db->StoreAttachment(&other, Att("other.rar", 2)));
    }
    Attachment a = Att("big.rar", 3000);
    ASSERT_TRUE(g.db->LoadParts(a));
    ASSERT_EQ(a.partlist.size(), 3000u);
    for (int i = 0; i < 3000; ++i) {
        MessageVars expected = Part("<p" + std::to_string(i + 1) + "@x>", 1001 + i, 2048, i + 1);
        expected.attachment = "big.rar";
        ASSERT_EQ(a.partlist[i], expected) << i;
    }
    HeaderView view(g.db);
    EXPECT_EQ(Row(view, 0).partcount, 3000);
    EXPECT_EQ(Row(view, 0).state, StateComplete);
    EXPECT_EQ(g.db->HighestArticleId(), 5000);
    const std::string path = g.db->path();
    g.db.reset();
    ExpectConsistentFile(path);

    // The first run of big.rar loses its last bytes.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "UPDATE MessageVars SET parts=substr(parts,1,length(parts)-3) "
                           "WHERE partkey=(SELECT partkey FROM Attachment WHERE Id='big.rar') "
                           "AND seq=1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    g = Open("alt.test");
    EXPECT_FALSE(g.db->LoadParts(a));
    EXPECT_NE(g.db->last_error().find("damaged"), std::string::npos) << g.db->last_error();
    auto more = Part("<p3001@x>", 4001, 2048, 3001);
    EXPECT_FALSE(g.db->StoreAttachment(&more, Att("big.rar", 3000)));
    auto o2 = Part("<o2@x>", 5001, 100, 2);
    ASSERT_TRUE(g.db->StoreAttachment(&o2, Att("other.rar", 2)));
    Attachment other = Att("other.rar", 2);
    ASSERT_TRUE(g.db->LoadParts(other));
    EXPECT_EQ(other.partlist.size(), 2u);
}

// Runs are written in their stored form; a file of an earlier build holds them in the plain
// form, and both read alike and take more parts.
TEST_F(HeaderDbTest, RunsOfEitherFormReadAndTakeMoreParts) {
    Group g = Open("alt.test");
    const std::string long_id = "<" + std::string(600, 'q') + "@x>";  // shares nothing
    std::vector<MessageVars> parts = {Part("<part1of5.Xy9@poster.example>", 7001, 384000, 1),
                                      Part("<part2of5.Xy9@poster.example>", 7002, 384000, 2),
                                      Part(long_id, 6999, 1, 3),
                                      Part("<part3of5.Xy9@poster.example>", 7003, 384000, 3),
                                      Part("<part5of5.Xy9@poster.example>", 7005, 384000, 5)};
    {
        DbBatch batch(g.db);
        for (const MessageVars& p : parts)
            ASSERT_TRUE(g.db->StoreAttachment(&p, Att("post.rar", 5)));
    }
    const std::string path = g.db->path();
    g.db.reset();

    // The run as an earlier build wrote it.
    std::string plain;
    for (const MessageVars& p : parts)
        part_runs::Append(plain, {p.MessageId, p.ArticleId, p.lines, p.bytes, p.partnum});
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* stored = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT parts FROM MessageVars", -1, &stored, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stored), SQLITE_ROW);
    const int stored_size = sqlite3_column_bytes(stored, 0);
    EXPECT_EQ(static_cast<const char*>(sqlite3_column_blob(stored, 0))[0], part_runs::kStoredMark);
    EXPECT_LT(stored_size, static_cast<int>(plain.size()) - 30);  // the shared text is left out
    sqlite3_finalize(stored);
    sqlite3_stmt* update = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "UPDATE MessageVars SET parts=?", -1, &update, nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(update, 1, plain.data(), static_cast<int>(plain.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(update), SQLITE_DONE);
    sqlite3_finalize(update);
    sqlite3_close(raw);

    g = Open("alt.test");
    auto more = Part("<part4of5.Xy9@poster.example>", 7004, 384000, 4);
    ASSERT_TRUE(g.db->StoreAttachment(&parts[1], Att("post.rar", 5)));  // stored already
    ASSERT_TRUE(g.db->StoreAttachment(&more, Att("post.rar", 5)));
    parts.push_back(more);
    Attachment a = Att("post.rar", 5);
    ASSERT_TRUE(g.db->LoadParts(a));
    std::sort(parts.begin(), parts.end(), [](const MessageVars& a, const MessageVars& b) {
        return a.partnum != b.partnum ? a.partnum < b.partnum : a.MessageId < b.MessageId;
    });
    ASSERT_EQ(a.partlist.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        parts[i].attachment = "post.rar";
        EXPECT_EQ(a.partlist[i], parts[i]) << i;
    }
    HeaderView view(g.db);
    EXPECT_EQ(Row(view, 0).partcount, 6);
    EXPECT_EQ(g.db->HighestArticleId(), 7005);
}

// Sizes come from the server's overview, saturated at the 64-bit limits: the totals of an
// attachment stop at the limit instead of overflowing.
TEST_F(HeaderDbTest, HugeOverviewSizesSaturateTheTotals) {
    Group g = Open("alt.test");
    HeaderView view(g.db);
    auto big1 = Part("<b1@x>", 1, INT64_MAX, 1), big2 = Part("<b2@x>", 2, INT64_MAX, 2);
    auto low1 = Part("<l1@x>", 3, INT64_MIN, 1), low2 = Part("<l2@x>", 4, INT64_MIN, 2);
    big1.lines = big2.lines = INT64_MAX;
    for (const MessageVars* p : {&big1, &big2})
        ASSERT_TRUE(g.db->StoreAttachment(p, Att("big.rar", 3)));
    for (const MessageVars* p : {&low1, &low2})
        ASSERT_TRUE(g.db->StoreAttachment(p, Att("low.rar", 3)));
    Attachment big = Row(view, 0), low = Row(view, 1);
    EXPECT_EQ(big.bytes, INT64_MAX);
    EXPECT_EQ(big.lines, INT64_MAX);
    EXPECT_EQ(big.partcount, 2);
    EXPECT_EQ(low.bytes, INT64_MIN);
    EXPECT_EQ(low.partcount, 2);

    // The file opens again, and the recounted total neither overflows nor goes below 0,
    // however many such rows there are.
    for (int i = 0; i < 1100; ++i) {
        auto part = Part("<h" + std::to_string(i) + "@x>", 10 + i, INT64_MAX, 1);
        ASSERT_TRUE(g.db->StoreAttachment(&part, Att("huge" + std::to_string(i), 1)));
    }
    g.db.reset();
    Group again = Open("alt.test");
    ASSERT_TRUE(again.db);
    EXPECT_EQ(again.db->TotalKilobytes(), INT64_MAX);
}

TEST_F(HeaderDbTest, QueuedOrFinishedAttachmentsKeepTheirStateAgainstAScan) {
    Group g = Open("alt.test");
    HeaderView view(g.db);
    auto p1 = Part("<a1@x>", 1, 1000, 1), p2 = Part("<a2@x>", 2, 1000, 2);
    ASSERT_TRUE(g.db->StoreAttachment(&p1, Att("f", 2)));
    Attachment queued = Att("f", 2, StateDownloading);
    ASSERT_TRUE(g.db->SetAttachmentState(queued));
    // A scanned header carries state 0: the stored 4 stays.
    ASSERT_TRUE(g.db->StoreAttachment(&p2, Att("f", 2, 0)));
    Attachment a = Row(view, 0);
    EXPECT_EQ(a.state, StateDownloading);
    EXPECT_EQ(a.partcount, 2);
    // The queue and log paths hand in the state they want.
    ASSERT_TRUE(g.db->StoreAttachment(nullptr, Att("f", 2, StateFailed)));
    EXPECT_EQ(Row(view, 0).state, StateFailed);
    // Below 3 the state is recomputed, whatever comes in.
    ASSERT_TRUE(g.db->SetAttachmentState(Att("f", 2, StateComplete)));
    ASSERT_TRUE(g.db->StoreAttachment(nullptr, Att("f", 2, StateQueued)));
    EXPECT_EQ(Row(view, 0).state, StateComplete);
}

TEST_F(HeaderDbTest, QueueAndLogTakeAttachmentsWithTheirParts) {
    Group queue = Open("queue");
    Group log = Open("log");
    HeaderView queue_view(queue.db), log_view(log.db);
    Attachment a = Att("movie", 3, StateQueued, 0);
    a.partcount = 3;
    a.bytes = 3 * 400000;
    for (int n : {3, 1, 2}) {
        MessageVars p = Part("<m" + std::to_string(n) + "@x>", n, 400000, n);
        p.attachment = "movie";
        a.partlist.push_back(p);
    }
    ASSERT_TRUE(queue.db->StoreAttachment(nullptr, a));
    Attachment q = Row(queue_view, 0);
    EXPECT_EQ(q.state, StateQueued);
    EXPECT_EQ(q.partcount, 3);
    EXPECT_EQ(queue.db->kb_total(), 1200000 / 1024);
    ASSERT_TRUE(queue.db->LoadParts(q));
    ASSERT_EQ(q.partlist.size(), 3u);
    EXPECT_EQ(q.partlist[0].partnum, 1);
    EXPECT_EQ(q.partlist[2].MessageId, "<m3@x>");

    // Filed in the log as done; filed again it takes the new state, its parts once.
    q.state = StateDone;
    ASSERT_TRUE(log.db->StoreAttachment(nullptr, q));
    ASSERT_TRUE(queue.db->RemoveAttachment(q));
    EXPECT_EQ(queue_view.CountRows(), 0);
    EXPECT_EQ(queue.db->kb_total(), 0);
    q.state = StateFailed;
    ASSERT_TRUE(log.db->StoreAttachment(nullptr, q));
    EXPECT_EQ(log_view.CountRows(), 1);
    Attachment l = Row(log_view, 0);
    EXPECT_EQ(l.state, StateFailed);
    ASSERT_TRUE(log.db->LoadParts(l));
    EXPECT_EQ(l.partlist.size(), 3u);
    Attachment gone = Att("movie", 3);
    ASSERT_TRUE(queue.db->LoadParts(gone));
    EXPECT_TRUE(gone.partlist.empty());

    // Neither filters, sorts nor hides: every row in stored order, whatever the view asks.
    queue_view.SetFilter("nothing matches");
    queue_view.SetHideIncomplete(true);
    ASSERT_TRUE(queue.db->StoreAttachment(nullptr, a));
    ASSERT_TRUE(queue.db->StoreAttachment(nullptr, Att("incomplete", 2, StateIncomplete)));
    EXPECT_EQ(queue_view.CountRows(), 2);
    EXPECT_EQ(queue.db->CountView(ViewQuery{.order = "nonsense"}), 2);
    Attachment small = Att("small", 1, StateDone);
    small.bytes = 10;
    ASSERT_TRUE(log.db->StoreAttachment(nullptr, small));
    ASSERT_TRUE(log_view.SetOrder("bytes"));
    EXPECT_EQ(Ids(log_view), (std::vector<std::string>{"movie", "small"}));
}

class ViewTest : public HeaderDbTest {
  protected:
    void SetUp() override {
        g = Open("alt.view");
        // name, parts present, parts announced, bytes per part
        struct Row {
            const char* name;
            int present, parts;
            int64_t bytes;
        };
        const Row rows[] = {{"Holiday ABC.jpg", 1, 1, 5000},
                            {"zebra.rar", 2, 3, 100},
                            {"xabcx.nfo", 1, 1, 70000},
                            {"Mixed.AbC.part", 1, 2, 9000},
                            {"plain.txt", 1, 1, 10}};
        int article = 0;
        for (const Row& r : rows)
            for (int p = 1; p <= r.present; ++p) {
                ++article;
                MessageVars part = Part("<" + std::to_string(article) + "@v>", article, r.bytes, p);
                ASSERT_TRUE(g.db->StoreAttachment(&part, Att(r.name, r.parts)));
            }
    }
    Group g;
};

TEST_F(ViewTest, FilterIncompleteAndOrderSelectTheRows) {
    HeaderView v(g.db);
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"Holiday ABC.jpg", "zebra.rar", "xabcx.nfo",
                                                "Mixed.AbC.part", "plain.txt"}));
    ASSERT_TRUE(v.SetOrder("filename"));
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"Holiday ABC.jpg", "Mixed.AbC.part", "plain.txt",
                                                "xabcx.nfo", "zebra.rar"}));
    ASSERT_TRUE(v.SetOrder("bytes desc"));
    EXPECT_EQ(Row(v, 0).Id, "xabcx.nfo");

    // The filter is a case-insensitive substring of the file name.
    v.SetFilter("ABC");
    EXPECT_EQ(v.filter(), "abc");
    EXPECT_EQ(v.CountRows(), 3);
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"xabcx.nfo", "Mixed.AbC.part", "Holiday ABC.jpg"}));
    v.SetHideIncomplete(true);
    EXPECT_EQ(v.CountRows(), 2);
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"xabcx.nfo", "Holiday ABC.jpg"}));
    v.SetFilter("");
    EXPECT_EQ(v.CountRows(), 3);  // without a filter, only "state != 2"
    v.SetHideIncomplete(false);
    // The store lowers a query's filter itself.
    EXPECT_EQ(g.db->CountView(ViewQuery{.filter = "MIXED"}), 1);

    // Filter text is data, never query text.
    v.SetFilter("%' OR 1=1 --");
    EXPECT_EQ(v.CountRows(), 0);
    v.SetFilter("_");
    EXPECT_EQ(v.CountRows(), 0);
    v.SetFilter("");

    // Beyond the end: not found, nothing cached.
    Attachment none;
    EXPECT_FALSE(v.AttachmentAt(5, none));
    EXPECT_FALSE(v.AttachmentAt(-1, none));
    EXPECT_TRUE(v.FillRowCache(3, 10));
    EXPECT_EQ(Row(v, 4).Id, "plain.txt");
}

TEST_F(ViewTest, OnlyKnownOrderTextsAreAccepted) {
    HeaderView v(g.db);
    ASSERT_TRUE(v.SetOrder("date"));
    EXPECT_FALSE(v.SetOrder("filename; DROP TABLE Attachment"));
    EXPECT_FALSE(v.SetOrder("bytes asc desc"));
    EXPECT_FALSE(v.SetOrder("partcount"));
    EXPECT_EQ(v.order(), "date");
    ASSERT_TRUE(v.SetOrder("EMAIL DESC"));
    EXPECT_EQ(v.order(), "email desc");
    EXPECT_EQ(v.CountRows(), 5);
    // A group column is an order a view accepts; on a newsgroup it is the stored order.
    ASSERT_TRUE(v.SetOrder("lastscanned"));
    EXPECT_EQ(Row(v, 0).Id, "Holiday ABC.jpg");

    // Asked straight, the store refuses what a view would.
    std::string canonical = "x";
    EXPECT_TRUE(HeaderDatabase::AcceptOrder("  ", canonical));
    EXPECT_EQ(canonical, "");
    std::vector<Attachment> rows;
    EXPECT_FALSE(g.db->ReadView(ViewQuery{.order = "bytes; DELETE FROM Attachment"}, 0, 5, rows));
    EXPECT_EQ(g.db->CountView(ViewQuery{.order = "nonsense"}), -1);
    EXPECT_EQ(g.db->CountView({}), 5);
}

TEST_F(ViewTest, CachedRowsFollowEveryWriteOfTheStore) {
    HeaderView v(g.db);
    ASSERT_TRUE(v.FillRowCache(0, 5));
    Attachment a = Row(v, 1);
    ASSERT_EQ(a.Id, "zebra.rar");
    a.state = StateQueued;
    ASSERT_TRUE(g.db->SetAttachmentState(a));
    EXPECT_EQ(Row(v, 1).state, StateQueued);

    // Removing moves the rows up; the KB total follows.
    int64_t kb = g.db->kb_total();
    ASSERT_TRUE(g.db->RemoveAttachments({Row(v, 0), Row(v, 2)}));
    EXPECT_EQ(g.db->kb_total(), kb - 5000 / 1024 - 70000 / 1024);
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"zebra.rar", "Mixed.AbC.part", "plain.txt"}));
    EXPECT_EQ(g.db->TotalKilobytes(), 0 + 9000 / 1024 + 0);

    // isnew marks go at the next scan.
    EXPECT_EQ(Row(v, 0).isnew, 1);
    ASSERT_TRUE(g.db->ClearNewFlags());
    for (int64_t r = 0; r < 3; ++r)
        EXPECT_EQ(Row(v, r).isnew, 0);

    ASSERT_TRUE(g.db->Empty());
    EXPECT_EQ(v.CountRows(), 0);
    Attachment none;
    EXPECT_FALSE(v.AttachmentAt(0, none));
    EXPECT_EQ(g.db->kb_total(), 0);
    EXPECT_EQ(g.db->HighestArticleId(), 0);
}

// Each window owns its view: filters, orders and caches never leak between views, and a
// write through the store reaches every view at its next read. A second connection to the
// file writes behind the store's back: a row it changed that a view still shows the old way
// was served from that view's cache.
TEST_F(ViewTest, TwoViewsOverOneDatabaseKeepTheirOwnRowsAndCaches) {
    using Names = std::vector<std::string>;
    HeaderView files(g.db), big(g.db);
    files.SetFilter("ABC");
    ASSERT_TRUE(files.SetOrder("filename"));
    ASSERT_TRUE(big.SetOrder("bytes desc"));
    big.SetHideIncomplete(true);
    EXPECT_EQ(Ids(files), (Names{"Holiday ABC.jpg", "Mixed.AbC.part", "xabcx.nfo"}));
    EXPECT_EQ(Ids(big), (Names{"xabcx.nfo", "Holiday ABC.jpg", "plain.txt"}));
    ASSERT_TRUE(files.FillRowCache(0, 3));
    ASSERT_TRUE(big.FillRowCache(0, 3));

    Group behind = Open("alt.view");
    ASSERT_TRUE(behind.db->SetAttachmentState(Att("xabcx.nfo", 1, StateDone)));

    // One view re-filters, counts and reads; the other's cache stays usable, through its
    // own count too.
    big.SetFilter("X");
    EXPECT_EQ(big.CountRows(), 2);
    EXPECT_EQ(Row(big, 0).state, StateDone);  // read afresh
    EXPECT_EQ(files.CountRows(), 3);
    EXPECT_EQ(Row(files, 2).Id, "xabcx.nfo");
    EXPECT_EQ(Row(files, 2).state, StateComplete);  // cached
    EXPECT_EQ(Row(big, 1).Id, "plain.txt");

    // Writes through the store: both views read again, each with its own query.
    ASSERT_TRUE(g.db->SetAttachmentState(Att("Holiday ABC.jpg", 1, StateQueued)));
    auto part = Part("<new@v>", 99, 100000);
    ASSERT_TRUE(g.db->StoreAttachment(&part, Att("xyz ABC.iso", 1)));
    EXPECT_EQ(Ids(files), (Names{"Holiday ABC.jpg", "Mixed.AbC.part", "xabcx.nfo", "xyz ABC.iso"}));
    EXPECT_EQ(Row(files, 0).state, StateQueued);
    EXPECT_EQ(Row(files, 2).state, StateDone);
    EXPECT_EQ(Ids(big), (Names{"xyz ABC.iso", "xabcx.nfo", "plain.txt"}));

    // A cache filled at the first read stays in use until the next write.
    ASSERT_TRUE(files.FillRowCache(0, 4));
    ASSERT_TRUE(behind.db->SetAttachmentState(Att("xyz ABC.iso", 1, StateFailed)));
    EXPECT_EQ(Row(files, 3).state, StateComplete);
    files.Invalidate();
    EXPECT_EQ(Row(files, 3).state, StateFailed);
}

// The write scope's failure path: a write the file refuses (here through triggers another
// connection installs) reports false and rolls back all it began, an open batch included;
// the database stays usable.
TEST_F(ViewTest, AFailedWriteReportsFalseAndRollsBackItsBatch) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(g.db->path().c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TRIGGER refuse_done BEFORE UPDATE OF state ON Attachment "
                           "WHEN NEW.state=5 BEGIN SELECT RAISE(ABORT,'refused'); END;"
                           "CREATE TRIGGER keep_plain BEFORE DELETE ON Attachment "
                           "WHEN OLD.Id='plain.txt' BEGIN SELECT RAISE(ABORT,'kept'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    HeaderView v(g.db);
    ASSERT_TRUE(v.FillRowCache(0, 5));
    const int64_t kb = g.db->kb_total();
    {
        DbBatch batch(g.db);
        auto part = Part("<batched@v>", 50, 400000);
        ASSERT_TRUE(g.db->StoreAttachment(&part, Att("batched.bin", 1)));
        EXPECT_EQ(v.CountRows(), 6);
        EXPECT_FALSE(g.db->SetAttachmentState(Att("zebra.rar", 3, StateDone)));
    }
    EXPECT_EQ(v.CountRows(), 5);
    EXPECT_EQ(g.db->kb_total(), kb);
    EXPECT_EQ(Row(v, 1).state, StateIncomplete);

    EXPECT_FALSE(g.db->RemoveAttachments({Att("xabcx.nfo", 1), Att("plain.txt", 1)}));
    EXPECT_EQ(Ids(v), (std::vector<std::string>{"Holiday ABC.jpg", "zebra.rar", "xabcx.nfo",
                                                "Mixed.AbC.part", "plain.txt"}));
    EXPECT_EQ(g.db->kb_total(), kb);

    ASSERT_TRUE(g.db->SetAttachmentState(Att("zebra.rar", 3, StateQueued)));
    EXPECT_EQ(Row(v, 1).state, StateQueued);
    ExpectConsistentFile(g.db->path());
}

TEST_F(HeaderDbTest, SwapAndMoveToTopReorderTheQueueWithTheirParts) {
    Group q = Open("queue");
    HeaderView view(q.db);
    for (const char* id : {"a", "b", "c", "d"}) {
        Attachment a = Att(id, 1, StateQueued);
        MessageVars p = Part(std::string("<") + id + "@q>", 1, 1024);
        p.attachment = id;
        a.partlist.push_back(p);
        a.bytes = 1024;
        ASSERT_TRUE(q.db->StoreAttachment(nullptr, a));
    }
    ASSERT_TRUE(view.FillRowCache(0, 4));
    ASSERT_TRUE(q.db->SwapRows(0, 2));
    EXPECT_EQ(Ids(view), (std::vector<std::string>{"c", "b", "a", "d"}));
    ASSERT_TRUE(q.db->MoveRowToTop(3));
    EXPECT_EQ(Ids(view), (std::vector<std::string>{"d", "c", "b", "a"}));
    EXPECT_FALSE(q.db->SwapRows(1, 9));
    EXPECT_FALSE(q.db->MoveRowToTop(4));
    EXPECT_EQ(Ids(view), (std::vector<std::string>{"d", "c", "b", "a"}));
    for (int64_t r = 0; r < 4; ++r) {
        Attachment a = Row(view, r);
        ASSERT_TRUE(q.db->LoadParts(a));
        ASSERT_EQ(a.partlist.size(), 1u);
        EXPECT_EQ(a.partlist[0].MessageId, "<" + a.Id + "@q>");
    }

    // The workers' reads: stored rows by position, and the first rows in some states.
    ASSERT_TRUE(q.db->SetAttachmentState(Att("c", 1, StateDownloading)));
    ASSERT_TRUE(q.db->SetAttachmentState(Att("a", 1, StateScanJob)));
    std::vector<Attachment> rows;
    ASSERT_TRUE(q.db->StoredRows(1, 2, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Id, "c");
    EXPECT_EQ(rows[0].state, StateDownloading);
    EXPECT_EQ(rows[1].Id, "b");
    ASSERT_TRUE(q.db->RowsInStates({StateScanJob, StateQueued}, 2, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Id, "d");
    EXPECT_EQ(rows[1].Id, "b");
    ASSERT_TRUE(q.db->RowsInStates({StateScanJob}, -1, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Id, "a");
    ASSERT_TRUE(q.db->RowsInStates({StateFailed}, 5, rows));
    EXPECT_TRUE(rows.empty());

    // A new entry still goes to the end, and the order survives a reopen.
    ASSERT_TRUE(q.db->StoreAttachment(nullptr, Att("e", 1, StateQueued)));
    q.db.reset();
    Group again = Open("queue");
    ASSERT_TRUE(again.db->StoredRows(3, -1, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Id, "e");
    EXPECT_EQ(Ids(again), (std::vector<std::string>{"d", "c", "b", "a", "e"}));
}

// Parts are keyed by a number each attachment receives when first stored; every way a
// number could be reused or mixed up must keep parts with their own attachment.
TEST_F(HeaderDbTest, PartsStayWithTheirAttachmentAcrossConnectionsRemovalAndReuse) {
    Group a = Open("alt.shared");
    Group b = Open("alt.shared");  // a second connection to the same file
    for (int n = 0; n < 6; ++n) {
        Group& g = n % 2 ? b : a;
        std::string id = "f" + std::to_string(n);
        auto p = Part("<" + id + "@x>", n + 1, 2048, 1);
        ASSERT_TRUE(g.db->StoreAttachment(&p, Att(id, 2)));
    }
    {
        DbBatch batch(a.db);  // numbers handed out inside an open batch, then a reader
        auto p = Part("<f6@x>", 7, 2048, 1);
        ASSERT_TRUE(a.db->StoreAttachment(&p, Att("f6", 2)));
        auto q = Part("<f6.2@x>", 8, 2048, 2);
        ASSERT_TRUE(a.db->StoreAttachment(&q, Att("f6", 2)));
    }
    auto p = Part("<f7@x>", 9, 2048, 1);
    ASSERT_TRUE(b.db->StoreAttachment(&p, Att("f7", 2)));
    // Removed and stored again: a fresh attachment without the old parts.
    ASSERT_TRUE(a.db->RemoveAttachment(Att("f3", 2)));
    auto again = Part("<f3.again@x>", 10, 4096, 2);
    ASSERT_TRUE(b.db->StoreAttachment(&again, Att("f3", 2)));
    // A part handed along with a foreign attachment field belongs to the one stored.
    Attachment q = Att("f8", 1, StateQueued);
    MessageVars foreign = Part("<f8@x>", 11, 1024);
    foreign.attachment = "f0";
    q.partlist.push_back(foreign);
    ASSERT_TRUE(a.db->StoreAttachment(nullptr, q));

    for (Group* g : {&a, &b}) {
        ASSERT_EQ(g->db->CountView({}), 9);
        for (int n = 0; n <= 8; ++n) {
            Attachment att = Att("f" + std::to_string(n), 2);
            ASSERT_TRUE(g->db->LoadParts(att));
            std::vector<std::string> ids;
            for (const auto& part : att.partlist) {
                ids.push_back(part.MessageId);
                EXPECT_EQ(part.attachment, att.Id);
            }
            std::string self = "<" + att.Id + "@x>";
            if (n == 3)
                EXPECT_EQ(ids, std::vector<std::string>{"<f3.again@x>"});
            else if (n == 6)
                EXPECT_EQ(ids, (std::vector<std::string>{"<f6@x>", "<f6.2@x>"}));
            else
                EXPECT_EQ(ids, std::vector<std::string>{self}) << att.Id;
        }
    }
    a.db.reset();
    b.db.reset();
    Group reopened = Open("alt.shared");
    ExpectConsistentFile(reopened.db->path());
}

// A file written before the parts were keyed by number is converted when opened.
TEST_F(HeaderDbTest, AFileOfTheEarlierLayoutIsConvertedOnOpen) {
    std::filesystem::create_directories(dir.File("data"));
    std::string path = HeaderDatabase::PathFor(dir.File("data"), "alt.old");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    const char* old = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE MessageVars(MessageId TEXT NOT NULL, attachment TEXT NOT NULL,
  ArticleId INTEGER NOT NULL DEFAULT 0, lines INTEGER NOT NULL DEFAULT 0,
  bytes INTEGER NOT NULL DEFAULT 0, partnum INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY(attachment, MessageId)) WITHOUT ROWID;
CREATE TABLE Attachment(seq INTEGER PRIMARY KEY, Id TEXT NOT NULL,
  filename TEXT NOT NULL COLLATE NOCASE, email TEXT NOT NULL, bytes INTEGER NOT NULL DEFAULT 0,
  lines INTEGER NOT NULL DEFAULT 0, parts INTEGER NOT NULL DEFAULT 1, newsgroup TEXT NOT NULL,
  state INTEGER NOT NULL DEFAULT 0, isnew INTEGER NOT NULL DEFAULT 0, dir TEXT NOT NULL,
  date INTEGER NOT NULL DEFAULT 0, partcount INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX Attachment_Id ON Attachment(Id);
INSERT INTO Attachment(seq,Id,filename,email,bytes,lines,parts,newsgroup,state,isnew,dir,
  partcount) VALUES(5,'a.rar','a.rar','p',3072,30,3,'alt.old',2,1,'/d',2),
  (9,'b.rar','b.rar','p',1024,10,1,'alt.old',1,0,'/d',1);
INSERT INTO MessageVars VALUES('<a2@x>','a.rar',12,10,2048,2),('<a1@x>','a.rar',11,20,1024,1),
  ('<b1@x>','b.rar',13,10,1024,1);
)sql";
    ASSERT_EQ(sqlite3_exec(raw, old, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);

    Group g = Open("alt.old");
    ASSERT_NE(g.db, nullptr);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(g.db->kb_total(), 4);
    EXPECT_EQ(g.db->HighestArticleId(), 13);
    auto p3 = Part("<a3@x>", 14, 1024, 3);
    ASSERT_TRUE(g.db->StoreAttachment(&p3, Att("a.rar", 3)));
    auto c1 = Part("<c1@x>", 15, 1024, 1);
    ASSERT_TRUE(g.db->StoreAttachment(&c1, Att("c.rar", 2)));
    Attachment a = Att("a.rar", 3);
    ASSERT_TRUE(g.db->LoadParts(a));
    ASSERT_EQ(a.partlist.size(), 3u);
    EXPECT_EQ(a.partlist[0], (MessageVars{"<a1@x>", "a.rar", 11, 20, 1024, 1}));
    Attachment c = Att("c.rar", 2);
    ASSERT_TRUE(g.db->LoadParts(c));
    ASSERT_EQ(c.partlist.size(), 1u);
    g.db.reset();
    Group again = Open("alt.old");  // converted once: opening again changes nothing
    EXPECT_EQ(again.db->CountView({}), 3);
    EXPECT_TRUE(host.messages.empty());
    ExpectConsistent(again, again.db->path());
}

// A file whose parts still repeat their attachment's Id loses that column when it is opened;
// its rows and parts read back as before and new parts join them.
TEST_F(HeaderDbTest, PartsThatRepeatTheirAttachmentsIdAreConvertedOnOpen) {
    std::filesystem::create_directories(dir.File("data"));
    std::string path = HeaderDatabase::PathFor(dir.File("data"), "alt.v2");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    const char* v2 = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE MessageVars(partkey INTEGER NOT NULL, MessageId TEXT NOT NULL,
  attachment TEXT NOT NULL, ArticleId INTEGER NOT NULL DEFAULT 0,
  lines INTEGER NOT NULL DEFAULT 0, bytes INTEGER NOT NULL DEFAULT 0,
  partnum INTEGER NOT NULL DEFAULT 1, PRIMARY KEY(partkey, MessageId)) WITHOUT ROWID;
CREATE TABLE Attachment(seq INTEGER PRIMARY KEY, Id TEXT NOT NULL,
  filename TEXT NOT NULL COLLATE NOCASE, email TEXT NOT NULL, bytes INTEGER NOT NULL DEFAULT 0,
  lines INTEGER NOT NULL DEFAULT 0, parts INTEGER NOT NULL DEFAULT 1, newsgroup TEXT NOT NULL,
  state INTEGER NOT NULL DEFAULT 0, isnew INTEGER NOT NULL DEFAULT 0, dir TEXT NOT NULL,
  date INTEGER NOT NULL DEFAULT 0, partcount INTEGER NOT NULL DEFAULT 0,
  partkey INTEGER NOT NULL DEFAULT 0, reason TEXT NOT NULL DEFAULT '');
CREATE UNIQUE INDEX Attachment_Id ON Attachment(Id);
INSERT INTO Attachment(seq,Id,filename,email,bytes,lines,parts,newsgroup,state,isnew,dir,
  partcount,partkey) VALUES(4,'a.rar','a.rar','p',3072,30,3,'alt.v2',2,1,'/d',2,7);
INSERT INTO MessageVars VALUES(7,'<a2@x>','a.rar',12,10,2048,2),(7,'<a1@x>','a.rar',11,20,1024,1);
PRAGMA user_version=2;
)sql";
    ASSERT_EQ(sqlite3_exec(raw, v2, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);

    Group g = Open("alt.v2");
    ASSERT_NE(g.db, nullptr);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(g.db->HighestArticleId(), 12);
    auto p3 = Part("<a3@x>", 14, 1024, 3), again = Part("<a1@x>", 11, 1024, 1);
    ASSERT_TRUE(g.db->StoreAttachment(&p3, Att("a.rar", 3)));
    ASSERT_TRUE(g.db->StoreAttachment(&again, Att("a.rar", 3)));  // a converted part's repeat
    Attachment a = Att("a.rar", 3);
    ASSERT_TRUE(g.db->LoadParts(a));
    ASSERT_EQ(a.partlist.size(), 3u);
    EXPECT_EQ(a.partlist[0], (MessageVars{"<a1@x>", "a.rar", 11, 20, 1024, 1}));
    EXPECT_EQ(a.partlist[2], (MessageVars{"<a3@x>", "a.rar", 14, 10, 1024, 3}));
    std::vector<Attachment> rows;
    ASSERT_TRUE(g.db->StoredRows(0, -1, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].partcount, 3);
    EXPECT_EQ(rows[0].state, StateComplete);
    g.db.reset();
    ExpectConsistentFile(path);
}

// A log written before entries kept their reason gets the column when it is opened, and
// a reason stored then reads back; filing the entry again replaces it.
TEST_F(HeaderDbTest, ALogWithoutTheReasonColumnGetsIt) {
    std::string path = Open("log").db->path();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "ALTER TABLE Attachment DROP COLUMN reason; PRAGMA user_version=1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    Group log = Open("log");
    ASSERT_NE(log.db, nullptr);
    EXPECT_TRUE(host.messages.empty());
    Attachment failed = Att("f.rar", 1, StateFailed);
    failed.reason = "part 1 of 1: not found (430 No such article)";
    ASSERT_TRUE(log.db->StoreAttachment(nullptr, failed));
    std::vector<Attachment> rows;
    ASSERT_TRUE(log.db->StoredRows(0, -1, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].reason, failed.reason);

    Attachment done = Att("f.rar", 1, StateDone);
    ASSERT_TRUE(log.db->StoreAttachment(nullptr, done));
    ASSERT_TRUE(log.db->StoredRows(0, -1, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, StateDone);
    EXPECT_EQ(rows[0].reason, "");
}

TEST_F(HeaderDbTest, GroupsDatabaseStoresFindsAndPagesGroups) {
    Group groups = Open("groups");
    for (const char* name : {"alt.binaries.b", "alt.binaries.a", "comp.lang.c", "alt.o'brien"}) {
        Group g;
        g.name = name;
        g.first = 10;
        g.last = 110;
        g.amount = 100;
        ASSERT_TRUE(groups.db->StoreGroup(g));
    }
    Group sub;
    sub.name = "comp.lang.c";
    sub.downloaddir = "/dl/c";
    sub.state = 1;
    sub.last = 5000;
    sub.amount = 4990;
    ASSERT_TRUE(groups.db->StoreGroup(sub));  // replaces, does not add
    EXPECT_EQ(groups.db->CountView({}), 4);

    std::map<int64_t, Group> page;
    ASSERT_TRUE(groups.db->GroupsPage(ViewQuery{}, 0, 1, page));  // by name unless told
    EXPECT_EQ(page.at(0).name, "alt.binaries.a");
    ViewQuery obrien{.filter = "O'B", .order = "name"};
    EXPECT_EQ(groups.db->CountView(obrien), 1);
    page.clear();
    ASSERT_TRUE(groups.db->GroupsPage(obrien, 0, 2, page));
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page.at(0).name, "alt.o'brien");

    // Pages gather in the caller's map under their row numbers.
    ViewQuery binaries{.filter = "binaries", .order = "name desc"};
    page.clear();
    ASSERT_TRUE(groups.db->GroupsPage(binaries, 1, 10, page));
    ASSERT_TRUE(groups.db->GroupsPage(binaries, 0, 1, page));
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page.at(0).name, "alt.binaries.b");
    EXPECT_EQ(page.at(1).name, "alt.binaries.a");
    ASSERT_TRUE(groups.db->GroupsPage(ViewQuery{.order = "amount desc"}, 0, 1, page));
    EXPECT_EQ(page.at(0).name, "comp.lang.c");
    EXPECT_FALSE(groups.db->GroupsPage(ViewQuery{.order = "name; DROP TABLE x"}, 0, 1, page));

    std::vector<Group> subscribed;
    ASSERT_TRUE(groups.db->SubscribedGroups(subscribed));
    ASSERT_EQ(subscribed.size(), 1u);
    EXPECT_EQ(subscribed[0].downloaddir, "/dl/c");
    EXPECT_EQ(subscribed[0].last, 5000);
    ASSERT_TRUE(groups.db->ClearSubscribedMarks());
    subscribed.clear();
    ASSERT_TRUE(groups.db->SubscribedGroups(subscribed));
    EXPECT_TRUE(subscribed.empty());
}

TEST_F(HeaderDbTest, OpeningNeedsANameAndResetsADamagedFile) {
    Group nameless;
    EXPECT_FALSE(OpenHeaderDatabase(nameless, Env()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "SQL error: No group");
    EXPECT_EQ(host.icons[0], Host::Icon::Stop);
    EXPECT_EQ(nameless.db, nullptr);

    // Opening an open database succeeds at once; the name given wins over the own name.
    Group g;
    g.name = "ignored";
    ASSERT_TRUE(OpenHeaderDatabase(g, Env(), "alt.damaged"));
    EXPECT_EQ(g.name, "alt.damaged");
    EXPECT_TRUE(OpenHeaderDatabase(g, Env()));
    auto p = Part("<p@x>", 1, 10);
    ASSERT_TRUE(g.db->StoreAttachment(&p, Att("<p@x>", 1)));
    std::string path = g.db->path();
    g.db.reset();

    test::WriteFile(path, std::string(65536, 'J'));
    std::filesystem::remove(path + "-wal");
    host.messages.clear();
    Group reset = Open("alt.damaged");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0],
              "Possible database corruption.\nResetting the group and retrying...");
    EXPECT_EQ(reset.db->CountView({}), 0);
    ASSERT_TRUE(reset.db->StoreAttachment(&p, Att("<p@x>", 1)));
    EXPECT_EQ(reset.db->CountView({}), 1);
    // The damaged file was moved aside, not deleted.
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("data"))) {
        if (entry.path().filename().string().rfind("alt.damaged.db.damaged-", 0) == 0) {
            ++aside;
            EXPECT_EQ(test::ReadFile(entry.path().string()), std::string(65536, 'J'));
        }
    }
    EXPECT_EQ(aside, 1);
}

// A database that cannot be opened for any other reason than damage (here a directory in
// its place; a busy or locked file, a full disk alike) is reported and left alone.
TEST_F(HeaderDbTest, ADatabaseThatCannotBeOpenedIsReportedAndLeftAlone) {
    std::filesystem::create_directories(dir.File("data/alt.test.db/keep"));
    Group g;
    g.name = "alt.test";
    EXPECT_FALSE(OpenHeaderDatabase(g, Env()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Cannot open " + dir.File("data/alt.test.db") + ": ", 0), 0u)
        << host.messages[0];
    EXPECT_EQ(host.icons[0], Host::Icon::Stop);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("data/alt.test.db/keep")));
}

TEST_F(HeaderDbTest, AFailedResetLeavesTheDatabaseClosed) {
    test::WriteFile(dir.File("notadir"), "x");
    Group g;
    g.name = "alt.test";
    EXPECT_FALSE(OpenHeaderDatabase(g, DbEnv{dir.File("notadir"), &host}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Cannot open ", 0), 0u) << host.messages[0];
    EXPECT_EQ(g.db, nullptr);
    EXPECT_EQ(test::ReadFile(dir.File("notadir")), "x");
}

TEST_F(HeaderDbTest, GroupNamesStayInsideTheDataDirectory) {
    Group g = Open("../../evil/name");
    EXPECT_EQ(std::filesystem::path(g.db->path()).parent_path(),
              std::filesystem::path(dir.File("data")));
}

TEST_F(HeaderDbTest, CopiesOfAGroupNeverShareTheOpenDatabase) {
    Group g = Open("alt.test");
    g.downloaddir = "/dl";
    Group copy = g;
    EXPECT_EQ(copy.downloaddir, "/dl");
    EXPECT_EQ(copy.db, nullptr);
    Group other = Open("alt.other");
    other = g;  // closes its own database
    EXPECT_EQ(other.db, nullptr);
    EXPECT_EQ(other.name, "alt.test");
}

// Checks that every attachment's counters agree with the parts stored for it.
void ExpectConsistent(Group& g, const std::string& path) {
    ExpectConsistentFile(path);

    std::vector<Attachment> rows;
    ASSERT_TRUE(g.db->StoredRows(0, -1, rows));
    EXPECT_EQ(static_cast<int64_t>(rows.size()), g.db->CountView({}));
    int64_t kb = 0;
    for (Attachment& a : rows) {
        ASSERT_TRUE(g.db->LoadParts(a));
        int64_t bytes = 0;
        for (const auto& p : a.partlist)
            bytes += p.bytes;
        ASSERT_EQ(static_cast<int>(a.partlist.size()), a.partcount) << a.Id;
        ASSERT_EQ(bytes, a.bytes) << a.Id;
        ASSERT_EQ(a.state, a.partcount < a.parts ? StateIncomplete : StateComplete) << a.Id;
        kb += a.bytes / 1024;
    }
    EXPECT_EQ(g.db->kb_total(), kb);
}

TEST_F(HeaderDbTest, AProcessKilledInTheMiddleOfABatchLeavesAConsistentDatabase) {
    std::string data = dir.File("data");
    std::filesystem::create_directories(data);
    std::string marker = dir.File("committed");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Group g;
        g.name = "alt.crash";
        if (!OpenHeaderDatabase(g, DbEnv{data}))
            _exit(2);
        DbBatch batch(g.db);
        for (int n = 0;; ++n) {
            std::string id = "file" + std::to_string(n / 30 % 1000000) + ".rar";
            auto p = Part("<" + std::to_string(n) + "@crash>", n, 1000 + n % 4096, n % 30 + 1);
            (void)g.db->StoreAttachment(&p, Att(id, 30));
            if (n == 20000) {
                g.db->Flush();
                test::WriteFile(marker, "1");
            }
        }
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended early";

    Group g = Open("alt.crash");
    ASSERT_TRUE(host.messages.empty());
    EXPECT_GE(g.db->CountView({}), 20000 / 30);
    ExpectConsistent(g, g.db->path());
}

// The count in the WAL's header of the times the log started over from its beginning.
uint32_t WalRestarts(const std::string& wal_path) {
    std::ifstream in(wal_path, std::ios::binary);
    unsigned char header[16] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    return uint32_t{header[12]} << 24 | uint32_t{header[13]} << 16 | uint32_t{header[14]} << 8 |
           uint32_t{header[15]};
}

// A scan's batch leaves its pages in the WAL; once they are copied back, the next write
// starts the log over instead of growing it.
TEST_F(HeaderDbTest, TheLogABatchWroteStartsOverAfterIt) {
    Group g = Open("alt.test");
    {
        DbBatch batch(g.db);
        for (int n = 0; n < 3000; ++n) {
            auto p = Part("<" + std::to_string(n) + "@batch>", n + 1, 4096, n % 30 + 1);
            ASSERT_TRUE(g.db->StoreAttachment(&p, Att("file" + std::to_string(n / 30), 30)));
        }
    }
    const std::string wal = g.db->path() + "-wal";
    const uint32_t before = WalRestarts(wal);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int n = 0;
    while (WalRestarts(wal) == before && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ++n;
        auto p = Part("<" + std::to_string(n) + "@later>", 5000 + n, 1024);
        ASSERT_TRUE(g.db->StoreAttachment(&p, Att("later.rar", 1)));
    }
    EXPECT_NE(WalRestarts(wal), before) << n << " writes after the batch";
    ExpectConsistent(g, g.db->path());
}

TEST_F(HeaderDbTest, SeveralMergingThreadsAndAReaderShareOneDatabase) {
    Group g = Open("alt.threads");
    constexpr int kWriters = 4, kFiles = 50, kParts = 8;
    std::atomic<bool> done{false};
    // Two windows' views, each on its own thread, read while the writers merge.
    auto read = [&](const std::string& filter, const std::string& order) {
        HeaderView view(g.db);
        view.SetFilter(filter);
        EXPECT_TRUE(view.SetOrder(order));
        while (!done) {
            int64_t n = view.CountRows();
            view.FillRowCache(0, 20);
            Attachment a;
            if (n > 0 && view.AttachmentAt(n - 1, a))
                (void)g.db->LoadParts(a);
            g.db->kb_total();
        }
    };
    std::thread reader(read, "", "");
    std::thread filtered_reader(read, "1", "bytes desc");
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            DbBatch batch(g.db);
            // Every writer posts parts of every file: the same attachments are shared.
            for (int p = 1; p <= kParts; ++p)
                for (int f = 0; f < kFiles; ++f) {
                    int partnum = (p - 1) * kWriters + w + 1;
                    auto part =
                        Part("<" + std::to_string(f) + "." + std::to_string(partnum) + "@t>",
                             partnum, 2048, partnum);
                    ASSERT_TRUE(g.db->StoreAttachment(
                        &part, Att("f" + std::to_string(f), kWriters * kParts)));
                }
        });
    for (auto& t : writers)
        t.join();
    done = true;
    reader.join();
    filtered_reader.join();
    HeaderView view(g.db);
    ASSERT_EQ(view.CountRows(), kFiles);
    for (int64_t r = 0; r < kFiles; ++r) {
        Attachment a = Row(view, r);
        EXPECT_EQ(a.partcount, kWriters * kParts);
        EXPECT_EQ(a.state, StateComplete);
    }
    EXPECT_EQ(g.db->kb_total(), kFiles * kWriters * kParts * 2);
    ExpectConsistent(g, g.db->path());
}

}  // namespace
}  // namespace qs
