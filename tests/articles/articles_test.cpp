#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::NewsServer;
using test::Reply;

// A corpus whose server takes the article and then refuses it (441).
class RefusingCorpus : public test::MemoryCorpus {
  public:
    bool Post(const std::vector<std::string>& lines, std::string& message_id) override {
        MemoryCorpus::Post(lines, message_id);
        return false;
    }
};

class ArticlesTest : public ::testing::Test {
  protected:
    // An engine over a fresh home whose enabled servers are these, in this order.
    Engine& OpenEngine(const std::vector<const NewsServer*>& servers, int dead_first = 0) {
        Settings s;
        for (int i = 0; i < dead_first; ++i)
            s.servers.push_back({"127.0.0.1", "", "", 0, test::UnusedLoopbackPort()});
        for (const NewsServer* server : servers)
            s.servers.push_back({server->host(), "", "", 0, server->port()});
        s.SocketTimeout = 10;
        EXPECT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        EXPECT_TRUE(engine_->Open());
        engine_->ShortenPausesForTests();
        return *engine_;
    }

    ArticleRead Read(const std::string& id, const std::string& group = {}) {
        statuses_.clear();
        return engine_->ReadArticle(group, id,
                                    [this](const std::string& s) { statuses_.push_back(s); });
    }

    test::TempDir home_;
    SilentHost host_;
    std::unique_ptr<Engine> engine_;
    std::vector<std::string> statuses_;
};

TEST(ArticleText, ComposedTextAndItsWireForm) {
    PostRequest post{"alt.test", "Me <me@example.com>", "Hello", "", ""};
    const std::string fresh = Engine::ComposeArticle(post);
    EXPECT_EQ(fresh,
              "Newsgroups: alt.test\r\nDistribution: world\r\nFollowup-To: \r\n"
              "From: Me <me@example.com>\r\nOrganization: \r\nSubject: Hello\r\nKeywords: \r\n"
              "\r\n");

    post.references = "<a@x> <b@x>";
    post.body = "one\n.two\n.\nthree";
    const std::string reply = Engine::ComposeArticle(post);
    EXPECT_NE(reply.find("Newsgroups: alt.test\r\nReferences: <a@x> <b@x>\r\nDistribution: "),
              std::string::npos);
    EXPECT_TRUE(reply.ends_with("Keywords: \r\n\r\none\r\n.two\r\n.\r\nthree")) << reply;
}

TEST_F(ArticlesTest, ANewPostSendsTheHeadersInOrderTwoEmptyLinesAndTheDot) {
    NewsServer server;
    Engine& engine = OpenEngine({&server});
    CommandResult posted = engine.PostArticle({"alt.test", "Me <me@example.com>", "Hello", "", ""});
    ASSERT_TRUE(posted.ok) << posted.message;
    EXPECT_EQ(posted.message, "240 Article received OK");
    const auto articles = server.memory_corpus()->posted();
    ASSERT_EQ(articles.size(), 1u);
    EXPECT_EQ(articles[0],
              (std::vector<std::string>{"Newsgroups: alt.test", "Distribution: world",
                                        "Followup-To: ", "From: Me <me@example.com>",
                                        "Organization: ", "Subject: Hello", "Keywords: ", "", ""}));
}

TEST_F(ArticlesTest, RefusalsOfPostAndOfTheArticleCarryTheServersReply) {
    NewsServer server;
    Engine& engine = OpenEngine({&server});
    server.QueueReply("POST", Reply::Line("440 Posting not permitted"));
    CommandResult refused = engine.PostArticle({"alt.test", "me", "s", "", "body\n"});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "Error posting message!:\n440 Posting not permitted");
    for (const std::string& command : server.commands())
        EXPECT_EQ(command.find("Newsgroups:"), std::string::npos) << "the text went after 440";
    EXPECT_TRUE(server.memory_corpus()->posted().empty());

    server.SetCorpus(std::make_shared<RefusingCorpus>());
    CommandResult failed = engine.PostArticle({"alt.test", "me", "s", "", "body\n"});
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, "Error posting message!:\n441 Posting failed");
}

TEST_F(ArticlesTest, ArticleMissingOnEveryServerIsOneAttemptEach) {
    NewsServer a, b, c;
    for (NewsServer* s : {&a, &b, &c})
        s->SetReply("ARTICLE", Reply::Line("430 No such article"));
    OpenEngine({&a, &b, &c});
    ArticleRead read = Read("<gone@example.com>");
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.status, "Error retrieving article...");
    EXPECT_EQ(read.text, "");
    for (NewsServer* s : {&a, &b, &c})
        EXPECT_EQ(s->connections_accepted(), 1);
    EXPECT_EQ(std::count(statuses_.begin(), statuses_.end(), "Connecting to 127.0.0.1..."), 3);
}

