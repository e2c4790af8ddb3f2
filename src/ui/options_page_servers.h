#pragma once

#include <vector>

#include "ui/options_page_common.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxListBox;
class wxTextCtrl;

namespace qs::ui {

// "News Servers": every configured server, enabled and disabled, as one ordered list; the
// boxes show the entry selected and edit the entry whose host is in the host box.
class COptionsPage1 : public COptionsPage {
  public:
    COptionsPage1(wxWindow* parent, OptionsContext& context);
    void Store(Settings& settings) override;

    const std::vector<ServerEntry>& servers() const { return servers_; }
    // The buttons' work (tests call them as the buttons do).
    void Add();
    void Delete();
    void MoveSelected(int delta);  // -1 Up, +1 Down
    void Check();
    void SelectHost(int index);

    wxListBox* host_list() { return hosts_; }
    wxTextCtrl* host_box() { return host_; }
    wxTextCtrl* user_box() { return user_; }
    wxTextCtrl* password_box() { return password_; }
    wxTextCtrl* port_box() { return port_; }
    wxCheckBox* disabled_box() { return disabled_; }
    wxCheckBox* tls_box() { return tls_; }
    wxCheckBox* compress_box() { return compress_; }
    // The certificate check: its selection is 2 minus ServerEntry::verify.
    wxChoice* verify_choice() { return verify_; }
    // A click on "Use TLS (SSL)": moves a port still on the other protocol's default.
    void SetTls(bool tls);

  private:
    void Refill(int select);
    void ClearFields();
    // The entry whose host equals the host box's text; null when none does.
    ServerEntry* EntryOfHostBox();
    void OnFieldEdited();
    void ShowTls(bool tls, int verify);

    std::vector<ServerEntry> servers_;
    wxListBox* hosts_ = nullptr;
    wxTextCtrl* host_ = nullptr;
    wxTextCtrl* user_ = nullptr;
    wxTextCtrl* password_ = nullptr;
    wxTextCtrl* port_ = nullptr;
    wxCheckBox* disabled_ = nullptr;
    wxCheckBox* tls_ = nullptr;
    wxCheckBox* compress_ = nullptr;
    wxChoice* verify_ = nullptr;
    bool filling_ = false;  // boxes being set by the page, not edited by the user
};

}  // namespace qs::ui
