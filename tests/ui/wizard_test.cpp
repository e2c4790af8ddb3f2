// The first-run wizard end to end against a news server in the test: detect the server, read
// its group list, pick groups, choose the directory, finish; and the rules of its pages.
#include "ui/wizard.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filename.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "ui/event_pump.h"
#include "ui/group_picker.h"
#include "ui/wizard_pages.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;

using Message = std::pair<std::string, Host::Icon>;

class WizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* group : {"alt.binaries.test", "alt.binaries.mp3.full", "comp.lang.c"})
            server_.memory_corpus()->AddGroup(group);
        Settings s;
        s.servers.push_back({"old.example", "", "", 0, 119});
        s.disabled_servers.push_back({"spare.example", "", "", 1, 119});
        s.groups.push_back({"alt.binaries.test", "/old/dir/", 1234});
        s.SocketTimeout = 10;
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        ASSERT_TRUE(engine_->Open());
        engine_->ShortenPausesForTests();

        wizard_ = new CQuillstreamWizard(nullptr, *engine_);
        wizard_ref_ = wizard_;
        wizard_->set_message_function([this](const std::string& text, Host::Icon icon) {
            messages_.push_back({text, icon});
        });
        wizard_->set_probe_port(server_.port());
        // A refused address first, then what the user typed: a test machine's gateway names
        // nothing to find.
        wizard_->set_candidate_function([](const std::string& typed) {
            std::vector<std::string> candidates{"127.0.0.2"};
            if (!typed.empty())
                candidates.push_back(typed);
            return candidates;
        });
        wizard_->ShowPageAt(0);
        wizard_->Show();
        PumpFor(50ms);
    }

    void TearDown() override {
        if (wizard_ref_)
            delete wizard_ref_.get();
        engine_.reset();
    }

    wxWizardPage* Current() const { return wizard_->GetCurrentPage(); }

    int RowOf(const std::string& group) const {
        CGroupPicker* picker = wizard_->select_page()->picker();
        for (long row = 0; row < picker->GetItemCount(); ++row)
            if (picker->GetItemText(row, 0).utf8_string() == group)
                return static_cast<int>(row);
        return -1;
    }

    test::TempDir home_;
    test::NewsServer server_;
    SilentHost host_{true};
    std::unique_ptr<Engine> engine_;
    CQuillstreamWizard* wizard_ = nullptr;
    wxWeakRef<CQuillstreamWizard> wizard_ref_;  // Cancel and Finish may destroy the wizard
    std::vector<Message> messages_;
};

