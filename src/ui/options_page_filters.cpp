#include "ui/options_page_filters.h"

#include <regex.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <string>

namespace qs::ui {

namespace {

// The C library's reason why `pattern` is no extended regular expression; "" when it is one.
std::string RegexError(const std::string& pattern) {
    regex_t compiled;
    const int code = regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB);
    if (code == 0) {
        regfree(&compiled);
        return {};
    }
    char text[256] = {};
    regerror(code, &compiled, text, sizeof text);
    return text[0] ? text : "error";
}

}  // namespace

COptionsPage4::COptionsPage4(wxWindow* parent, OptionsContext& context)
    : COptionsPage(parent, context) {
    const Settings& s = context.edited;
    const int gap = FromDIP(6);

    use_ = new wxCheckBox(this, wxID_ANY, "Use Filter");
    use_->SetValue(s.FilterUse != 0);
    words_ = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(s.FilterWords));
    include_ =
        new wxRadioButton(this, wxID_ANY, "Include", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    exclude_ = new wxRadioButton(this, wxID_ANY, "Exclude");
    (s.FilterInclude == 1 ? exclude_ : include_)->SetValue(true);
    regex_ = new wxCheckBox(this, wxID_ANY, "Regular expression");
    regex_->SetValue(s.UseRegExpFilter != 0);

    auto* explanation = new wxStaticText(
        this, wxID_ANY,
        "You can select a filter here.\nIn a scan session only headers (the subject of a "
        "message, sender) that contain the selected words will be included or excluded. "
        "F.e.:\n\njpg, gif, mpg, screenshot\n\nWords are comma separated and case "
        "insensitive.");
    explanation->Wrap(FromDIP(480));
    auto* regex_hint = new wxStaticText(
        this, wxID_ANY, "You can also select 'Regular expression' to use standard regexps.");

    auto* mode = new wxBoxSizer(wxHORIZONTAL);
    mode->Add(include_, 0, wxRIGHT, gap * 2);
    mode->Add(exclude_, 0, wxRIGHT, gap * 4);
    mode->Add(regex_, 0);

    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(explanation, 0, wxEXPAND | wxALL, gap * 2);
    page->Add(use_, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    page->Add(words_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    page->Add(mode, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    page->Add(regex_hint, 0, wxALL, gap * 2);
    SetSizer(page);

    use_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateEnabled(); });
    UpdateEnabled();
}

void COptionsPage4::UpdateEnabled() {
    const bool on = use_->GetValue();
    for (wxWindow* window : {static_cast<wxWindow*>(words_), static_cast<wxWindow*>(include_),
                             static_cast<wxWindow*>(exclude_), static_cast<wxWindow*>(regex_)})
        window->Enable(on);
}

bool COptionsPage4::CanLeave() {
    if (!regex_->GetValue())
        return true;
    const std::string error = RegexError(words_->GetValue().utf8_string());
    if (error.empty())
        return true;
    context_.tell("Regular expression:" + error + "\n", Host::Icon::Stop);
    return false;
}

void COptionsPage4::Store(Settings& settings) {
    settings.FilterUse = use_->GetValue() ? 1 : 0;
    settings.FilterWords = words_->GetValue().utf8_string();
    settings.FilterInclude = exclude_->GetValue() ? 1 : 0;
    settings.UseRegExpFilter = regex_->GetValue() ? 1 : 0;
}

}  // namespace qs::ui
