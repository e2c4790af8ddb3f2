// The options dialog driven without a modal loop: server list edits, the group list read
// from a news server in the test and ticked, the checks that keep a page open, and the
// option tree's linked items, each ending in what OK hands to the engine.
#include "ui/options_dialog.h"

#include <gtest/gtest.h>
#include <wx/bookctrl.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "ui/event_pump.h"
#include "ui/group_picker.h"
#include "ui/options_page_advanced.h"
#include "ui/options_page_filters.h"
#include "ui/options_page_groups.h"
#include "ui/options_page_servers.h"
#include "ui/tree_options_ctrl.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<std::pair<std::string, Host::Icon>>;

// Keeps what the engine's workers would have shown.
class RecordingHost : public SilentHost {
  public:
    void ShowMessage(const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(text, icon);
    }
    Messages messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    mutable std::mutex mutex_;
    Messages messages_;
};

bool HasGroup(const Settings& s, const std::string& name) {
    return std::any_of(s.groups.begin(), s.groups.end(),
                       [&](const GroupListEntry& g) { return g.name == name; });
}

std::vector<std::string> Hosts(const std::vector<ServerEntry>& servers) {
    std::vector<std::string> hosts;
    for (const ServerEntry& e : servers)
        hosts.push_back(e.host);
    return hosts;
}

// A click on the box, as the user gives it: the box changes, then its handler runs.
void Click(wxCheckBox* box) {
    box->SetValue(!box->GetValue());
    wxCommandEvent click(wxEVT_CHECKBOX, box->GetId());
    click.SetEventObject(box);
    click.SetInt(box->GetValue() ? 1 : 0);
    box->ProcessWindowEvent(click);
}

void Choose(wxChoice* choice, int index) {
    choice->SetSelection(index);
    wxCommandEvent chosen(wxEVT_CHOICE, choice->GetId());
    chosen.SetEventObject(choice);
    chosen.SetInt(index);
    choice->ProcessWindowEvent(chosen);
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::MemoryCorpus* corpus = server_.memory_corpus();
        corpus->AddGroup("alt.binaries.pictures", 100);
        corpus->Add("alt.binaries.pictures", {});
        corpus->Add("alt.binaries.pictures", {});
        corpus->AddGroup("alt.binaries.sounds");
        corpus->AddGroup("comp.lang.c");

        Settings s;
        s.servers.push_back({server_.host(), "", "", 0, server_.port()});
        s.disabled_servers.push_back({"news.example.com", "", "", 1, 119});
        s.groups.push_back({"alt.old.group", home_.File("old") + "/", 1234});
        s.SocketTimeout = 10;
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        ASSERT_TRUE(engine_->Open());
    }

    // A dialog whose message boxes are recorded and whose folder chooser answers at once.
    COptionsDialog* Open(int page) {
        dialog_ = new COptionsDialog(nullptr, *engine_, page);
        dialog_->SetMessageSink(
            [this](const std::string& text, Host::Icon icon) { told_.emplace_back(text, icon); });
        dialog_->SetFolderChooser(
            [](const std::string&, const std::string&) { return std::string("/chosen"); });
        dialog_->Show();
        PumpFor(50ms);
        return dialog_;
    }

    void TearDown() override {
        if (dialog_)
            dialog_->Destroy();
        PumpFor(50ms);
    }

    test::TempDir home_;
    test::NewsServer server_;
    RecordingHost host_;
    std::unique_ptr<Engine> engine_;
    COptionsDialog* dialog_ = nullptr;
    Messages told_;
};

