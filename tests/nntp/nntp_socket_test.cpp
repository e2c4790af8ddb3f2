#include "nntp/nntp_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "nntp_test_util.h"
#include "support/news_server.h"

namespace qs {
namespace {

using test::NewsServer;
using test::Reply;
using namespace std::chrono_literals;

// Connects to the server and reads its greeting.
void OpenGreeted(NntpSocket& socket, const NewsServer& server) {
    socket.Open(server.host(), server.port());
    ASSERT_TRUE(socket.is_open());
    std::string greeting;
    ASSERT_TRUE(socket.ReadLine(greeting));
    ASSERT_EQ(greeting.substr(0, 3), "200");
}

TEST(NntpSocket, LinesKeepTheirCrAndLoseTheLf) {
    NewsServer server;
    Reply split = Reply::Line("211 3 1 3 alt.split");
    split.chunk = 3;
    split.chunk_pause = 20ms;
    server.SetReply("GROUP", split);
    server.SetReply("DATE", Reply::Raw("111 20240101000000\r\n222 second\r\n"));

    NntpSocket socket;
    OpenGreeted(socket, server);
    std::string line;
    socket.SendCommand("GROUP alt.split");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "211 3 1 3 alt.split\r");  // one line out of many segments

    socket.SendCommand("DATE");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "111 20240101000000\r");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "222 second\r");

    char buffer[kReplyBufferSize];
    socket.SendCommand("DATE");
    ASSERT_TRUE(socket.ReadLine(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "111 20240101000000\r");

    // Read in place: the same lines, whether they came whole or in segments.
    std::string spill;
    std::string_view view;
    socket.SendCommand("GROUP alt.split");
    ASSERT_TRUE(socket.ReadLineInPlace(view, spill, kReplyBufferSize));
    EXPECT_EQ(view, "211 3 1 3 alt.split\r");
    socket.SendCommand("DATE");
    ASSERT_TRUE(socket.ReadLineInPlace(view, spill, kReplyBufferSize));
    EXPECT_EQ(view, "111 20240101000000\r");
    ASSERT_TRUE(socket.ReadLineInPlace(view, spill, kReplyBufferSize));
    EXPECT_EQ(view, "222 second\r");
}

TEST(NntpSocket, DotBlocksEndAtTheirDotLineWhereverTheReceivesSplitThem) {
    // Two bodies back to back and a line after them: lines that only look like the end
    // (a doubled dot, ".x", ".\r\r", an empty line), one body ended by ".\r\n" and one by a
    // bare ".\n", and a body that is empty.
    // Lines long enough to be searched many bytes at a time come first.
    const std::string first = "abc\r\n" + std::string(70, 'x') + "\r\n..doubled\r\n" +
                              std::string(150, 'y') + "\n.x\r\n\r\n.\r\r\n\n=y.\r\n";
    const std::string second = "line\n";
    const std::string wire = first + ".\r\n" + second + ".\n.\r\n222 after\r\n";
    for (size_t chunk : {1, 2, 3, 5, 64, 65536}) {
        NewsServer server;
        Reply reply = Reply::Raw(wire);
        reply.chunk = chunk;
        server.SetReply("DATE", reply);
        NntpSocket socket;
        OpenGreeted(socket, server);
        socket.SendCommand("DATE");
        for (const std::string& expected : {first, second, std::string()}) {
            std::string block = "kept ";
            NntpSocket::BlockState state = NntpSocket::BlockState::LineStart;
            NntpSocket::BlockResult result;
            while ((result = socket.ReadDotBlock(block, state)) == NntpSocket::BlockResult::More) {
            }
            ASSERT_EQ(result, NntpSocket::BlockResult::Done) << "chunks of " << chunk;
            EXPECT_EQ(block, "kept " + expected) << "chunks of " << chunk;
        }
        std::string line;
        ASSERT_TRUE(socket.ReadLine(line));
        EXPECT_EQ(line, "222 after\r");
    }
    // A block the connection cuts short ends the stream.
    NewsServer server;
    server.SetReply("DATE", Reply::Close("partial\r\n."));
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("DATE");
    std::string block;
    NntpSocket::BlockState state = NntpSocket::BlockState::LineStart;
    NntpSocket::BlockResult result;
    while ((result = socket.ReadDotBlock(block, state)) == NntpSocket::BlockResult::More) {
    }
    EXPECT_EQ(result, NntpSocket::BlockResult::End);
    EXPECT_EQ(block, "partial\r\n.");
    EXPECT_TRUE(socket.eof());
}

