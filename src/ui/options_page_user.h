#pragma once

#include "ui/options_page_common.h"

class wxTextCtrl;

namespace qs::ui {

// "User Information": the address new posts are sent from.
class COptionsPage3 : public COptionsPage {
  public:
    COptionsPage3(wxWindow* parent, OptionsContext& context);
    void Store(Settings& settings) override;
    wxTextCtrl* email_box() { return email_; }

  private:
    wxTextCtrl* email_ = nullptr;
};

}  // namespace qs::ui
