#include "ui/find_filter_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace qs::ui {
namespace {

const char* const kActions[] = {
    "Find next matching item.",
    "Select all matching items.",
    "Remove all matching items.",
    "Keep all matching items.",
};
constexpr int kActionCount = 4;

}  // namespace

CFindFilterDialog::CFindFilterDialog(wxWindow* parent, CQuillstreamView& list)
    : wxDialog(parent, wxID_ANY, "Find/Filter"), list_(list) {
    const FindRequest& last = list_.last_find();
    const int gap = FromDIP(6);

    // Left: what to look for and how; right: the buttons.
    auto* what = new wxBoxSizer(wxHORIZONTAL);
    what->Add(new wxStaticText(this, wxID_ANY, "Fi&nd what:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
              gap);
    text_ = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(last.text), wxDefaultPosition,
                           wxSize(FromDIP(260), -1));
    what->Add(text_, 1, wxALIGN_CENTER_VERTICAL);

    auto* checks = new wxBoxSizer(wxVERTICAL);
    whole_word_ = new wxCheckBox(this, wxID_ANY, "Match &whole word only");
    match_case_ = new wxCheckBox(this, wxID_ANY, "Match &case");
    regex_ = new wxCheckBox(this, wxID_ANY, "Regular &expression");
    checks->Add(whole_word_, 0, wxBOTTOM, gap / 2);
    checks->Add(match_case_, 0, wxBOTTOM, gap / 2);
    checks->Add(regex_, 0);

    auto* direction = new wxStaticBoxSizer(wxHORIZONTAL, this, "Direction");
    up_ = new wxRadioButton(direction->GetStaticBox(), wxID_ANY, "&Up", wxDefaultPosition,
                            wxDefaultSize, wxRB_GROUP);
    down_ = new wxRadioButton(direction->GetStaticBox(), wxID_ANY, "&Down");
    direction->Add(up_, 0, wxALL, gap / 2);
    direction->Add(down_, 0, wxALL, gap / 2);

    auto* options = new wxBoxSizer(wxHORIZONTAL);
    options->Add(checks, 1, wxALIGN_TOP | wxRIGHT, gap);
    options->Add(direction, 0, wxALIGN_TOP);

    auto* action = new wxBoxSizer(wxHORIZONTAL);
    action->Add(new wxStaticText(this, wxID_ANY, "Action:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
                gap);
    action_ = new wxChoice(this, wxID_ANY);
    for (const char* entry : kActions)
        action_->Append(entry);
    action->Add(action_, 1, wxALIGN_CENTER_VERTICAL);

    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(what, 0, wxEXPAND | wxBOTTOM, gap);
    left->Add(options, 0, wxEXPAND | wxBOTTOM, gap);
    left->Add(action, 0, wxEXPAND);

    auto* find = new wxButton(this, wxID_FIND, "&Find Next");
    auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
    auto* help = new wxButton(this, wxID_HELP, "&Help");
    help->Disable();  // there is no help text for this window
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    buttons->Add(find, 0, wxEXPAND | wxBOTTOM, gap / 2);
    buttons->Add(cancel, 0, wxEXPAND | wxBOTTOM, gap / 2);
    buttons->Add(help, 0, wxEXPAND);

    auto* all = new wxBoxSizer(wxHORIZONTAL);
    all->Add(left, 1, wxEXPAND | wxALL, gap * 2);
    all->Add(buttons, 0, wxTOP | wxRIGHT | wxBOTTOM, gap * 2);
    SetSizerAndFit(all);

    regex_->SetValue(last.regular_expression);
    whole_word_->Enable(!last.regular_expression);
    down_->SetValue(true);
    action_->SetSelection(last.action >= 0 && last.action < kActionCount ? last.action : 0);
    find->SetDefault();
    text_->SetFocus();

    regex_->Bind(wxEVT_CHECKBOX, &CFindFilterDialog::OnRegexToggled, this);
    find->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { FindNext(); });
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    Bind(wxEVT_CLOSE_WINDOW, &CFindFilterDialog::OnClose, this);
}

FindRequest CFindFilterDialog::Request() const {
    FindRequest request;
    request.text = text_->GetValue().utf8_string();
    request.whole_word = whole_word_->GetValue();
    request.match_case = match_case_->GetValue();
    request.regular_expression = regex_->GetValue();
    request.down = !up_->GetValue();
    request.action = std::max(0, action_->GetSelection());
    return request;
}

FindOutcome CFindFilterDialog::FindNext() {
    if (closing_)
        return {};
    FindOutcome outcome = list_.RunFind(Request());
    if (show_messages_ && !outcome.message.empty()) {
        const long icon = outcome.regex_error ? wxICON_STOP : wxICON_EXCLAMATION;
        wxMessageBox(wxString::FromUTF8(outcome.message), "Quillstream", wxOK | icon, this);
    }
    return outcome;
}

void CFindFilterDialog::OnRegexToggled(wxCommandEvent& event) {
    // A word boundary means nothing inside an expression: the box only counts without one.
    whole_word_->Enable(!event.IsChecked());
}

void CFindFilterDialog::OnClose(wxCloseEvent& event) {
    (void)event;
    closing_ = true;
    Destroy();
}

}  // namespace qs::ui
