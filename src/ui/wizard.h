#pragma once

#include <wx/wizard.h>

namespace qs {
class Engine;
}

namespace qs::ui {

// The first-run wizard: welcome, find a news server, read its group list, pick groups,
// choose the download directory, finish. Finish hands the servers, groups and BaseDir to
// the engine; Cancel changes nothing.
class CQuillstreamWizard : public wxWizard {
  public:
    CQuillstreamWizard(wxWindow* parent, Engine& engine);
    ~CQuillstreamWizard() override;
    // Runs it modally from the first page; true when finished.
    bool Run();
    wxWizardPage* first_page() const { return first_; }

  private:
    Engine& engine_;
    wxWizardPage* first_ = nullptr;
};

}  // namespace qs::ui
