#include "db/header_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/host.h"
#include "app/settings.h"
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
                            "SELECT 1 FROM Attachment a WHERE a.partkey=m.partkey "
                            "AND a.Id=m.attachment)"}) {
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
    DbEnv Env() { return DbEnv{dir.File("data"), &host, &settings}; }
    Attachment Row(Group& g, int64_t row) {
        Attachment a;
        EXPECT_TRUE(AttachmentAt(g, row, a)) << "row " << row;
        return a;
    }
    std::vector<std::string> Ids(Group& g) {
        std::vector<std::string> ids;
        int64_t n = CountRows(g);
        for (int64_t r = 0; r < n; ++r)
            ids.push_back(Row(g, r).Id);
        return ids;
    }

    TempDir dir;
    RecordingHost host;
    Settings settings;
};

TEST_F(HeaderDbTest, ScannedPartsGrowAnAttachmentUntilComplete) {
    Group g = Open("alt.test");
    auto p1 = Part("<a1@x>", 101, 300000, 1), p2 = Part("<a2@x>", 102, 200000, 2),
         p3 = Part("<a3@x>", 103, 100000, 3);
    ASSERT_TRUE(StoreAttachment(g, &p1, Att("file.rar", 3)));
    ASSERT_TRUE(StoreAttachment(g, &p2, Att("file.rar", 3)));
    Attachment a = Row(g, 0);
    EXPECT_EQ(a.state, StateIncomplete);
    EXPECT_EQ(a.partcount, 2);
    EXPECT_EQ(a.bytes, 500000);
    EXPECT_EQ(a.lines, 5000);
    ASSERT_TRUE(StoreAttachment(g, &p3, Att("file.rar", 3)));
    EXPECT_EQ(CountRows(g), 1);
    a = Row(g, 0);
    EXPECT_EQ(a.state, StateComplete);
    EXPECT_EQ(a.partcount, 3);
    EXPECT_EQ(g.db->kb_total(), 300000 / 1024 + 200000 / 1024 + 100000 / 1024);

    // A single-part post is complete at once and keyed apart from a same-named one.
    auto s1 = Part("<s1@x>", 104, 5000);
    ASSERT_TRUE(StoreAttachment(g, &s1, Att("<s1@x>", 1)));
    EXPECT_EQ(CountRows(g), 2);
    EXPECT_EQ(Row(g, 1).state, StateComplete);
    EXPECT_EQ(HighestArticleId(g), 104);

    ASSERT_TRUE(LoadParts(g, a));
    ASSERT_EQ(a.partlist.size(), 3u);
    EXPECT_EQ(a.partlist[0], (MessageVars{"<a1@x>", "file.rar", 101, 3000, 300000, 1}));
    EXPECT_EQ(a.partlist[2].partnum, 3);

    // Everything survives a reopen, and the KB total is recounted from the rows.
    g.db.reset();
    Group again = Open("alt.test");
    EXPECT_EQ(CountRows(again), 2);
    EXPECT_EQ(again.db->kb_total(), 600000 / 1024 + 5000 / 1024);
    EXPECT_EQ(HighestArticleId(again), 104);
}

TEST_F(HeaderDbTest, AnArticleStoredAlreadyIsNotCountedAgain) {
    Group g = Open("alt.test");
    auto p1 = Part("<a1@x>", 101, 300000, 1);
    ASSERT_TRUE(StoreAttachment(g, &p1, Att("file.rar", 2)));
    ASSERT_TRUE(StoreAttachment(g, &p1, Att("file.rar", 2, 0, 0)));
    Attachment a = Row(g, 0);
    EXPECT_EQ(a.partcount, 1);
    EXPECT_EQ(a.bytes, 300000);
    EXPECT_EQ(a.isnew, 1);  // a repeat changes nothing
    EXPECT_EQ(g.db->kb_total(), 300000 / 1024);
    ASSERT_TRUE(LoadParts(g, a));
    EXPECT_EQ(a.partlist.size(), 1u);
}

