#pragma once

#include <wx/listctrl.h>

#include <functional>
#include <memory>
#include <string>

#include "db/records.h"

class wxImageList;

namespace qs {
class Engine;
class GroupListView;
}  // namespace qs

namespace qs::ui {

// The server's list of groups with a check box per row ("Group", "First", "Last", "Count",
// "Download dir"): the Groups page of the options dialog and the wizard's Select
// Newsgroups page. A virtual list over the engine's groups database; a click on the check
// box or a double click flips a group's subscribed mark and stores it at once.
class CGroupPicker : public wxListCtrl {
  public:
    CGroupPicker(wxWindow* parent, Engine& engine);
    ~CGroupPicker() override;

    // Row count from the database, cache emptied, redrawn (after a fetch or a store).
    void Reload();
    // The search: trimmed; an empty text leaves the last search in force.
    void SetSearch(const std::string& text);
    // A header click: ascending on the first click of a column, then flipping.
    void SortByColumn(int column);
    // Flips the subscribed mark of the row's group and stores it.
    void ToggleRow(long row);
    bool IsRowChecked(long row) const;
    // The row showing the group of this name; -1 when none does.
    long FindGroupRow(const std::string& name) const;
    // The selected row's group; false when none is selected.
    bool SelectedGroup(Group& out) const;
    // Stores a new download directory for the selected group; false when none is selected.
    bool SetSelectedDownloadDir(const std::string& dir);
    // Called when the selection changes (the Groups page shows the row's download dir).
    std::function<void(const Group&)> on_selected;
    GroupListView* view() { return view_.get(); }
    // The child window that draws the rows and gets their mouse events.
    wxWindow* RowsWindow();

  private:
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
    bool RowAt(long item, Group& out) const;
    void OnRowsLeftDown(wxMouseEvent& event);
    void OnActivated(wxListEvent& event);
    void OnSelected(wxListEvent& event);
    void OnCacheHint(wxListEvent& event);
    void OnColumnClick(wxListEvent& event);

    Engine& engine_;
    std::unique_ptr<GroupListView> view_;
    std::unique_ptr<wxImageList> images_;
    int sort_column_ = 0;
    bool ascending_ = false;
    bool clicked_check_ = false;  // the last press was on a check box (its double click is no flip)
};

}  // namespace qs::ui
