#include "ui/main_frame.h"

#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <atomic>

#include "app/debug_log.h"
#include "ui/art.h"
#include "ui/command_ids.h"
#include "ui/folder_tab_ctrl.h"
#include "ui/groups_view.h"
#include "ui/post_dialog.h"
#include "ui/quillstream_view.h"
#include "ui/speed_bar.h"
#include "ui/thread_bar.h"
#include "ui/tray_icon.h"
#include "ui/window_placement.h"

namespace qs::ui {

namespace {
constexpr int kTimerId = 100;
constexpr int kStatusPanes = 7;
constexpr const char* kTabCaptions = "  List  \n Queue \n Log ";
}  // namespace

// The engine's events, carried over to the frame's thread. Slot texts and row changes come
// in bursts: one redraw is queued for each burst.
class FrameEvents : public EventListener {
  public:
    explicit FrameEvents(CMainFrame& frame) : frame_(frame) {}

    void OnSlotStatus(int, const std::string&) override {
        if (!slots_queued_.exchange(true))
            frame_.CallAfter([this] {
                slots_queued_ = false;
                frame_.UpdateSlots(frame_.engine_->Status());
            });
    }
    void OnRowsChanged(const std::string& database, const std::vector<std::string>&) override {
        frame_.CallAfter([this, database] { frame_.RowsChanged(database); });
    }
    void OnEntryFiled(const FiledEntry& entry) override {
        frame_.CallAfter([this, entry] { frame_.EntryFiled(entry); });
    }
    void OnSetProcessed(const ProcessedSet& set) override {
        frame_.CallAfter([this, set] { frame_.SetProcessed(set); });
    }
    void OnScanEnded(const ScanReport& report) override {
        frame_.CallAfter([this, group = report.group] {
            frame_.GroupListChanged();
            frame_.RowsChanged(group);
        });
    }
    void OnGroupListChanged() override {
        frame_.CallAfter([this] { frame_.GroupListChanged(); });
    }

  private:
    CMainFrame& frame_;
    std::atomic<bool> slots_queued_{false};
};

CMainFrame::CMainFrame(const StartupContext& startup)
    : wxFrame(nullptr, wxID_ANY, "Quillstream", wxDefaultPosition, wxSize(1100, 780)),
      startup_(startup),
      timer_(this, kTimerId) {
    host_.SetWindow(this);
    engine_ = std::make_unique<Engine>(startup_, host_);
    engine_ok_ = engine_->Open();
    events_ = std::make_unique<FrameEvents>(*this);
    engine_->SetListener(events_.get());
    SetIcons(AppIcons());
    SetMinSize(wxSize(640, 480));

    BuildMenus();
    LogLine("Creating toolbar\n");
    BuildToolBar();
    LogLine("Creating bars\n");
    BuildBars();
    LogLine("Creating status bar\n");
    BuildStatusBar();
    BuildAccelerators();
    tray_ = QuillstreamTrayIcon::Create(*this);

    const std::shared_ptr<const Settings> settings = engine_->settings();
    for (int i = 0; i < kThreadSlots; ++i) {
        threads_->SetStatus(i, "Ready...");
        threads_->SetEnabledBox(i, settings->Thread[i] != 0);
    }
    ShowBar(ID_TOGGLE_TOOLBAR, settings->Toolbar != 0);
    ShowBar(ID_TOGGLE_SPEEDBAR, settings->Speedbar != 0);
    ShowBar(ID_TOGGLE_THREADBAR, settings->Threadbar != 0);
    ShowBar(ID_TOGGLE_STATUSBAR, settings->Statusbar != 0);

    host_.SetViewCallbacks([this] { RowsChanged({}); },
                           [this](const std::string& group) { groups_->SelectGroup(group); });

    Bind(wxEVT_MENU, &CMainFrame::OnMenu, this);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateUi, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_ICONIZE, &CMainFrame::OnIconize, this);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { OnTick(); }, kTimerId);
    DragAcceptFiles(true);
    Bind(wxEVT_DROP_FILES, &CMainFrame::OnDropFiles, this);
    timer_.Start(1000);
    OnTick();
}

CMainFrame::~CMainFrame() {
    timer_.Stop();
    host_.SetQuiet(true);  // a worker's late question is answered, not shown
    engine_->SetListener(nullptr);
    // A read or post still on its thread uses the engine: Stop wakes its connection, and
    // it ends before the engine goes (bounded, as the workers are).
    engine_->StopAll();
    for (int i = 0; i < 500 && ArticleJobsRunning() > 0; ++i)
        wxMilliSleep(10);
    engine_.reset();  // ends the workers before the windows they report to go
}

