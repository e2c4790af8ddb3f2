// The two list panes, the parts window and the find/filter dialog, driven through a real
// engine over a temporary home.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "engine/engine.h"
#include "support/temp_dir.h"
#include "ui/command_ids.h"
#include "ui/find_filter_dialog.h"
#include "ui/groups_view.h"
#include "ui/list_text.h"
#include "ui/parts_dialog.h"
#include "ui/quillstream_view.h"
#include "ui/view_host.h"

namespace qs::ui {
namespace {

constexpr char kGroup[] = "alt.binaries.test";

void Pump() {
    for (int i = 0; i < 10; ++i) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        wxMilliSleep(5);
    }
}

class FakeHost : public ViewHost {
  public:
    void OnSelectionCount(int count) override { selection_count = count; }
    void OnTabShown(int tab) override { tabs.push_back(tab); }
    void OnGroupSelected(const std::string& group) override { groups.push_back(group); }
    void PopupGroupMenu(const wxPoint&) override { ++group_menus; }
    void PopupItemMenu(const wxPoint&) override { ++item_menus; }

    int selection_count = -1;
    std::vector<int> tabs;
    std::vector<std::string> groups;
    int group_menus = 0;
    int item_menus = 0;
};

struct Row {
    std::string filename;
    std::string email = "poster@example.com";
    int parts = 1;
    int64_t bytes = 1000;
    int stored_parts = 1;
};

class ListViewsTest : public ::testing::Test {
  protected:
    void Open(int sort_direction, const std::vector<Row>& rows) {
        Settings s;
        s.groups.push_back({kGroup, home_.File("dl") + "/", 0});
        s.groups.push_back({"alt.test.text", home_.File("text") + "/", 315626635});
        s.SortDirection = sort_direction;
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        engine_ = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, silent_);
        ASSERT_TRUE(engine_->Open());
        std::unique_ptr<HeaderView> view = engine_->OpenView(kGroup);
        ASSERT_TRUE(view);
        int64_t article = 1;
        for (const Row& row : rows) {
            Attachment a;
            a.filename = row.filename;
            a.Id = row.parts == 1 ? "<" + row.filename + "@x>" : row.filename;
            a.email = row.email;
            a.parts = row.parts;
            a.date = 315626635;
            a.newsgroup = kGroup;
            for (int p = 1; p <= row.stored_parts; ++p) {
                MessageVars part;
                part.MessageId = "<" + row.filename + "." + std::to_string(p) + "@x>";
                part.ArticleId = article++;
                part.partnum = p;
                part.bytes =
                    row.bytes / row.stored_parts + (p == 1 ? row.bytes % row.stored_parts : 0);
                part.lines = 10;
                ASSERT_TRUE(view->db()->StoreAttachment(&part, a));
            }
        }
        frame_ = new wxFrame(nullptr, wxID_ANY, "lists", wxDefaultPosition, wxSize(900, 420));
        groups_ = new CGroupsView(frame_, *engine_, host_);
        list_ = new CQuillstreamView(frame_, *engine_, host_);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(groups_, 0, wxEXPAND);
        sizer->Add(list_, 1, wxEXPAND);
        frame_->SetSizer(sizer);
        frame_->Bind(wxEVT_MENU, [this](wxCommandEvent& e) { commands_.push_back(e.GetId()); });
        frame_->Show();
        Pump();
        list_->ShowGroup(kGroup);
        Pump();
    }

    void TearDown() override {
        if (frame_)
            frame_->Destroy();
        Pump();
        engine_.reset();
    }

