// Posting and reading articles through their windows, against a news server in the test.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/textctrl.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "ui/command_ids.h"
#include "ui/event_pump.h"
#include "ui/groups_view.h"
#include "ui/main_frame.h"
#include "ui/post_dialog.h"
#include "ui/read_dialog.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGroup = "alt.test";
constexpr const char* kFrom = "Tester <tester@example.com>";

class ArticlesDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.memory_corpus()->AddGroup(kGroup);
        Settings s;
        s.servers.push_back({server_.host(), "", "", 0, server_.port()});
        s.groups.push_back({kGroup, home_.File("dl") + "/", 0});
        s.UserName = kFrom;
        s.SocketTimeout = 10;
        s.ShowTips = 0;
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        ASSERT_TRUE(engine_->Open());
        engine_->ShortenPausesForTests();
        parent_ = new wxFrame(nullptr, wxID_ANY, "parent");
    }

    void TearDown() override {
        // Work still running must end before the engine it uses goes.
        EXPECT_TRUE(PumpUntil([] { return ArticleJobsRunning() == 0; }));
        PumpFor(50ms);
        parent_->Close(true);
        PumpFor(50ms);
    }

    MessageSink Recorder() {
        return [this](const std::string& text, Host::Icon icon) {
            messages_.emplace_back(text, icon);
        };
    }

    CReadDialog* NewReadDialog() {
        return new CReadDialog(
            parent_, *engine_, [this] { return current_group_; }, Recorder());
    }

    test::TempDir home_;
    test::NewsServer server_;
    SilentHost host_;
    std::unique_ptr<Engine> engine_;
    wxFrame* parent_ = nullptr;
    std::string current_group_ = kGroup;
    std::vector<std::pair<std::string, Host::Icon>> messages_;
};

TEST_F(ArticlesDialogTest, PostsTheEditedTextReadsItBackAndRepliesToIt) {
    auto* post = new CPostDialog(parent_, *engine_, {kGroup, kFrom, "Hello", "", ""}, Recorder());
    post->Show();
    wxString text = post->article_text()->GetValue();
    EXPECT_EQ(text,
              "Newsgroups: alt.test\nDistribution: world\nFollowup-To: \n"
              "From: Tester <tester@example.com>\nOrganization: \nSubject: Hello\nKeywords: \n\n");
    // Headers are as editable as the body.
    text.Replace("Keywords: \n", "Keywords: \nMessage-ID: <hello@quill.test>\n");
    text += "first line\n.dotted\n";
    post->article_text()->SetValue(text);

    post->Post();
    EXPECT_TRUE(post->busy());
    EXPECT_FALSE(post->post_button()->IsEnabled());
    EXPECT_EQ(post->status(), "Posting...");
    post->Post();  // ignored while busy
    ASSERT_TRUE(PumpUntil([&] { return !post->busy(); }));
    EXPECT_TRUE(post->post_button()->IsEnabled());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].first, "240 Article received <hello@quill.test>");
    const auto posted = server_.memory_corpus()->posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0],
              (std::vector<std::string>{"Newsgroups: alt.test", "Distribution: world",
                                        "Followup-To: ", "From: Tester <tester@example.com>",
                                        "Organization: ", "Subject: Hello",
                                        "Keywords: ", "Message-ID: <hello@quill.test>", "",
                                        "first line", ".dotted", ""}));

    CReadDialog* read = NewReadDialog();
    read->Read(kGroup, "<hello@quill.test>");
    EXPECT_TRUE(read->IsShown());
    ASSERT_TRUE(PumpUntil([&] { return read->status() == "Ready..."; }));
    const std::string article = read->article();
    EXPECT_NE(article.find("Subject: Hello\r\n"), std::string::npos) << article;
    EXPECT_NE(article.find("\r\n\r\nfirst line\r\n.dotted\r\n"), std::string::npos) << article;
    EXPECT_EQ(read->article_text()->GetValue(), ToControlText(article));

    current_group_.clear();
    EXPECT_EQ(read->PostReply(), nullptr);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1],
              std::make_pair(std::string("Please select a newsgroup first"), Host::Icon::Stop));
    current_group_ = kGroup;
    CPostDialog* reply = read->PostReply();
    ASSERT_NE(reply, nullptr);
    const std::string follow_up = reply->article_text()->GetValue().utf8_string();
    EXPECT_NE(follow_up.find("Newsgroups: alt.test\nReferences: <hello@quill.test>\n"),
              std::string::npos)
        << follow_up;
    EXPECT_NE(follow_up.find("From: Tester <tester@example.com>\n"), std::string::npos);
    EXPECT_NE(follow_up.find("Subject: Re: Hello\n"), std::string::npos);
    EXPECT_NE(follow_up.find("\n\n> first line\n> .dotted\n"), std::string::npos) << follow_up;

    // A missing article ends in the error status with nothing shown; the close box hides.
    read->Read(kGroup, "<missing@quill.test>");
    ASSERT_TRUE(PumpUntil([&] { return read->status() == "Error retrieving article..."; }));
    EXPECT_TRUE(read->article().empty());
    read->Close();
    EXPECT_FALSE(read->IsShown());
}

