#include "ui/options_page_user.h"

#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace qs::ui {

COptionsPage3::COptionsPage3(wxWindow* parent, OptionsContext& context)
    : COptionsPage(parent, context) {
    const int gap = FromDIP(6);
    auto* frame =
        new wxStaticBoxSizer(wxHORIZONTAL, this, "Please enter your name for posting messages");
    wxWindow* box = frame->GetStaticBox();
    email_ = new wxTextCtrl(box, wxID_ANY, wxString::FromUTF8(context.edited.UserName));
    frame->Add(new wxStaticText(box, wxID_ANY, "Email:"), 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    frame->Add(email_, 1, wxALIGN_CENTER_VERTICAL | wxALL, gap);

    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(frame, 0, wxEXPAND | wxALL, gap * 2);
    SetSizer(page);
}

void COptionsPage3::Store(Settings& settings) {
    settings.UserName = email_->GetValue().utf8_string();
}

}  // namespace qs::ui
