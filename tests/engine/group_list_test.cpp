// The server's list of groups through the engine: LIST into the groups database, the
// subscriptions kept across retrievals, stopping, the probe of a news server, the
// duplicate server check and the auto download directories.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/group_list_reader.h"

namespace qs {
namespace {

using namespace std::chrono_literals;

std::vector<Group> AllRows(GroupListView& view) {
    std::vector<Group> rows;
    Group g;
    for (int64_t r = 0; r < view.CountRows() && view.GroupAt(r, g); ++r)
        rows.push_back(g);
    return rows;
}

std::optional<Group> Find(GroupListView& view, const std::string& name) {
    for (const Group& g : AllRows(view))
        if (g.name == name)
            return g;
    return std::nullopt;
}

// Waits for the reader started by StartGroupListFetch to end.
Engine::GroupListFetch WaitForReader(Engine& engine) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (engine.group_list_fetch().running && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    return engine.group_list_fetch();
}

class GroupListTest : public EngineTest {
  protected:
    std::vector<ServerEntry> Servers(const test::NewsServer& server) {
        return {{server.host(), "", "", 0, server.port()}};
    }
};

TEST_F(GroupListTest, ListIsStoredSearchedAndKeepsSubscriptionsAcrossRetrievals) {
    test::NewsServer server;
    server.SetReply("LIST",
                    test::Reply::Multi("215 list of newsgroups follows",
                                       {"alt.binaries.a 10 3 y", "alt.short 5", "alt.quote'd 7 7 n",
                                        std::string(1500, 'x'), "alt.binaries.b 2000000000 1 m"}));
    Configure(server, {"alt.binaries.b", "alt.gone"});
    auto engine = OpenEngine();

    // The line of two fields and the over-long one are skipped, not fatal.
    CommandResult fetched = engine->FetchGroupList();
    ASSERT_TRUE(fetched.ok) << fetched.message;
    EXPECT_EQ(fetched.count, 3);
    Engine::GroupListFetch progress = engine->group_list_fetch();
    EXPECT_FALSE(progress.running);
    EXPECT_TRUE(progress.finished);
    EXPECT_EQ(progress.stored, 3);
    EXPECT_EQ(progress.status, "3");

    std::unique_ptr<GroupListView> view = engine->OpenGroupList();
    ASSERT_TRUE(view);
    std::optional<Group> a = Find(*view, "alt.binaries.a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->first, 3);
    EXPECT_EQ(a->last, 10);
    EXPECT_EQ(a->amount, 7);
    EXPECT_EQ(a->state, 0);
    // The subscribed groups are marked again, listed or not, with their directories.
    std::optional<Group> b = Find(*view, "alt.binaries.b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->state, 1);
    EXPECT_EQ(b->amount, 1999999999);
    EXPECT_EQ(b->downloaddir, home_.File("alt.binaries.b") + "/");
    ASSERT_TRUE(Find(*view, "alt.gone"));
    EXPECT_EQ(Find(*view, "alt.gone")->state, 1);
    EXPECT_EQ(view->CountRows(), 4);

    // A quote in the search text is a character like any other.
    view->SetFilter("QUOTE'D");
    ASSERT_EQ(view->CountRows(), 1);
    EXPECT_EQ(AllRows(*view)[0].name, "alt.quote'd");
    // Several words: a group holds every one of them, in any order.
    view->SetFilter(" gone  ALT ");
    ASSERT_EQ(view->CountRows(), 1);
    EXPECT_EQ(AllRows(*view)[0].name, "alt.gone");
    view->SetFilter("gone binaries");
    EXPECT_EQ(view->CountRows(), 0);
    view->SetFilter("binaries");
    ASSERT_TRUE(view->SetOrder("amount desc"));
    ASSERT_EQ(view->CountRows(), 2);
    EXPECT_EQ(AllRows(*view)[0].name, "alt.binaries.b");
    EXPECT_FALSE(view->SetOrder("bytes"));

    // A tick made before the next retrieval is lost with the old list; the groups kept
    // are marked again, and the list the dialog gets back holds only them.
    // Marking a dialog's groups takes every other mark away (a group unsubscribed since
    // must not come back ticked).
    ASSERT_TRUE(engine->MarkSubscribed({{"alt.binaries.a", "/dl/a/", 0}}).ok);
    EXPECT_EQ(Find(*view, "alt.binaries.a")->state, 1);
    EXPECT_EQ(Find(*view, "alt.binaries.b")->state, 0);
    EXPECT_EQ(Find(*view, "alt.binaries.a")->first, 3);  // the listed numbers stay
    ASSERT_TRUE(engine->StartGroupListFetch(Servers(server), engine->settings()->groups).ok);
    progress = WaitForReader(*engine);
    EXPECT_TRUE(progress.finished);
    EXPECT_EQ(progress.error, "");
    std::vector<GroupListEntry> marked = engine->MarkedGroups();
    ASSERT_EQ(marked.size(), 2u);
    EXPECT_EQ(marked[0].name, "alt.binaries.b");
    EXPECT_EQ(marked[0].downloaddir, home_.File("alt.binaries.b") + "/");
    EXPECT_EQ(marked[1].name, "alt.gone");

    // A refused LIST keeps the list as it was and tells the user with the reply line.
    server.SetReply("LIST", test::Reply::Line("503 program fault"));
    ASSERT_TRUE(engine->StartGroupListFetch(Servers(server), {}).ok);
    progress = WaitForReader(*engine);
    const std::string refused = "Can't connect to server!\n127.0.0.1\n503 program fault";
    EXPECT_EQ(progress.error, refused);
    EXPECT_EQ(progress.status, "");
    EXPECT_FALSE(progress.finished);
    ASSERT_FALSE(host_.messages().empty());
    EXPECT_EQ(host_.messages().back().first, refused);
    EXPECT_EQ(host_.messages().back().second, Host::Icon::Stop);
    view->SetFilter("");
    EXPECT_EQ(view->CountRows(), 4);
}

TEST_F(GroupListTest, NoServerOrNoConnectionIsToldAndAReaderIsRefusedWhileOneRuns) {
    Configure(test::NewsServer(), {});
    auto engine = OpenEngine();
    // Disabled entries are not used: the list has no server then.
    ServerEntry disabled{"127.0.0.1", "", "", 1, 119};
    ASSERT_TRUE(engine->StartGroupListFetch({disabled}, {}).ok);
    EXPECT_EQ(WaitForReader(*engine).error,
              "No news server entered. Enter the name of your news server.");

    const int port = test::UnusedLoopbackPort();
    ASSERT_TRUE(engine->StartGroupListFetch({disabled, {"127.0.0.1", "", "", 0, port}}, {}).ok);
    EXPECT_EQ(WaitForReader(*engine).error, "Can't connect to server!\n127.0.0.1");
    ASSERT_EQ(host_.messages().size(), 2u);
    EXPECT_EQ(host_.messages()[1].second, Host::Icon::Stop);

    test::NewsServer silent;
    silent.SetReply("LIST", test::Reply::Silence());
    ASSERT_TRUE(engine->StartGroupListFetch(Servers(silent), {}).ok);
    EXPECT_FALSE(engine->StartGroupListFetch(Servers(silent), {}).ok);
    EXPECT_FALSE(engine->FetchGroupList().ok);
    engine->StopGroupListFetch(5s);
    EXPECT_FALSE(engine->group_list_fetch().running);
}

// Stop ends a reader whether it is between lines of a list that never ends or blocked in
// a receive of a server gone quiet, and the subscriptions are marked all the same.
TEST_F(GroupListTest, StopEndsAReaderWithinTheBound) {
    std::string endless = "215 list follows\r\n";
    for (int i = 0; i < 200000; ++i)
        endless += "alt.endless." + std::to_string(i) + " 10 1 y\r\n";
    test::NewsServer server;
    test::Reply slow = test::Reply::Raw(endless);
    slow.chunk = 512;
    slow.chunk_pause = 2ms;
    slow.after = test::Reply::After::Silence;
    server.SetReply("LIST", slow);
    Configure(server, {"alt.kept"});
    auto engine = OpenEngine();

    for (bool wait_for_silence : {false, true}) {
        if (wait_for_silence) {
            test::Reply quiet = test::Reply::Raw("215 list follows\r\nalt.one 2 1 y\r\n");
            quiet.after = test::Reply::After::Silence;
            server.SetReply("LIST", quiet);
        }
        ASSERT_TRUE(engine->StartGroupListFetch(Servers(server), engine->settings()->groups).ok);
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (engine->group_list_fetch().stored < 1 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        if (wait_for_silence)
            std::this_thread::sleep_for(50ms);  // the reader waits on the socket now
        engine->StopGroupListFetch(2000ms);
        Engine::GroupListFetch progress = engine->group_list_fetch();
        EXPECT_FALSE(progress.running) << wait_for_silence;
        EXPECT_FALSE(progress.finished);
        EXPECT_GE(progress.stored, 1);
        EXPECT_EQ(progress.error, "");
        std::vector<GroupListEntry> marked = engine->MarkedGroups();
        ASSERT_EQ(marked.size(), 1u);
        EXPECT_EQ(marked[0].name, "alt.kept");
    }
}

TEST_F(GroupListTest, ProbeFindsAServerAsksForALoginOrFails) {
    test::NewsServer server;
    Configure(server, {});
    auto engine = OpenEngine();
    std::vector<std::string> said;
    auto status = [&](const std::string& text) { said.push_back(text); };

    // 200 and "group alt.test" answered 411: a news server.
    Engine::ServerProbe probe =
        engine->ProbeServer({server.host(), "", "", 0, server.port()}, status);
    EXPECT_TRUE(probe.detected);
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0], "Please wait. Trying: 127.0.0.1");
    EXPECT_EQ(said[1].rfind("Got response: 200 ", 0), 0u) << said[1];
    EXPECT_EQ(said[2], "Got response: 411 No such group alt.test");
    ASSERT_TRUE(server.WaitForCommands(1, 5s));
    EXPECT_EQ(server.commands().front(), "group alt.test");

    // 480: not detected, the user is asked for a login.
    server.RequireLogin("me", "secret");
    said.clear();
    probe = engine->ProbeServer({server.host(), "", "", 0, server.port()}, status);
    EXPECT_FALSE(probe.detected);
    EXPECT_TRUE(probe.needs_login);
    EXPECT_EQ(said.back(),
              "Please enter a username and password from your Internet Provider and retry.");
    // With the login it is found.
    said.clear();
    EXPECT_TRUE(
        engine->ProbeServer({server.host(), "me", "secret", 0, server.port()}, status).detected)
        << testing::PrintToString(said);

    // 502 to the login fails.
    server.QueueReply("AUTHINFO PASS", test::Reply::Line("502 Permission denied"));
    probe = engine->ProbeServer({server.host(), "me", "secret", 0, server.port()}, status);
    EXPECT_FALSE(probe.detected);
    EXPECT_FALSE(probe.needs_login);

    // A greeting of 400 fails, and so does a port nobody listens on.
    server.SetGreeting(test::Reply::Line("400 Service temporarily unavailable"));
    EXPECT_FALSE(engine->ProbeServer({server.host(), "", "", 0, server.port()}, status).detected);
    said.clear();
    EXPECT_FALSE(
        engine->ProbeServer({"127.0.0.1", "", "", 0, test::UnusedLoopbackPort()}, status).detected);
    EXPECT_EQ(said.back(), "Please wait. Trying: 127.0.0.1. Failed.");

    // The candidates come from the gateways the engine is given.
    engine->SetGatewayNamesForTests([] {
        return std::vector<std::string>{"", "gw.isp.example.net"};
    });
    EXPECT_EQ(
        engine->ServerCandidates("my.host"),
        (std::vector<std::string>{"news", "nntp", "my.host", "news.isp.example.net",
                                  "nntp.isp.example.net", "news.example.net", "nntp.example.net"}));
}

TEST_F(GroupListTest, DuplicateServersAreThoseResolvingToOneAddress) {
    Configure(test::NewsServer(), {});
    auto engine = OpenEngine();
    EXPECT_EQ(engine->CheckDuplicateServers({}).message, "Servers OK, no duplicates.");
    CommandResult ok = engine->CheckDuplicateServers(
        {{"127.0.0.1", "", "", 0, 119}, {"127.0.0.2", "", "", 1, 119}});
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.message, "Servers OK, no duplicates.");

    CommandResult twice = engine->CheckDuplicateServers(
        {{"127.0.0.1", "", "", 0, 119}, {"localhost", "", "", 0, 119}});
    EXPECT_FALSE(twice.ok);
    EXPECT_EQ(twice.message, "Duplicate servers:\nlocalhost <=> 127.0.0.1\nPlease remove one.");

    CommandResult unknown = engine->CheckDuplicateServers(
        {{"127.0.0.1", "", "", 0, 119}, {"nonexistent.invalid", "", "", 0, 119}});
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.message,
              "An error occured while getting the IP address for:\nnonexistent.invalid\n"
              "Please remove this server.");
}

TEST_F(GroupListTest, AutoDownloadDirectoriesFollowBaseDir) {
    for (int no_subdir : {0, 1}) {
        const std::string base = home_.File("base" + std::to_string(no_subdir));
        Configure(test::NewsServer(), {"alt.a", "alt.b"}, [&](Settings& s) {
            s.BaseDir = base + "/";
            s.NoAutoSubdir = no_subdir;
            s.AutoCreateDirs = 0;  // the host answers yes
        });
        auto engine = OpenEngine();
        CommandResult assigned = engine->AssignAutoDownloadDirs();
        ASSERT_TRUE(assigned.ok) << assigned.message;
        EXPECT_EQ(assigned.count, 2);
        std::shared_ptr<const Settings> s = engine->settings();
        const std::string a = no_subdir ? base + "/" : base + "/alt.a/";
        const std::string b = no_subdir ? base + "/" : base + "/alt.b/";
        EXPECT_EQ(s->groups[0].downloaddir, a);
        EXPECT_EQ(s->groups[1].downloaddir, b);
        EXPECT_EQ(s->AutoCreateDirs, 0);
        EXPECT_TRUE(std::filesystem::is_directory(a));
        EXPECT_TRUE(std::filesystem::is_directory(b));
        // Saved: the next engine has them too.
        engine.reset();
        EXPECT_EQ(OpenEngine()->settings()->groups[1].downloaddir, b);
    }
}

TEST(ActiveLine, NumbersAServerMaySendDoNotOverflow) {
    Group g;
    ASSERT_TRUE(ParseActiveLine("alt.test 120 100 y", g));
    EXPECT_EQ(g.amount, 20);
    ASSERT_TRUE(ParseActiveLine("a 9223372036854775807 -1", g));
    EXPECT_EQ(g.amount, INT64_MAX);
    ASSERT_TRUE(ParseActiveLine("a -9223372036854775807 2", g));
    EXPECT_EQ(g.amount, INT64_MIN);
}

}  // namespace
}  // namespace qs
