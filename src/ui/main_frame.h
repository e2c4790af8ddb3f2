#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "ui/gui_host.h"
#include "ui/view_host.h"

class wxSplitterWindow;
class wxTextCtrl;
class wxMenu;
class wxBoxSizer;

namespace qs::ui {

class CFolderTabCtrl;
class CGroupsView;
class CQuillstreamView;
class CReadDialog;
class QuillstreamTrayIcon;
class SpeedBar;
class ThreadBar;
class FrameEvents;

// The one top-level window: it owns the engine and presents it. The toolbar, the speed and
// thread bars, the group list above the attachment list, the status bar with the List /
// Queue / Log tabs and the filter box; the menus turn into engine commands, and the
// one-second timer shows the engine's status.
class CMainFrame : public wxFrame, public ViewHost {
  public:
    // Opens the engine over the startup's home; `ok()` is false when that failed (the
    // reason was shown through the host).
    explicit CMainFrame(const StartupContext& startup);
    ~CMainFrame() override;
    bool ok() const { return engine_ok_; }

    // A file handed over by a later instance (kind 1), named on the command line or dropped
    // on the window: imported as an NZB file, then the Queue tab is shown.
    void OpenNzbFile(const std::string& path);
    // The saved window placement, when it has a show state.
    void ApplyPlacement();
    // The tip window (start-up with ShowTips, "Tip of the day...").
    void ShowTips();
    // "Options..." at page 0, "Edit Groups" at page 1; refused while work runs.
    void OpenOptions(int page);
    // "First Time Wizard..." (and the start-up when no server is enabled).
    void RunWizard();
    // After the options or the wizard changed the settings: the lists show them.
    void SettingsChanged();
    // The reading window (created at its first use) showing the article read now.
    CReadDialog* OpenReadDialog(const std::string& group, const std::string& message_id);
    CReadDialog* read_dialog() { return read_dialog_; }

    Engine& engine() { return *engine_; }
    GuiHost& host() { return host_; }
    CGroupsView* groups_view() { return groups_; }
    CQuillstreamView* list_view() { return list_; }
    CFolderTabCtrl* tab_strip() { return tabs_; }
    ThreadBar* thread_bar() { return threads_; }
    SpeedBar* speed_bar() { return speed_; }
    wxTextCtrl* filter_box() { return filter_; }
    // Runs a command as its menu item does.
    void RunCommand(int id);
    // Whether a command is enabled / checked now (the menus' and toolbar's update rules).
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;
    // The one-second tick: engine status into the bars and panes.
    void OnTick();
    // The status bar's text of pane `pane`.
    std::string PaneText(int pane) const;
    // Closes without asking (tests), else as the close box does.
    void set_confirm_close(bool confirm) { confirm_close_ = confirm; }

    // ViewHost
    void OnSelectionCount(int count) override;
    void OnTabShown(int tab) override;
    void OnGroupSelected(const std::string& group) override;
    void PopupGroupMenu(const wxPoint& screen) override;
    void PopupItemMenu(const wxPoint& screen) override;

  private:
    friend class FrameEvents;

    void BuildMenus();
    void BuildToolBar();
    void BuildBars();
    void BuildStatusBar();
    void BuildAccelerators();
    wxMenu* ItemMenu();
    wxMenu* GroupMenu();
    void ShowBar(int id, bool show);
    void Relayout();
    void UpdateSlots(const EngineStatus& status);
    void UpdatePanes(const EngineStatus& status);
    void Tell(const CommandResult& result);
    void Message(const std::string& text, Host::Icon icon);

    // Commands (main_frame_commands.cpp).
    void OnMenu(wxCommandEvent& event);
    void OnUpdateUi(wxUpdateUIEvent& event);
    void Scan();
    void Grab(bool open_after, bool start);
    void BrowseDir();
    void ResetGroup();
    void OpenNzbDialog();
    void OnSelectedQueueEntries(
        const std::function<CommandResult(const std::vector<std::string>&)>& command);
    void MoveToTop();
    void RemoveFromQueue();
    void RemoveFromList();
    void DeleteKey();
    void CopySubjects();
    void JumpToUrl();
    void Properties();
    void ReadSelectedMessage();
    void PostNewMessage();
    void Find();
    void ClearQueue();
    void ClearLog();
    void ShowTab(int tab);
    void OpenHelpFile(const std::string& name);
    void About();
    void SlotEnabled(int slot, bool enabled);
    void SpeedChanged(bool use, int kbps);

    // Window events.
    void OnClose(wxCloseEvent& event);
    void OnIconize(wxIconizeEvent& event);
    void OnDropFiles(wxDropFilesEvent& event);
    void OnFilterText(wxCommandEvent& event);
    void OnStatusBarSize(wxSizeEvent& event);
    void PlaceStatusControls();
    void SaveWindowState(Settings& settings) const;
    void ShowNotification(const std::string& title, const std::string& text);

    // Engine events, on this thread.
    void RowsChanged(const std::string& database);
    void EntryFiled(const FiledEntry& entry);
    void SetProcessed(const ProcessedSet& set);
    void GroupListChanged();

    StartupContext startup_;
    GuiHost host_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<FrameEvents> events_;
    bool engine_ok_ = false;

    wxBoxSizer* bars_sizer_ = nullptr;
    SpeedBar* speed_ = nullptr;
    ThreadBar* threads_ = nullptr;
    wxSplitterWindow* splitter_ = nullptr;
    CGroupsView* groups_ = nullptr;
    CQuillstreamView* list_ = nullptr;
    CFolderTabCtrl* tabs_ = nullptr;
    wxTextCtrl* filter_ = nullptr;
    wxWindow* filter_label_ = nullptr;
    CReadDialog* read_dialog_ = nullptr;
    std::unique_ptr<QuillstreamTrayIcon> tray_;
    wxTimer timer_;

    EngineStatus status_;
    int selected_count_ = 0;
    bool confirm_close_ = true;
    bool closing_ = false;
    bool was_busy_ = false;
    int failures_since_idle_ = 0;
};

}  // namespace qs::ui
