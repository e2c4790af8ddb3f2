#pragma once

#include <wx/timer.h>

#include <vector>

#include "ui/options_page_common.h"

class wxButton;
class wxStaticText;
class wxTextCtrl;

namespace qs::ui {

class CGroupPicker;

// "Groups": the server's group list (read with LIST into the groups database) to tick the
// groups to subscribe to, search, add by hand, and each group's download directory.
class COptionsPage2 : public COptionsPage {
  public:
    COptionsPage2(wxWindow* parent, OptionsContext& context);
    ~COptionsPage2() override;
    // OK: the reader is given up to two seconds; the groups become the ticked ones.
    void Store(Settings& settings) override;
    // The first time: the working groups are marked in the database and the list filled.
    void OnShown() override;

    // The buttons' and boxes' work (tests call them as the controls do).
    void Retrieve();
    void AddManual();
    void Browse();
    // One look at the reader: its status beside "Count:", and the list once it has ended.
    void PollFetch();
    bool fetching() const { return timer_.IsRunning(); }

    CGroupPicker* picker() { return picker_; }
    wxButton* retrieve_button() { return retrieve_; }
    wxStaticText* count_text() { return count_; }
    wxTextCtrl* manual_box() { return manual_; }
    wxTextCtrl* search_box() { return search_; }
    wxTextCtrl* dir_box() { return dir_; }

  private:
    void OnDirEdited();

    std::vector<GroupListEntry> working_;  // the groups as the dialog opened with them
    bool loaded_ = false;
    CGroupPicker* picker_ = nullptr;
    wxButton* retrieve_ = nullptr;
    wxStaticText* count_ = nullptr;
    wxTextCtrl* manual_ = nullptr;
    wxTextCtrl* search_ = nullptr;
    wxTextCtrl* dir_ = nullptr;
    wxTimer timer_;
};

}  // namespace qs::ui
