#pragma once

#include <wx/bookctrl.h>
#include <wx/propdlg.h>

#include <array>
#include <functional>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "ui/options_page_common.h"

namespace qs {
class Engine;
}

namespace qs::ui {

class COptionsPage1;
class COptionsPage2;
class COptionsPage3;
class COptionsPage4;
class COptionsPage5;

// "Options...": five pages (News Servers, Groups, User Information, Filters, Advanced)
// editing a copy of the engine's settings; OK hands the edited copy to the engine in one
// step, Cancel discards it.
class COptionsDialog : public wxPropertySheetDialog {
  public:
    static constexpr int kPageCount = 5;

    // start_page 0 (Options...) or 1 (Edit Groups).
    COptionsDialog(wxWindow* parent, Engine& engine, int start_page);
    ~COptionsDialog() override;

    // What OK does, without closing (tests drive it): checks the pages (false, with the
    // page's message shown, when one refuses), then applies the edited settings.
    bool ApplyEdits();
    // The copy being edited.
    Settings& edited() { return edited_; }

    // Where the pages' message boxes go (tests record them instead of showing them).
    void SetMessageSink(std::function<void(const std::string& text, Host::Icon icon)> sink);
    // The folder chooser of the Browse... buttons ("" when cancelled).
    void SetFolderChooser(
        std::function<std::string(const std::string& title, const std::string& start)> chooser);

    COptionsPage1* servers_page() const { return servers_; }
    COptionsPage2* groups_page() const { return groups_; }
    COptionsPage3* user_page() const { return user_; }
    COptionsPage4* filters_page() const { return filters_; }
    COptionsPage5* advanced_page() const { return advanced_; }

  private:
    void OnPageChanging(wxBookCtrlEvent& event);
    void OnPageChanged(wxBookCtrlEvent& event);
    void OnOk(wxCommandEvent& event);
    void Tell(const std::string& text, Host::Icon icon);

    Engine& engine_;
    Settings edited_;
    OptionsContext context_;
    COptionsPage1* servers_ = nullptr;
    COptionsPage2* groups_ = nullptr;
    COptionsPage3* user_ = nullptr;
    COptionsPage4* filters_ = nullptr;
    COptionsPage5* advanced_ = nullptr;
    std::array<COptionsPage*, kPageCount> pages_{};
};

}  // namespace qs::ui