TEST_F(OptionsDialogTest, EditServersTickAFetchedGroupAndApply) {
    COptionsDialog* dialog = Open(0);
    EXPECT_EQ(dialog->GetTitle(), "Options...");
    ASSERT_EQ(dialog->GetBookCtrl()->GetPageCount(), 5u);
    EXPECT_EQ(dialog->GetBookCtrl()->GetPageText(4), "Advanced");

    // News Servers: the enabled list, then the disabled one; nothing selected, port 119.
    COptionsPage1* servers = dialog->servers_page();
    EXPECT_EQ(Hosts(servers->servers()),
              (std::vector<std::string>{server_.host(), "news.example.com"}));
    EXPECT_EQ(servers->port_box()->GetValue(), "119");
    EXPECT_EQ(servers->host_list()->GetSelection(), wxNOT_FOUND);

    servers->host_box()->SetValue("NEWS.Example.COM");  // the same host in other letters
    servers->Add();
    EXPECT_EQ(servers->servers().size(), 2u);
    servers->host_box()->SetValue("backup.example.com");
    servers->user_box()->SetValue("me");
    servers->port_box()->SetValue("563");
    servers->Add();
    ASSERT_EQ(servers->servers().size(), 3u);
    EXPECT_EQ(servers->servers()[2].user, "me");
    EXPECT_EQ(servers->servers()[2].port, 563);
    EXPECT_EQ(servers->host_list()->GetSelection(), 2);

    // Down on the last and Up on the first change nothing; Up moves the entry and its selection.
    servers->MoveSelected(+1);
    servers->SelectHost(0);
    servers->MoveSelected(-1);
    EXPECT_EQ(servers->servers()[0].host, server_.host());
    servers->SelectHost(2);
    servers->MoveSelected(-1);
    EXPECT_EQ(Hosts(servers->servers()),
              (std::vector<std::string>{server_.host(), "backup.example.com", "news.example.com"}));
    EXPECT_EQ(servers->host_list()->GetSelection(), 1);
    // Editing a field writes into the entry whose host the host box shows.
    servers->user_box()->SetValue("you");
    EXPECT_EQ(servers->servers()[1].user, "you");

    // TLS moves a port on the other protocol's standard port with it, and only then.
    EXPECT_FALSE(servers->tls_box()->GetValue());
    EXPECT_FALSE(servers->verify_choice()->IsEnabled());
    servers->port_box()->SetValue("119");
    Click(servers->tls_box());
    EXPECT_EQ(servers->port_box()->GetValue(), "563");
    EXPECT_TRUE(servers->verify_choice()->IsEnabled());
    EXPECT_EQ(servers->verify_choice()->GetSelection(), 0) << "strict by default";
    Choose(servers->verify_choice(), 1);
    Click(servers->tls_box());
    EXPECT_EQ(servers->port_box()->GetValue(), "119");
    EXPECT_FALSE(servers->verify_choice()->IsEnabled());
    servers->port_box()->SetValue("8563");
    Click(servers->tls_box());
    EXPECT_EQ(servers->port_box()->GetValue(), "8563");
    EXPECT_EQ(servers->servers()[1].ssl, 1);
    EXPECT_EQ(servers->servers()[1].verify, 1);
    EXPECT_EQ(servers->servers()[1].port, 8563);
    // Selecting fills the boxes from each entry.
    servers->SelectHost(0);
    EXPECT_FALSE(servers->tls_box()->GetValue());
    EXPECT_FALSE(servers->verify_choice()->IsEnabled());
    EXPECT_EQ(servers->verify_choice()->GetSelection(), 0);
    EXPECT_TRUE(servers->compress_box()->GetValue()) << "compression is on by default";
    servers->SelectHost(1);
    EXPECT_TRUE(servers->tls_box()->GetValue());
    EXPECT_TRUE(servers->verify_choice()->IsEnabled());
    EXPECT_EQ(servers->verify_choice()->GetSelection(), 1);
    Click(servers->compress_box());
    EXPECT_EQ(servers->servers()[1].compress, 0);
    // Add takes TLS, its check and compression as the boxes show them.
    servers->host_box()->SetValue("secure.example.com");
    servers->Add();
    ASSERT_EQ(servers->servers().size(), 4u);
    EXPECT_EQ(servers->servers()[3].ssl, 1);
    EXPECT_EQ(servers->servers()[3].verify, 1);
    EXPECT_EQ(servers->servers()[3].compress, 0);

    // Groups: the subscribed group is shown ticked before anything was read.
    dialog->GetBookCtrl()->SetSelection(1);
    COptionsPage2* groups = dialog->groups_page();
    CGroupPicker* picker = groups->picker();
    ASSERT_EQ(picker->GetItemCount(), 1);
    EXPECT_TRUE(picker->IsRowChecked(0));
    EXPECT_EQ(picker->GetItemText(0, 0), "alt.old.group");

    // The download directory needs a selected group.
    groups->dir_box()->SetValue("/somewhere");
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_EQ(told_[0].first, "Please select a group first.");
    EXPECT_EQ(told_[0].second, Host::Icon::Stop);

    // Retrieve reads LIST from the first enabled server of the list being edited.
    groups->Retrieve();
    EXPECT_FALSE(groups->retrieve_button()->IsEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !groups->fetching(); }));
    EXPECT_TRUE(groups->retrieve_button()->IsEnabled());
    EXPECT_EQ(groups->count_text()->GetLabel(), "3");
    ASSERT_EQ(picker->GetItemCount(), 4);  // the three listed and the subscribed one
    const long pictures = picker->FindGroupRow("alt.binaries.pictures");
    ASSERT_GE(pictures, 0);
    EXPECT_EQ(picker->GetItemText(pictures, 1), "100");
    EXPECT_EQ(picker->GetItemText(pictures, 2), "101");
    EXPECT_EQ(picker->GetItemText(pictures, 3), "1");
    EXPECT_FALSE(picker->IsRowChecked(pictures));
    EXPECT_TRUE(picker->IsRowChecked(picker->FindGroupRow("alt.old.group")));

    // Sorting by name: ascending first, then descending.
    picker->SortByColumn(0);
    EXPECT_EQ(picker->GetItemText(0, 0), "alt.binaries.pictures");
    picker->SortByColumn(0);
    EXPECT_EQ(picker->GetItemText(0, 0), "comp.lang.c");

    // The search narrows the list; tick the one group left and give it a directory.
    groups->search_box()->SetValue("  SOUNDS ");
    ASSERT_EQ(picker->GetItemCount(), 1);
    picker->ToggleRow(0);
    EXPECT_TRUE(picker->IsRowChecked(0));
    picker->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    groups->Browse();
    EXPECT_EQ(groups->dir_box()->GetValue(), "/chosen");
    EXPECT_EQ(picker->GetItemText(0, 4), "/chosen");
    groups->search_box()->SetValue("");  // leaves the search in force
    EXPECT_EQ(picker->GetItemCount(), 1);

    // A group typed by hand is added ticked, in the home directory.
    groups->manual_box()->SetValue("alt.typed.in");
    groups->AddManual();
    groups->search_box()->SetValue("alt.");
    const long typed = picker->FindGroupRow("alt.typed.in");
    ASSERT_GE(typed, 0);
    EXPECT_TRUE(picker->IsRowChecked(typed));
    EXPECT_EQ(picker->GetItemText(typed, 4), home_.path());

    ASSERT_TRUE(dialog->ApplyEdits());
    std::shared_ptr<const Settings> now = engine_->settings();
    EXPECT_EQ(Hosts(now->servers), (std::vector<std::string>{server_.host(), "backup.example.com",
                                                             "secure.example.com"}));
    EXPECT_EQ(now->servers[1].user, "you");
    EXPECT_EQ(Hosts(now->disabled_servers), std::vector<std::string>{"news.example.com"});
    EXPECT_TRUE(HasGroup(*now, "alt.binaries.sounds"));
    EXPECT_TRUE(HasGroup(*now, "alt.typed.in"));
    EXPECT_TRUE(HasGroup(*now, "alt.old.group"));
    EXPECT_FALSE(HasGroup(*now, "alt.binaries.pictures"));
    for (const GroupListEntry& g : now->groups) {
        if (g.name == "alt.binaries.sounds") {
            EXPECT_EQ(g.downloaddir, "/chosen");
        }
        if (g.name == "alt.old.group") {
            EXPECT_EQ(g.lastscanned, 1234);  // a group that stays keeps its scan time
        }
    }
    // Saved as well.
    const Settings saved = LoadSettings(home_.File("Quillstream.ini"));
    EXPECT_EQ(saved.groups.size(), now->groups.size());
    ASSERT_EQ(saved.servers.size(), 3u);
    EXPECT_EQ(saved.servers[0].ssl, 0);
    EXPECT_EQ(saved.servers[1].ssl, 1);
    EXPECT_EQ(saved.servers[1].verify, 1);
    EXPECT_EQ(saved.servers[1].port, 8563);
    EXPECT_TRUE(host_.messages().empty());
}