TEST(NntpSocket, WritingACommandDropsUnreadInput) {
    NewsServer server;
    server.SetReply("DATE", Reply::Raw("111 first\r\nleft over\r\nand more\r\n"));
    server.SetReply("HELP", Reply::Line("100 help"));
    NntpSocket socket;
    OpenGreeted(socket, server);
    std::string line;
    socket.SendCommand("DATE");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "111 first\r");
    socket.SendCommand("HELP");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "100 help\r");
}

TEST(NntpSocket, ALineAtTheBufferLimitFailsTheStreamForGood) {
    NewsServer server;
    std::string fits(998, 'a');  // 998 characters and the CR: 999 stored
    std::string too_long(999, 'b');
    server.SetReply("DATE", Reply::Raw(fits + "\r\n" + too_long + "\r\nnext\r\n"));
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("DATE");
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line, 1000));
    EXPECT_EQ(line, fits + "\r");
    EXPECT_FALSE(socket.ReadLine(line, 1000));
    EXPECT_EQ(line.size(), 999u);
    EXPECT_TRUE(socket.fail());
    // Failed stays failed: nothing more is read and writes are dropped.
    EXPECT_FALSE(socket.ReadLine(line, 1000));
    EXPECT_EQ(line, "");
    socket.SendCommand("DATE");
    EXPECT_FALSE(server.WaitForCommands(2, 200ms));
}

TEST(NntpSocket, WholeLineModeReadsLongLinesWhole) {
    NewsServer server;
    std::string body_line(50000, 'y');
    server.SetReply("BODY", Reply::Multi("222 0 <a@b>", {body_line, "short"}));
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("BODY <a@b>");
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line));
    ASSERT_TRUE(socket.ReadLine(line, 1000, LineMode::Whole));
    EXPECT_EQ(line, body_line + "\r");
    ASSERT_TRUE(socket.ReadLine(line, 1000, LineMode::Whole));
    EXPECT_EQ(line, "short\r");

    // In place, a line too long for the limit fails the stream as ReadLine does.
    server.SetReply("DATE", Reply::Raw(body_line + "\r\nnext\r\n"));
    socket.SendCommand("DATE");
    std::string spill;
    std::string_view view;
    EXPECT_FALSE(socket.ReadLineInPlace(view, spill, 1000));
    EXPECT_EQ(view.size(), 999u);
    EXPECT_TRUE(socket.fail());
}

TEST(NntpSocket, EndlessLineEndsInFailureInBothModes) {
    NewsServer server;
    server.SetReply("BODY", Reply::Endless("222 0 <a@b>\r\n"));
    for (LineMode mode : {LineMode::FailWhenLong, LineMode::Whole}) {
        NntpSocket socket;
        OpenGreeted(socket, server);
        socket.SendCommand("BODY <a@b>");
        std::string line;
        ASSERT_TRUE(socket.ReadLine(line));
        EXPECT_FALSE(socket.ReadLine(line, 1000, mode));
        EXPECT_EQ(line.size(), mode == LineMode::Whole ? kWholeLineLimit : 999u);
        EXPECT_TRUE(socket.fail());
    }
}

TEST(NntpSocket, JunkAndDroppedConnectionsEndInFailure) {
    NewsServer server;
    server.SetReply("BODY", Reply::Junk(200000, 7));
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("BODY <a@b>");
    std::string line;
    int lines = 0;
    while (socket.ReadLine(line, 1000))
        ++lines;
    EXPECT_LT(line.size(), 1000u);
    EXPECT_TRUE(socket.fail() || socket.eof());
    EXPECT_FALSE(socket.ReadLine(line));
    EXPECT_EQ(line, "");

    // A connection cut in the middle of a body: the lines before it, then failure.
    NewsServer dropping;
    dropping.SetGreeting(Reply::Line("200 hi"));
    dropping.SetDropAfterBytes(8 + 13 + 10 + 5);  // greeting, status, "line one", "line "
    dropping.SetReply("BODY", Reply::Multi("222 0 <a@b>", {"line one", "line two", "line three"}));
    NntpSocket cut;
    OpenGreeted(cut, dropping);
    cut.SendCommand("BODY <a@b>");
    std::vector<std::string> got;
    while (cut.ReadLine(line))
        got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{"222 0 <a@b>\r", "line one\r"}));
    EXPECT_EQ(line, "line ");
    EXPECT_TRUE(cut.eof());
}

