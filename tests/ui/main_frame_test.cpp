// The main window end to end, against a news server in the test: scan, sort, filter, grab,
// watch the queue and the log, stop, close.
#include "ui/main_frame.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/bookctrl.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>

#include "app/settings.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "ui/command_ids.h"
#include "ui/event_pump.h"
#include "ui/group_picker.h"
#include "ui/groups_view.h"
#include "ui/options_dialog.h"
#include "ui/options_page_groups.h"
#include "ui/options_page_servers.h"
#include "ui/quillstream_view.h"
#include "ui/thread_bar.h"
#include "ui/tip_reader.h"
#include "ui/window_placement.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGroup = "alt.binaries.test";

void Pump() {
    PumpFor(100ms);
}

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::CorpusOptions options;
        options.big_megabytes = 1;
        options.big_file_megabytes = 1;
        corpus_ = std::make_shared<test::GeneratedCorpus>(options);
        server_.SetCorpus(corpus_);
        Settings s;
        s.servers.push_back({server_.host(), "", "", 0, server_.port()});
        s.groups.push_back({kGroup, home_.File("dl") + "/", 0});
        s.AutoCreateDirs = 1;
        s.SocketTimeout = 10;
        s.ShowTips = 0;
        s.CancelledBackInQueue = 1;  // a download stopped half-way goes back to the queue
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
        frame_ = new CMainFrame(StartupContext{home_.path(), home_.File("Quillstream.ini"), ""});
        ASSERT_TRUE(frame_->ok());
        frame_->host().SetQuiet(true, false);
        frame_->engine().ShortenPausesForTests();
        frame_->Show();
        Pump();
    }

    void TearDown() override {
        if (frame_) {
            frame_->set_confirm_close(false);
            frame_->Close(true);
            Pump();
        }
    }

    // The index of the corpus file with this name in the group.
    size_t CorpusIndex(const std::string& name) const {
        for (size_t i = 0; i < corpus_->files().size(); ++i)
            if (corpus_->files()[i].name == name && corpus_->files()[i].group == kGroup)
                return i;
        return SIZE_MAX;
    }

    std::vector<Attachment> ListRows() {
        std::vector<Attachment> rows;
        HeaderView* view = frame_->list_view()->view();
        Attachment a;
        for (int64_t row = 0; view && view->AttachmentAt(row, a); ++row)
            rows.push_back(a);
        return rows;
    }

    bool Idle() { return !frame_->engine().Busy(); }
    void OnTickSoon() {
        frame_->OnTick();
        Pump();
    }

    test::TempDir home_;
    test::NewsServer server_;
    std::shared_ptr<test::GeneratedCorpus> corpus_;
    CMainFrame* frame_ = nullptr;
};

