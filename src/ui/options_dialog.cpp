#include "ui/options_dialog.h"

#include <wx/bookctrl.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>

#include <chrono>

#include "app/debug_log.h"
#include "engine/engine.h"
#include "ui/gui_host.h"
#include "ui/options_page_advanced.h"
#include "ui/options_page_filters.h"
#include "ui/options_page_groups.h"
#include "ui/options_page_servers.h"
#include "ui/options_page_user.h"

namespace qs::ui {

namespace {

constexpr std::chrono::milliseconds kReaderEndBound{2000};

}  // namespace

COptionsDialog::COptionsDialog(wxWindow* parent, Engine& engine, int start_page)
    : engine_(engine), edited_(*engine.settings()), context_{engine, edited_, {}, {}, {}} {
    context_.tell = [this](const std::string& text, Host::Icon icon) {
        wxMessageBox(wxString::FromUTF8(text), "Quillstream", MessageBoxStyle(icon), this);
    };
    context_.choose_folder = [this](const std::string& title, const std::string& start) {
        wxDirDialog chooser(this, wxString::FromUTF8(title), wxString::FromUTF8(start));
        return chooser.ShowModal() == wxID_OK ? chooser.GetPath().utf8_string() : std::string();
    };
    context_.edited_servers = [this] { return servers_->servers(); };

    Create(parent, wxID_ANY, "Options...", wxDefaultPosition, wxDefaultSize,
           wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    CreateButtons(wxOK | wxCANCEL);
    wxBookCtrlBase* book = GetBookCtrl();
    servers_ = new COptionsPage1(book, context_);
    groups_ = new COptionsPage2(book, context_);
    user_ = new COptionsPage3(book, context_);
    filters_ = new COptionsPage4(book, context_);
    advanced_ = new COptionsPage5(book, context_);
    pages_ = {servers_, groups_, user_, filters_, advanced_};
    const char* const captions[kPageCount] = {"News Servers", "Groups", "User Information",
                                              "Filters", "Advanced"};
    for (int i = 0; i < kPageCount; ++i)
        book->AddPage(pages_[static_cast<size_t>(i)], captions[i]);
    LayoutDialog();

    const int start = start_page >= 0 && start_page < kPageCount ? start_page : 0;
    book->ChangeSelection(static_cast<size_t>(start));
    book->Bind(wxEVT_BOOKCTRL_PAGE_CHANGING, &COptionsDialog::OnPageChanging, this);
    book->Bind(wxEVT_BOOKCTRL_PAGE_CHANGED, &COptionsDialog::OnPageChanged, this);
    Bind(wxEVT_BUTTON, &COptionsDialog::OnOk, this, wxID_OK);
    pages_[static_cast<size_t>(start)]->OnShown();
}

COptionsDialog::~COptionsDialog() {
    // A group list still being read is given up to two seconds, as OK and Cancel do.
    if (engine_.group_list_fetch().running)
        engine_.StopGroupListFetch(kReaderEndBound);
}

void COptionsDialog::SetMessageSink(
    std::function<void(const std::string& text, Host::Icon icon)> sink) {
    context_.tell = std::move(sink);
}

void COptionsDialog::SetFolderChooser(
    std::function<std::string(const std::string& title, const std::string& start)> chooser) {
    context_.choose_folder = std::move(chooser);
}

void COptionsDialog::OnPageChanging(wxBookCtrlEvent& event) {
    const int old = event.GetOldSelection();
    if (old < 0 || old >= kPageCount || pages_[static_cast<size_t>(old)]->CanLeave())
        return;
    event.Veto();
    // GTK 3 switches the page even when the change is vetoed: bring the page back.
    CallAfter([this, old] {
        if (GetBookCtrl()->GetSelection() != old)
            GetBookCtrl()->SetSelection(static_cast<size_t>(old));
    });
}

void COptionsDialog::OnPageChanged(wxBookCtrlEvent& event) {
    const int now = event.GetSelection();
    if (now >= 0 && now < kPageCount)
        pages_[static_cast<size_t>(now)]->OnShown();
}

void COptionsDialog::Tell(const std::string& text, Host::Icon icon) {
    if (!text.empty())
        context_.tell(text, icon);
}

bool COptionsDialog::ApplyEdits() {
    // The page in front is asked first, then the others in tab order.
    const int current = GetBookCtrl()->GetSelection();
    if (current >= 0 && current < kPageCount && !pages_[static_cast<size_t>(current)]->CanLeave())
        return false;
    for (int i = 0; i < kPageCount; ++i) {
        if (i == current)
            continue;
        if (!pages_[static_cast<size_t>(i)]->CanLeave()) {
            GetBookCtrl()->ChangeSelection(static_cast<size_t>(i));
            return false;
        }
    }
    LogLine("Modal end\n");
    for (COptionsPage* page : pages_)
        page->Store(edited_);
    const CommandResult applied = engine_.ApplySettings(edited_);
    if (!applied.ok) {
        Tell(applied.message, Host::Icon::Stop);
        return false;
    }
    if (!edited_.BaseDir.empty()) {
        const CommandResult dirs = engine_.AssignAutoDownloadDirs();
        if (!dirs.ok)
            Tell(dirs.message, Host::Icon::Exclamation);
    }
    LogLine("All options set.\n");
    return true;
}

void COptionsDialog::OnOk(wxCommandEvent& event) {
    (void)event;
    if (!ApplyEdits())
        return;
    if (IsModal())
        EndModal(wxID_OK);
    else
        Hide();
}

}  // namespace qs::ui