TEST_F(OptionsDialogTest, UntickingRemovesAGroupAndAnUnvisitedPageKeepsThem) {
    // OK without visiting Groups keeps the groups.
    Open(0);
    ASSERT_TRUE(dialog_->ApplyEdits());
    EXPECT_TRUE(HasGroup(*engine_->settings(), "alt.old.group"));
    dialog_->Destroy();

    // Edit Groups: unticking the group and OK removes it.
    Open(1);
    CGroupPicker* picker = dialog_->groups_page()->picker();
    ASSERT_EQ(picker->GetItemCount(), 1);
    // A press on the check box flips it; one further right only selects the row.
    wxWindow* rows = picker->RowsWindow();
    auto press = [&](int x) {
        int y = 0;
        int flags = 0;
        while (y < 100 && picker->HitTest(wxPoint(x, y), flags) != 0)
            ++y;
        ASSERT_LT(y, 100) << "row 0 not found";
        wxMouseEvent down(wxEVT_LEFT_DOWN);
        down.SetPosition(wxPoint(x, y + 2));
        down.SetEventObject(rows);
        rows->ProcessWindowEvent(down);
        wxMouseEvent up(wxEVT_LEFT_UP);
        up.SetPosition(wxPoint(x, y + 2));
        up.SetEventObject(rows);
        rows->ProcessWindowEvent(up);
    };
    press(150);
    EXPECT_TRUE(picker->IsRowChecked(0));
    press(8);
    EXPECT_FALSE(picker->IsRowChecked(0));
    ASSERT_TRUE(dialog_->ApplyEdits());
    EXPECT_TRUE(engine_->settings()->groups.empty());
}

