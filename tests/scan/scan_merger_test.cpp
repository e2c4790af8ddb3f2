// The merge thread of a scan stores what storing each line at once stores, in the same
// order, and after a refused write stores nothing more; the mergers of one database (the
// chunks of a scan) store through it together.

#include "scan/scan_merger.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace qs {
namespace {

// Several batches of lines: multi-part posts whose parts interleave, articles read twice
// (after the first batch), single posts, and lines without a Message-ID.
std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (int n = 1; n <= 3 * static_cast<int>(ScanMerger::kBatchLines) + 17; ++n) {
        const std::string number = std::to_string(n);
        const int post = n % 7;
        std::string subject, id = "<m" + number + "@x>";
        if (post < 3) {
            subject =
                "set" + std::to_string(post) + ".rar yEnc (" + std::to_string(n / 7 + 1) + "/400)";
        } else if (post < 5) {
            subject = "single " + number;
        } else if (post == 5 && n > static_cast<int>(ScanMerger::kBatchLines)) {
            // the article of line n - 5 once more (the first batch has only new articles)
            subject = "set0.rar yEnc (" + std::to_string((n - 5) / 7 + 1) + "/400)";
            id = "<m" + std::to_string(n - 5) + "@x>";
        } else {
            id.clear();
        }
        lines.push_back(number + "\t" + subject + "\tme <m@x>\t07 Dec 2026 06:52:44 GMT\t" + id +
                        "\t\t" + std::to_string(1000 + n) + "\t" + std::to_string(n % 13));
    }
    // The parts of a file one after another, as most files are posted, with lines that
    // cannot be stored among them: the first line of another file, the same file again.
    const int next = static_cast<int>(lines.size()) + 1;
    for (int part = 1; part <= 6; ++part) {
        const std::string number = std::to_string(next + part);
        const bool other = part == 3 || part == 4, unnamed = part == 3 || part == 5;
        const std::string subject = other ? "other.bin (" + std::to_string(part - 2) + "/2)"
                                          : "run.rar yEnc (" + std::to_string(part) + "/6)";
        lines.push_back(number + "\t" + subject + "\tme <m@x>\t07 Dec 2026 06:52:44 GMT\t" +
                        (unnamed ? "" : "<r" + number + "@x>") + "\t\t100\t1");
    }
    return lines;
}