TEST_F(HeaderDbTest, QueuedOrFinishedAttachmentsKeepTheirStateAgainstAScan) {
    Group g = Open("alt.test");
    auto p1 = Part("<a1@x>", 1, 1000, 1), p2 = Part("<a2@x>", 2, 1000, 2);
    ASSERT_TRUE(StoreAttachment(g, &p1, Att("f", 2)));
    Attachment queued = Att("f", 2, StateDownloading);
    ASSERT_TRUE(SetAttachmentState(g, queued));
    // A scanned header carries state 0: the stored 4 stays.
    ASSERT_TRUE(StoreAttachment(g, &p2, Att("f", 2, 0)));
    Attachment a = Row(g, 0);
    EXPECT_EQ(a.state, StateDownloading);
    EXPECT_EQ(a.partcount, 2);
    // The queue and log paths hand in the state they want.
    ASSERT_TRUE(StoreAttachment(g, nullptr, Att("f", 2, StateFailed)));
    EXPECT_EQ(Row(g, 0).state, StateFailed);
    // Below 3 the state is recomputed, whatever comes in.
    ASSERT_TRUE(SetAttachmentState(g, Att("f", 2, StateComplete)));
    ASSERT_TRUE(StoreAttachment(g, nullptr, Att("f", 2, StateQueued)));
    EXPECT_EQ(Row(g, 0).state, StateComplete);
}

TEST_F(HeaderDbTest, QueueAndLogTakeAttachmentsWithTheirParts) {
    Group queue = Open("queue");
    Group log = Open("log");
    Attachment a = Att("movie", 3, StateQueued, 0);
    a.partcount = 3;
    a.bytes = 3 * 400000;
    for (int n : {3, 1, 2}) {
        MessageVars p = Part("<m" + std::to_string(n) + "@x>", n, 400000, n);
        p.attachment = "movie";
        a.partlist.push_back(p);
    }
    ASSERT_TRUE(StoreAttachment(queue, nullptr, a));
    Attachment q = Row(queue, 0);
    EXPECT_EQ(q.state, StateQueued);
    EXPECT_EQ(q.partcount, 3);
    EXPECT_EQ(queue.db->kb_total(), 1200000 / 1024);
    ASSERT_TRUE(LoadParts(queue, q));
    ASSERT_EQ(q.partlist.size(), 3u);
    EXPECT_EQ(q.partlist[0].partnum, 1);
    EXPECT_EQ(q.partlist[2].MessageId, "<m3@x>");

    // Filed in the log as done; filed again it takes the new state, its parts once.
    q.state = StateDone;
    ASSERT_TRUE(StoreAttachment(log, nullptr, q));
    ASSERT_TRUE(RemoveAttachment(queue, q));
    EXPECT_EQ(CountRows(queue), 0);
    EXPECT_EQ(queue.db->kb_total(), 0);
    q.state = StateFailed;
    ASSERT_TRUE(StoreAttachment(log, nullptr, q));
    EXPECT_EQ(CountRows(log), 1);
    Attachment l = Row(log, 0);
    EXPECT_EQ(l.state, StateFailed);
    ASSERT_TRUE(LoadParts(log, l));
    EXPECT_EQ(l.partlist.size(), 3u);
    Attachment gone = Att("movie", 3);
    ASSERT_TRUE(LoadParts(queue, gone));
    EXPECT_TRUE(gone.partlist.empty());

    // Neither filters nor (for the log) sorts.
    ASSERT_TRUE(SetFilter(queue, "nothing matches"));
    ASSERT_TRUE(StoreAttachment(queue, nullptr, a));
    EXPECT_EQ(CountRows(queue), 1);
    ASSERT_TRUE(SetOrder(log, "bytes desc"));
    EXPECT_EQ(log.db->order(), "");
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
                ASSERT_TRUE(StoreAttachment(g, &part, Att(r.name, r.parts)));
            }
    }
    Group g;
};

TEST_F(ViewTest, FilterIncompleteAndOrderSelectTheRows) {
    ASSERT_TRUE(SetOrder(g, ""));
    EXPECT_EQ(Ids(g), (std::vector<std::string>{"Holiday ABC.jpg", "zebra.rar", "xabcx.nfo",
                                                "Mixed.AbC.part", "plain.txt"}));
    ASSERT_TRUE(SetOrder(g, "filename"));
    EXPECT_EQ(Ids(g), (std::vector<std::string>{"Holiday ABC.jpg", "Mixed.AbC.part", "plain.txt",
                                                "xabcx.nfo", "zebra.rar"}));
    ASSERT_TRUE(SetOrder(g, "bytes desc"));
    EXPECT_EQ(Row(g, 0).Id, "xabcx.nfo");

    // The filter is a case-insensitive substring of the file name.
    ASSERT_TRUE(SetFilter(g, "ABC"));
    EXPECT_EQ(CountRows(g), 3);
    EXPECT_EQ(Ids(g), (std::vector<std::string>{"xabcx.nfo", "Mixed.AbC.part", "Holiday ABC.jpg"}));
    settings.ShowIncomplete = 0;
    EXPECT_EQ(CountRows(g), 2);
    ASSERT_TRUE(SetFilter(g, ""));
    EXPECT_EQ(CountRows(g), 3);  // without a filter, only "state != 2"
    settings.ShowIncomplete = 1;

    // Filter text is data, never query text.
    ASSERT_TRUE(SetFilter(g, "%' OR 1=1 --"));
    EXPECT_EQ(CountRows(g), 0);
    ASSERT_TRUE(SetFilter(g, "_"));
    EXPECT_EQ(CountRows(g), 0);
    ASSERT_TRUE(SetFilter(g, ""));

    // Beyond the end: not found, nothing cached.
    Attachment none;
    EXPECT_FALSE(AttachmentAt(g, 5, none));
    EXPECT_TRUE(FillRowCache(g, 3, 10));
    EXPECT_EQ(Row(g, 4).Id, "plain.txt");
}