TEST_F(OptionsDialogTest, BadRegexKeepsTheFiltersPageOpen) {
    COptionsDialog* dialog = Open(0);
    wxBookCtrlBase* book = dialog->GetBookCtrl();
    book->SetSelection(3);
    COptionsPage4* filters = dialog->filters_page();
    EXPECT_FALSE(filters->words_box()->IsEnabled());  // "Use Filter" is off
    filters->use_box()->SetValue(true);
    filters->UpdateEnabled();
    EXPECT_TRUE(filters->words_box()->IsEnabled());
    filters->regex_box()->SetValue(true);
    filters->words_box()->SetValue("(jpg|gif");
    filters->exclude_button()->SetValue(true);

    // Neither another tab nor OK leaves the page.
    book->SetSelection(4);
    PumpFor(50ms);
    EXPECT_EQ(book->GetSelection(), 3);
    book->SetSelection(0);
    EXPECT_FALSE(dialog->ApplyEdits());
    EXPECT_EQ(book->GetSelection(), 3);
    ASSERT_GE(told_.size(), 2u);
    EXPECT_EQ(told_.back().second, Host::Icon::Stop);
    EXPECT_EQ(told_.back().first.rfind("Regular expression:", 0), 0u) << told_.back().first;
    EXPECT_GT(told_.back().first.size(), std::string("Regular expression:\n").size());
    EXPECT_EQ(engine_->settings()->FilterWords, "");

    filters->words_box()->SetValue("(jpg|gif)");
    ASSERT_TRUE(dialog->ApplyEdits());
    std::shared_ptr<const Settings> now = engine_->settings();
    EXPECT_EQ(now->FilterUse, 1);
    EXPECT_EQ(now->FilterWords, "(jpg|gif)");
    EXPECT_EQ(now->FilterInclude, 1);
    EXPECT_EQ(now->UseRegExpFilter, 1);
}

