#pragma once

#include "ui/options_page_common.h"

class wxCheckBox;
class wxRadioButton;
class wxTextCtrl;

namespace qs::ui {

// "Filters": the words a scan keeps or drops, plain or as one regular expression.
class COptionsPage4 : public COptionsPage {
  public:
    COptionsPage4(wxWindow* parent, OptionsContext& context);
    // Refused while "Regular expression" is ticked and the words do not compile.
    bool CanLeave() override;
    void Store(Settings& settings) override;

    wxCheckBox* use_box() { return use_; }
    wxTextCtrl* words_box() { return words_; }
    wxRadioButton* include_button() { return include_; }
    wxRadioButton* exclude_button() { return exclude_; }
    wxCheckBox* regex_box() { return regex_; }
    // The boxes follow "Use Filter" (its handler; tests call it after setting the box).
    void UpdateEnabled();

  private:
    wxCheckBox* use_ = nullptr;
    wxTextCtrl* words_ = nullptr;
    wxRadioButton* include_ = nullptr;
    wxRadioButton* exclude_ = nullptr;
    wxCheckBox* regex_ = nullptr;
};

}  // namespace qs::ui
