// Overview lines through parsing and StoreScanned into a real group database: the
// merge joins the parts of one post and keeps single posts apart.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "db/header_db.h"
#include "db/header_view.h"
#include "scan/overview_line.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

TEST(StoreScannedLines, PartsJoinIntoOneAttachment) {
    test::TempDir dir;
    Group group;
    group.name = "alt.binaries.test";
    group.downloaddir = dir.File("dl");
    DbEnv env;
    env.data_dir = dir.path();
    ASSERT_TRUE(OpenHeaderDatabase(group, env));

    const char* const lines[] = {
        // A three-part post, out of order.
        "12\tmovie.mkv yEnc (2/3) - 100 MB\tme <m@x>\t07 Dec 2026 06:52:44 GMT\t<p2@x>\t\t1000\t10",
        "11\tmovie.mkv yEnc (1/3) - 100 MB\tme <m@x>\t07 Dec 2026 06:52:40 GMT\t<p1@x>\t\t1000\t10",
        "13\tmovie.mkv yEnc (3/3) - 100 MB\tme <m@x>\t07 Dec 2026 06:52:48 GMT\t<p3@x>\t\t500\t5",
        // Two posts with the same subject and no counter stay two attachments.
        "14\treadme\tme <m@x>\t\t<r1@x>\t\t10\t1",
        "15\treadme\tme <m@x>\t\t<r2@x>\t\t10\t1",
        // (1/1) is a single post too; a line without a Message-ID is not stored.
        "16\tcover.jpg (1/1)\tme <m@x>\t\t<c@x>\t\t20\t2",
        "17\tlost (1/2)\tme <m@x>\t\t\t\t20\t2",
    };
    std::vector<OverviewRecord> records(std::size(lines));
    std::vector<ScannedArticle> articles;
    for (size_t i = 0; i < records.size(); ++i) {
        ParseOverviewFields(SplitOverviewLine(lines[i]), records[i]);
        if (!ToScannedArticle(records[i], articles.emplace_back()))
            articles.pop_back();
    }
    ASSERT_TRUE(group.db->StoreScanned(articles, group.downloaddir, group.name));

    HeaderView view(group.db);
    ASSERT_EQ(view.CountRows(), 4);
    std::map<std::string, Attachment> by_id;
    for (int64_t row = 0; row < 4; ++row) {
        Attachment a;
        ASSERT_TRUE(view.AttachmentAt(row, a));
        by_id[a.Id] = a;
    }
    ASSERT_EQ(by_id.count("movie.mkv yEnc "), 1u);
    const Attachment& movie = by_id["movie.mkv yEnc "];
    EXPECT_EQ(movie.state, StateComplete);
    EXPECT_EQ(movie.parts, 3);
    EXPECT_EQ(movie.partcount, 3);
    EXPECT_EQ(movie.bytes, 2500);
    EXPECT_EQ(movie.lines, 25);
    EXPECT_EQ(movie.newsgroup, "alt.binaries.test");
    EXPECT_EQ(movie.dir, group.downloaddir);
    EXPECT_EQ(movie.isnew, 1);

    EXPECT_EQ(by_id.count("<r1@x>"), 1u);
    EXPECT_EQ(by_id.count("<r2@x>"), 1u);
    EXPECT_EQ(by_id["<c@x>"].filename, "cover.jpg ");
    EXPECT_EQ(by_id["<c@x>"].state, StateComplete);

    ASSERT_TRUE(group.db->LoadParts(by_id["movie.mkv yEnc "]));
    const auto& parts = by_id["movie.mkv yEnc "].partlist;
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].MessageId, "<p1@x>");
    EXPECT_EQ(parts[0].ArticleId, 11);
    EXPECT_EQ(parts[2].partnum, 3);
    EXPECT_EQ(group.db->HighestArticleId(), 16);
}

}  // namespace
}  // namespace qs