TEST_F(ViewTest, OnlyKnownOrderTextsAreAccepted) {
    ASSERT_TRUE(SetOrder(g, "date"));
    EXPECT_FALSE(SetOrder(g, "filename; DROP TABLE Attachment"));
    EXPECT_FALSE(SetOrder(g, "bytes asc desc"));
    EXPECT_FALSE(SetOrder(g, "partcount"));
    EXPECT_EQ(g.db->order(), "date");
    ASSERT_TRUE(SetOrder(g, "EMAIL DESC"));
    EXPECT_EQ(g.db->order(), "email desc");
    EXPECT_EQ(CountRows(g), 5);
}

TEST_F(ViewTest, CachedRowsFollowStateChangesAndAreDroppedOnRequest) {
    ASSERT_TRUE(SetOrder(g, ""));
    ASSERT_TRUE(FillRowCache(g, 0, 5));
    Attachment a = Row(g, 1);
    ASSERT_EQ(a.Id, "zebra.rar");
    a.state = StateQueued;
    ASSERT_TRUE(SetAttachmentState(g, a));
    EXPECT_EQ(Row(g, 1).state, StateQueued);  // the changed Id is read again

    // Removing empties the cache; the KB total follows.
    int64_t kb = g.db->kb_total();
    ASSERT_TRUE(RemoveAttachments(g, {Row(g, 0), Row(g, 2)}));
    EXPECT_EQ(g.db->kb_total(), kb - 5000 / 1024 - 70000 / 1024);
    EXPECT_EQ(Ids(g), (std::vector<std::string>{"zebra.rar", "Mixed.AbC.part", "plain.txt"}));
    EXPECT_EQ(TotalKilobytes(g), 0 + 9000 / 1024 + 0);

    // isnew marks go at the next scan.
    EXPECT_EQ(Row(g, 0).isnew, 1);
    ASSERT_TRUE(ClearNewFlags(g));
    for (int64_t r = 0; r < 3; ++r)
        EXPECT_EQ(Row(g, r).isnew, 0);

    g.lastscanned = 1234;
    ASSERT_TRUE(EmptyHeaderDatabase(g));
    EXPECT_EQ(g.lastscanned, 0);
    EXPECT_EQ(CountRows(g), 0);
    EXPECT_EQ(g.db->kb_total(), 0);
    EXPECT_EQ(HighestArticleId(g), 0);
}