void CMainFrame::BuildToolBar() {
    wxToolBar* bar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TEXT);
    bar->SetToolBitmapSize(wxSize(32, 32));
    struct Tool {
        int id;
        ToolImage image;
        const char* label;
        const char* tip;
    };
    const Tool tools[] = {
        {ID_SCAN, ToolImage::Scan, "Scan", "Scan"},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_GRAB, ToolImage::Grab, "Grab!", "Grab!"},
        {ID_PAUSE, ToolImage::Pause, "Pause", "Pause"},
        {ID_STOP, ToolImage::Stop, "Stop", "Stop"},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_AUTOGRAB, ToolImage::Autograb, "Autograb", "Autograb All"},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_FIND, ToolImage::Find, "Find", "Find/Filter"},
        {ID_READ_MESSAGE, ToolImage::ReadMessage, "Read", "Read Message"},
        {ID_POST_MESSAGE, ToolImage::PostMessage, "Post", "Post Message"},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_BROWSE_DIR, ToolImage::BrowseDir, "Browse", "Browse Download Directory."},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_OPTIONS, ToolImage::Options, "Options", "Options"},
        {0, ToolImage::Scan, nullptr, nullptr},
        {ID_ABOUT, ToolImage::About, "About", "About"},
    };
    for (const Tool& tool : tools) {
        if (!tool.label) {
            bar->AddSeparator();
            continue;
        }
        const int kind = tool.id == ID_PAUSE ? wxITEM_CHECK : wxITEM_NORMAL;
        bar->AddTool(tool.id, tool.label, ToolBitmap(tool.image), ToolBitmap(tool.image, true),
                     static_cast<wxItemKind>(kind), tool.tip);
    }
    bar->Realize();
}

void CMainFrame::BuildBars() {
    auto* top = new wxPanel(this, wxID_ANY);
    const std::shared_ptr<const Settings> settings = engine_->settings();
    speed_ = new SpeedBar(top, settings->SpeedUse != 0, settings->SpeedVal,
                          {[this](bool use, int kbps) { SpeedChanged(use, kbps); },
                           [this](bool on) { engine_->SetShutdownWhenFinished(on); }});
    threads_ = new ThreadBar(top, {[this](int slot, bool on) { SlotEnabled(slot, on); },
                                   [this](int slot) { engine_->StopSlot(slot); }});
    splitter_ = new wxSplitterWindow(top, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                     wxSP_LIVE_UPDATE | wxSP_3DSASH);
    splitter_->SetMinimumPaneSize(40);
    groups_ = new CGroupsView(splitter_, *engine_, *this);
    list_ = new CQuillstreamView(splitter_, *engine_, *this);
    splitter_->SplitHorizontally(groups_, list_,
                                 settings->GroupsHeight > 0 ? settings->GroupsHeight : 100);

    bars_sizer_ = new wxBoxSizer(wxVERTICAL);
    bars_sizer_->Add(speed_, 0, wxEXPAND);
    bars_sizer_->Add(threads_, 0, wxEXPAND);
    bars_sizer_->Add(splitter_, 1, wxEXPAND);
    top->SetSizer(bars_sizer_);
    auto* frame_sizer = new wxBoxSizer(wxVERTICAL);
    frame_sizer->Add(top, 1, wxEXPAND);
    SetSizer(frame_sizer);
}

void CMainFrame::BuildStatusBar() {
    wxStatusBar* bar = CreateStatusBar(kStatusPanes, wxSTB_SIZEGRIP);
    tabs_ = new CFolderTabCtrl(bar, kTabCaptions);
    filter_label_ = new wxStaticText(bar, wxID_ANY, " Filter:");
    filter_ = new wxTextCtrl(bar, wxID_ANY);
    filter_->SetToolTip("Show only the files whose name holds this text");
    filter_->Bind(wxEVT_TEXT, &CMainFrame::OnFilterText, this);
    auto width = [bar](const char* sample) { return bar->GetTextExtent(sample).x + 16; };
    const int widths[kStatusPanes] = {tabs_->StripWidth() + 8,
                                      width(" Filter:") + 140,
                                      -1,
                                      width("00000 Sel."),
                                      width("Speed: 000000 KB/s"),
                                      width("MB: 0000000"),
                                      width("00000 Tasks / 0000000 MB / 000:00 ETA")};
    bar->SetStatusWidths(kStatusPanes, widths);
    bar->SetMinHeight(tabs_->GetBestSize().y + 4);
    bar->Bind(wxEVT_SIZE, &CMainFrame::OnStatusBarSize, this);
    PlaceStatusControls();
}

