#include "nntp/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "nntp_test_util.h"
#include "support/news_server.h"
#include "support/test_certificates.h"

namespace qs {
namespace {

using test::NewsServer;
using test::Reply;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

ServerEntry Entry(const std::string& host, int port, const std::string& user = {},
                  const std::string& password = {}) {
    ServerEntry e;
    e.host = host;
    e.port = port;
    e.user = user;
    e.password = password;
    return e;
}

// Connects as a worker does: a rotation over the state's settings of the moment.
SlotConnection Connect(WorkerState& state, int slot, StatusText* status, bool single_attempt) {
    ServerRotation rotation(state.slot(slot), state.settings());
    return ConnectToServer(state, slot, rotation, status, single_attempt);
}

std::shared_ptr<const Settings> Snapshot(const Settings& settings) {
    return std::make_shared<const Settings>(settings);
}

// Status texts in the order they were set, with the time each was set.
struct StatusLog {
    explicit StatusLog(StatusText& status) {
        status.SetListener([this](const std::string& text) {
            std::lock_guard lock(mutex);
            texts.push_back(text);
            times.push_back(Clock::now());
        });
    }
    std::mutex mutex;
    std::vector<std::string> texts;
    std::vector<Clock::time_point> times;
};

TEST(ReplyCode, ReadsTheLeadingNumberLikeScanf) {
    EXPECT_EQ(ReplyCode("211 3 1 3 alt.test\r"), 211);
    EXPECT_EQ(ReplyCode("  200 hello"), 200);
    EXPECT_EQ(ReplyCode("-5"), -5);
    EXPECT_EQ(ReplyCode(""), -1);
    EXPECT_EQ(ReplyCode("\r"), -1);
    EXPECT_EQ(ReplyCode("abc 200"), -1);
    // Values beyond int saturate rather than wrap.
    EXPECT_EQ(ReplyCode("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ReplyCode("-99999999999999999999 x"), INT_MIN);
}

TEST(ConnectToServer, FirstServerRefusingMovesTheSlotToTheNext) {
    NewsServer b;
    Settings settings;
    settings.servers = {Entry("localhost", test::UnusedLoopbackPort()),
                        Entry("127.0.0.1", b.port())};
    WorkerState state(Snapshot(settings), nullptr);
    state.SetDownloading(true);
    StatusText status;
    StatusLog log(status);

    auto start = Clock::now();
    SlotConnection connection = Connect(state, 2, &status, false);
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->is_open());
    EXPECT_EQ(state.slot(2).server_index.load(), 1);
    EXPECT_TRUE(state.slot(2).has_connection());
    ASSERT_EQ(log.texts, (std::vector<std::string>{
                             "localhost:Connecting...",
                             "localhost:Connect Failed!! Cannot open socket.",
                             "127.0.0.1:Trying news server...",
                             "127.0.0.1:Connecting...",
                         }));
    EXPECT_GE(log.times[2] - log.times[1], 1900ms);
    EXPECT_GE(log.times[3] - log.times[2], 900ms);
    EXPECT_GE(Clock::now() - start, 2900ms);

    // The slot stays with the server that worked.
    connection.reset();
    EXPECT_FALSE(state.slot(2).has_connection());
    connection = Connect(state, 2, &status, false);
    ASSERT_TRUE(connection);
    EXPECT_EQ(log.texts.back(), "127.0.0.1:Connecting...");
}

TEST(ConnectToServer, StopsAfterAFailureWhenNotDownloading) {
    NewsServer b;
    Settings settings;
    settings.servers = {Entry("localhost", test::UnusedLoopbackPort()),
                        Entry("127.0.0.1", b.port())};
    WorkerState state(Snapshot(settings), nullptr);
    StatusText status;
    StatusLog log(status);
    EXPECT_FALSE(Connect(state, 0, &status, false));
    EXPECT_EQ(log.texts, (std::vector<std::string>{
                             "localhost:Connecting...",
                             "localhost:Connect Failed!! Cannot open socket.",
                             "127.0.0.1:Trying news server...",
                             "Stopped.",
                         }));
    EXPECT_EQ(state.slot(0).server_index.load(), 1);
    EXPECT_FALSE(state.slot(0).has_connection());
}

// A certificate the entry's checks refuse is a failed attempt whose status says why.
TEST(ConnectToServer, ARefusedCertificateIsAFailedAttemptWithItsReason) {
    test::TempDir dir;
    test::TestCertificates certificates(dir.path());
    test::ServerOptions options;
    const test::CertificateFiles files = certificates.SelfSigned("127.0.0.1", "self");
    options.tls_certificate = files.certificate;
    options.tls_key = files.key;
    NewsServer self_signed(options);
    Settings settings;
    settings.servers = {Entry("127.0.0.1", self_signed.port()), Entry("localhost", 1)};
    settings.servers[0].ssl = 1;
    WorkerState state(Snapshot(settings), nullptr);
    StatusText status;
    StatusLog log(status);
    EXPECT_FALSE(Connect(state, 0, &status, false));
    EXPECT_EQ(log.texts, (std::vector<std::string>{
                             "127.0.0.1:Connecting...",
                             "127.0.0.1:Connect Failed!! TLS: certificate verify failed "
                             "(self-signed certificate)",
                             "localhost:Trying news server...",
                             "Stopped.",
                         }));
    EXPECT_EQ(state.slot(0).server_index.load(), 1);
}

TEST(ConnectToServer, SingleAttemptTriesOneServer) {
    NewsServer refusing;
    refusing.SetGreeting(Reply::Line("502 go away"));
    Settings settings;
    settings.servers = {Entry("127.0.0.1", refusing.port()), Entry("127.0.0.1", refusing.port())};
    WorkerState state(Snapshot(settings), nullptr);
    state.SetDownloading(true);
    EXPECT_FALSE(Connect(state, 0, nullptr, true));
    EXPECT_EQ(refusing.connections_accepted(), 1);
    EXPECT_EQ(state.slot(0).server_index.load(), 1);
    // The ring wraps round.
    EXPECT_FALSE(Connect(state, 0, nullptr, true));
    EXPECT_EQ(state.slot(0).server_index.load(), 0);
}

TEST(ConnectToServer, NoServersAsksTheUserToAddOne) {
    Settings settings;
    test::RecordingHost host;
    WorkerState state(Snapshot(settings), &host);
    EXPECT_FALSE(Connect(state, 0, nullptr, false));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, "No newsservers selected, go to Options->News Servers!");
    EXPECT_EQ(host.messages[0].second, Host::Icon::Stop);
}

TEST(ConnectToServer, GreetingOtherThan200Or201FailsWithTheLine) {
    test::CapturedLog trace;
    NewsServer server;
    server.SetGreeting(Reply::Line("400 too busy"));
    Settings settings;
    settings.servers = {Entry("127.0.0.1", server.port())};
    WorkerState state(Snapshot(settings), nullptr);
    StatusText status;
    StatusLog log(status);
    EXPECT_FALSE(Connect(state, 0, &status, false));
    ASSERT_GE(log.texts.size(), 2u);
    EXPECT_EQ(log.texts[1], "127.0.0.1:Connect Failed!! 400 too busy\r");
    EXPECT_NE(trace.text().find("CONNECT!\n"), std::string::npos);
    EXPECT_NE(trace.text().find("Connect string: 400 too busy\r\n"), std::string::npos);

    // 201 (no posting) is a greeting like 200.
    server.SetGreeting(Reply::Line("201 read only"));
    EXPECT_TRUE(Connect(state, 0, &status, false));
}

TEST(ConnectToServer, SilentGreetingFailsAfterTheTimeOut) {
    NewsServer server;
    server.SetGreeting(Reply::Silence());
    Settings settings;
    settings.SocketTimeout = 1;
    settings.servers = {Entry("127.0.0.1", server.port())};
    WorkerState state(Snapshot(settings), nullptr);
    StatusText status;
    StatusLog log(status);
    EXPECT_FALSE(Connect(state, 0, &status, false));
    ASSERT_GE(log.texts.size(), 2u);
    EXPECT_EQ(log.texts[1], "127.0.0.1:Connect Failed!! ");
}

TEST(ConnectToServer, LoginOnlyWithAUserNameAndModeReaderFirst) {
    NewsServer server;
    Settings settings;
    settings.servers = {Entry("127.0.0.1", server.port())};
    WorkerState state(Snapshot(settings), nullptr);
    auto connection = Connect(state, 0, nullptr, false);
    ASSERT_TRUE(connection);
    connection.reset();
    ASSERT_TRUE(server.WaitForCommands(3, 5s));
    EXPECT_EQ(server.commands(), (std::vector<std::string>{"MODE READER", "CAPABILITIES", "QUIT"}));

    server.ClearCommands();
    server.RequireLogin("joe", "secret");
    settings.servers = {Entry("127.0.0.1", server.port(), "joe", "secret")};
    state.SetSettings(Snapshot(settings));
    connection = Connect(state, 0, nullptr, false);
    ASSERT_TRUE(connection);
    EXPECT_TRUE(SelectGroup(*connection, "alt.none") == false);
    connection.reset();
    ASSERT_TRUE(server.WaitForCommands(6, 5s));
    EXPECT_EQ(server.commands(),
              (std::vector<std::string>{"MODE READER", "AUTHINFO USER joe", "AUTHINFO PASS secret",
                                        "CAPABILITIES", "GROUP alt.none", "QUIT"}));
}

TEST(ConnectToServer, RefusedLoginsFailTheAttempt) {
    NewsServer server;
    Settings settings;
    settings.servers = {Entry("127.0.0.1", server.port(), "joe", "wrong")};
    WorkerState state(Snapshot(settings), nullptr);
    StatusText status;
    StatusLog log(status);

    server.SetReply("AUTHINFO PASS", Reply::Line("502 no permission"));
    EXPECT_FALSE(Connect(state, 0, &status, false));
    EXPECT_EQ(log.texts[1], "127.0.0.1:Connect Failed!! 502 no permission\r");

    // A wrong password (481, RFC 4643) and a refused user name fail too.
    server.ClearReplies();
    server.RequireLogin("joe", "secret");
    EXPECT_FALSE(Connect(state, 0, &status, false));
    EXPECT_EQ(log.texts[5], "127.0.0.1:Connect Failed!! 481 Authentication failed\r");
    server.SetReply("AUTHINFO USER", Reply::Line("482 out of sequence"));
    EXPECT_FALSE(Connect(state, 0, &status, false));
    EXPECT_EQ(log.texts[9], "127.0.0.1:Connect Failed!! 482 out of sequence\r");

    // 281 at once after USER needs no password.
    server.SetReply("AUTHINFO USER", Reply::Line("281 welcome"));
    server.ClearCommands();
    EXPECT_TRUE(Connect(state, 0, &status, false));
    ASSERT_TRUE(server.WaitForCommands(2, 5s));
    std::vector<std::string> sent = server.commands();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AUTHINFO USER joe"), sent.end());
    EXPECT_EQ(std::find(sent.begin(), sent.end(), "AUTHINFO PASS wrong"), sent.end());

    server.ClearReplies();
    server.SetReply("AUTHINFO PASS", Reply::Line("281 ok"));
    EXPECT_TRUE(Connect(state, 0, &status, false));
}

TEST(SelectGroup, TrueOnlyFor211) {
    NewsServer server;
    server.memory_corpus()->Add("alt.binaries.test", {});
    NntpSocket socket;
    socket.Open(server.host(), server.port());
    std::string greeting;
    socket.ReadLine(greeting);
    EXPECT_TRUE(SelectGroup(socket, "alt.binaries.test"));
    EXPECT_FALSE(SelectGroup(socket, "alt.missing"));  // 411
    server.SetReply("GROUP", Reply::Line("480 login first"));
    EXPECT_FALSE(SelectGroup(socket, "alt.binaries.test"));
    server.SetReply("GROUP", Reply::Close());
    EXPECT_FALSE(SelectGroup(socket, "alt.binaries.test"));
}

TEST(ConnectToServer, StopFromAnotherThreadEndsTheRetryLoop) {
    NewsServer server;
    server.SetGreeting(Reply::Line("400 busy"));
    Settings settings;
    settings.servers = {Entry("127.0.0.1", server.port())};
    WorkerState state(Snapshot(settings), nullptr);
    state.SetDownloading(true);
    StatusText status;
    StatusLog log(status);
    std::thread stopper([&] {
        while (server.connections_accepted() < 1)
            std::this_thread::sleep_for(10ms);
        state.RequestStop(1);
    });
    EXPECT_FALSE(Connect(state, 1, &status, false));
    stopper.join();
    EXPECT_EQ(status.Get(), "Stopped.");
    EXPECT_FALSE(state.slot(1).has_connection());
}

TEST(ConnectToServer, StopWakesAWorkerBlockedOnItsConnection) {
    NewsServer server;
    server.SetReply("BODY", Reply::Silence());
    Settings settings;
    settings.servers = {Entry("127.0.0.1", server.port())};
    WorkerState state(Snapshot(settings), nullptr);
    state.SetDownloading(true);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        auto connection = Connect(state, 3, nullptr, false);
        ASSERT_TRUE(connection);
        connection->SendCommand("BODY <x@y>");
        std::string line;
        EXPECT_FALSE(connection->ReadLine(line));
        done = true;
    });
    ASSERT_TRUE(server.WaitForCommands(3, 5s));
    std::this_thread::sleep_for(50ms);
    state.StopAll();
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(state.downloading());
}

TEST(ConnectToServer, GivesUpAfterConnectionRetriesRoundsOverAllServers) {
    NewsServer refusing;
    refusing.SetGreeting(Reply::Line("502 go away"));
    Settings settings;
    settings.servers = {Entry("127.0.0.1", refusing.port()), Entry("127.0.0.1", refusing.port())};
    settings.ConnectionRetries = 2;
    WorkerState state(Snapshot(settings), nullptr);
    state.SetDownloading(true);
    EXPECT_FALSE(Connect(state, 0, nullptr, false));
    EXPECT_EQ(refusing.connections_accepted(), 4);  // two rounds over two servers
    EXPECT_EQ(state.slot(0).server_index.load(), 0);
    EXPECT_FALSE(state.slot(0).has_connection());
}

}  // namespace
}  // namespace qs
