#pragma once

#include <wx/propdlg.h>

#include "app/settings.h"

namespace qs {
class Engine;
}

namespace qs::ui {

// "Options...": five pages (News Servers, Groups, User Information, Filters, Advanced)
// editing a copy of the engine's settings; OK hands the edited copy to the engine in one
// step, Cancel discards it.
class COptionsDialog : public wxPropertySheetDialog {
  public:
    // start_page 0 (Options...) or 1 (Edit Groups).
    COptionsDialog(wxWindow* parent, Engine& engine, int start_page);
    ~COptionsDialog() override;

    // What OK does, without closing (tests drive it): checks the pages (false, with the
    // page's message shown, when one refuses), then applies the edited settings.
    bool ApplyEdits();
    // The copy being edited.
    Settings& edited() { return edited_; }

  private:
    Engine& engine_;
    Settings edited_;
};

}  // namespace qs::ui