void CMainFrame::OnStatusBarSize(wxSizeEvent& event) {
    PlaceStatusControls();
    event.Skip();
}

void CMainFrame::PlaceStatusControls() {
    wxStatusBar* bar = GetStatusBar();
    if (!bar || !tabs_)
        return;
    wxRect rect;
    if (bar->GetFieldRect(0, rect))
        tabs_->SetSize(rect);
    if (bar->GetFieldRect(1, rect)) {
        const wxSize label = filter_label_->GetBestSize();
        filter_label_->SetSize(rect.x, rect.y + (rect.height - label.y) / 2, label.x, label.y);
        const int box_height = std::min(rect.height, filter_->GetBestSize().y);
        filter_->SetSize(rect.x + label.x + 2, rect.y + (rect.height - box_height) / 2,
                         rect.width - label.x - 2, box_height);
    }
}

void CMainFrame::ShowBar(int id, bool show) {
    switch (id) {
        case ID_TOGGLE_TOOLBAR:
            if (GetToolBar())
                GetToolBar()->Show(show);
            break;
        case ID_TOGGLE_STATUSBAR:
            if (GetStatusBar())
                GetStatusBar()->Show(show);
            break;
        case ID_TOGGLE_SPEEDBAR:
            bars_sizer_->Show(speed_, show);
            break;
        case ID_TOGGLE_THREADBAR:
            bars_sizer_->Show(threads_, show);
            break;
        default:
            return;
    }
    Relayout();
}

void CMainFrame::Relayout() {
    if (bars_sizer_)
        bars_sizer_->Layout();
    SendSizeEvent();
}

void CMainFrame::ApplyPlacement() {
    const std::shared_ptr<const Settings> settings = engine_->settings();
    if (!settings->Placement)
        return;
    WindowPlacement placement;
    if (!DecodePlacement(*settings->Placement, placement) || placement.show_state == 0)
        return;
    wxRect rect(placement.left, placement.top, placement.right - placement.left,
                placement.bottom - placement.top);
    if (rect.width >= 200 && rect.height >= 150)
        SetSize(rect);
    if (placement.show_state == kShowMaximized)
        Maximize(true);
}

void CMainFrame::SaveWindowState(Settings& settings) const {
    WindowPlacement placement;
    const wxRect rect = GetRect();
    placement.show_state = IsMaximized() ? kShowMaximized : kShowNormal;
    placement.left = rect.x;
    placement.top = rect.y;
    placement.right = rect.x + rect.width;
    placement.bottom = rect.y + rect.height;
    settings.Placement = EncodePlacement(placement);
    if (splitter_ && splitter_->IsSplit())
        settings.GroupsHeight = splitter_->GetSashPosition();
    groups_->SaveColumnWidths(settings);
    list_->SaveColumnWidths(settings);
    settings.Toolbar = GetToolBar() && GetToolBar()->IsShown() ? 1 : 0;
    settings.Statusbar = GetStatusBar() && GetStatusBar()->IsShown() ? 1 : 0;
    settings.Speedbar = speed_->IsShown() ? 1 : 0;
    settings.Threadbar = threads_->IsShown() ? 1 : 0;
}

// --- Status ---

void CMainFrame::OnTick() {
    status_ = engine_->Tick();
    UpdateSlots(status_);
    UpdatePanes(status_);
    list_->SyncRowCount();
    const wxString title = status_.downloading && status_.busy
                               ? wxString::Format("Quillstream - %d KB/s", status_.speed)
                               : wxString("Quillstream");
    if (GetTitle() != title)
        SetTitle(title);
    if (was_busy_ && !status_.busy) {
        if (status_.tasks == 0 && failures_since_idle_ == 0)
            ShowNotification("Downloads finished", "Every queued file has arrived.");
        failures_since_idle_ = 0;
    }
    was_busy_ = status_.busy;
}

void CMainFrame::UpdateSlots(const EngineStatus& status) {
    for (int i = 0; i < kThreadSlots; ++i) {
        const SlotStatus& slot = status.slots[static_cast<size_t>(i)];
        threads_->SetStatus(i, slot.status.empty() ? "Ready..." : slot.status);
        threads_->SetProgress(i, slot.progress_range, slot.alive ? slot.progress : 0);
        if (threads_->enabled_box(i) != slot.enabled)
            threads_->SetEnabledBox(i, slot.enabled);
    }
}

std::string CMainFrame::PaneText(int pane) const {
    const wxStatusBar* bar = GetStatusBar();
    return bar ? bar->GetStatusText(pane).utf8_string() : std::string();
}