TEST_F(MainFrameTest, ScanSortFilterGrabAndWatchItArrive) {
    CGroupsView* groups = frame_->groups_view();
    CQuillstreamView* list = frame_->list_view();
    EXPECT_EQ(groups->GetItemCount(), 1);
    EXPECT_EQ(frame_->thread_bar()->status(0), "Ready...");
    ASSERT_TRUE(groups->SelectGroup(kGroup));
    Pump();
    EXPECT_EQ(list->current_group(), kGroup);
    EXPECT_EQ(list->tab(), kTabList);
    EXPECT_FALSE(frame_->IsCommandEnabled(ID_STOP));  // nothing runs yet
    EXPECT_TRUE(frame_->IsCommandEnabled(ID_OPTIONS));
    EXPECT_TRUE(frame_->IsCommandEnabled(ID_WIZARD));
    EXPECT_TRUE(frame_->IsCommandEnabled(ID_READ_MESSAGE));

    frame_->RunCommand(ID_SCAN);
    ASSERT_TRUE(PumpUntil([&] { return Idle() && list->GetItemCount() > 0; }));
    const long rows = list->GetItemCount();
    EXPECT_EQ(rows, static_cast<long>(ListRows().size()));
    EXPECT_NE(list->GetItemText(0, 0), "");            // the header text is drawn
    EXPECT_NE(groups->GetItemText(0, 2), "Never...");  // the scan stamped the group

    // Sorting by size twice gives both directions.
    list->SortByColumn(2);
    std::vector<Attachment> sorted = ListRows();
    list->SortByColumn(2);
    std::vector<Attachment> reversed = ListRows();
    ASSERT_EQ(sorted.size(), reversed.size());
    EXPECT_EQ(sorted.front().Id, reversed.back().Id);
    for (size_t i = 1; i < sorted.size(); ++i)
        EXPECT_LE(sorted[i - 1].bytes, sorted[i].bytes) << i;

    // The filter box narrows the list to one file.
    const test::CorpusFile* target = nullptr;
    for (const test::CorpusFile& f : corpus_->files())
        if (f.group == kGroup && f.encoding == test::CorpusEncoding::YEnc && f.parts > 1)
            target = &f;
    ASSERT_NE(target, nullptr);
    frame_->filter_box()->SetValue(wxString::FromUTF8(target->name));
    Pump();
    ASSERT_EQ(list->GetItemCount(), 1);
    ASSERT_EQ(ListRows().size(), 1u);

    // Grab it on a slow server: it shows in the Queue tab while it downloads.
    server_.SetReplyDelay(150ms);
    list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    Pump();
    EXPECT_EQ(frame_->PaneText(3), "1 Sel.");
    frame_->RunCommand(ID_GRAB);
    frame_->RunCommand(ID_VIEW_QUEUE);
    EXPECT_EQ(list->tab(), kTabQueue);
    EXPECT_EQ(list->source_name(), "queue");
    ASSERT_TRUE(PumpUntil([&] { return list->GetItemCount() == 1; }));
    EXPECT_TRUE(frame_->IsCommandEnabled(ID_STOP));
    EXPECT_NE(frame_->PaneText(6).find("1 Tasks"), std::string::npos) << frame_->PaneText(6);

    server_.SetReplyDelay(0ms);
    ASSERT_TRUE(PumpUntil([&] { return Idle() && list->GetItemCount() == 0; }, 60s));
    frame_->RunCommand(ID_NEXT_TAB);
    EXPECT_EQ(list->tab(), kTabLog);
    ASSERT_TRUE(PumpUntil([&] { return list->GetItemCount() == 1; }));
    std::vector<Attachment> log = ListRows();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].state, StateDone);
    const size_t index = CorpusIndex(target->name);
    ASSERT_NE(index, SIZE_MAX);
    EXPECT_EQ(test::ReadFile(home_.File("dl/" + target->name)), corpus_->FileData(index));
    frame_->RunCommand(ID_NEXT_TAB);
    EXPECT_EQ(list->tab(), kTabList);
}

TEST_F(MainFrameTest, StopPutsTheEntryBackAndClosingWhileBusyAsksFirst) {
    frame_->groups_view()->SelectGroup(kGroup);
    frame_->RunCommand(ID_SCAN);
    CQuillstreamView* list = frame_->list_view();
    ASSERT_TRUE(PumpUntil([&] { return Idle() && list->GetItemCount() > 0; }));

    // Every part answers slowly: the download is still running when Stop comes.
    server_.SetReplyDelay(1500ms);
    list->SelectAllRows();
    frame_->RunCommand(ID_GRAB);
    ASSERT_TRUE(PumpUntil([&] { return frame_->engine().Busy(); }));
    const int64_t queued = frame_->engine().Status().tasks;
    EXPECT_GT(queued, 0);

    // Closing while a worker lives asks; Cancel keeps everything running.
    frame_->host().TakeMessages();
    frame_->Close();
    Pump();
    auto asked = frame_->host().TakeMessages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, "There are still tasks,\nare you Sure?");
    EXPECT_TRUE(frame_->IsShown());
    EXPECT_TRUE(frame_->engine().Busy());

    frame_->RunCommand(ID_STOP);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    // What had not arrived, the downloads cut short included, waits in the queue again.
    const int64_t left = frame_->engine().Status().tasks;
    EXPECT_GT(left, 0);
    frame_->RunCommand(ID_VIEW_QUEUE);
    EXPECT_EQ(list->GetItemCount(), left);
    frame_->RunCommand(ID_VIEW_LOG);
    int64_t arrived = 0;
    for (const Attachment& a : ListRows())
        arrived += a.state == StateDone ? 1 : 0;
    EXPECT_EQ(arrived + left, queued);
    OnTickSoon();
    EXPECT_EQ(frame_->PaneText(4), "Speed: 0 KB/s");
}