    std::string Text(long row, int column = 0) const {
        return list_->GetItemText(row, column).utf8_string();
    }
    std::vector<std::string> SelectedNames() {
        std::vector<std::string> names;
        for (const Attachment& a : list_->SelectedAttachments())
            names.push_back(a.filename);
        return names;
    }
    void Select(const std::vector<long>& rows) {
        list_->ClearSelection();
        for (long row : rows)
            list_->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    int64_t StoredRows(const std::string& name) {
        std::unique_ptr<HeaderView> view = engine_->OpenView(name);
        return view ? view->CountRows() : -1;
    }
    FindOutcome Find(const std::string& text, int action, bool down = true, bool whole_word = false,
                     bool match_case = false, bool regex = false) {
        return list_->RunFind({text, whole_word, match_case, regex, down, action});
    }

    test::TempDir home_;
    SilentHost silent_{true};
    FakeHost host_;
    std::unique_ptr<Engine> engine_;
    wxFrame* frame_ = nullptr;
    CGroupsView* groups_ = nullptr;
    CQuillstreamView* list_ = nullptr;
    std::vector<int> commands_;
};

TEST(ListText, SizesTimesAndBytesAsShown) {
    EXPECT_EQ(SizeText(0), "0.00 KB");
    EXPECT_EQ(SizeText(1048576), "1024.00 KB");
    EXPECT_EQ(SizeText(1048577), "1.00 MB");
    EXPECT_EQ(SizeText(5ull << 30), "5120.00 MB");

    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(TimeText(315626635), "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(TimeText(0), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(LastScannedText(315626635), "Wed Jan 02 02:03:55 1980");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(LastScannedText(0), "Never...");
    EXPECT_TRUE(std::regex_match(
        TimeText(1700000000),
        std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")));

    EXPECT_EQ(DisplayUtf8("caf\xc3\xa9"), "caf\xc3\xa9");                // valid UTF-8 stays
    EXPECT_EQ(DisplayUtf8("caf\xe9!"), "caf\xc3\xa9!");                  // Latin-1 byte
    EXPECT_EQ(DisplayUtf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");  // no surrogates
}

TEST_F(ListViewsTest, GroupRowsSortMirrorsSelectionAndTabsKeepTheirTopRow) {
    std::vector<Row> rows;
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "post %03d.rar", i);
        rows.push_back({name, "poster@example.com", 1, 1048576 + i - 1, 1});
    }
    rows[7].parts = 3;  // a multi-part row: grabbed on a double click
    Open(1, rows);

    // Rows: "filename desc" first, as the settings say; texts as the columns show them.
    ASSERT_EQ(list_->GetItemCount(), 300);
    EXPECT_EQ(host_.tabs, std::vector<int>{kTabList});
    EXPECT_EQ(Text(0), "post 299.rar");
    EXPECT_EQ(Text(299), "post 000.rar");
    EXPECT_EQ(Text(299, 2), "1024.00 KB");  // 1048575 bytes
    EXPECT_EQ(Text(298, 2), "1024.00 KB");  // exactly 1048576
    EXPECT_EQ(Text(297, 2), "1.00 MB");
    EXPECT_EQ(Text(0, 1), "poster@example.com");
    EXPECT_EQ(Text(0, 3), "10");
    EXPECT_EQ(Text(0, 5), TimeText(315626635));
    EXPECT_EQ(list_->sort_column(), 0);

    // Sorting by size turns the order round and carries the selection to the mirror rows;
    // the second click brings back both.
    Select({0, 5, 299});
    EXPECT_EQ(host_.selection_count, 3);
    const std::vector<std::string> picked = SelectedNames();
    list_->SortByColumn(2);
    EXPECT_EQ(list_->sort_direction(), 0);
    EXPECT_EQ(list_->sort_column(), 2);
    EXPECT_EQ(Text(0), "post 000.rar");
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{0, 294, 299}));
    EXPECT_EQ(SelectedNames().size(), 3u);
    list_->SortByColumn(2);
    EXPECT_EQ(Text(0), "post 299.rar");
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{0, 5, 299}));
    EXPECT_EQ(SelectedNames(), picked);
    EXPECT_EQ(host_.selection_count, 3);

    // A double click grabs a multi-part row and reads a single-part one.
    wxListEvent activate(wxEVT_LIST_ITEM_ACTIVATED, list_->GetId());
    activate.SetEventObject(list_);
    activate.SetIndex(299 - 7);
    list_->GetEventHandler()->ProcessEvent(activate);
    activate.SetIndex(0);
    list_->GetEventHandler()->ProcessEvent(activate);
    Pump();
    EXPECT_EQ(commands_, (std::vector<int>{ID_GRAB, ID_READ_MESSAGE}));

    // List -> Queue -> List comes back to the same top row; the queue does not sort.
    list_->EnsureVisible(250);
    Pump();
    const long top = list_->GetTopItem();
    ASSERT_GT(top, 0);
    list_->SelectTab(kTabQueue);
    EXPECT_EQ(list_->source_name(), "queue");
    EXPECT_EQ(list_->GetItemCount(), 0);
    list_->SortByColumn(1);
    EXPECT_EQ(list_->sort_column(), 2);
    list_->SelectTab(kTabList);
    Pump();
    EXPECT_EQ(list_->source_name(), kGroup);
    EXPECT_EQ(list_->GetItemCount(), 300);
    EXPECT_EQ(list_->GetTopItem(), top);
    EXPECT_EQ(host_.tabs, (std::vector<int>{kTabList, kTabQueue, kTabList}));

    // The filter box narrows the group.
    list_->SetFilterText("POST 01");
    EXPECT_EQ(list_->GetItemCount(), 10);
    list_->SetFilterText("");
    EXPECT_EQ(list_->GetItemCount(), 300);
}

