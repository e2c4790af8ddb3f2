#include "ui/wizard.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include <chrono>
#include <map>

#include "engine/engine.h"
#include "ui/art.h"
#include "ui/wizard_pages.h"

namespace qs::ui {

CQuillstreamWizard::CQuillstreamWizard(wxWindow* parent, Engine& engine)
    : wxWizard(parent, wxID_ANY, "Wizard"), engine_(engine) {
    SetIcons(AppIcons());
    pages_ = {new CWizard1(*this), new CWizard2(*this), new CWizard3(*this),
              new CWizard4(*this), new CWizard5(*this), new CWizard6(*this)};
    for (int i = 0; i + 1 < kPageCount; ++i)
        wxWizardPageSimple::Chain(pages_[i], pages_[i + 1]);
    // The wizard takes the size of its largest page.
    for (wxWizardPageSimple* page : pages_)
        GetPageAreaSizer()->Add(page);
    first_ = pages_[0];
    // Back stays disabled on the first page also when it is shown without RunWizard.
    m_firstpage = first_;

    Bind(wxEVT_WIZARD_PAGE_CHANGED, &CQuillstreamWizard::OnPageChanged, this);
    Bind(wxEVT_WIZARD_FINISHED, &CQuillstreamWizard::OnFinished, this);
    Bind(wxEVT_WIZARD_CANCEL, &CQuillstreamWizard::OnCancel, this);
}

CQuillstreamWizard::~CQuillstreamWizard() {
    // The reader thread writes the groups database and its status; let it end first.
    engine_.StopGroupListFetch(std::chrono::milliseconds(2000));
}

bool CQuillstreamWizard::Run() {
    return RunWizard(first_);
}

CWizard2* CQuillstreamWizard::server_page() const {
    return static_cast<CWizard2*>(pages_[1]);
}
CWizard3* CQuillstreamWizard::list_page() const {
    return static_cast<CWizard3*>(pages_[2]);
}
CWizard4* CQuillstreamWizard::select_page() const {
    return static_cast<CWizard4*>(pages_[3]);
}
CWizard5* CQuillstreamWizard::directory_page() const {
    return static_cast<CWizard5*>(pages_[4]);
}

void CQuillstreamWizard::ShowPageAt(int index) {
    wxWizardPageSimple* target = pages_.at(index);
    if (GetCurrentPage() == target)
        return;
    int current = 0;
    while (current < kPageCount && pages_[current] != GetCurrentPage())
        ++current;
    moving_without_checks_ = true;
    ShowPage(target, current == kPageCount || index > current);
    moving_without_checks_ = false;
}

bool CQuillstreamWizard::Press(wxButton* button) {
    if (!button || !button->IsEnabled())
        return false;
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
    return true;
}

bool CQuillstreamWizard::PressBack() {
    return Press(m_btnPrev);
}

bool CQuillstreamWizard::PressNext() {
    return Press(m_btnNext);
}

void CQuillstreamWizard::OnPageChanged(wxWizardEvent& event) {
    if (auto* page = dynamic_cast<CWizardPage*>(event.GetPage()))
        SetTitle(wxString::FromUTF8(page->title()));
    event.Skip();
}

void CQuillstreamWizard::CollectSelection() {
    selection_ = engine_.MarkedGroups();
    selection_collected_ = true;
}

void CQuillstreamWizard::ApplyFinish() {
    engine_.StopGroupListFetch(std::chrono::milliseconds(2000));
    if (!selection_collected_)
        CollectSelection();
    Settings settings = *engine_.settings();
    if (!servers_.empty())
        settings.servers = servers_;

    // A group subscribed already keeps its directory and the time of its last scan.
    std::map<std::string, GroupListEntry> subscribed;
    for (const GroupListEntry& group : settings.groups)
        subscribed.emplace(group.name, group);
    std::vector<GroupListEntry> groups;
    for (const GroupListEntry& picked : selection_) {
        auto old = subscribed.find(picked.name);
        groups.push_back(old != subscribed.end() ? old->second : picked);
    }
    settings.groups = std::move(groups);
    settings.BaseDir = directory_page()->directory();

    CommandResult applied = engine_.ApplySettings(settings);
    if (!applied.ok) {
        ShowMessage(applied.message, Host::Icon::Stop);
        return;
    }
    if (!settings.BaseDir.empty()) {
        CommandResult dirs = engine_.AssignAutoDownloadDirs(true);
        if (!dirs.ok && !dirs.message.empty())
            ShowMessage(dirs.message, Host::Icon::Exclamation);
    }
}

void CQuillstreamWizard::OnFinished(wxWizardEvent& event) {
    ApplyFinish();
    event.Skip();
}

void CQuillstreamWizard::OnCancel(wxWizardEvent& event) {
    engine_.StopGroupListFetch(std::chrono::milliseconds(2000));
    event.Skip();
}

void CQuillstreamWizard::ShowMessage(const std::string& text, Host::Icon icon) {
    if (show_message_) {
        show_message_(text, icon);
        return;
    }
    long style = wxOK;
    if (icon == Host::Icon::Stop)
        style |= wxICON_STOP;
    else if (icon == Host::Icon::Exclamation)
        style |= wxICON_EXCLAMATION;
    wxMessageBox(wxString::FromUTF8(text), "Quillstream", style, this);
}

std::vector<std::string> CQuillstreamWizard::Candidates(const std::string& typed) const {
    return candidates_ ? candidates_(typed) : engine_.ServerCandidates(typed);
}

}  // namespace qs::ui
