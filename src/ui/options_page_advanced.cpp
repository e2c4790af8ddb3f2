#include "ui/options_page_advanced.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "ui/tree_options_ctrl.h"

namespace qs::ui {

namespace {

const char* const kFirstServerChoices[] = {
    "Always go to next server",
    "Go to first server for each part",
    "Go to first server for each attachment",
    nullptr,
};

const char* const kPostProcessChoices[] = {
    "Leave the files as they are",
    "Verify and repair with par2",
    "Verify, repair and unpack",
    nullptr,
};

// One line of the tree: a heading (no setting), a check box, a number (with spin buttons or
// without) or a radio group whose choice's index is the setting.
struct Entry {
    enum Kind { Heading, Check, Number, Spin, Radio } kind;
    const char* caption;
    int Settings::*setting;
    const char* const* choices = nullptr;  // a radio group's, up to a null
};

// The tree in display order.
const Entry kEntries[] = {
    {Entry::Heading, "Appearance", nullptr},
    {Entry::Check, "Show gridlines", &Settings::ShowGridLines},
    {Entry::Check, "Show incomplete parts", &Settings::ShowIncomplete},
    {Entry::Number, "Multigroup tolerance %", &Settings::MultiGroupTolerance},
    {Entry::Heading, "Connection", nullptr},
    {Entry::Check, "Close sockets gracefully", &Settings::SocketsGracefully},
    {Entry::Check, "Set newsgroup before download", &Settings::SetGroup},
    {Entry::Check, "Use article number instead of Message-Id", &Settings::UseArticleId},
    {Entry::Check, "Continue after missing part", &Settings::SkipMissing},
    {Entry::Radio, "Newsserver to try download first", &Settings::UseFirstServer,
     kFirstServerChoices},
    {Entry::Number, "Socket timeout (Seconds)", &Settings::SocketTimeout},
    {Entry::Spin, "Retries to connect to a newsserver", &Settings::ConnectionRetries},
    {Entry::Check, "Place cancelled download back in queue", &Settings::CancelledBackInQueue},
    {Entry::Spin, "Requests sent ahead on a connection (1 to 16)", &Settings::PipelineDepth},
    {Entry::Heading, "Scanning", nullptr},
    {Entry::Check, "Find expired articles", &Settings::FindExpired},
    {Entry::Number, "Scan maximum amount of headers", &Settings::MaxHeaders},
    {Entry::Spin, "Days to keep headers", &Settings::RetentionDays},
    {Entry::Spin, "Chunks read at once when scanning a large group (1 to 16)",
     &Settings::ScanChunks},
    {Entry::Check, "Only scan all newsgroups with the Autograb feature", &Settings::AutoScanOnly},
    {Entry::Heading, "Decoding", nullptr},
    {Entry::Check, "Smart-rename when decoded file already exists", &Settings::RenameExisting},
    {Entry::Check, "Delete erroneously decoded files", &Settings::DeleteIncomplete},
    {Entry::Check, "Use subject as filename", &Settings::FilenameIsSubject},
    {Entry::Heading, "Sets of archives with par2 files", nullptr},
    {Entry::Radio, "When a set has arrived", &Settings::PostProcess, kPostProcessChoices},
    {Entry::Check, "Delete the archives and par2 files once unpacked",
     &Settings::DeleteAfterUnpack},
    {Entry::Heading, "Misc", nullptr},
    {Entry::Check, "Do not ask to create download directories", &Settings::AutoCreateDirs},
    {Entry::Check, "Do not create subdirs for auto download directories", &Settings::NoAutoSubdir},
    {Entry::Check, "Debug logging to \"log.txt\" (grows big!).", &Settings::UseLog},
    {Entry::Check, "Clear log on exit", &Settings::ClearLogOnExit},
    {Entry::Check, "Allow only single instance of Quillstream", &Settings::SingleInstance},
};

}  // namespace

COptionsPage5::COptionsPage5(wxWindow* parent, OptionsContext& context)
    : COptionsPage(parent, context) {
    const Settings& s = context.edited;
    const int gap = FromDIP(6);

    auto* auto_dirs = new wxStaticBoxSizer(wxVERTICAL, this, "Auto download directories");
    wxWindow* box = auto_dirs->GetStaticBox();
    base_dir_ = new wxTextCtrl(box, wxID_ANY, wxString::FromUTF8(s.BaseDir));
    auto* browse = new wxButton(box, wxID_ANY, "Browse...");
    auto* dir_row = new wxBoxSizer(wxHORIZONTAL);
    dir_row->Add(base_dir_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    dir_row->Add(browse, 0, wxALIGN_CENTER_VERTICAL);
    auto_dirs->Add(new wxStaticText(box, wxID_ANY,
                                    "Select a base download directory.\nSubdirectories will be "
                                    "created automatically\n(Overrides Download Dir):"),
                   0, wxALL, gap);
    auto_dirs->Add(dir_row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    tree_ = new CTreeOptionsCtrl(this);
    tree_->SetMinSize(FromDIP(wxSize(560, 300)));
    wxTreeItemId heading;
    for (const Entry& entry : kEntries) {
        const wxString caption = wxString::FromUTF8(entry.caption);
        wxTreeItemId item;
        switch (entry.kind) {
            case Entry::Heading:
                heading = item = tree_->AddHeading(caption);
                break;
            case Entry::Check:
                item = tree_->AddCheck(heading, caption, s.*entry.setting != 0);
                break;
            case Entry::Number:
            case Entry::Spin:
                item =
                    tree_->AddNumber(heading, caption, s.*entry.setting, entry.kind == Entry::Spin);
                break;
            case Entry::Radio:
                item = tree_->AddRadioGroup(heading, caption);
                for (int i = 0; entry.choices[i]; ++i)
                    tree_->AddRadio(item, entry.choices[i], s.*entry.setting == i);
                break;
        }
        items_.push_back(item);
    }
    set_group_ = ItemOf("Set newsgroup before download");
    use_article_id_ = ItemOf("Use article number instead of Message-Id");
    tree_->ExpandHeadings();
    tree_->on_check_changed = [this](const wxTreeItemId& item, bool checked) {
        OnCheckChanged(item, checked);
    };

    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(auto_dirs, 0, wxEXPAND | wxALL, gap * 2);
    page->Add(tree_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    SetSizer(page);

    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Browse(); });
}

wxTreeItemId COptionsPage5::ItemOf(const wxString& caption) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (wxString::FromUTF8(kEntries[i].caption) == caption)
            return items_[i];
    return wxTreeItemId();
}

void COptionsPage5::OnCheckChanged(const wxTreeItemId& item, bool checked) {
    // Fetching by article number needs the group set first: the two move together.
    if (item == use_article_id_ && checked)
        tree_->SetChecked(set_group_, true);
    else if (item == set_group_ && !checked)
        tree_->SetChecked(use_article_id_, false);
}

void COptionsPage5::Browse() {
    const std::string chosen =
        context_.choose_folder("Choose Folder for Default", base_dir_->GetValue().utf8_string());
    if (!chosen.empty())
        base_dir_->SetValue(wxString::FromUTF8(chosen));
}

bool COptionsPage5::CanLeave() {
    if (tree_->Validate())
        return true;
    context_.tell(wxString::Format("Please enter an integer between %d and %d.",
                                   CTreeOptionsCtrl::kNumberMin, CTreeOptionsCtrl::kNumberMax)
                      .utf8_string(),
                  Host::Icon::Exclamation);
    tree_->SetFocus();
    return false;
}

void COptionsPage5::Store(Settings& settings) {
    tree_->EndEdit();
    settings.BaseDir = base_dir_->GetValue().utf8_string();
    for (size_t i = 0; i < items_.size(); ++i) {
        const Entry* entry = &kEntries[i];
        const wxTreeItemId& item = items_[i];
        int value = 0;
        switch (entry->kind) {
            case Entry::Heading:
                break;
            case Entry::Check:
                settings.*entry->setting = tree_->IsChecked(item) ? 1 : 0;
                break;
            case Entry::Number:
            case Entry::Spin:
                if (tree_->GetNumber(item, value))
                    settings.*entry->setting = value;
                break;
            case Entry::Radio:
                if (const int index = tree_->SelectedRadio(item); index >= 0)
                    settings.*entry->setting = index;
                break;
        }
    }
}

}  // namespace qs::ui
