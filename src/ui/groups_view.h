#pragma once

#include <wx/listctrl.h>

#include <string>
#include <vector>

#include "app/settings.h"

namespace qs {
class Engine;
}

namespace qs::ui {

class ViewHost;

// The list of subscribed groups above the attachment list: a virtual report list over the
// engine's settings snapshot (name, download directory, last scanned), single selection.
// Selecting a row tells the host; a double click sends ID_SCAN to the parent frame; a
// right click asks the host for the group menu.
class CGroupsView : public wxListCtrl {
  public:
    CGroupsView(wxWindow* parent, Engine& engine, ViewHost& host);

    // Re-reads the group list from the engine (after subscribe, unsubscribe or a scan
    // stamped lastscanned) and keeps the selected group selected when it is still there.
    void Reload();
    // The selected group's name; "" when none.
    std::string current_group() const;
    // Selects the group's row (and tells the host); false when it is not in the list.
    bool SelectGroup(const std::string& name);
    // The column widths into settings.GroupsColumn.
    void SaveColumnWidths(Settings& settings) const;

  private:
    wxString OnGetItemText(long item, long column) const override;
    void OnSelected(wxListEvent& event);
    void OnActivated(wxListEvent& event);
    void OnRightClick(wxListEvent& event);

    Engine& engine_;
    ViewHost& host_;
    std::vector<GroupListEntry> groups_;
    mutable bool reload_pending_ = false;  // a paint found the group count changed
    bool reloading_ = false;
};

}  // namespace qs::ui
