// The frame's menus and what each command does.

#include <wx/aboutdlg.h>
#include <wx/accel.h>
#include <wx/clipbrd.h>
#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/splitter.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <algorithm>
#include <filesystem>

#include "app/debug_log.h"
#include "ui/command_ids.h"
#include "ui/find_filter_dialog.h"
#include "ui/folder_tab_ctrl.h"
#include "ui/groups_view.h"
#include "ui/main_frame.h"
#include "ui/options_dialog.h"
#include "ui/post_dialog.h"
#include "ui/quillstream_view.h"
#include "ui/read_dialog.h"
#include "ui/speed_bar.h"
#include "ui/thread_bar.h"
#include "ui/tips_dialog.h"
#include "ui/wizard.h"

#ifndef QS_BUILD_NUMBER
#define QS_BUILD_NUMBER 0
#endif

namespace qs::ui {

namespace {

void AppendItem(wxMenu* menu, int id, const char* caption, const char* prompt = "",
                wxItemKind kind = wxITEM_NORMAL) {
    menu->Append(id, caption, prompt, kind);
}

}  // namespace

wxMenu* CMainFrame::ItemMenu() {
    auto* item = new wxMenu;
    AppendItem(item, ID_GRAB, "&Grab!\tEnter", "Grab the selected item(s)");
    AppendItem(item, ID_GRAB_AND_OPEN, "Grab And Open (Be Careful)\tCtrl+Enter",
               "Grab and open the selected items");
    AppendItem(item, ID_ENQUEUE, "Enqueue Only\tCtrl+E", "Place in the queue.");
    item->AppendSeparator();
    AppendItem(item, ID_READ_MESSAGE, "&Read Message\tCtrl+V", "Read the selected message.");
    AppendItem(item, ID_POST_MESSAGE, "&Post Message\tCtrl+P", "Post a message to the newsgroup.");
    item->AppendSeparator();
    AppendItem(item, ID_MOVE_TO_TOP, "Move To Top In Queue\tCtrl+T",
               "Move the selected item to the top of the pending tasks.");
    AppendItem(item, ID_REMOVE_FROM_QUEUE, "Remove From Queue\tDEL",
               "Remove the selected items from the pending tasks.");
    AppendItem(item, ID_REMOVE_FROM_LIST, "Remove From List\tDEL",
               "Remove the item(s) from the list.");
    item->AppendSeparator();
    AppendItem(item, ID_COPY_SUBJECTS, "Copy subject(s) to clipboard\tCtrl+C");
    AppendItem(item, ID_JUMP_TO_URL, "Jump to first URL in subject\tCtrl+J ",
               "Jump to the first URL in the subject of an article.");
    AppendItem(item, ID_ITEM_BROWSE_DIR, "Browse Dir\tCtrl+B",
               "Browse the selected download directory.");
    item->AppendSeparator();
    AppendItem(item, ID_PROPERTIES, "Properties", "Show properties.");
    return item;
}

wxMenu* CMainFrame::GroupMenu() {
    auto* menu = new wxMenu;
    AppendItem(menu, ID_SCAN, "&Scan\tCtrl+S", "Scan the selected newsgroup for attachments.");
    menu->AppendSeparator();
    AppendItem(menu, ID_BROWSE_DIR, "Browse Dir...\tCtrl+B",
               "Browse the selected download directory.");
    menu->AppendSeparator();
    AppendItem(menu, ID_EDIT_GROUPS, "Edit Groups", "Edit newsgroups.");
    menu->AppendSeparator();
    AppendItem(menu, ID_RESET_GROUP, "Reset Group\tCtrl+R", "Reset the current group.");
    AppendItem(menu, ID_REMOVE_GROUP, "Remove Group\tDEL");
    return menu;
}

void CMainFrame::BuildMenus() {
    auto* file = new wxMenu;
    AppendItem(file, ID_SCAN, "&Scan\tCtrl+S", "Scan the selected newsgroup for attachments.");
    AppendItem(file, ID_PAUSE, "Pa&use\tCtrl+U", "Pause tasks.", wxITEM_CHECK);
    AppendItem(file, ID_STOP, "St&op\tCtrl+O", "Stop all tasks.");
    file->AppendSeparator();
    AppendItem(file, ID_BROWSE_DIR, "&Browse Dir...\tCtrl+B",
               "Browse the selected download directory.");
    file->AppendSeparator();
    AppendItem(file, ID_RESET_GROUP, "&Reset Group\tCtrl+R", "Reset the current group.");
    file->AppendSeparator();
    AppendItem(file, ID_AUTOGRAB, "&Autograb All\tCtrl+A",
               "Scan all newsgroups and grab all articles");
    file->AppendSeparator();
    AppendItem(file, ID_OPEN_NZB, "Open NewzBin (.nzb) File");
    file->AppendSeparator();
    AppendItem(file, ID_OPTIONS, "Options...", "Set the options.");
    AppendItem(file, ID_WIZARD, "First Time Wizard...", "First time configuration wizard.");
    file->AppendSeparator();
    AppendItem(file, ID_EXIT, "E&xit\tCtrl+Q", "Quit the application");

    auto* list = new wxMenu;
    AppendItem(list, ID_FIND, "&Find\tCtrl+F", "Find/Filter the specified text");
    AppendItem(list, ID_SELECT_ALL, "Select &All\tCtrl+A");
    list->AppendSeparator();
    AppendItem(list, ID_EXPAND_MULTIGROUPS, "Expand all multigroups\tCtrl+Shift+E");
    AppendItem(list, ID_COLLAPSE_MULTIGROUPS, "Collapse all multigroups\tCtrl+Shift+C");
    list->AppendSeparator();
    AppendItem(list, ID_CLEAR_QUEUE, "Clear Queue\tCtrl+Shift+X", "Clear the entire queue");
    AppendItem(list, ID_CLEAR_LOG, "Clear Log\tCtrl+Alt+X");

    auto* view = new wxMenu;
    AppendItem(view, ID_VIEW_LIST, "List\tCtrl+L", "Show List", wxITEM_CHECK);
    AppendItem(view, ID_VIEW_QUEUE, "Queue\tCtrl+L", "Show Queue", wxITEM_CHECK);
    AppendItem(view, ID_VIEW_LOG, "Log\tCtrl+L", "", wxITEM_CHECK);
    view->AppendSeparator();
    AppendItem(view, ID_TOGGLE_TOOLBAR, "&Toolbar", "Show or hide the toolbar", wxITEM_CHECK);
    AppendItem(view, ID_TOGGLE_STATUSBAR, "&Status Bar", "Show or hide the status bar",
               wxITEM_CHECK);
    AppendItem(view, ID_TOGGLE_SPEEDBAR, "Speed", "", wxITEM_CHECK);
    AppendItem(view, ID_TOGGLE_THREADBAR, "T&hreads", "", wxITEM_CHECK);

    auto* help = new wxMenu;
    AppendItem(help, ID_HELP_CONTENTS, "Help\tF1");
    AppendItem(help, ID_VERSION_HISTORY, "Version history");
    AppendItem(help, ID_TIP_OF_THE_DAY, "Tip of the day...", "Displays a Tip of the Day.");
    help->AppendSeparator();
    AppendItem(help, ID_ABOUT, "&About Quillstream...", "What is this all about?");

    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(ItemMenu(), "&Item");
    bar->Append(list, "&List");
    bar->Append(view, "&View");
    bar->Append(help, "&Help");
    SetMenuBar(bar);
    // Some captions show a key twice, a key the table below gives another command, or a
    // key a text box needs (Enter, Delete, Ctrl+A, Ctrl+C, Ctrl+V): those keys are left to
    // the table alone, whose commands look where the focus is.
    for (int id : {ID_AUTOGRAB, ID_CLEAR_LOG, ID_VIEW_QUEUE, ID_VIEW_LOG, ID_REMOVE_FROM_QUEUE,
                   ID_REMOVE_FROM_LIST, ID_ITEM_BROWSE_DIR, ID_VIEW_LIST, ID_SELECT_ALL, ID_GRAB,
                   ID_GRAB_AND_OPEN, ID_COPY_SUBJECTS, ID_READ_MESSAGE}) {
        if (wxMenuItem* item = bar->FindItem(id))
            item->SetAccel(nullptr);
    }
}

void CMainFrame::BuildAccelerators() {
    const wxAcceleratorEntry entries[] = {
        {wxACCEL_CTRL, 'S', ID_SCAN},
        {wxACCEL_CTRL, 'U', ID_PAUSE},
        {wxACCEL_CTRL, 'O', ID_STOP},
        {wxACCEL_CTRL, 'B', ID_BROWSE_DIR},
        {wxACCEL_CTRL, 'R', ID_RESET_GROUP},
        {wxACCEL_CTRL, 'Q', ID_EXIT},
        {wxACCEL_NORMAL, WXK_RETURN, ID_GRAB},
        {wxACCEL_CTRL, WXK_RETURN, ID_GRAB_AND_OPEN},
        {wxACCEL_CTRL, 'E', ID_ENQUEUE},
        {wxACCEL_CTRL, 'V', ID_READ_MESSAGE},
        {wxACCEL_CTRL, 'P', ID_POST_MESSAGE},
        {wxACCEL_CTRL, 'T', ID_MOVE_TO_TOP},
        {wxACCEL_CTRL, 'C', ID_COPY_SUBJECTS},
        {wxACCEL_CTRL, 'J', ID_JUMP_TO_URL},
        {wxACCEL_CTRL, 'F', ID_FIND},
        {wxACCEL_CTRL, 'A', ID_SELECT_ALL},
        {wxACCEL_CTRL | wxACCEL_SHIFT, 'E', ID_EXPAND_MULTIGROUPS},
        {wxACCEL_CTRL | wxACCEL_SHIFT, 'C', ID_COLLAPSE_MULTIGROUPS},
        {wxACCEL_CTRL | wxACCEL_SHIFT, 'X', ID_CLEAR_QUEUE},
        {wxACCEL_CTRL, 'L', ID_NEXT_TAB},
        {wxACCEL_NORMAL, WXK_DELETE, ID_REMOVE_GROUP},
        {wxACCEL_NORMAL, WXK_F1, ID_HELP_CONTENTS},
    };
    wxAcceleratorTable table(static_cast<int>(std::size(entries)), entries);
    SetAcceleratorTable(table);
}

// --- Enabling ---

bool CMainFrame::IsCommandEnabled(int id) const {
    int alive = 0;
    for (const SlotStatus& slot : status_.slots)
        alive += slot.alive ? 1 : 0;
    const bool busy = engine_->Busy();
    switch (id) {
        case ID_SCAN:
            return alive != 5;
        case ID_PAUSE:
        case ID_STOP:
            return busy;
        case ID_AUTOGRAB:
            return !busy;
        case ID_REMOVE_FROM_LIST:
            return list_->tab() == kTabList;
        default:
            return true;
    }
}

bool CMainFrame::IsCommandChecked(int id) const {
    switch (id) {
        case ID_PAUSE:
            return engine_->Status().paused;
        case ID_VIEW_LIST:
        case ID_VIEW_QUEUE:
        case ID_VIEW_LOG:
            return list_->tab() == id - ID_VIEW_LIST;
        case ID_TOGGLE_TOOLBAR:
            return GetToolBar() && GetToolBar()->IsShown();
        case ID_TOGGLE_STATUSBAR:
            return GetStatusBar() && GetStatusBar()->IsShown();
        case ID_TOGGLE_SPEEDBAR:
            return speed_->IsShown();
        case ID_TOGGLE_THREADBAR:
            return threads_->IsShown();
        default:
            return false;
    }
}

void CMainFrame::OnUpdateUi(wxUpdateUIEvent& event) {
    const int id = event.GetId();
    if (id < ID_SCAN || id > ID_PART_READ_MESSAGE) {
        event.Skip();
        return;
    }
    event.Enable(IsCommandEnabled(id));
    if (id == ID_PAUSE || (id >= ID_VIEW_LIST && id <= ID_VIEW_LOG) ||
        (id >= ID_TOGGLE_TOOLBAR && id <= ID_TOGGLE_THREADBAR))
        event.Check(IsCommandChecked(id));
}

// --- Dispatch ---

void CMainFrame::OnMenu(wxCommandEvent& event) {
    const int id = event.GetId();
    if (id < ID_SCAN || id > ID_PART_READ_MESSAGE) {
        event.Skip();
        return;
    }
    if (!IsCommandEnabled(id))
        return;  // an accelerator of a disabled command
    RunCommand(id);
}

void CMainFrame::RunCommand(int id) {
    switch (id) {
        case ID_SCAN:
            Scan();
            break;
        case ID_PAUSE:
            engine_->TogglePause();
            OnTick();
            break;
        case ID_STOP:
            engine_->StopAll();
            OnTick();
            break;
        case ID_BROWSE_DIR:
        case ID_ITEM_BROWSE_DIR:
            BrowseDir();
            break;
        case ID_RESET_GROUP:
            ResetGroup();
            break;
        case ID_AUTOGRAB:
            Tell(engine_->StartAutograb(engine_->settings()->AutoScanOnly != 0));
            break;
        case ID_OPEN_NZB:
            OpenNzbDialog();
            break;
        case ID_EXIT:
            Close();
            break;
        case ID_GRAB:
            Grab(false, true);
            break;
        case ID_GRAB_AND_OPEN:
            Grab(true, true);
            break;
        case ID_ENQUEUE:
            Grab(false, false);
            break;
        case ID_MOVE_TO_TOP:
            MoveToTop();
            break;
        case ID_REMOVE_FROM_QUEUE:
            RemoveFromQueue();
            break;
        case ID_REMOVE_FROM_LIST:
            RemoveFromList();
            break;
        case ID_REMOVE_GROUP:
            DeleteKey();
            break;
        case ID_COPY_SUBJECTS:
            CopySubjects();
            break;
        case ID_JUMP_TO_URL:
            JumpToUrl();
            break;
        case ID_PROPERTIES:
            Properties();
            break;
        case ID_READ_MESSAGE:
            ReadSelectedMessage();
            break;
        case ID_POST_MESSAGE:
            PostNewMessage();
            break;
        case ID_FIND:
            Find();
            break;
        case ID_SELECT_ALL:
            if (FindFocus() == filter_)
                filter_->SelectAll();
            else
                list_->SelectAllRows();
            break;
        case ID_EXPAND_MULTIGROUPS:
        case ID_COLLAPSE_MULTIGROUPS:
            list_->Reload();
            break;
        case ID_CLEAR_QUEUE:
            ClearQueue();
            break;
        case ID_CLEAR_LOG:
            ClearLog();
            break;
        case ID_VIEW_LIST:
        case ID_VIEW_QUEUE:
        case ID_VIEW_LOG:
            ShowTab(id - ID_VIEW_LIST);
            break;
        case ID_NEXT_TAB:
            ShowTab((list_->tab() + 1) % 3);
            break;
        case ID_TOGGLE_TOOLBAR:
        case ID_TOGGLE_STATUSBAR:
        case ID_TOGGLE_SPEEDBAR:
        case ID_TOGGLE_THREADBAR:
            ShowBar(id, !IsCommandChecked(id));
            break;
        case ID_HELP_CONTENTS:
            OpenHelpFile("README.md");
            break;
        case ID_VERSION_HISTORY:
            OpenHelpFile("NEWS.md");
            break;
        case ID_TIP_OF_THE_DAY:
            ShowTips();
            break;
        case ID_ABOUT:
            About();
            break;
        case ID_OPTIONS:
            OpenOptions(0);
            break;
        case ID_EDIT_GROUPS:
            OpenOptions(1);
            break;
        case ID_WIZARD:
            RunWizard();
            break;
        default:
            break;
    }
}

// --- Commands ---

void CMainFrame::Tell(const CommandResult& result) {
    if (!result.message.empty())
        Message(result.message, result.ok ? Host::Icon::Plain : Host::Icon::Stop);
}

void CMainFrame::Message(const std::string& text, Host::Icon icon) {
    host_.ShowMessage(text, icon);
}

void CMainFrame::Scan() {
    const std::string group = groups_->current_group();
    if (group.empty()) {
        Message("Please select a newsgroup first", Host::Icon::Stop);
        return;
    }
    Tell(engine_->StartScan(group));
    OnTick();
}

void CMainFrame::Grab(bool open_after, bool start) {
    if (FindFocus() == filter_)
        return;  // Enter in the filter box
    // Grab! from outside the list only starts the workers on what is queued already.
    const bool from_list = FindFocus() != groups_ || !start;
    if (!from_list && start) {
        if (engine_->Status().tasks > 0)
            Tell(engine_->StartDownloads());
        OnTick();
        return;
    }
    {
        wxBusyCursor busy;
        const std::vector<int64_t> rows = list_->SelectedRows();
        if (!rows.empty() && list_->tab() == kTabList && list_->view()) {
            CommandResult queued =
                engine_->EnqueueRows(list_->current_group(), *list_->view(), rows, open_after);
            Tell(queued);
        }
        list_->Reload();
    }
    if (start)
        Tell(engine_->StartDownloads());
    OnTick();
}

void CMainFrame::BrowseDir() {
    std::string dir;
    std::vector<Attachment> selected = list_->SelectedAttachments();
    if (!selected.empty()) {
        dir = selected.front().dir;
    } else if (!groups_->current_group().empty()) {
        for (const GroupListEntry& group : engine_->settings()->groups) {
            if (group.name == groups_->current_group())
                dir = group.downloaddir;
        }
    }
    if (dir.empty()) {
        Message("No item selected!", Host::Icon::Exclamation);
        return;
    }
    if (!host_.quiet())
        wxLaunchDefaultApplication(wxString::FromUTF8(dir));
}

void CMainFrame::ResetGroup() {
    const std::string group = groups_->current_group();
    if (group.empty())
        return;
    wxBusyCursor busy;
    Tell(engine_->ResetGroup(group));
    list_->Reload();
}

void CMainFrame::OpenNzbDialog() {
    wxFileDialog dialog(this, "Open NewzBin (.nzb) File", wxEmptyString, wxEmptyString,
                        "NewzBin Files (*.nzb)|*.nzb|All Files (*.*)|*.*",
                        wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return;
    wxArrayString paths;
    dialog.GetPaths(paths);
    for (const wxString& path : paths)
        OpenNzbFile(path.utf8_string());
}

namespace {
std::vector<std::string> IdsOf(const std::vector<Attachment>& rows) {
    std::vector<std::string> ids;
    for (const Attachment& a : rows)
        ids.push_back(a.Id);
    return ids;
}
}  // namespace

// A command on the selected queue entries, then the list as Move To Top and Remove From
// Queue leave it.
void CMainFrame::OnSelectedQueueEntries(
    const std::function<CommandResult(const std::vector<std::string>&)>& command) {
    if (list_->tab() != kTabQueue)
        return;
    std::vector<Attachment> selected = list_->SelectedAttachments();
    if (selected.empty())
        return;
    Tell(command(IdsOf(selected)));
    if (selected.size() > 1)
        list_->ClearSelection();
    list_->Reload();
}

void CMainFrame::MoveToTop() {
    OnSelectedQueueEntries([this](const auto& ids) { return engine_->MoveToTop(ids); });
}

void CMainFrame::RemoveFromQueue() {
    OnSelectedQueueEntries([this](const auto& ids) { return engine_->RemoveFromQueue(ids); });
}

void CMainFrame::RemoveFromList() {
    const std::string source = list_->source_name();
    std::vector<Attachment> selected = list_->SelectedAttachments();
    if (source.empty() || selected.empty())
        return;
    wxBusyCursor busy;
    Tell(engine_->RemoveFromList(source, IdsOf(selected)));
    if (selected.size() > 1)
        list_->ClearSelection();
    list_->Reload();
}

void CMainFrame::DeleteKey() {
    wxWindow* focus = FindFocus();
    if (focus == groups_) {
        if (engine_->Busy()) {
            Message("Please stop all tasks before removing a group", Host::Icon::Stop);
            return;
        }
        const std::string group = groups_->current_group();
        if (group.empty())
            return;
        Tell(engine_->Unsubscribe(group));
        groups_->Reload();
        list_->ShowGroup(groups_->current_group());
        return;
    }
    if (focus == filter_) {
        // The key belongs to the filter box: delete as it would.
        long from = 0, to = 0;
        filter_->GetSelection(&from, &to);
        if (from == to && to < filter_->GetLastPosition())
            ++to;
        if (from != to)
            filter_->Remove(from, to);
        return;
    }
    if (list_->tab() == kTabQueue)
        RemoveFromQueue();
    else
        RemoveFromList();
}

void CMainFrame::CopySubjects() {
    if (FindFocus() == filter_) {
        filter_->Copy();
        return;
    }
    std::string text;
    for (const Attachment& a : list_->SelectedAttachments()) {
        std::string subject = a.filename;
        while (!subject.empty() && std::isspace(static_cast<unsigned char>(subject.back())))
            subject.pop_back();
        text += subject + "\r\n";
    }
    if (text.empty() || !wxTheClipboard->Open())
        return;
    wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
    wxTheClipboard->Close();
}

void CMainFrame::JumpToUrl() {
    std::vector<Attachment> selected = list_->SelectedAttachments();
    if (selected.empty()) {
        Message("No item selected!", Host::Icon::Exclamation);
        return;
    }
    const std::string& subject = selected.front().filename;
    // The first link, plain or secure.
    size_t at = std::min(subject.find("http://"), subject.find("https://"));
    if (at == std::string::npos)
        return;
    size_t end = subject.find_first_of(" \t", at);
    const std::string url = subject.substr(at, end == std::string::npos ? end : end - at);
    LogLine("Jump to %s\n", url.c_str());
    if (!host_.quiet())
        wxLaunchDefaultBrowser(wxString::FromUTF8(url));
}

void CMainFrame::Properties() {
    if (!list_->ShowProperties())
        Message("No item selected!", Host::Icon::Exclamation);
}

CReadDialog* CMainFrame::OpenReadDialog(const std::string& group, const std::string& message_id) {
    if (!read_dialog_) {
        read_dialog_ = new CReadDialog(
            this, *engine_, [this] { return groups_->current_group(); },
            [this](const std::string& text, Host::Icon icon) { Message(text, icon); });
    }
    read_dialog_->Read(group, message_id);
    return read_dialog_;
}

void CMainFrame::ReadSelectedMessage() {
    std::vector<Attachment> selected = list_->SelectedAttachments();
    if (selected.empty()) {
        Message("No item selected!", Host::Icon::Exclamation);
        return;
    }
    const Attachment& a = selected.front();
    if (a.parts >= 2) {
        Message("This is a multipart attachment, you can't read it.", Host::Icon::Stop);
        return;
    }
    // A one-part attachment's Id is its article's message-id.
    OpenReadDialog(a.newsgroup.empty() ? groups_->current_group() : a.newsgroup, a.Id);
    Tell(engine_->MarkAttachmentDone(list_->source_name(), a.Id));
    list_->Reload();
}

void CMainFrame::PostNewMessage() {
    const std::string group = groups_->current_group();
    if (group.empty()) {
        Message("Please select a newsgroup first", Host::Icon::Stop);
        return;
    }
    PostRequest request;
    request.group = group;
    request.from = engine_->settings()->UserName;
    auto* post =
        new CPostDialog(this, *engine_, request,
                        [this](const std::string& text, Host::Icon icon) { Message(text, icon); });
    post->Show();
}

void CMainFrame::Find() {
    auto* dialog = new CFindFilterDialog(this, *list_);
    dialog->Show();
}

void CMainFrame::ClearQueue() {
    wxBusyCursor busy;
    Tell(engine_->ClearQueue());
    list_->Reload();
}

void CMainFrame::ClearLog() {
    wxBusyCursor busy;
    Tell(engine_->ClearLog());
    list_->Reload();
}

void CMainFrame::ShowTab(int tab) {
    list_->SelectTab(tab);
    tabs_->SelectTab(tab);
}

void CMainFrame::OpenHelpFile(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path bin =
        fs::path(wxStandardPaths::Get().GetExecutablePath().utf8_string()).parent_path();
    std::vector<fs::path> places = {bin / name,
                                    bin.parent_path() / "share" / "doc" / "quillstream" / name};
#ifdef QS_SOURCE_DIR
    places.push_back(fs::path(QS_SOURCE_DIR) / name);
#endif
    std::error_code error;
    for (const fs::path& place : places) {
        if (fs::is_regular_file(place, error)) {
            if (!host_.quiet())
                wxLaunchDefaultApplication(wxString::FromUTF8(place.string()));
            return;
        }
    }
    Message("Cannot find " + name + " beside the program.", Host::Icon::Exclamation);
}

void CMainFrame::ShowTips() {
    const std::shared_ptr<const Settings> settings = engine_->settings();
    CTipDlg dialog(this, FindTipsFile(startup_.home_dir), settings->TipFilePos,
                   settings->ShowTips != 0);
    if (host_.quiet())
        return;
    dialog.ShowModal();
    Settings changed = *engine_->settings();
    changed.TipFilePos = static_cast<int>(dialog.offset());
    changed.ShowTips = dialog.show_on_startup() ? 1 : 0;
    engine_->ApplySettings(changed);
}

void CMainFrame::About() {
    wxAboutDialogInfo info;
    info.SetName("Quillstream");
    info.SetVersion(wxString::Format("Build %d", QS_BUILD_NUMBER),
                    wxString::Format("Quillstream Build %d", QS_BUILD_NUMBER));
    info.SetDescription(
        "Reads the headers of Usenet newsgroups, joins multi-part posts\n"
        "and downloads, decodes and saves the files you pick.");
    info.SetIcon(GetIcon());
    wxAboutBox(info, this);
}

void CMainFrame::OpenOptions(int page) {
    if (engine_->Busy()) {
        Message("Please stop all running tasks before changing options", Host::Icon::Stop);
        return;
    }
    if (host_.quiet())
        return;  // tests drive the dialog themselves
    COptionsDialog dialog(this, *engine_, page);
    if (dialog.ShowModal() == wxID_OK)
        SettingsChanged();
}

void CMainFrame::RunWizard() {
    if (host_.quiet())
        return;  // tests drive the wizard themselves
    CQuillstreamWizard wizard(this, *engine_);
    if (wizard.Run())
        SettingsChanged();
}

void CMainFrame::SettingsChanged() {
    groups_->Reload();
    list_->SetGridLines(engine_->settings()->ShowGridLines != 0);
    list_->Reload();
    OnTick();
}

void CMainFrame::SlotEnabled(int slot, bool enabled) {
    Tell(engine_->SetSlotEnabled(slot, enabled));
    OnTick();
}

void CMainFrame::SpeedChanged(bool use, int kbps) {
    Settings changed = *engine_->settings();
    if (changed.SpeedUse == (use ? 1 : 0) && changed.SpeedVal == kbps)
        return;
    changed.SpeedUse = use ? 1 : 0;
    changed.SpeedVal = kbps;
    engine_->ApplySettings(changed);
}

}  // namespace qs::ui
