#include "ui/options_page_servers.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include <algorithm>
#include <cstdlib>

#include "engine/engine.h"

namespace qs::ui {

namespace {

std::string Utf8(const wxString& text) {
    return text.utf8_string();
}

// The choice's entries, from the strictest: entry i is ServerEntry::verify 2 - i.
constexpr int kStrictestVerify = 2;

int ChoiceOfVerify(int verify) {
    return kStrictestVerify - std::clamp(verify, 0, kStrictestVerify);
}

}  // namespace

COptionsPage1::COptionsPage1(wxWindow* parent, OptionsContext& context)
    : COptionsPage(parent, context) {
    servers_ = context.edited.servers;
    servers_.insert(servers_.end(), context.edited.disabled_servers.begin(),
                    context.edited.disabled_servers.end());

    const int gap = FromDIP(6);
    // Enter anywhere on the page adds the host, so no box may pass Enter on to OK.
    const long enter = wxTE_PROCESS_ENTER;
    host_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, enter);
    hosts_ = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(FromDIP(260), FromDIP(150)));
    user_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, enter);
    password_ =
        new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, enter | wxTE_PASSWORD);
    port_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(FromDIP(80), -1), enter,
                           wxTextValidator(wxFILTER_DIGITS));
    disabled_ = new wxCheckBox(this, wxID_ANY, "Disabled");
    compress_ = new wxCheckBox(this, wxID_ANY, "Compress when the server offers it");
    tls_ = new wxCheckBox(this, wxID_ANY, "Use TLS (SSL)");
    const wxString checks[] = {"Check certificate and host name", "Check certificate only",
                               "Don't check certificate"};
    verify_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 3, checks);

    auto* add = new wxButton(this, wxID_ANY, "Add");
    auto* remove = new wxButton(this, wxID_ANY, "Delete");
    auto* up = new wxButton(this, wxID_ANY, "Up");
    auto* down = new wxButton(this, wxID_ANY, "Down");
    auto* check = new wxButton(this, wxID_ANY, "Check");

    auto* buttons = new wxBoxSizer(wxVERTICAL);
    for (wxButton* button : {add, remove, up, down, check})
        buttons->Add(button, 0, wxEXPAND | wxBOTTOM, gap);

    auto* hosts = new wxBoxSizer(wxVERTICAL);
    hosts->Add(new wxStaticText(this, wxID_ANY, "Host:"), 0, wxBOTTOM, gap / 2);
    hosts->Add(host_, 0, wxEXPAND | wxBOTTOM, gap);
    hosts->Add(hosts_, 1, wxEXPAND);

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(hosts, 1, wxEXPAND | wxRIGHT, gap);
    top->Add(buttons, 0, wxTOP, FromDIP(22));

    auto* fields = new wxFlexGridSizer(2, gap, gap);
    fields->AddGrowableCol(1);
    fields->Add(new wxStaticText(this, wxID_ANY, "Username:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(user_, 1, wxEXPAND);
    fields->Add(new wxStaticText(this, wxID_ANY, "Password:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(password_, 1, wxEXPAND);
    fields->Add(new wxStaticText(this, wxID_ANY, "Port:"), 0, wxALIGN_CENTER_VERTICAL);
    auto* port_row = new wxBoxSizer(wxHORIZONTAL);
    port_row->Add(port_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap * 2);
    port_row->Add(tls_, 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(port_row, 0);
    fields->Add(new wxStaticText(this, wxID_ANY, "Certificate:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(verify_, 0);
    fields->AddSpacer(0);
    auto* checks_row = new wxBoxSizer(wxHORIZONTAL);
    checks_row->Add(disabled_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap * 4);
    checks_row->Add(compress_, 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(checks_row, 0);

    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(top, 1, wxEXPAND | wxALL, gap * 2);
    page->Add(fields, 0, wxEXPAND | wxLEFT | wxRIGHT, gap * 2);
    page->Add(
        new wxStaticText(this, wxID_ANY,
                         "The first available server will be used for downloading the groupslist."),
        0, wxALL, gap * 2);
    SetSizer(page);

    add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Add(); });
    remove->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Delete(); });
    up->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { MoveSelected(-1); });
    down->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { MoveSelected(+1); });
    check->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Check(); });
    for (wxTextCtrl* box : {host_, user_, password_, port_})
        box->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { Add(); });
    for (wxTextCtrl* box : {user_, password_, port_})
        box->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnFieldEdited(); });
    for (wxCheckBox* box : {disabled_, compress_})
        box->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnFieldEdited(); });
    tls_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) { SetTls(event.IsChecked()); });
    verify_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnFieldEdited(); });
    hosts_->Bind(wxEVT_LISTBOX,
                 [this](wxCommandEvent& event) { SelectHost(event.GetSelection()); });

    Refill(wxNOT_FOUND);
    ClearFields();
}

