// Pipelined BODY commands: failures in the middle of a pipeline are handled for their own
// part, and the replies behind them are neither lost nor taken for another part.
#include <gtest/gtest.h>

#include <algorithm>

#include "download_fixture.h"

namespace qs::test {
namespace {

class Pipeline : public DownloadFixture {
  protected:
    // Where the n-th (1-based) BODY command for the message-id stands in the server's
    // commands; -1 when it never came.
    static long BodyIndex(const NewsServer& server, const std::string& id, int n) {
        const std::vector<std::string> commands = server.commands();
        for (size_t i = 0; i < commands.size(); ++i)
            if (commands[i] == "BODY " + id && --n == 0)
                return static_cast<long>(i);
        return -1;
    }
};

TEST_F(Pipeline, A430ADroppedConnectionAndABadCrcMidPipelineStillGiveTheFile) {
    NewsServer server;
    AddServer(server);
    settings_.PipelineDepth = 4;
    settings_.ConnectionRetries = 2;
    settings_.SkipMissing = 0;
    const std::string data = PostYenc({&server}, "p.bin", 36000, 12);
    // Part 3 is missing once, part 6's connection drops inside its body, part 9 arrives
    // once with a byte changed (its CRC fails); each is fetched again and arrives.
    server.QueueReply("BODY <p.bin.3@test>", Reply::Line("430 no such article"));
    server.QueueReply("BODY <p.bin.6@test>",
                      Reply::Close("222 0 <p.bin.6@test>\r\n=ybegin part=6 total=12\r\n"));
    std::string bad = YencPart("p.bin", data, 9, 12, 8 * 3000, 9 * 3000);
    const size_t third_line = bad.find('\n', bad.find('\n', bad.find('\n') + 1) + 1) + 1;
    ASSERT_LT(third_line + 10, bad.size());
    for (size_t i = third_line + 5;; ++i) {
        if (bad[i] != '=' && bad[i - 1] != '=' && bad[i] > 'A' && bad[i] < 'z') {
            bad[i] = bad[i] == 'b' ? 'c' : 'b';
            break;
        }
    }
    std::vector<std::string> lines;
    for (size_t start = 0; start < bad.size();) {
        const size_t end = bad.find('\n', start);
        lines.push_back(bad.substr(start, end - start));
        start = end + 1;
    }
    server.QueueReply("BODY <p.bin.9@test>", Reply::Multi("222 0 <p.bin.9@test>", lines));
    // Another file after a third that cannot be had: its pipeline is cut short with
    // replies still on the way, and the next entry must not read them as its own.
    const std::string after = PostYenc({&server}, "after.bin", 9000, 3, 2);
    PostYenc({&server}, "lost.bin", 9000, 6, 3);
    server.SetReply("BODY <lost.bin.2@test>", Reply::Line("430 no such article"));
    Queue(Entry("p.bin", 12));
    Queue(Entry("lost.bin", 6));
    Queue(Entry("after.bin", 3));
    RunWorkers();

    EXPECT_TRUE(ReadFile(OutputDir() + "p.bin") == data);
    EXPECT_TRUE(ReadFile(OutputDir() + "after.bin") == after);
    for (const FiledEntry& entry : events_.Filed()) {
        if (entry.filename.rfind("lost.bin", 0) == 0) {
            EXPECT_EQ(entry.outcome, EntryOutcome::Failed);
        } else {
            EXPECT_EQ(entry.outcome, EntryOutcome::Done) << entry.filename;
            EXPECT_EQ(entry.reason, "") << entry.filename;  // nothing missing or damaged
        }
    }
    EXPECT_EQ(events_.Filed().size(), 3u);
    // The parts behind the missing one were asked for before it was asked for again: the
    // commands went out ahead of the replies.
    const long retry = BodyIndex(server, "<p.bin.3@test>", 2);
    ASSERT_GT(retry, 0);
    const long ahead = BodyIndex(server, "<p.bin.6@test>", 1);
    EXPECT_GT(ahead, BodyIndex(server, "<p.bin.3@test>", 1));
    EXPECT_LT(ahead, retry);
}

TEST_F(Pipeline, DepthOneAsksForOnePartAtATime) {
    NewsServer server;
    AddServer(server);
    settings_.PipelineDepth = 1;
    const std::string data = PostYenc({&server}, "one.bin", 12000, 4);
    server.QueueReply("BODY <one.bin.2@test>", Reply::Line("430 no such article"));
    Queue(Entry("one.bin", 4));
    RunWorkers();

    EXPECT_TRUE(ReadFile(OutputDir() + "one.bin") == data);
    EXPECT_LT(BodyIndex(server, "<one.bin.2@test>", 2), BodyIndex(server, "<one.bin.3@test>", 1));
    EXPECT_EQ(BodyIndex(server, "<one.bin.3@test>", 2), -1);
}

}  // namespace
}  // namespace qs::test