struct Store {
    test::TempDir dir;
    Group group;
    Store() {
        group.name = "alt.binaries.test";
        group.downloaddir = "/downloads/alt.binaries.test/";  // the same for every store
        DbEnv env;
        env.data_dir = dir.path();
        EXPECT_TRUE(OpenHeaderDatabase(group, env));
    }
    // The write of the article numbered `number` is refused; later ones would go through.
    void Refuse(int number) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(group.db->path().c_str(), &db), SQLITE_OK);
        const std::string sql =
            "CREATE TRIGGER refuse BEFORE INSERT ON MessageVars WHEN "
            "NEW.ArticleId = " +
            std::to_string(number) + " BEGIN SELECT RAISE(ABORT,'no'); END";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    // Clearing the new marks fails (once there is a mark to clear).
    void RefuseClearingMarks() {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(group.db->path().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db,
                               "CREATE TRIGGER refuse_clear BEFORE UPDATE OF isnew ON Attachment "
                               "BEGIN SELECT RAISE(ABORT,'no'); END",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    // Every stored row with its parts, in stored order.
    std::vector<std::string> Contents() {
        std::vector<Attachment> rows;
        EXPECT_TRUE(group.db->StoredRows(0, -1, rows));
        std::vector<std::string> out;
        for (Attachment& a : rows) {
            EXPECT_TRUE(group.db->LoadParts(a));
            std::string row = a.Id + "|" + a.filename + "|" + std::to_string(a.state) + "|" +
                              std::to_string(a.parts) + "|" + std::to_string(a.partcount) + "|" +
                              std::to_string(a.bytes) + "|" + std::to_string(a.lines) + "|" +
                              std::to_string(a.date) + "|" + std::to_string(a.isnew) + "|" + a.dir +
                              "|" + a.newsgroup;
            for (const MessageVars& p : a.partlist)
                row += "|" + p.MessageId + ":" + std::to_string(p.ArticleId);
            out.push_back(row);
        }
        return out;
    }
};

// Stores the lines one at a time through StoreAttachment, with the records a scanned line
// stands for (a fresh attachment of the group, new); stops at the first refused write.
void StoreEachAtOnce(Store& store, const std::vector<std::string>& lines) {
    OverviewRecord record;
    for (const std::string& line : lines) {
        ParseOverviewFields(SplitOverviewLine(line), record);
        ScannedArticle article;
        if (!ToScannedArticle(record, article))
            continue;
        MessageVars part;
        part.MessageId = article.message_id;
        part.ArticleId = article.article_id;
        part.lines = article.lines;
        part.bytes = article.bytes;
        part.partnum = article.partnum;
        Attachment attachment;
        attachment.email = article.email;
        attachment.parts = article.parts;
        attachment.date = article.date;
        attachment.Id = article.id;
        attachment.filename = article.filename;
        attachment.dir = store.group.downloaddir;
        attachment.newsgroup = store.group.name;
        attachment.isnew = 1;
        if (!store.group.db->StoreAttachment(&part, attachment))
            return;
    }
}

// Hands every line to a merger, as the scan loop does; the result of Finish.
bool StoreThroughMerger(Store& store, const std::vector<std::string>& lines) {
    ScanMerger merger(store.group.db, store.group);
    for (const std::string& line : lines) {
        OverviewRecord record;
        ParseOverviewFields(SplitOverviewLine(line), record);
        merger.Add(record);
    }
    return merger.Finish();
}

TEST(ScanMerger, StoresWhatStoringEachLineAtOnceStores) {
    const std::vector<std::string> lines = Lines();
    Store sequential, merged;
    {
        DbBatch batch(sequential.group.db);
        StoreEachAtOnce(sequential, lines);
    }
    {
        DbBatch batch(merged.group.db);
        ASSERT_TRUE(StoreThroughMerger(merged, lines));
    }
    const std::vector<std::string> expected = sequential.Contents();
    EXPECT_GT(expected.size(), 800u);
    EXPECT_EQ(merged.Contents(), expected);
    EXPECT_EQ(merged.group.db->HighestArticleId(), sequential.group.db->HighestArticleId());
}

// Two mergers of one database at once, as the chunks of a scan: the lines of each are all
// stored, as storing one merger's lines after the other's stores them.
TEST(ScanMerger, MergersOfOneDatabaseStoreTogether) {
    const std::vector<std::string> first = Lines();
    std::vector<std::string> second = first;  // the same posts under other names
    for (std::string& line : second) {
        for (auto [from, to] : {std::pair{"set", "other"}, {"single", "lone"}, {"<m", "<n"}}) {
            for (size_t at = line.find(from); at != std::string::npos;
                 at = line.find(from, at + std::string_view(to).size()))
                line.replace(at, std::string_view(from).size(), to);
        }
    }
    Store sequential, merged;
    {
        DbBatch batch(sequential.group.db);
        StoreEachAtOnce(sequential, first);
        StoreEachAtOnce(sequential, second);
    }
    bool stored_first = false, stored_second = false;
    {
        DbBatch batch(merged.group.db);
        std::thread other([&] { stored_second = StoreThroughMerger(merged, second); });
        stored_first = StoreThroughMerger(merged, first);
        other.join();
    }
    EXPECT_TRUE(stored_first);
    EXPECT_TRUE(stored_second);
    std::vector<std::string> expected = sequential.Contents(), got = merged.Contents();
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_GT(expected.size(), 1600u);
    EXPECT_EQ(got, expected);
}

// Each write commits at once here, so the lines before the refused one stay stored.
TEST(ScanMerger, ARefusedWriteStoresNothingBehindIt) {
    const std::vector<std::string> lines = Lines();
    const int refused = static_cast<int>(ScanMerger::kBatchLines) + 100;
    Store sequential, merged;
    sequential.Refuse(refused);
    merged.Refuse(refused);
    StoreEachAtOnce(sequential, lines);
    EXPECT_FALSE(StoreThroughMerger(merged, lines));

    const std::vector<std::string> expected = sequential.Contents();
    EXPECT_GT(expected.size(), 300u);
    EXPECT_EQ(merged.Contents(), expected);
    EXPECT_EQ(merged.group.db->HighestArticleId(), refused - 1);
}

// A write that fails while a scan's batch is open rolls the whole batch back, with lines the
// merger stored in it. Going on would store the lines behind them and leave a gap; the
// merger fails instead, so the scan reports it and its records keep those lines unread.
TEST(ScanMerger, LinesRolledBackByAFailedWriteElsewhereFailTheMerger) {
    const std::vector<std::string> lines = Lines();
    Store store;
    store.RefuseClearingMarks();
    DbBatch batch(store.group.db);
    ScanMerger merger(store.group.db, store.group);
    auto add = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            OverviewRecord record;
            ParseOverviewFields(SplitOverviewLine(lines[i]), record);
            merger.Add(record);
        }
    };
    const size_t handed_on = 2 * ScanMerger::kBatchLines;
    add(0, handed_on);
    // A read merges what the merge thread has stored into the open transaction.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (store.group.db->HighestArticleId() < static_cast<int64_t>(ScanMerger::kBatchLines) &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const uint64_t rollbacks = store.group.db->rollbacks();
    EXPECT_FALSE(store.group.db->ClearNewFlags());
    EXPECT_EQ(store.group.db->rollbacks(), rollbacks + 1);
    add(handed_on, lines.size());
    EXPECT_FALSE(merger.Finish());
    EXPECT_FALSE(store.group.db->NoteScannedThrough(static_cast<int64_t>(lines.size()),
                                                    merger.rollbacks_seen()));
}

}  // namespace
}  // namespace qs