TEST_F(OptionsDialogTest, OptionTreeLinksItsPairAndChecksNumbers) {
    COptionsDialog* dialog = Open(0);
    dialog->GetBookCtrl()->SetSelection(4);
    COptionsPage5* advanced = dialog->advanced_page();
    CTreeOptionsCtrl* tree = advanced->tree();

    // Every heading expanded, "Appearance" selected.
    for (const char* heading : {"Appearance", "Connection", "Scanning", "Decoding", "Misc"}) {
        ASSERT_TRUE(advanced->ItemOf(heading).IsOk()) << heading;
        EXPECT_TRUE(tree->IsExpanded(advanced->ItemOf(heading))) << heading;
    }
    EXPECT_EQ(tree->GetSelection(), advanced->ItemOf("Appearance"));
    EXPECT_EQ(tree->GetItemText(advanced->ItemOf("Socket timeout (Seconds)")),
              "Socket timeout (Seconds): 10");

    const wxTreeItemId set_group = advanced->ItemOf("Set newsgroup before download");
    const wxTreeItemId by_number = advanced->ItemOf("Use article number instead of Message-Id");
    ASSERT_FALSE(tree->IsChecked(set_group));
    tree->ClickItem(by_number);
    EXPECT_TRUE(tree->IsChecked(by_number));
    EXPECT_TRUE(tree->IsChecked(set_group));
    tree->ClickItem(set_group);
    EXPECT_FALSE(tree->IsChecked(set_group));
    EXPECT_FALSE(tree->IsChecked(by_number));
    tree->ClickItem(set_group);  // ticking it alone leaves the other alone
    EXPECT_FALSE(tree->IsChecked(by_number));

    // A radio button selects itself and clears its siblings.
    const wxTreeItemId first_server = advanced->ItemOf("Newsserver to try download first");
    EXPECT_EQ(tree->SelectedRadio(first_server), 0);
    wxTreeItemIdValue cookie;
    wxTreeItemId radio = tree->GetFirstChild(first_server, cookie);
    radio = tree->GetNextChild(first_server, cookie);
    radio = tree->GetNextChild(first_server, cookie);
    tree->ClickItem(radio);
    EXPECT_EQ(tree->SelectedRadio(first_server), 2);
    tree->ClickItem(radio);
    EXPECT_EQ(tree->SelectedRadio(first_server), 2);
    // What becomes of a finished set: unpacking (the third choice) is the default.
    const wxTreeItemId sets = advanced->ItemOf("When a set has arrived");
    EXPECT_EQ(tree->SelectedRadio(sets), 2);
    tree->ClickItem(tree->GetFirstChild(sets, cookie));

    // Numbers are edited in place: a spin control for the retention, text for the timeout.
    const wxTreeItemId days = advanced->ItemOf("Days to keep headers");
    tree->ClickItem(days);
    auto* spin = dynamic_cast<wxSpinCtrl*>(tree->editor());
    ASSERT_NE(spin, nullptr);
    spin->SetValue(21);
    const wxTreeItemId timeout = advanced->ItemOf("Socket timeout (Seconds)");
    tree->ClickItem(timeout);
    auto* text = dynamic_cast<wxTextCtrl*>(tree->editor());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(tree->GetItemText(days), "Days to keep headers: 21");
    text->SetValue("1000000000");
    EXPECT_FALSE(dialog->ApplyEdits());
    ASSERT_FALSE(told_.empty());
    EXPECT_EQ(told_.back().first, "Please enter an integer between 0 and 999999999.");
    EXPECT_EQ(tree->GetSelection(), timeout);
    EXPECT_EQ(engine_->settings()->SocketTimeout, 10);

    tree->SetNumberText(timeout, "30");
    ASSERT_TRUE(dialog->ApplyEdits());
    std::shared_ptr<const Settings> now = engine_->settings();
    EXPECT_EQ(now->SocketTimeout, 30);
    EXPECT_EQ(now->RetentionDays, 21);
    EXPECT_EQ(now->UseFirstServer, 2);
    EXPECT_EQ(now->PostProcess, 0);
    EXPECT_EQ(now->SetGroup, 1);
    EXPECT_EQ(now->UseArticleId, 0);
}

}  // namespace
}  // namespace qs::ui
