#pragma once

#include <wx/gdicmn.h>

#include <string>

namespace qs::ui {

// What the two list views ask of the frame that holds them. Commands go the other way as
// wxEVT_MENU events with the ids of ui/command_ids.h (posted to the frame).
class ViewHost {
  public:
    virtual ~ViewHost() = default;
    // The attachment list's selected-row count changed (status pane "%d Sel.").
    virtual void OnSelectionCount(int count) = 0;
    // The attachment list now shows tab `tab` (kTabList, kTabQueue, kTabLog): the tab strip
    // follows.
    virtual void OnTabShown(int tab) = 0;
    // The group list's selected group changed ("" when none).
    virtual void OnGroupSelected(const std::string& group) = 0;
    // Context menus at a point in screen coordinates.
    virtual void PopupGroupMenu(const wxPoint& screen) = 0;
    virtual void PopupItemMenu(const wxPoint& screen) = 0;
};

}  // namespace qs::ui