void COptionsPage1::Store(Settings& settings) {
    settings.servers.clear();
    settings.disabled_servers.clear();
    for (const ServerEntry& entry : servers_)
        (entry.disabled ? settings.disabled_servers : settings.servers).push_back(entry);
}

void COptionsPage1::Refill(int select) {
    hosts_->Clear();
    for (const ServerEntry& entry : servers_)
        hosts_->Append(wxString::FromUTF8(entry.host));
    if (select != wxNOT_FOUND && select < static_cast<int>(hosts_->GetCount()))
        hosts_->SetSelection(select);
}

void COptionsPage1::ClearFields() {
    filling_ = true;
    user_->ChangeValue("");
    password_->ChangeValue("");
    port_->ChangeValue(wxString::Format("%d", kPlainNntpPort));
    disabled_->SetValue(false);
    compress_->SetValue(ServerEntry{}.compress != 0);
    ShowTls(false, ServerEntry{}.verify);
    filling_ = false;
}

void COptionsPage1::SelectHost(int index) {
    if (index < 0 || index >= static_cast<int>(servers_.size()))
        return;
    if (hosts_->GetSelection() != index)
        hosts_->SetSelection(index);
    const ServerEntry& entry = servers_[static_cast<size_t>(index)];
    filling_ = true;
    host_->ChangeValue(wxString::FromUTF8(entry.host));
    user_->ChangeValue(wxString::FromUTF8(entry.user));
    password_->ChangeValue(wxString::FromUTF8(entry.password));
    port_->ChangeValue(wxString::Format("%d", entry.port));
    disabled_->SetValue(entry.disabled != 0);
    compress_->SetValue(entry.compress != 0);
    ShowTls(entry.ssl != 0, entry.verify);
    filling_ = false;
}

void COptionsPage1::ShowTls(bool tls, int verify) {
    tls_->SetValue(tls);
    verify_->SetSelection(ChoiceOfVerify(verify));
    // The check applies to TLS connections only.
    verify_->Enable(tls);
}

void COptionsPage1::SetTls(bool tls) {
    tls_->SetValue(tls);
    verify_->Enable(tls);
    // A port still on the other protocol's standard port follows the box; any other stays.
    const int port = std::atoi(port_->GetValue().utf8_str());
    const int from = tls ? kPlainNntpPort : kTlsNntpPort;
    if (port == from)
        port_->ChangeValue(wxString::Format("%d", tls ? kTlsNntpPort : kPlainNntpPort));
    OnFieldEdited();
}

void COptionsPage1::Add() {
    const wxString host = host_->GetValue();
    // Host names compare without regard to case, as the list's search does.
    if (host.empty() || hosts_->FindString(host, false) != wxNOT_FOUND)
        return;
    ServerEntry entry;
    entry.host = Utf8(host);
    entry.user = Utf8(user_->GetValue());
    entry.password = Utf8(password_->GetValue());
    entry.port = std::atoi(port_->GetValue().utf8_str());
    entry.disabled = 0;
    entry.ssl = tls_->GetValue() ? 1 : 0;
    entry.verify = kStrictestVerify - verify_->GetSelection();
    entry.compress = compress_->GetValue() ? 1 : 0;
    servers_.push_back(entry);
    Refill(static_cast<int>(servers_.size()) - 1);
    disabled_->SetValue(false);
}

void COptionsPage1::Delete() {
    const int index = hosts_->GetSelection();
    if (index == wxNOT_FOUND || index >= static_cast<int>(servers_.size()))
        return;
    servers_.erase(servers_.begin() + index);
    Refill(wxNOT_FOUND);
    host_->ChangeValue("");
    ClearFields();
}

void COptionsPage1::MoveSelected(int delta) {
    const int index = hosts_->GetSelection();
    const int target = index + delta;
    if (index == wxNOT_FOUND || target < 0 || target >= static_cast<int>(servers_.size()))
        return;
    std::swap(servers_[static_cast<size_t>(index)], servers_[static_cast<size_t>(target)]);
    Refill(target);
}

void COptionsPage1::Check() {
    const CommandResult result = context_.engine.CheckDuplicateServers(servers_);
    if (!result.message.empty())
        context_.tell(result.message, Host::Icon::Plain);
}

ServerEntry* COptionsPage1::EntryOfHostBox() {
    const std::string host = Utf8(host_->GetValue());
    for (ServerEntry& entry : servers_)
        if (entry.host == host)
            return &entry;
    return nullptr;
}

void COptionsPage1::OnFieldEdited() {
    if (filling_)
        return;
    ServerEntry* entry = EntryOfHostBox();
    if (!entry)
        return;
    entry->user = Utf8(user_->GetValue());
    entry->password = Utf8(password_->GetValue());
    entry->port = std::atoi(port_->GetValue().utf8_str());
    entry->disabled = disabled_->GetValue() ? 1 : 0;
    entry->ssl = tls_->GetValue() ? 1 : 0;
    entry->verify = kStrictestVerify - verify_->GetSelection();
    entry->compress = compress_->GetValue() ? 1 : 0;
}

}  // namespace qs::ui