TEST_F(HeaderDbTest, SwapAndMoveToTopReorderTheQueueWithTheirParts) {
    Group q = Open("queue");
    for (const char* id : {"a", "b", "c", "d"}) {
        Attachment a = Att(id, 1, StateQueued);
        MessageVars p = Part(std::string("<") + id + "@q>", 1, 1024);
        p.attachment = id;
        a.partlist.push_back(p);
        a.bytes = 1024;
        ASSERT_TRUE(StoreAttachment(q, nullptr, a));
    }
    ASSERT_TRUE(FillRowCache(q, 0, 4));
    ASSERT_TRUE(SwapRows(q, 0, 2));
    EXPECT_EQ(Ids(q), (std::vector<std::string>{"c", "b", "a", "d"}));
    ASSERT_TRUE(MoveRowToTop(q, 3));
    EXPECT_EQ(Ids(q), (std::vector<std::string>{"d", "c", "b", "a"}));
    EXPECT_FALSE(SwapRows(q, 1, 9));
    EXPECT_FALSE(MoveRowToTop(q, 4));
    for (int64_t r = 0; r < 4; ++r) {
        Attachment a = Row(q, r);
        ASSERT_TRUE(LoadParts(q, a));
        ASSERT_EQ(a.partlist.size(), 1u);
        EXPECT_EQ(a.partlist[0].MessageId, "<" + a.Id + "@q>");
    }
    // A new entry still goes to the end, and the order survives a reopen.
    ASSERT_TRUE(StoreAttachment(q, nullptr, Att("e", 1, StateQueued)));
    q.db.reset();
    Group again = Open("queue");
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
        ASSERT_TRUE(StoreAttachment(g, &p, Att(id, 2)));
    }
    {
        DbBatch batch(a.db);  // numbers handed out inside an open batch, then a reader
        auto p = Part("<f6@x>", 7, 2048, 1);
        ASSERT_TRUE(StoreAttachment(a, &p, Att("f6", 2)));
        auto q = Part("<f6.2@x>", 8, 2048, 2);
        ASSERT_TRUE(StoreAttachment(a, &q, Att("f6", 2)));
    }
    auto p = Part("<f7@x>", 9, 2048, 1);
    ASSERT_TRUE(StoreAttachment(b, &p, Att("f7", 2)));
    // Removed and stored again: a fresh attachment without the old parts.
    ASSERT_TRUE(RemoveAttachment(a, Att("f3", 2)));
    auto again = Part("<f3.again@x>", 10, 4096, 2);
    ASSERT_TRUE(StoreAttachment(b, &again, Att("f3", 2)));
    // A part handed along with a foreign attachment field belongs to the one stored.
    Attachment q = Att("f8", 1, StateQueued);
    MessageVars foreign = Part("<f8@x>", 11, 1024);
    foreign.attachment = "f0";
    q.partlist.push_back(foreign);
    ASSERT_TRUE(StoreAttachment(a, nullptr, q));

    for (Group* g : {&a, &b}) {
        ASSERT_EQ(CountRows(*g), 9);
        for (int n = 0; n <= 8; ++n) {
            Attachment att = Att("f" + std::to_string(n), 2);
            ASSERT_TRUE(LoadParts(*g, att));
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
    EXPECT_EQ(HighestArticleId(g), 13);
    auto p3 = Part("<a3@x>", 14, 1024, 3);
    ASSERT_TRUE(StoreAttachment(g, &p3, Att("a.rar", 3)));
    auto c1 = Part("<c1@x>", 15, 1024, 1);
    ASSERT_TRUE(StoreAttachment(g, &c1, Att("c.rar", 2)));
    Attachment a = Att("a.rar", 3);
    ASSERT_TRUE(LoadParts(g, a));
    ASSERT_EQ(a.partlist.size(), 3u);
    EXPECT_EQ(a.partlist[0], (MessageVars{"<a1@x>", "a.rar", 11, 20, 1024, 1}));
    Attachment c = Att("c.rar", 2);
    ASSERT_TRUE(LoadParts(g, c));
    ASSERT_EQ(c.partlist.size(), 1u);
    g.db.reset();
    Group again = Open("alt.old");  // converted once: opening again changes nothing
    EXPECT_EQ(CountRows(again), 3);
    EXPECT_TRUE(host.messages.empty());
    ExpectConsistent(again, again.db->path());
}

TEST_F(HeaderDbTest, GroupsDatabaseStoresFindsAndPagesGroups) {
    Group groups = Open("groups");
    for (const char* name : {"alt.binaries.b", "alt.binaries.a", "comp.lang.c", "alt.o'brien"}) {
        Group g;
        g.name = name;
        g.first = 10;
        g.last = 110;
        g.amount = 100;
        ASSERT_TRUE(StoreGroup(groups, g));
    }
    Group sub;
    sub.name = "comp.lang.c";
    sub.downloaddir = "/dl/c";
    sub.state = 1;
    sub.last = 5000;
    ASSERT_TRUE(StoreGroup(groups, sub));  // replaces, does not add
    EXPECT_EQ(CountRows(groups), 4);

    ASSERT_TRUE(SetOrder(groups, "name"));
    Group out;
    ASSERT_TRUE(GroupAt(groups, 0, out));
    EXPECT_EQ(out.name, "alt.binaries.a");
    ASSERT_TRUE(SetFilter(groups, "O'B"));
    EXPECT_EQ(CountRows(groups), 1);
    ASSERT_TRUE(GroupAt(groups, 0, out));
    EXPECT_EQ(out.name, "alt.o'brien");
    EXPECT_FALSE(GroupAt(groups, 1, out));

    ASSERT_TRUE(SetFilter(groups, "binaries"));
    ASSERT_TRUE(SetOrder(groups, "name desc"));
    std::map<int64_t, Group> page;
    ASSERT_TRUE(GroupsPage(groups, 0, 10, page));
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page[0].name, "alt.binaries.b");
    EXPECT_EQ(page[1].name, "alt.binaries.a");

    std::vector<Group> subscribed;
    ASSERT_TRUE(SubscribedGroups(groups, subscribed));
    ASSERT_EQ(subscribed.size(), 1u);
    EXPECT_EQ(subscribed[0].downloaddir, "/dl/c");
    EXPECT_EQ(subscribed[0].last, 5000);
    ASSERT_TRUE(ClearSubscribedMarks(groups));
    subscribed.clear();
    ASSERT_TRUE(SubscribedGroups(groups, subscribed));
    EXPECT_TRUE(subscribed.empty());
}