TEST_F(ListViewsTest, GroupListShowsTheSubscribedGroupsAndTellsTheHost) {
    Open(1, {});
    ASSERT_EQ(groups_->GetItemCount(), 2);
    EXPECT_EQ(groups_->GetItemText(0, 0).utf8_string(), kGroup);
    EXPECT_EQ(groups_->GetItemText(0, 2).utf8_string(), "Never...");
    EXPECT_EQ(groups_->GetItemText(1, 2).utf8_string(), TimeText(315626635));
    EXPECT_TRUE(groups_->SelectGroup("alt.test.text"));
    EXPECT_EQ(groups_->current_group(), "alt.test.text");
    ASSERT_FALSE(host_.groups.empty());
    EXPECT_EQ(host_.groups.back(), "alt.test.text");
    EXPECT_FALSE(groups_->SelectGroup("no.such.group"));

    // Unsubscribing the selected group drops its row and the selection with it.
    ASSERT_TRUE(engine_->Unsubscribe("alt.test.text").ok);
    groups_->Reload();
    EXPECT_EQ(groups_->GetItemCount(), 1);
    EXPECT_EQ(groups_->current_group(), "");
    EXPECT_EQ(host_.groups.back(), "");

    wxListEvent activate(wxEVT_LIST_ITEM_ACTIVATED, groups_->GetId());
    activate.SetEventObject(groups_);
    groups_->GetEventHandler()->ProcessEvent(activate);
    Pump();
    EXPECT_EQ(commands_, std::vector<int>{ID_SCAN});
}

TEST_F(ListViewsTest, RowCountFollowsASourceChangedBehindTheList) {
    std::vector<Row> rows;
    for (int i = 0; i < 30; ++i)
        rows.push_back({"row " + std::to_string(100 + i)});
    rows[4].parts = 3;  // one part of three: incomplete
    Open(0, rows);
    ASSERT_EQ(list_->GetItemCount(), 30);
    Settings hide = *engine_->settings();
    hide.ShowIncomplete = 0;
    ASSERT_TRUE(engine_->ApplySettings(hide).ok);
    list_->Reload();
    EXPECT_EQ(list_->GetItemCount(), 29);
    Select({2, 25});
    list_->EnsureVisible(25);
    Pump();

    // Emptied while it shows (as a worker or Reset Group does): the next paint finds out and
    // the rows go, without the list tripping over rows that are no longer there.
    ASSERT_TRUE(engine_->ResetGroup(kGroup).ok);
    list_->Refresh();
    list_->Update();
    Pump();
    EXPECT_EQ(list_->GetItemCount(), 0);

    // An empty list paints no rows; the one-second timer's sync brings new ones in.
    Attachment a;
    a.filename = "late arrival";
    a.Id = "<late@x>";
    MessageVars part;
    part.MessageId = "<late.1@x>";
    ASSERT_TRUE(list_->view()->db()->StoreAttachment(&part, a));
    list_->SyncRowCount();
    EXPECT_EQ(list_->GetItemCount(), 1);
    EXPECT_EQ(Text(0), "late arrival");
}