TEST_F(WizardTest, FindsTheServerReadsItsGroupsAndFinishesWithTheChosenOnes) {
    EXPECT_FALSE(wizard_->PressBack()) << "the first page has no Back";
    ASSERT_TRUE(wizard_->PressNext());
    CWizard2* server = wizard_->server_page();
    ASSERT_EQ(Current(), server);
    EXPECT_EQ(server->status(), "Ready to go...");

    // Next detects the typed host, keeps it and goes on.
    server->host_box()->SetValue(wxString::FromUTF8(server_.host()));
    ASSERT_TRUE(wizard_->PressNext());
    EXPECT_EQ(server->status(), "Newsserver detected! Click next to continue.");
    ASSERT_EQ(Current(), wizard_->list_page());
    ASSERT_EQ(wizard_->servers().size(), 1u);
    EXPECT_EQ(wizard_->servers()[0].host, server_.host());
    EXPECT_EQ(wizard_->servers()[0].port, server_.port());
    EXPECT_EQ(wizard_->servers()[0].disabled, 0);

    // The group list is read with Back and Next held until it is in.
    CWizard3* list = wizard_->list_page();
    EXPECT_EQ(list->status(), "Ready to go...Click on 'Scan newsgroups'.");
    ASSERT_TRUE(list->StartScan());
    EXPECT_FALSE(wizard_->next_button()->IsEnabled());
    EXPECT_FALSE(wizard_->back_button()->IsEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !list->scanning(); }));
    EXPECT_EQ(list->status(), "Ready. Scanned 3 groups. Click next to continue.");
    EXPECT_TRUE(wizard_->next_button()->IsEnabled());
    EXPECT_TRUE(wizard_->back_button()->IsEnabled());

    // A first visit shows the binaries groups; tick two of them.
    ASSERT_TRUE(wizard_->PressNext());
    CWizard4* select = wizard_->select_page();
    ASSERT_EQ(Current(), select);
    EXPECT_EQ(select->keywords(), "binaries");
    PumpFor(50ms);
    EXPECT_EQ(select->picker()->GetItemCount(), 2);
    EXPECT_EQ(RowOf("comp.lang.c"), -1);
    for (const char* group : {"alt.binaries.test", "alt.binaries.mp3.full"}) {
        ASSERT_GE(RowOf(group), 0) << group;
        select->picker()->ToggleRow(RowOf(group));
    }

    // The directory page offers the user's download folder and refuses an empty box.
    ASSERT_TRUE(wizard_->PressNext());
    CWizard5* dirs = wizard_->directory_page();
    ASSERT_EQ(Current(), dirs);
    EXPECT_EQ(dirs->directory().rfind(wxFileName::GetHomeDir().utf8_string() + "/", 0), 0u)
        << dirs->directory();
    dirs->directory_box()->SetValue("");
    ASSERT_TRUE(wizard_->PressNext());
    EXPECT_EQ(Current(), dirs);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], Message("Please select a directory", Host::Icon::Stop));
    const std::string base = home_.File("downloads");
    dirs->directory_box()->SetValue(wxString::FromUTF8(base));
    ASSERT_TRUE(wizard_->PressNext());
    ASSERT_NE(Current(), dirs);

    // Nothing reaches the settings before Finish.
    EXPECT_EQ(engine_->settings()->servers[0].host, "old.example");
    ASSERT_TRUE(wizard_->PressNext());  // Finish
    std::shared_ptr<const Settings> s = engine_->settings();
    ASSERT_EQ(s->servers.size(), 1u);
    EXPECT_EQ(s->servers[0].host, server_.host());
    EXPECT_EQ(s->servers[0].port, server_.port());
    ASSERT_EQ(s->disabled_servers.size(), 1u);
    EXPECT_EQ(s->disabled_servers[0].host, "spare.example");
    EXPECT_EQ(s->BaseDir, base);
    ASSERT_EQ(s->groups.size(), 2u);
    EXPECT_EQ(s->groups[0].name, "alt.binaries.mp3.full");
    EXPECT_EQ(s->groups[1].name, "alt.binaries.test");
    EXPECT_EQ(s->groups[1].lastscanned, 1234) << "a group subscribed already keeps its scan time";
    for (const GroupListEntry& g : s->groups) {
        EXPECT_EQ(g.downloaddir, base + "/" + g.name + "/");
        EXPECT_TRUE(wxFileName::DirExists(wxString::FromUTF8(g.downloaddir))) << g.downloaddir;
    }
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(WizardTest, AsksForALoginWhenTheServerWantsOneAndAddsNothingUndetected) {
    server_.RequireLogin("me", "secret");
    wizard_->ShowPageAt(1);
    CWizard2* server = wizard_->server_page();

    // Nothing typed: only the refused address is tried.
    EXPECT_FALSE(server->Detect());
    EXPECT_EQ(server->status(), "No newsserver detected, please contact your Internet Provider.");
    EXPECT_TRUE(server->auto_search_button()->IsEnabled());

    // The server answers "group alt.test" with 480: not detected, the user is asked.
    server->host_box()->SetValue(wxString::FromUTF8(server_.host()));
    EXPECT_FALSE(server->Detect());
    EXPECT_EQ(server->status(),
              "Please enter a username and password from your Internet Provider and retry.");
    ASSERT_TRUE(wizard_->PressNext());
    EXPECT_TRUE(wizard_->servers().empty()) << "Next goes on without a server found";
    ASSERT_TRUE(wizard_->PressBack());

    // With the login the same server is found, and the entry carries it.
    server->user_box()->SetValue("me");
    server->password_box()->SetValue("secret");
    ASSERT_TRUE(wizard_->PressNext());
    EXPECT_TRUE(server->detected());
    ASSERT_EQ(wizard_->servers().size(), 1u);
    EXPECT_EQ(wizard_->servers()[0].user, "me");
    EXPECT_EQ(wizard_->servers()[0].password, "secret");

    // Finishing keeps the old enabled servers only when the wizard found none.
    wizard_->servers().clear();
    wizard_->ShowPageAt(4);
    wizard_->directory_page()->directory_box()->SetValue(wxString::FromUTF8(home_.File("dl")));
    wizard_->ApplyFinish();
    ASSERT_EQ(engine_->settings()->servers.size(), 1u);
    EXPECT_EQ(engine_->settings()->servers[0].host, "old.example");
}