void CMainFrame::UpdatePanes(const EngineStatus& status) {
    wxStatusBar* bar = GetStatusBar();
    if (!bar)
        return;
    const wxString texts[] = {
        wxString::Format("%d Sel.", selected_count_), wxString::FromUTF8(status.SpeedText()),
        wxString::FromUTF8(status.ReceivedText()), wxString::FromUTF8(status.QueueText())};
    for (int i = 0; i < 4; ++i) {
        if (bar->GetStatusText(3 + i) != texts[i])
            bar->SetStatusText(texts[i], 3 + i);
    }
}

void CMainFrame::ShowNotification(const std::string& title, const std::string& text) {
    if (host_.quiet() || IsActive())
        return;
    wxNotificationMessage note(wxString::FromUTF8(title), wxString::FromUTF8(text), this);
    note.Show(wxNotificationMessage::Timeout_Auto);
}

// --- Engine events ---

void CMainFrame::RowsChanged(const std::string& database) {
    if (!database.empty() && database != list_->source_name())
        return;
    list_->Reload();
}

void CMainFrame::EntryFiled(const FiledEntry& entry) {
    if (list_->tab() != kTabList)
        list_->Reload();
    if (IsFailure(entry.outcome) && entry.outcome != EntryOutcome::Stopped) {
        ++failures_since_idle_;
        ShowNotification("Download failed",
                         entry.filename + (entry.reason.empty() ? "" : ": " + entry.reason));
    }
}

void CMainFrame::SetProcessed(const ProcessedSet& set) {
    // The outcome is noted on the set's log records: the Log tab's Result column shows it.
    if (list_->tab() == kTabLog)
        list_->Reload();
    if (set.failed) {
        ++failures_since_idle_;
        ShowNotification("Post-processing failed", set.name + ": " + set.outcome);
    }
}

void CMainFrame::GroupListChanged() {
    groups_->Reload();
}

// --- ViewHost ---

void CMainFrame::OnSelectionCount(int count) {
    selected_count_ = count;
    UpdatePanes(status_);
}

void CMainFrame::OnTabShown(int tab) {
    tabs_->SelectTab(tab);
}

void CMainFrame::OnGroupSelected(const std::string& group) {
    wxBusyCursor busy;
    list_->ShowGroup(group);
    if (!filter_->IsEmpty())
        list_->SetFilterText(filter_->GetValue().utf8_string());
}

void CMainFrame::PopupGroupMenu(const wxPoint& screen) {
    std::unique_ptr<wxMenu> menu(GroupMenu());
    PopupMenu(menu.get(), ScreenToClient(screen));
}

void CMainFrame::PopupItemMenu(const wxPoint& screen) {
    std::unique_ptr<wxMenu> menu(ItemMenu());
    PopupMenu(menu.get(), ScreenToClient(screen));
}

// --- Window events ---

void CMainFrame::OnFilterText(wxCommandEvent&) {
    list_->SetFilterText(filter_->GetValue().utf8_string());
}

void CMainFrame::OnDropFiles(wxDropFilesEvent& event) {
    Raise();
    for (int i = 0; i < event.GetNumberOfFiles(); ++i)
        OpenNzbFile(event.GetFiles()[i].utf8_string());
}

void CMainFrame::OnIconize(wxIconizeEvent& event) {
    // With a tray icon to come back through, minimising hides the window.
    if (event.IsIconized() && tray_) {
        Hide();
        return;
    }
    event.Skip();
}

void CMainFrame::OpenNzbFile(const std::string& path) {
    if (path.empty())
        return;  // a later instance started without a file
    LogLine("NZB file: %s\n", path.c_str());
    CommandResult result = engine_->ImportNzb(path);
    if (!result.ok) {
        Tell(result);
        return;
    }
    ShowTab(kTabQueue);
}

void CMainFrame::OnClose(wxCloseEvent& event) {
    if (closing_) {
        event.Skip();
        return;
    }
    if (confirm_close_ && event.CanVeto() && engine_->Busy() &&
        !host_.Confirm("There are still tasks,\nare you Sure?")) {
        event.Veto();
        return;
    }
    closing_ = true;
    timer_.Stop();
    const std::shared_ptr<const Settings> current = engine_->settings();
    if (current->ClearLogOnExit) {
        threads_->SetStatus(0, "Clearing log...");
        engine_->ClearLog();
    }
    Settings settings = *current;
    SaveWindowState(settings);
    engine_->ApplySettings(settings);
    host_.SetQuiet(true);
    engine_->StopAll();
    engine_->WaitIdle(std::chrono::milliseconds(5000));
    if (tray_)
        tray_->RemoveIcon();
    tray_.reset();
    event.Skip();
}

}  // namespace qs::ui
