#include "ui/tips_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>

#include <filesystem>

#include "ui/tip_reader.h"

namespace qs::ui {

std::string FindTipsFile(const std::string& home_dir) {
    namespace fs = std::filesystem;
    const fs::path program = fs::path(wxStandardPaths::Get().GetExecutablePath().utf8_string());
    const fs::path bin = program.parent_path();
    const fs::path places[] = {
        fs::path(home_dir) / "tips.txt",
        bin / "tips.txt",
        bin.parent_path() / "share" / "quillstream" / "tips.txt",
#ifdef QS_SOURCE_DIR
        fs::path(QS_SOURCE_DIR) / "data" / "tips.txt",
#endif
    };
    std::error_code error;
    for (const fs::path& place : places) {
        if (fs::is_regular_file(place, error))
            return place.string();
    }
    return (fs::path(home_dir) / "tips.txt").string();
}

CTipDlg::CTipDlg(wxWindow* parent, const std::string& tips_path, int64_t offset,
                 bool show_on_startup)
    : wxDialog(parent, wxID_ANY, "Tip of the Day"), start_offset_(offset) {
    reader_ = std::make_unique<TipReader>(tips_path, offset);
    auto* heading = new wxStaticText(this, wxID_ANY, "Did you know...");
    wxFont bold = heading->GetFont();
    bold.SetWeight(wxFONTWEIGHT_BOLD);
    bold.SetPointSize(bold.GetPointSize() + 3);
    heading->SetFont(bold);
    text_ = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(420, 90));
    show_ = new wxCheckBox(this, wxID_ANY, "&Show Tips on StartUp");
    show_->SetValue(show_on_startup);
    next_ = new wxButton(this, wxID_ANY, "&Next Tip");
    auto* close = new wxButton(this, wxID_OK, "&Close");

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(show_, 1, wxALIGN_CENTER_VERTICAL);
    buttons->Add(next_, 0, wxLEFT, 8);
    buttons->Add(close, 0, wxLEFT, 8);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(heading, 0, wxALL, 12);
    sizer->Add(text_, 1, wxEXPAND | wxLEFT | wxRIGHT, 12);
    sizer->Add(buttons, 0, wxEXPAND | wxALL, 12);
    SetSizerAndFit(sizer);
    next_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { NextTip(); });
    NextTip();
    if (!reader_->ok()) {
        text_->SetLabel(kNoTipsFile);
        next_->Disable();
    }
}

CTipDlg::~CTipDlg() = default;

void CTipDlg::NextTip() {
    std::string tip = reader_->Next();
    if (tip.empty()) {
        if (reader_->ok())
            wxMessageBox("Trouble reading the tips file", "Quillstream", wxOK, this);
        return;
    }
    text_->SetLabel(wxString::FromUTF8(tip));
    text_->Wrap(420);
    Layout();
}

std::string CTipDlg::tip() const {
    return text_->GetLabel().utf8_string();
}

int64_t CTipDlg::offset() const {
    return reader_->ok() ? reader_->offset() : start_offset_;
}

bool CTipDlg::show_on_startup() const {
    return show_->GetValue();
}

}  // namespace qs::ui