const std::vector<Row> kFindRows = {
    {"a.mp3 (1/3)"}, {"b song.avi", "mp3 fan"}, {"c other"}, {"d song mp3 (1/3)"}, {"e MP3 upper"},
};

TEST_F(ListViewsTest, FindNextWrapsBothWaysAndHonoursWordsCaseAndExpressions) {
    Open(0, kFindRows);
    ASSERT_EQ(list_->GetItemCount(), 5);
    ASSERT_EQ(Text(0), "a.mp3 (1/3)");

    // Down: each match in turn (the From text counts too), then "Not found!" and the wrap.
    for (long expected : {0, 1, 3, 4}) {
        FindOutcome found = Find("mp3", 0);
        EXPECT_TRUE(found.found);
        EXPECT_EQ(found.message, "");
        EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{expected});
    }
    FindOutcome end = Find("mp3", 0);
    EXPECT_FALSE(end.found);
    EXPECT_EQ(end.message, "Not found!");
    EXPECT_TRUE(list_->SelectedRows().empty());
    EXPECT_TRUE(Find("mp3", 0).found);
    EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{0});
    EXPECT_EQ(list_->last_find().text, "mp3");

    // Up from the top: nothing above, then it wraps to the last row.
    EXPECT_EQ(Find("mp3", 0, false).message, "Not found!");
    EXPECT_EQ(list_->find_position(), 4);
    EXPECT_TRUE(Find("mp3", 0, false).found);
    EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{4});
    EXPECT_TRUE(Find("mp3", 0, false).found);
    EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{3});

    // Whole words need a blank on both sides; case folds unless asked not to.
    EXPECT_TRUE(Find("mp3", 1, true, true).found);
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{3, 4}));
    EXPECT_TRUE(Find("MP3", 1, true, false, true).found);
    EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{4});
    EXPECT_TRUE(Find("^[ab]|upper$", 1, true, false, false, true).found);
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{0, 1, 4}));
    EXPECT_TRUE(list_->last_find().regular_expression);
    EXPECT_EQ(list_->last_find().action, 1);

    // A bad expression says why and touches nothing, even as "Keep all matching items.".
    FindOutcome bad = Find("(mp3", 3, true, false, false, true);
    EXPECT_TRUE(bad.regex_error);
    EXPECT_FALSE(bad.found);
    EXPECT_EQ(bad.message.rfind("Regular expression:", 0), 0u);
    EXPECT_GT(bad.message.size(), std::string("Regular expression:\n").size());
    EXPECT_EQ(bad.message.back(), '\n');
    EXPECT_EQ(list_->GetItemCount(), 5);
    EXPECT_EQ(StoredRows(kGroup), 5);

    // The dialog starts from the remembered find and runs it; the regex box rules the
    // whole-word box.
    auto* dialog = new CFindFilterDialog(frame_, *list_);
    dialog->set_show_messages(false);
    FindRequest start = dialog->Request();
    EXPECT_EQ(start.text, "(mp3");
    EXPECT_EQ(start.action, 3);
    EXPECT_TRUE(start.regular_expression);
    EXPECT_TRUE(start.down);
    EXPECT_EQ(dialog->GetTitle(), "Find/Filter");
    wxWindow* whole_word = wxWindow::FindWindowByLabel("Match &whole word only", dialog);
    auto* regex =
        wxDynamicCast(wxWindow::FindWindowByLabel("Regular &expression", dialog), wxCheckBox);
    ASSERT_TRUE(whole_word && regex);
    EXPECT_FALSE(whole_word->IsEnabled());
    regex->SetValue(false);
    wxCommandEvent toggled(wxEVT_CHECKBOX, regex->GetId());
    toggled.SetEventObject(regex);
    toggled.SetInt(0);
    regex->GetEventHandler()->ProcessEvent(toggled);
    EXPECT_TRUE(whole_word->IsEnabled());
    EXPECT_FALSE(dialog->Request().regular_expression);
    dialog->Destroy();
    Pump();

    // "Keep all matching items." with nothing matching empties the group, then says so.
    FindOutcome keep = Find("no such thing", 3);
    EXPECT_EQ(keep.message, "Not found!");
    EXPECT_EQ(list_->GetItemCount(), 0);
    EXPECT_EQ(StoredRows(kGroup), 0);
}

