// The wizard's group pages: reading the server's group list, and picking groups from it by
// genre or keyword.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/engine.h"
#include "ui/group_picker.h"
#include "ui/wizard.h"
#include "ui/wizard_pages.h"

namespace qs::ui {
namespace {

constexpr int kPollMs = 200;
constexpr char kBinaries[] = "binaries";

struct GenreInfo {
    const char* caption;
    const char* keyword;
};
// In the order of CWizard4::Genre.
constexpr GenreInfo kGenres[] = {
    {"Music (MP3)", "binaries.mp3"}, {"Software", "binaries.software"},
    {"Erotica", "binaries.erotica"}, {"Movies", "binaries.movies"},
    {"Games", "binaries.games"},
};

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

void RemoveAll(std::string& text, const std::string& word) {
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at))
        text.erase(at, word.size());
}

}  // namespace

CWizard3::CWizard3(CQuillstreamWizard& wizard)
    : CWizardPage(wizard, "Newsgroups List"), timer_(this) {
    auto* column = new wxBoxSizer(wxVERTICAL);
    AddText(column,
            "Quillstream needs to download the list of newsgroups on\n"
            "the newsserver. Note that this may take a few minutes.",
            12);
    scan_ = new wxButton(this, wxID_ANY, "Scan newsgroups");
    column->Add(scan_, 0, wxBOTTOM, FromDIP(8));
    auto* status = new wxBoxSizer(wxHORIZONTAL);
    status->Add(new wxStaticText(this, wxID_ANY, "Status:"), 0, wxRIGHT, FromDIP(6));
    status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition,
                               wxSize(FromDIP(380), FromDIP(50)), wxST_NO_AUTORESIZE);
    status->Add(status_, 1);
    column->Add(status, 0, wxEXPAND);
    SetSizerAndFit(column);
    SetStatus("Ready to go...Click on 'Scan newsgroups'.");

    scan_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { StartScan(); });
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Poll(); });
}

CWizard3::~CWizard3() {
    timer_.Stop();
}

void CWizard3::SetStatus(const std::string& text) {
    status_text_ = text;
    status_->SetLabel(wxString::FromUTF8(text));
    status_->Wrap(status_->GetSize().GetWidth());
}

void CWizard3::EnableMoving(bool enable) {
    scan_->Enable(enable);
    if (wizard_.back_button())
        wizard_.back_button()->Enable(enable);
    if (wizard_.next_button())
        wizard_.next_button()->Enable(enable);
}

bool CWizard3::StartScan() {
    CommandResult started = wizard_.engine().StartGroupListFetch(wizard_.servers(), {});
    if (!started.ok) {
        if (!started.message.empty())
            wizard_.ShowMessage(started.message, Host::Icon::Stop);
        return false;
    }
    EnableMoving(false);
    SetStatus("Connecting...");
    timer_.Start(kPollMs);
    return true;
}

void CWizard3::Poll() {
    const Engine::GroupListFetch fetch = wizard_.engine().group_list_fetch();
    if (fetch.running) {
        if (!fetch.status.empty())
            SetStatus(fetch.status);
        return;
    }
    timer_.Stop();
    EnableMoving(true);
    if (fetch.finished)
        SetStatus("Ready. Scanned " + std::to_string(fetch.stored) +
                  " groups. Click next to continue.");
    else
        SetStatus(fetch.error.empty() ? fetch.status : fetch.error);
}

CWizard4::CWizard4(CQuillstreamWizard& wizard) : CWizardPage(wizard, "Select Newsgroups") {
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);
    AddText(column, "Select genres below or type in keywords separated by a space.", 4);
    AddText(column, "Several keywords: a group must contain all of them.");

    auto* genres = new wxBoxSizer(wxHORIZONTAL);
    for (int i = 0; i < kGenreCount; ++i) {
        genres_[i] = new wxCheckBox(this, wxID_ANY, kGenres[i].caption);
        genres->Add(genres_[i], 0, wxRIGHT, FromDIP(12));
        genres_[i]->Bind(wxEVT_CHECKBOX, [this, i](wxCommandEvent& event) {
            SetGenre(static_cast<Genre>(i), event.IsChecked());
        });
    }
    column->Add(genres, 0, wxBOTTOM, FromDIP(8));

    auto* keyword_row = new wxBoxSizer(wxHORIZONTAL);
    keyword_row->Add(new wxStaticText(this, wxID_ANY, "Keywords:"), 0,
                     wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    keywords_ = new wxTextCtrl(this, wxID_ANY);
    keyword_row->Add(keywords_, 1, wxALIGN_CENTER_VERTICAL);
    column->Add(keyword_row, 0, wxEXPAND | wxBOTTOM, FromDIP(8));

    AddText(column, "Select the newsgroups checked you whish to download from:", 4);
    picker_ = new CGroupPicker(this, wizard_.engine());
    picker_->SetMinSize(FromDIP(wxSize(640, 220)));
    column->Add(picker_, 1, wxEXPAND);
    SetSizerAndFit(column);

    keywords_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { picker_->SetSearch(keywords()); });
    Bind(wxEVT_WIZARD_PAGE_CHANGED, &CWizard4::OnShown, this);
    Bind(wxEVT_WIZARD_PAGE_CHANGING, &CWizard4::OnChanging, this);
}

std::string CWizard4::keywords() const {
    return keywords_->GetValue().utf8_string();
}

void CWizard4::ApplyKeywords(const std::string& text) {
    const std::string trimmed = Trim(text);
    keywords_->ChangeValue(wxString::FromUTF8(trimmed));
    picker_->SetSearch(trimmed);
}

void CWizard4::SetGenre(Genre genre, bool checked) {
    genres_[genre]->SetValue(checked);
    std::string text = keywords();
    if (text == kBinaries)
        text.clear();
    const std::string keyword = kGenres[genre].keyword;
    if (checked && text.find(keyword) == std::string::npos)
        text = keyword + " " + text;
    else if (!checked)
        RemoveAll(text, keyword);
    ApplyKeywords(text);
}

void CWizard4::OnShown(wxWizardEvent& event) {
    // The list may have been read again since the page was last shown.
    picker_->Reload();
    std::string text = keywords();
    if (text == kBinaries)
        text.clear();
    if (text.find(kBinaries) == std::string::npos)
        text = std::string(kBinaries) + " " + text;
    ApplyKeywords(text);
    event.Skip();
}

void CWizard4::OnChanging(wxWizardEvent& event) {
    wizard_.CollectSelection();
    event.Skip();
}

}  // namespace qs::ui
