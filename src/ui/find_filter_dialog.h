#pragma once

#include <wx/dialog.h>

#include "ui/quillstream_view.h"

class wxTextCtrl;
class wxCheckBox;
class wxRadioButton;
class wxChoice;

namespace qs::ui {

// "Find/Filter", modeless: the text, whole word, case, regular expression, direction and
// one of four actions; "&Find Next" runs the action on the attachment list and shows its
// message. It starts from the list's last find (direction Down) and lives until Cancel or
// its close box.
class CFindFilterDialog : public wxDialog {
  public:
    CFindFilterDialog(wxWindow* parent, CQuillstreamView& list);
    // What the controls ask for now.
    FindRequest Request() const;
    // "&Find Next": runs the request; the outcome (also shown to the user unless empty).
    FindOutcome FindNext();
    // Whether FindNext shows its message in a message box (tests switch it off: a modal
    // box would wait for a click that never comes).
    void set_show_messages(bool show) { show_messages_ = show; }

  private:
    void OnRegexToggled(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);

    CQuillstreamView& list_;
    wxTextCtrl* text_ = nullptr;
    wxCheckBox* whole_word_ = nullptr;
    wxCheckBox* match_case_ = nullptr;
    wxCheckBox* regex_ = nullptr;
    wxRadioButton* up_ = nullptr;
    wxRadioButton* down_ = nullptr;
    wxChoice* action_ = nullptr;
    bool show_messages_ = true;
    bool closing_ = false;
};

}  // namespace qs::ui