TEST_F(ArticlesTest, ADeadServerIsPassedOverAndTheNextOneServesTheArticle) {
    NewsServer server;
    test::MemoryCorpus::Article article;
    article.message_id = "<x1@example.com>";
    article.body = "line\n";
    server.memory_corpus()->Add("alt.test", article);
    OpenEngine({&server}, 1);
    ArticleRead read = Read("<x1@example.com>");
    ASSERT_TRUE(read.ok) << read.status;
    EXPECT_EQ(read.status, "Ready...");
    EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), "Error connecting..."),
              statuses_.end());
    EXPECT_NE(read.text.find("Message-ID: <x1@example.com>\r\n"), std::string::npos);
    EXPECT_TRUE(read.text.ends_with("\r\n\r\nline\r\n")) << read.text;
}

// Dots survive both ways: doubled on the way out, single again when read back.
TEST_F(ArticlesTest, LeadingDotLinesSurviveAPostThenReadRoundTrip) {
    NewsServer server;
    server.memory_corpus()->AddGroup("alt.test");
    Engine& engine = OpenEngine({&server});
    ASSERT_TRUE(engine.PostArticle({"alt.test", "me", "dots", "", ".lead\n.\nplain\n"}).ok);
    test::ArticleKey key;
    ASSERT_TRUE(server.memory_corpus()->Find(0, 1, key));
    const std::string id = server.memory_corpus()->MessageId(key);

    ArticleRead read = Read(id, "alt.test");
    ASSERT_TRUE(read.ok) << read.status;
    // The CR LF sent before the closing "." ends one more, empty, line after the text's own.
    EXPECT_TRUE(read.text.ends_with("\r\n\r\n.lead\r\n.\r\nplain\r\n\r\n")) << read.text;
}

TEST_F(ArticlesTest, ALostConnectionOrAnEndlessLineEndsTheReadWithTheTextSoFar) {
    NewsServer server;
    test::MemoryCorpus::Article article;
    article.message_id = "<long@example.com>";
    article.body = "short\n" + std::string(5000, 'x') + "\nafter\n";
    server.memory_corpus()->Add("alt.test", article);
    OpenEngine({&server});
    ArticleRead read = Read("<long@example.com>");
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.status.find("Error"), std::string::npos) << read.status;
    EXPECT_NE(read.text.find("Message-ID: <long@example.com>"), std::string::npos);
    EXPECT_EQ(read.text.find("after"), std::string::npos);

    server.QueueReply("ARTICLE", Reply::Close("220 0 <long@example.com>\r\nSubject: cut\r\n"));
    read = Read("<long@example.com>");
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.text, "Subject: cut\r\n");
    // More lines than any article has: the read stops at the size limit, the memory stays
    // bounded whatever the server goes on sending.
    std::string huge = "220 0 <long@example.com>\r\n";
    const std::string line = std::string(500, 'y') + "\r\n";
    while (huge.size() < (size_t{33} << 20))
        huge += line;
    server.QueueReply("ARTICLE", Reply::Close(std::move(huge)));
    read = Read("<long@example.com>");
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.status, "Error reading article: the article is larger than 32 MiB");
    EXPECT_LE(read.text.size(), (size_t{32} << 20) + 1024);
}

TEST(ArticleText, FollowUpQuotesTheBodyAndChainsTheReferences) {
    const std::string article =
        "Subject: RE: news\r\nMessage-ID: <2@x>\r\nReferences: <1@x>\r\n\r\nfirst\r\n\r\n"
        "last\r\n";
    PostRequest reply = Engine::FollowUpOf(article, "Me");
    EXPECT_EQ(reply.subject, "RE: news");
    EXPECT_EQ(reply.references, "<1@x> <2@x>");
    EXPECT_EQ(reply.from, "Me");
    EXPECT_EQ(reply.group, "");
    EXPECT_EQ(reply.body, "\r\n> first\r\n> \r\n> last\r\n> \r\n");
    EXPECT_TRUE(
        Engine::ComposeArticle(reply).ends_with("Keywords: \r\n\r\n> first\r\n"
                                                "> \r\n> last\r\n> \r\n"));

    reply = Engine::FollowUpOf("Subject: Reply hazy\r\nMessage-ID: <9@x>\r\n\r\nbody\r\n", "Me");
    EXPECT_EQ(reply.subject, "Re: Reply hazy");
    EXPECT_EQ(reply.references, "<9@x>");
}

}  // namespace
}  // namespace qs
