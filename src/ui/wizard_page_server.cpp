// The wizard's Newsserver page: server detection on the user-interface thread.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "engine/engine.h"
#include "ui/wizard.h"
#include "ui/wizard_pages.h"

namespace qs::ui {
namespace {

constexpr char kReady[] = "Ready to go...";
constexpr char kDetecting[] = "Detecting newsserver...";
constexpr char kDetected[] = "Newsserver detected! Click next to continue.";
constexpr char kNotDetected[] = "No newsserver detected, please contact your Internet Provider.";
constexpr char kNeedsLogin[] =
    "Please enter a username and password from your Internet Provider and retry.";

std::string Text(const wxTextCtrl* box) {
    return box->GetValue().utf8_string();
}

}  // namespace

CWizard2::CWizard2(CQuillstreamWizard& wizard) : CWizardPage(wizard, "Newsserver") {
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);
    AddText(column,
            "Click on the 'Auto Search' button to let Quillstream try and find a newsserver.");
    auto_search_ = new wxButton(this, wxID_ANY, "Auto Search!");
    column->Add(auto_search_, 0, wxBOTTOM, FromDIP(8));

    auto* status = new wxBoxSizer(wxHORIZONTAL);
    status->Add(new wxStaticText(this, wxID_ANY, "Status:"), 0, wxRIGHT, gap);
    status_ = new wxStaticText(this, wxID_ANY, kReady, wxDefaultPosition,
                               wxSize(FromDIP(380), FromDIP(34)), wxST_NO_AUTORESIZE);
    status->Add(status_, 1);
    column->Add(status, 0, wxEXPAND | wxBOTTOM, FromDIP(12));

    AddText(column,
            "If the autosearch feature couldn't find a newsserver for you, you can specify a "
            "newsserver here. ");
    auto* fields = new wxFlexGridSizer(2, gap, gap);
    fields->AddGrowableCol(1);
    auto add_field = [&](const char* caption, long style) {
        fields->Add(new wxStaticText(this, wxID_ANY, caption), 0, wxALIGN_CENTER_VERTICAL);
        auto* box =
            new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(FromDIP(260), -1), style);
        fields->Add(box, 1, wxEXPAND);
        return box;
    };
    host_ = add_field("Newsserver:", 0);
    user_ = add_field("Username", 0);
    password_ = add_field("Password", wxTE_PASSWORD);
    tls_ = new wxCheckBox(this, wxID_ANY, "Use TLS (SSL)");
    fields->AddSpacer(0);
    fields->Add(tls_, 0);
    column->Add(fields, 0, wxEXPAND);
    SetSizerAndFit(column);

    auto_search_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Detect(); });
    Bind(wxEVT_WIZARD_PAGE_CHANGING, &CWizard2::OnChanging, this);
}

ServerEntry CWizard2::TypedEntry(const std::string& host) const {
    ServerEntry entry;
    entry.host = host;
    entry.user = Text(user_);
    entry.password = Text(password_);
    entry.ssl = tls_->GetValue() ? 1 : 0;
    entry.port = wizard_.probe_port();
    if (entry.port <= 0)
        entry.port = entry.ssl ? kTlsNntpPort : kPlainNntpPort;
    entry.disabled = 0;
    return entry;
}

void CWizard2::SetStatus(const std::string& text) {
    status_text_ = text;
    status_->SetLabel(wxString::FromUTF8(text));
    status_->Wrap(status_->GetSize().GetWidth());
    status_->Update();
    // The window is frozen while detection runs; yielding lets the text show, and the
    // disabled windows ignore clicks meanwhile.
    wxSafeYield(nullptr, true);
}

bool CWizard2::Detect() {
    detected_ = false;
    auto_search_->Disable();
    SetStatus(kDetecting);
    bool asked_for_login = false;
    Engine& engine = wizard_.engine();
    for (const std::string& candidate : wizard_.Candidates(Text(host_))) {
        Engine::ServerProbe probe = engine.ProbeServer(
            TypedEntry(candidate), [this](const std::string& text) { SetStatus(text); });
        if (probe.detected || probe.needs_login)
            host_->ChangeValue(wxString::FromUTF8(candidate));
        if (probe.detected) {
            detected_ = true;
            break;
        }
        if (probe.needs_login) {
            asked_for_login = true;
            SetStatus(kNeedsLogin);
            user_->SetFocus();
        }
    }
    auto_search_->Enable();
    // A server that wants a login is the likely one: its request stays on show.
    SetStatus(detected_ ? kDetected : asked_for_login ? kNeedsLogin : kNotDetected);
    return detected_;
}

void CWizard2::OnChanging(wxWizardEvent& event) {
    event.Skip();
    if (wizard_.moving_without_checks() || !event.GetDirection())
        return;
    if (Detect())
        wizard_.servers().push_back(TypedEntry(Text(host_)));
}

}  // namespace qs::ui