TEST_F(ArticlesDialogTest, ClosingWindowsWhileTheirWorkRunsIsSafe) {
    test::MemoryCorpus::Article slow;
    slow.message_id = "<slow@quill.test>";
    slow.body = "slow\n";
    server_.memory_corpus()->Add(kGroup, slow);
    server_.SetReplyDelay(300ms);

    CReadDialog* read = NewReadDialog();
    read->Read(kGroup, "<slow@quill.test>");
    auto* post =
        new CPostDialog(parent_, *engine_, {kGroup, kFrom, "Late", "", "body\n"}, Recorder());
    post->Show();
    post->Post();
    ASSERT_EQ(ArticleJobsRunning(), 2);
    read->Destroy();
    post->Close();  // destroys the posting window
    PumpFor(20ms);

    ASSERT_TRUE(PumpUntil([] { return ArticleJobsRunning() == 0; }));
    PumpFor(100ms);
    // The post went through; nobody was left to tell.
    EXPECT_EQ(server_.memory_corpus()->posted().size(), 1u);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ArticlesDialogTest, FrameCommandsOpenTheWindowsOrSayWhy) {
    parent_->Destroy();
    auto* frame = new CMainFrame(StartupContext{home_.path(), home_.File("Quillstream.ini"), ""});
    parent_ = frame;
    ASSERT_TRUE(frame->ok());
    frame->host().SetQuiet(true, false);
    frame->set_confirm_close(false);
    frame->Show();
    PumpFor(50ms);

    EXPECT_TRUE(frame->IsCommandEnabled(ID_READ_MESSAGE));
    EXPECT_TRUE(frame->IsCommandEnabled(ID_POST_MESSAGE));
    frame->host().TakeMessages();
    frame->RunCommand(ID_READ_MESSAGE);
    auto said = frame->host().TakeMessages();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], std::make_pair(std::string("No item selected!"), Host::Icon::Exclamation));

    ASSERT_TRUE(frame->groups_view()->SelectGroup(kGroup));
    frame->RunCommand(ID_POST_MESSAGE);
    CPostDialog* post = nullptr;
    for (wxWindow* child : frame->GetChildren())
        if (auto* found = dynamic_cast<CPostDialog*>(child))
            post = found;
    ASSERT_NE(post, nullptr);
    const std::string text = post->article_text()->GetValue().utf8_string();
    EXPECT_TRUE(text.starts_with("Newsgroups: alt.test\n")) << text;
    EXPECT_NE(text.find("From: Tester <tester@example.com>\n"), std::string::npos);

    // The parts window's reading reaches the same one reading window.
    CReadDialog* read = frame->OpenReadDialog(kGroup, "<none@quill.test>");
    EXPECT_EQ(frame->OpenReadDialog(kGroup, "<none@quill.test>"), read);
    ASSERT_TRUE(PumpUntil([&] { return read->status() == "Error retrieving article..."; }));
}

}  // namespace
}  // namespace qs::ui