TEST(NntpSocket, SilentServerTimesOut) {
    NewsServer server;
    server.SetGreeting(Reply::Silence());
    SocketOptions options;
    options.timeout_seconds = 1;
    NntpSocket socket(options);
    socket.Open(server.host(), server.port());
    ASSERT_TRUE(socket.is_open());
    std::string line = "x";
    EXPECT_FALSE(socket.ReadLine(line));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(socket.fail());
}

TEST(NntpSocket, OpenFailuresLeaveItClosedWithOneLogLine) {
    test::CapturedLog log;
    NntpSocket socket;
    socket.Open("no-such-host.invalid", 119);
    EXPECT_FALSE(socket.is_open());
    EXPECT_EQ(socket.handle(), -1);
    socket.Open("127.0.0.1", test::UnusedLoopbackPort());
    EXPECT_FALSE(socket.is_open());
    std::string text = log.text();
    EXPECT_NE(text.find(" - cannot resolve remote host!\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" - conecction error!\n"), std::string::npos) << text;
}

TEST(NntpSocket, CloseSaysQuitOnlyWhenGraceful) {
    NewsServer server;
    SocketOptions options;
    {
        test::CapturedLog log;
        NntpSocket socket(options);
        OpenGreeted(socket, server);
        socket.Close();
        EXPECT_FALSE(socket.is_open());
        EXPECT_NE(log.text().find("Socket closed!\n"), std::string::npos);
    }
    ASSERT_TRUE(server.WaitForCommands(1, 5s));
    EXPECT_EQ(server.commands(), std::vector<std::string>{"QUIT"});

    server.ClearCommands();
    options.gracefully = false;
    {
        NntpSocket socket(options);
        OpenGreeted(socket, server);
        socket.SendCommand("DATE");
    }  // destruction closes
    ASSERT_TRUE(server.WaitForCommands(1, 5s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.commands(), std::vector<std::string>{"DATE"});
}

TEST(NntpSocket, LargeWritesArriveWholeAndInOrder) {
    NewsServer server;
    server.memory_corpus()->AddGroup("alt.test");
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("POST");
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line));
    ASSERT_EQ(line.substr(0, 3), "340");
    std::vector<std::string> article = {"Newsgroups: alt.test", "Subject: big", ""};
    for (int i = 0; i < 2000; ++i)
        article.push_back("line " + std::to_string(i) + " " + std::string(40, 'z'));
    for (const std::string& l : article)
        socket << l << "\r\n";
    socket.SendCommand(".");
    ASSERT_TRUE(socket.ReadLine(line));
    EXPECT_EQ(line, "240 Article received <1.alt.test@memory.test>\r");
    ASSERT_EQ(server.memory_corpus()->posted().size(), 1u);
    EXPECT_EQ(server.memory_corpus()->posted()[0], article);
}

TEST(NntpSocket, ShutdownFromAnotherThreadWakesABlockedRead) {
    NewsServer server;
    server.SetReply("BODY", Reply::Silence());
    NntpSocket socket;
    OpenGreeted(socket, server);
    socket.SendCommand("BODY <a@b>");
    std::thread stopper([&] {
        server.WaitForCommands(1, 5s);
        std::this_thread::sleep_for(50ms);
        socket.Shutdown();
    });
    std::string line;
    EXPECT_FALSE(socket.ReadLine(line));  // would block for the whole time-out otherwise
    stopper.join();
    EXPECT_TRUE(socket.fail());
    EXPECT_TRUE(socket.is_open());  // the owner closes
    socket.Close();
    EXPECT_FALSE(socket.is_open());
}

// The test server's model of a slow link: each reply leaves a round trip after its command
// came, and commands sent together wait together, not one after the other.
TEST(NntpSocket, PipelinedCommandsOverlapOnASlowLink) {
    NewsServer server;
    server.SetLatency(200ms);
    NntpSocket socket;
    socket.Open(server.host(), server.port());
    ASSERT_TRUE(socket.is_open());
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line));
    const auto start = std::chrono::steady_clock::now();
    socket << "DATE\r\nDATE\r\nDATE\r\n" << std::flush;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(socket.ReadLine(line));
        EXPECT_EQ(line.substr(0, 4), "111 ");
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 200ms);
    EXPECT_LT(elapsed, 500ms);  // one after the other would take 600 ms
}

TEST(NntpSocket, ConnectsOverIpv6) {
    std::unique_ptr<NewsServer> server;
    try {
        server = std::make_unique<NewsServer>(test::ServerOptions{"::1", 0});
    } catch (const std::exception&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    NntpSocket socket;
    OpenGreeted(socket, *server);
}

}  // namespace
}  // namespace qs