TEST_F(HeaderDbTest, OpeningNeedsANameAndResetsADamagedFile) {
    Group nameless;
    EXPECT_FALSE(OpenHeaderDatabase(nameless, Env()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "SQL error: No group");
    EXPECT_EQ(host.icons[0], Host::Icon::Stop);
    EXPECT_EQ(CountRows(nameless), 0);
    EXPECT_FALSE(StoreAttachment(nameless, nullptr, Att("x", 1)));

    // Opening an open database succeeds at once; the name given wins over the own name.
    Group g;
    g.name = "ignored";
    ASSERT_TRUE(OpenHeaderDatabase(g, Env(), "alt.damaged"));
    EXPECT_EQ(g.name, "alt.damaged");
    EXPECT_TRUE(OpenHeaderDatabase(g, Env()));
    auto p = Part("<p@x>", 1, 10);
    ASSERT_TRUE(StoreAttachment(g, &p, Att("<p@x>", 1)));
    std::string path = g.db->path();
    g.db.reset();

    test::WriteFile(path, std::string(65536, 'J'));
    std::filesystem::remove(path + "-wal");
    host.messages.clear();
    Group reset = Open("alt.damaged");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0],
              "Possible database corruption.\nResetting the group and retrying...");
    EXPECT_EQ(CountRows(reset), 0);
    ASSERT_TRUE(StoreAttachment(reset, &p, Att("<p@x>", 1)));
    EXPECT_EQ(CountRows(reset), 1);
}

TEST_F(HeaderDbTest, AFailedResetLeavesTheDatabaseClosed) {
    test::WriteFile(dir.File("notadir"), "x");
    Group g;
    g.name = "alt.test";
    EXPECT_FALSE(OpenHeaderDatabase(g, DbEnv{dir.File("notadir"), &host, &settings}));
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1], "Sorry, didn't work out. Please restart Quillstream ASAP...");
    EXPECT_EQ(CountRows(g), 0);
    EXPECT_EQ(HighestArticleId(g), 0);
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

    int64_t rows = CountRows(g);
    int64_t kb = 0;
    for (int64_t r = 0; r < rows; ++r) {
        Attachment a;
        ASSERT_TRUE(AttachmentAt(g, r, a));
        ASSERT_TRUE(LoadParts(g, a));
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
            StoreAttachment(g, &p, Att(id, 30));
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
    EXPECT_GE(CountRows(g), 20000 / 30);
    ExpectConsistent(g, g.db->path());
}

TEST_F(HeaderDbTest, SeveralMergingThreadsAndAReaderShareOneDatabase) {
    Group g = Open("alt.threads");
    constexpr int kWriters = 4, kFiles = 50, kParts = 8;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            int64_t n = CountRows(g);
            FillRowCache(g, 0, 20);
            Attachment a;
            if (n > 0 && AttachmentAt(g, n - 1, a))
                LoadParts(g, a);
            g.db->kb_total();
        }
    });
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
                    ASSERT_TRUE(
                        StoreAttachment(g, &part, Att("f" + std::to_string(f), kWriters * kParts)));
                }
        });
    for (auto& t : writers)
        t.join();
    done = true;
    reader.join();
    ASSERT_EQ(CountRows(g), kFiles);
    for (int64_t r = 0; r < kFiles; ++r) {
        Attachment a = Row(g, r);
        EXPECT_EQ(a.partcount, kWriters * kParts);
        EXPECT_EQ(a.state, StateComplete);
    }
    EXPECT_EQ(g.db->kb_total(), kFiles * kWriters * kParts * 2);
    ExpectConsistent(g, g.db->path());
}

}  // namespace
}  // namespace qs