TEST_F(ListViewsTest, QueueTabRemovesMatchesFromTheQueueOnlyAndDragsRows) {
    Open(0, kFindRows);
    ASSERT_TRUE(engine_->EnqueueRows(kGroup, *list_->view(), {0, 1, 2, 3}, false).ok);
    list_->SelectTab(kTabQueue);
    ASSERT_EQ(list_->GetItemCount(), 4);
    EXPECT_EQ(Text(0), "a.mp3 (1/3)");

    // Moving the last row up two places; then moving rows 0 and 1 up stops at once.
    Select({3});
    list_->MoveSelectedQueueRows(-2);
    EXPECT_EQ(Text(1), "d song mp3 (1/3)");
    EXPECT_EQ(list_->SelectedRows(), std::vector<int64_t>{1});
    Select({0, 1});
    list_->MoveSelectedQueueRows(-1);
    EXPECT_EQ(Text(0), "a.mp3 (1/3)");
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{0, 1}));
    list_->MoveSelectedQueueRows(2);
    EXPECT_EQ(Text(2), "a.mp3 (1/3)");
    EXPECT_EQ(Text(3), "d song mp3 (1/3)");
    EXPECT_EQ(list_->SelectedRows(), (std::vector<int64_t>{2, 3}));

    // "Remove all matching items." on the Queue tab: the entries leave the queue, the group
    // keeps every row.
    FindOutcome removed = Find("song", 2);
    EXPECT_TRUE(removed.found);
    EXPECT_EQ(list_->GetItemCount(), 2);
    EXPECT_EQ(StoredRows("queue"), 2);
    EXPECT_EQ(StoredRows(kGroup), 5);
    EXPECT_EQ(Text(0), "c other");
    EXPECT_EQ(Text(1), "a.mp3 (1/3)");
}

TEST_F(ListViewsTest, PartsWindowShowsTheSelectedRowsPartsAndFollowsTheSelection) {
    Open(0, {{"first.bin", "x", 3, 3000, 3}, {"second.bin", "y", 2, 2000, 2}});
    EXPECT_FALSE(list_->ShowProperties());
    CPartsDialog* parts = list_->parts_dialog();
    ASSERT_NE(parts, nullptr);
    EXPECT_FALSE(parts->IsShown());
    EXPECT_EQ(parts->GetParent(), frame_);

    Select({0});
    ASSERT_TRUE(list_->ShowProperties());
    Pump();
    EXPECT_TRUE(parts->IsShown());
    EXPECT_EQ(parts->GetTitle(), "Properties");
    wxListCtrl* rows = parts->list();
    ASSERT_EQ(rows->GetItemCount(), 3);
    EXPECT_EQ(rows->GetItemText(0, 0), "1");
    EXPECT_EQ(rows->GetItemText(0, 1), "<first.bin.1@x>");
    EXPECT_EQ(rows->GetItemText(0, 2), "1000");
    EXPECT_EQ(rows->GetItemText(2, 0), "3");
    EXPECT_EQ(rows->GetItemText(2, 4), "3");

    // Selecting another row while the window shows moves it there.
    Select({1});
    Pump();
    EXPECT_EQ(parts->attachment().filename, "second.bin");
    EXPECT_EQ(rows->GetItemCount(), 2);

    // Its close box only hides it.
    parts->Close();
    Pump();
    EXPECT_FALSE(parts->IsShown());
    EXPECT_EQ(list_->parts_dialog(), parts);
}

}  // namespace
}  // namespace qs::ui
