// The wizard's plain pages: welcome, download directory, finish.
#include "ui/wizard_pages.h"

#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/filename.h>
#include <wx/font.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

#include "ui/art.h"
#include "ui/wizard.h"

namespace qs::ui {
namespace {

// The width the pages' running texts wrap at.
constexpr int kTextWidth = 440;

// The icon, and beside it the page's heading line in bold.
wxSizer* IconAndHeading(wxWindow* page, const std::string& heading) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticBitmap(page, wxID_ANY, wxBitmap(AppIcon(48))), 0,
             wxALIGN_CENTER_VERTICAL | wxRIGHT, page->FromDIP(12));
    auto* text = new wxStaticText(page, wxID_ANY, wxString::FromUTF8(heading));
    text->SetFont(text->GetFont().Bold().Larger());
    row->Add(text, 0, wxALIGN_CENTER_VERTICAL);
    return row;
}

// The user's download folder: the desktop's, else ~/Downloads.
std::string DefaultDownloadDir() {
    const wxString home = wxFileName::GetHomeDir();
    wxString dir = wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Downloads);
    // Without a desktop entry for it wxWidgets answers the home directory itself.
    if (dir.empty() || wxFileName::DirName(dir) == wxFileName::DirName(home))
        dir = wxFileName(home, "Downloads").GetFullPath();
    return dir.utf8_string();
}

}  // namespace

CWizardPage::CWizardPage(CQuillstreamWizard& wizard, const std::string& title)
    : wxWizardPageSimple(&wizard), wizard_(wizard), title_(title) {}

wxStaticText* CWizardPage::AddText(wxSizer* sizer, const std::string& text, int border) {
    auto* label = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(text));
    if (text.find('\n') == std::string::npos)
        label->Wrap(FromDIP(kTextWidth));
    sizer->Add(label, 0, wxBOTTOM, FromDIP(border));
    return label;
}

CWizard1::CWizard1(CQuillstreamWizard& wizard) : CWizardPage(wizard, "Wizard") {
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(IconAndHeading(this, "Welcome to Quillstream!"), 0, wxBOTTOM, FromDIP(16));
    AddText(column,
            "This is a first-time wizard to help you configure Quillstream and setup the "
            "newsgroups you whish to download from.",
            16);
    AddText(column,
            "First we are going to look for a news server.\n"
            "Quillstream will try to do this automatically.\n"
            "If it can't be found you can enter one manually.\n"
            "Your newsserver will be provided by your Internet provider.",
            16);
    AddText(column, "Click next to continue.");
    SetSizerAndFit(column);
}

CWizard5::CWizard5(CQuillstreamWizard& wizard) : CWizardPage(wizard, "Download directories") {
    auto* column = new wxBoxSizer(wxVERTICAL);
    AddText(column, "Select a directory where the grabbed files will be placed.\n");
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    directory_ = new wxTextCtrl(this, wxID_ANY);
    row->Add(directory_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(6));
    auto* browse = new wxButton(this, wxID_ANY, "Browse...");
    row->Add(browse, 0, wxALIGN_CENTER_VERTICAL);
    column->Add(row, 0, wxEXPAND);
    SetSizerAndFit(column);

    browse->Bind(wxEVT_BUTTON, &CWizard5::OnBrowse, this);
    Bind(wxEVT_WIZARD_PAGE_CHANGED, &CWizard5::OnShown, this);
    Bind(wxEVT_WIZARD_PAGE_CHANGING, &CWizard5::OnChanging, this);
}

std::string CWizard5::directory() const {
    return directory_->GetValue().utf8_string();
}

void CWizard5::OnShown(wxWizardEvent& event) {
    if (directory_->IsEmpty())
        directory_->ChangeValue(wxString::FromUTF8(DefaultDownloadDir()));
    event.Skip();
}

void CWizard5::OnChanging(wxWizardEvent& event) {
    if (!wizard_.moving_without_checks() && directory_->IsEmpty()) {
        wizard_.ShowMessage("Please select a directory", Host::Icon::Stop);
        event.Veto();
        return;
    }
    event.Skip();
}

void CWizard5::OnBrowse(wxCommandEvent&) {
    wxDirDialog chooser(this, "Choose Folder for Default", directory_->GetValue());
    if (chooser.ShowModal() == wxID_OK)
        directory_->ChangeValue(chooser.GetPath());
}

CWizard6::CWizard6(CQuillstreamWizard& wizard) : CWizardPage(wizard, "Finish") {
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(IconAndHeading(this, "Congratulations!"), 0, wxBOTTOM, FromDIP(16));
    AddText(column,
            "You are now ready to start scanning a newsgroup and download the files you "
            "want.\n\n"
            "Select a newsgroup from the main window and click on 'Scan'.\n"
            "The newsgroup will be scanned (this may take a while the first time)\n"
            "and a list with articles will appear.",
            16);
    AddText(column,
            "You can select the files you whish to grab and click on the 'Grab' button.\n\n"
            "You can view the grabbed files by clicking on the 'Browse' button which\n"
            "will show you the folder with the files.\n\n"
            "Have fun!");
    SetSizerAndFit(column);
}

}  // namespace qs::ui
