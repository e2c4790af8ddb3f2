#include "db/wal_checkpointer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace qs {
namespace {

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Commits `count` rows of 1000 bytes each, one transaction apiece.
bool CommitRows(sqlite3* db, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        if (!Exec(db, "INSERT INTO t VALUES(" + std::to_string(i) + ", randomblob(1000))"))
            return false;
    }
    return true;
}

// The writer never checkpoints here: only the checkpointer copies the WAL back. Once it has,
// the writer's next transaction starts the WAL over, so the same amount of writing again
// does not grow the file; and nothing committed is lost, while a reader's snapshot holds.
TEST(WalCheckpointer, CopiesTheWalBackSoThatItStartsOver) {
    test::TempDir dir;
    const std::string path = dir.File("t.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_TRUE(Exec(db, "PRAGMA journal_mode=WAL"));
    ASSERT_TRUE(Exec(db, "PRAGMA wal_autocheckpoint=0"));
    ASSERT_TRUE(Exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)"));
    {
        WalCheckpointer checkpointer(path);
        checkpointer.WaitIdle();  // nothing asked for yet: returns at once

        ASSERT_TRUE(CommitRows(db, 0, 200));
        const auto grown = std::filesystem::file_size(path + "-wal");
        checkpointer.Request();
        checkpointer.Request();  // folds into the first
        checkpointer.WaitIdle();
        ASSERT_TRUE(CommitRows(db, 200, 200));
        EXPECT_EQ(std::filesystem::file_size(path + "-wal"), grown);

        // A reader's open snapshot keeps its pages in the WAL: the copy stops short of
        // them, and the writer appends behind them.
        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &reader), SQLITE_OK);
        ASSERT_TRUE(Exec(reader, "BEGIN; SELECT count(*) FROM t;"));
        ASSERT_TRUE(CommitRows(db, 400, 200));
        checkpointer.Request();
        checkpointer.WaitIdle();
        ASSERT_TRUE(Exec(reader, "COMMIT"));
        sqlite3_close(reader);
        ASSERT_TRUE(CommitRows(db, 600, 10));
    }
    sqlite3_close(db);  // the last connection: copies the rest back and removes the WAL
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));

    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*), sum(k) FROM t", -1, &count, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int64(count, 0), 610);
    EXPECT_EQ(sqlite3_column_int64(count, 1), 609 * 610 / 2);
    sqlite3_finalize(count);
    sqlite3_close(db);
}

// A file that cannot be opened leaves the checkpointer idle; asking again does not hang.
TEST(WalCheckpointer, AMissingFileIsGivenUpOn) {
    test::TempDir dir;
    WalCheckpointer checkpointer(dir.File("absent.db"));
    checkpointer.Request();
    checkpointer.WaitIdle();
    checkpointer.Request();
    checkpointer.WaitIdle();
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent.db")));
}

}  // namespace
}  // namespace qs