// "Use TLS (SSL)" reaches the probe and the server the wizard keeps; the certificate is
// checked strictly, against a CA the client is told to trust.
TEST_F(WizardTest, FindsAServerOverTlsAndKeepsItsTls) {
    test::TempDir certificate_dir;
    test::TestCertificates certificates(certificate_dir.path());
    struct TrustedCa {
        explicit TrustedCa(const std::string& file) { ::setenv("SSL_CERT_FILE", file.c_str(), 1); }
        ~TrustedCa() { ::unsetenv("SSL_CERT_FILE"); }
    } trusted(certificates.ca_file());
    const test::CertificateFiles files = certificates.IssuedFor("127.0.0.1", "server");
    test::ServerOptions options;
    options.tls_certificate = files.certificate;
    options.tls_key = files.key;
    test::NewsServer tls_server(options);
    tls_server.memory_corpus()->AddGroup("alt.binaries.test");

    wizard_->ShowPageAt(1);
    CWizard2* server = wizard_->server_page();
    server->host_box()->SetValue(wxString::FromUTF8(server_.host()));
    server->tls_box()->SetValue(true);
    EXPECT_FALSE(server->Detect()) << "the plain server answers no TLS handshake";

    wizard_->set_probe_port(tls_server.port());
    ASSERT_TRUE(wizard_->PressNext());
    EXPECT_TRUE(server->detected()) << server->status();
    ASSERT_EQ(wizard_->servers().size(), 1u);
    EXPECT_EQ(wizard_->servers()[0].port, tls_server.port());
    EXPECT_EQ(wizard_->servers()[0].ssl, 1);
    EXPECT_EQ(wizard_->servers()[0].verify, 2);

    wizard_->ShowPageAt(4);
    wizard_->directory_page()->directory_box()->SetValue(wxString::FromUTF8(home_.File("dl")));
    wizard_->ApplyFinish();
    ASSERT_EQ(engine_->settings()->servers.size(), 1u);
    EXPECT_EQ(engine_->settings()->servers[0].ssl, 1);
    EXPECT_EQ(engine_->settings()->servers[0].port, tls_server.port());
}

TEST_F(WizardTest, GenresEditTheKeywordsAndCancelChangesNothing) {
    wizard_->ShowPageAt(3);
    CWizard4* select = wizard_->select_page();
    EXPECT_EQ(select->keywords(), "binaries");

    select->SetGenre(CWizard4::kMusic, true);
    EXPECT_EQ(select->keywords(), "binaries.mp3");
    select->SetGenre(CWizard4::kMovies, true);
    EXPECT_EQ(select->keywords(), "binaries.movies binaries.mp3");
    // Both keywords go to the search: a group must hold each of them.
    EXPECT_EQ(select->picker()->view()->filter(), "binaries.movies binaries.mp3");
    select->SetGenre(CWizard4::kMovies, false);
    EXPECT_EQ(select->keywords(), "binaries.mp3");
    EXPECT_EQ(select->picker()->view()->filter(), "binaries.mp3");

    // Showing the page again keeps keywords that hold "binaries"; others get it in front.
    wizard_->ShowPageAt(2);
    wizard_->ShowPageAt(3);
    EXPECT_EQ(select->keywords(), "binaries.mp3");
    select->SetGenre(CWizard4::kMusic, false);
    select->keywords_box()->SetValue("linux ");
    wizard_->ShowPageAt(2);
    wizard_->ShowPageAt(3);
    EXPECT_EQ(select->keywords(), "binaries linux");

    // Cancel: the settings stay as they were.
    const std::string before = test::ReadFile(home_.File("Quillstream.ini"));
    wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
    cancel.SetEventObject(wizard_->FindWindow(wxID_CANCEL));
    wizard_->FindWindow(wxID_CANCEL)->GetEventHandler()->ProcessEvent(cancel);
    PumpFor(50ms);
    EXPECT_TRUE(!wizard_ref_ || !wizard_ref_->IsShown());
    EXPECT_EQ(engine_->settings()->servers[0].host, "old.example");
    EXPECT_EQ(test::ReadFile(home_.File("Quillstream.ini")), before);
}

}  // namespace
}  // namespace qs::ui