// Options from the window: a second server added, the group list read, a group ticked;
// after OK the window's group list shows it, ready to scan.
TEST_F(MainFrameTest, OptionsAddAServerAndAGroupTheWindowThenShows) {
    test::NewsServer other;
    auto* dialog = new COptionsDialog(frame_, frame_->engine(), 0);
    dialog->SetMessageSink([](const std::string&, Host::Icon) {});
    dialog->Show();
    Pump();
    COptionsPage1* servers = dialog->servers_page();
    servers->host_box()->SetValue("localhost");
    servers->port_box()->SetValue(std::to_string(other.port()));
    servers->Add();
    ASSERT_EQ(servers->servers().size(), 2u);

    dialog->GetBookCtrl()->SetSelection(1);
    Pump();
    COptionsPage2* groups = dialog->groups_page();
    groups->Retrieve();
    ASSERT_TRUE(PumpUntil([&] { return !groups->fetching(); }));
    CGroupPicker* picker = groups->picker();
    const long big = picker->FindGroupRow("alt.binaries.big");
    ASSERT_GE(big, 0);
    EXPECT_FALSE(picker->IsRowChecked(big));
    EXPECT_TRUE(picker->IsRowChecked(picker->FindGroupRow(kGroup)));
    picker->ToggleRow(big);
    ASSERT_TRUE(dialog->ApplyEdits());
    dialog->Destroy();
    frame_->SettingsChanged();
    Pump();

    ASSERT_EQ(frame_->engine().settings()->servers.size(), 2u);
    EXPECT_EQ(frame_->engine().settings()->servers[1].port, other.port());
    CGroupsView* list = frame_->groups_view();
    ASSERT_EQ(list->GetItemCount(), 2);
    ASSERT_TRUE(list->SelectGroup("alt.binaries.big"));
    frame_->RunCommand(ID_SCAN);
    ASSERT_TRUE(PumpUntil([&] { return Idle() && frame_->list_view()->GetItemCount() > 0; }));
}

TEST(WindowPlacement, RoundTripsThroughTheSettingsRecord) {
    WindowPlacement placement;
    placement.show_state = kShowMaximized;
    placement.left = -20;
    placement.top = 10;
    placement.right = 1000;
    placement.bottom = 700;
    std::vector<uint8_t> record = EncodePlacement(placement);
    ASSERT_EQ(record.size(), 44u);
    EXPECT_EQ(record[0], 44);
    WindowPlacement back;
    ASSERT_TRUE(DecodePlacement(record, back));
    EXPECT_EQ(back.show_state, kShowMaximized);
    EXPECT_EQ(back.left, -20);
    EXPECT_EQ(back.bottom, 700);
    EXPECT_FALSE(DecodePlacement(std::vector<uint8_t>(43), back));
}

TEST(TipReader, SkipsCommentsWrapsAroundAndKeepsItsPlace) {
    test::TempDir dir;
    test::WriteFile(dir.File("tips.txt"), "; comment\n first is indented\nOne\n\tno\nTwo\n");
    TipReader reader(dir.File("tips.txt"), 0);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.Next(), "One");
    EXPECT_EQ(reader.Next(), "Two");
    const int64_t saved = reader.offset();
    EXPECT_EQ(reader.Next(), "One");  // the end: from the start again
    TipReader again(dir.File("tips.txt"), saved);
    EXPECT_EQ(again.Next(), "One");
    TipReader missing(dir.File("none.txt"), 0);
    EXPECT_FALSE(missing.ok());
}

}  // namespace
}  // namespace qs::ui
