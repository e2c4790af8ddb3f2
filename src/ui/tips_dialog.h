#pragma once

#include <wx/dialog.h>

#include <memory>
#include <string>

class wxCheckBox;
class wxStaticText;
class wxButton;

namespace qs::ui {

class TipReader;

// "Tip of the Day": "Did you know..." over one tip from the tips file, "&Next Tip", the
// "&Show Tips on StartUp" switch and "&Close".
class CTipDlg : public wxDialog {
  public:
    CTipDlg(wxWindow* parent, const std::string& tips_path, int64_t offset, bool show_on_startup);
    ~CTipDlg() override;

    std::string tip() const;
    void NextTip();
    // What "&Close" stores: the offset of the next tip and the start-up switch.
    int64_t offset() const;
    bool show_on_startup() const;

  private:
    std::unique_ptr<TipReader> reader_;
    wxStaticText* text_ = nullptr;
    wxCheckBox* show_ = nullptr;
    wxButton* next_ = nullptr;
    int64_t start_offset_ = 0;
};

// Where the tips file is: the home directory, beside the program, or where it is installed.
std::string FindTipsFile(const std::string& home_dir);

}  // namespace qs::ui
